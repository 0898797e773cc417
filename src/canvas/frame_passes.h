#pragma once
// The passes that draw a frame into the drawable, each with its program: the page (paper, ink
// and line art through zoom and pan), the cursors, and images laid over the view. They live in
// one GL context and need it current; the caller binds a vertex array (the quads come from
// gl_VertexID) and the target framebuffer.

#include "canvas/gl_object.h"
#include "canvas/view_mapping.h"

#include <QImage>
#include <QOpenGLFunctions_3_3_Core>
#include <QSize>
#include <QString>

#include <vector>

namespace vellumora {

class CompositePass {
  public:
    // Builds the program, bakes the paper and sets no line art; the start-up message on failure.
    QString create(QOpenGLFunctions_3_3_Core& gl, GLuint vertexArray);

    // The page's line art (RGBA8888, straight alpha); a null image removes it.
    void setLineArt(const QImage& image);

    struct Inputs {
        Vec2f drawableSize;
        float time = 0;
        float zoom = 1;
        Vec2f pan;
        GLuint ink = 0;
    };
    // Covers the whole drawable, blending off.
    void draw(const Inputs& inputs);

  private:
    QString bakePaper(GLuint vertexArray);

    struct Uniforms {
        GLint size = -1, time = -1, zoom = -1, pan = -1, canvas = -1, lineArt = -1, paper = -1;
    };

    QOpenGLFunctions_3_3_Core* gl_ = nullptr;
    GlProgram program_;
    Uniforms uniforms_;
    GlTexture paper_;
    GlTexture transparent_;
    GlTexture lineArt_;  // none: the transparent default is sampled
};

class CursorPass {
  public:
    QString create(QOpenGLFunctions_3_3_Core& gl);
    void draw(const std::vector<CursorDraw>& cursors, Vec2f drawableSize);

  private:
    struct Uniforms {
        GLint center = -1, viewSize = -1, color = -1, radius = -1, ringWidth = -1, filled = -1;
    };

    QOpenGLFunctions_3_3_Core* gl_ = nullptr;
    GlProgram program_;
    Uniforms uniforms_;
};

// Images over the view, one texel per drawable pixel (a progress label, a status).
class OverlayPass {
  public:
    QString create(QOpenGLFunctions_3_3_Core& gl);

    // A texture holding `image` (premultiplied RGBA8888).
    GlTexture upload(const QImage& image);
    // Draws `texture`, `size` texels large, with its top-left corner at `origin` (drawable pixels).
    void draw(GLuint texture, QSize size, Vec2f origin, Vec2f drawableSize);

  private:
    struct Uniforms {
        GLint viewSize = -1, imageSize = -1, origin = -1, image = -1;
    };

    QOpenGLFunctions_3_3_Core* gl_ = nullptr;
    GlProgram program_;
    Uniforms uniforms_;
};

}  // namespace vellumora
