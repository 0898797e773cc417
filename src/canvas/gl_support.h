#pragma once
// Small OpenGL helpers for the renderer: program building with readable failures, textures
// sampled the canvas's way, and a guard that puts back the GL state a frame changes.

#include "canvas/gl_object.h"

#include <QImage>
#include <QOpenGLFunctions_3_3_Core>
#include <QString>

#include <cstddef>
#include <initializer_list>
#include <string_view>
#include <variant>

namespace vellumora {

// Parts a fragment stage may be made of.
inline constexpr std::size_t kMaxShaderParts = 7;

// Sources come without the #version line; a fragment stage is the concatenation of its parts
// (shared helpers first). On failure the text is the start-up message the view stops with.
std::variant<GlProgram, QString> buildProgram(QOpenGLFunctions_3_3_Core& gl, std::string_view vertexName,
                                              std::string_view vertexBody, std::string_view fragmentName,
                                              std::initializer_list<std::string_view> fragmentParts);

// The same, built into `program`: the failure's message, or an empty text.
QString buildProgram(GlProgram& program, QOpenGLFunctions_3_3_Core& gl, std::string_view vertexName,
                     std::string_view vertexBody, std::string_view fragmentName,
                     std::initializer_list<std::string_view> fragmentParts);

// Bilinear, clamped at the edges, no mip levels: how every texture of the canvas is sampled.
// Applies to the texture bound to GL_TEXTURE_2D.
void setSamplingParameters(QOpenGLFunctions_3_3_Core& gl);
// A square texture of `format` on unit 0, sampled as above; `pixels` are RGBA bytes or null.
GlTexture makeTexture(QOpenGLFunctions_3_3_Core& gl, GLenum format, GLsizei size, const void* pixels);
// Uploads an RGBA8888 (or premultiplied) image to the texture bound to GL_TEXTURE_2D, row 0 at v = 0.
void uploadImage(QOpenGLFunctions_3_3_Core& gl, const QImage& image);

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
