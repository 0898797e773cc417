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
    QOpenGLFunctions_3_3_Core& m_gl;
    GLint m_viewport[4]{};
    GLint m_drawFramebuffer = 0;
    GLint m_readFramebuffer = 0;
    GLint m_program = 0;
    GLint m_vertexArray = 0;
    GLint m_arrayBuffer = 0;
    GLint m_activeTexture = 0;
    GLint m_textures[3]{};  // units 0 to 2, the ones the renderer binds
    GLint m_blendSrcRgb = 0;
    GLint m_blendDstRgb = 0;
    GLint m_blendSrcAlpha = 0;
    GLint m_blendDstAlpha = 0;
    GLfloat m_clearColor[4]{};
    GLboolean m_blend = GL_FALSE;
    GLboolean m_depthTest = GL_FALSE;
    GLboolean m_scissorTest = GL_FALSE;
    GLboolean m_cullFace = GL_FALSE;
};

}  // namespace vellumora
