#pragma once
// Small OpenGL helpers for the renderer: program building with readable failures, and a guard
// that puts back the GL state a frame changes.

#include <QOpenGLFunctions_3_3_Core>
#include <QString>

#include <initializer_list>
#include <string_view>
#include <variant>

namespace vellumora {

// Sources come without the #version line; a fragment stage is the concatenation of its parts
// (shared helpers first). On failure the text is the start-up message the view stops with.
std::variant<GLuint, QString> buildProgram(QOpenGLFunctions_3_3_Core& gl, std::string_view vertexName,
                                           std::string_view vertexBody, std::string_view fragmentName,
                                           std::initializer_list<std::string_view> fragmentParts);

class GlStateGuard {
  public:
    explicit GlStateGuard(QOpenGLFunctions_3_3_Core& gl);
    ~GlStateGuard();
    GlStateGuard(const GlStateGuard&) = delete;
    GlStateGuard& operator=(const GlStateGuard&) = delete;

  private:
    QOpenGLFunctions_3_3_Core& gl_;
    GLint viewport_[4]{};
    GLint drawFramebuffer_ = 0;
    GLint readFramebuffer_ = 0;
    GLint program_ = 0;
    GLint vertexArray_ = 0;
    GLint arrayBuffer_ = 0;
    GLint activeTexture_ = 0;
    GLint textures_[3]{};  // units 0 to 2, the ones the renderer binds
    GLint blendSrcRgb_ = 0;
    GLint blendDstRgb_ = 0;
    GLint blendSrcAlpha_ = 0;
    GLint blendDstAlpha_ = 0;
    GLfloat clearColor_[4]{};
    GLboolean blend_ = GL_FALSE;
    GLboolean depthTest_ = GL_FALSE;
    GLboolean scissorTest_ = GL_FALSE;
    GLboolean cullFace_ = GL_FALSE;
};

}  // namespace vellumora
