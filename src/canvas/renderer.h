#pragma once
// Owns the picture: the 2048 × 2048 ink image, the line-art layer, and every frame's stamp
// pass, composite and cursors. OpenGL 3.3 core; the widget that shows it calls initialize()
// from initializeGL, resize() from resizeGL and render() from paintGL. Every other call only
// changes state for the next frame and needs no current context.

#include "canvas/canvas_types.h"
#include "canvas/stamp_runs.h"
#include "canvas/stroke_stamper.h"
#include "canvas/view_mapping.h"

#include <QByteArray>
#include <QImage>
#include <QOpenGLFunctions_3_3_Core>
#include <QPointer>
#include <QString>

#include <array>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

class QOpenGLContext;

namespace vellumora {

class Renderer : protected QOpenGLFunctions_3_3_Core {
  public:
    explicit Renderer(StrokeStamper::SeedSource seeds = {});
    ~Renderer();
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    // With a current context: compiles the shading and creates the images. Returns the message
    // to stop the program with, or an empty text on success.
    QString initialize();
    // Frees every GL object when the renderer's context is current (call it from the widget's
    // aboutToBeDestroyed); otherwise only forgets them, as they go with their context. The
    // destructor calls it. The ink lives in the context: a new one starts with a clear canvas.
    void releaseGL();
    bool isInitialized() const { return m_initialized; }

    // Drawable size in pixels.
    void resize(int width, int height);
    // One frame: queued canvas clear and line art, the stamp pass, then composite and cursors
    // into `targetFramebuffer` (the widget's defaultFramebufferObject()).
    void render(GLuint targetFramebuffer);
    // With the context current: starts painting the queued clear and stamps into the ink image
    // now instead of at the next frame, without waiting for the GPU (a long backlog in slices).
    void paintInk();
    // With the context current: how many paintInk() calls the GPU has not finished yet.
    std::size_t inkInFlight();

    void beginStroke(const std::string& id, CanvasPoint at, Tool tool, Color4f color, float radius);
    void appendPoint(const std::string& id, CanvasPoint point);
    void endStroke(const std::string& id);
    // Drops every open stroke and every stamp not yet painted; the ink is cleared before the
    // stamps queued after this call are painted.
    void resetCanvas();
    // The page's line art as decodeLineArt gives it; a null image removes it.
    void setLineArt(const QImage& image);
    // Drawn over every frame at the drawable's top-left corner, one pixel per drawable pixel
    // (a progress label); a null image removes it. Drawn here rather than by a widget over the
    // view, which would cost each frame a composition of its own.
    void setOverlay(const QImage& image);

    float zoom() const { return m_zoom; }
    void setZoom(float zoom) { m_zoom = zoom; }
    Vec2f pan() const { return m_pan; }
    void setPan(Vec2f pan) { m_pan = pan; }
    const std::optional<CursorViz>& selfCursor() const { return m_selfCursor; }
    void setSelfCursor(std::optional<CursorViz> cursor) { m_selfCursor = cursor; }
    const std::map<std::string, CursorViz>& peerCursors() const { return m_peerCursors; }
    void setPeerCursors(std::map<std::string, CursorViz> cursors) { m_peerCursors = std::move(cursors); }
    float time() const { return m_time; }

    // Inspection for tests: the queue and stroke table, and the ink image's framebuffer.
    const StrokeStamper& stamper() const { return m_stamper; }
    GLuint canvasFramebuffer() const { return m_canvasFramebuffer; }
    // True while a line-art image (not the transparent default) is set.
    bool hasLineArt() const;

  private:
    struct CompositeUniforms {
        GLint size = -1, time = -1, zoom = -1, pan = -1, canvas = -1, lineArt = -1, paper = -1;
    };
    struct CursorUniforms {
        GLint center = -1, viewSize = -1, color = -1, radius = -1, ringWidth = -1, filled = -1;
    };
    struct OverlayUniforms {
        GLint viewSize = -1, imageSize = -1, image = -1;
    };

    QString buildPrograms();
    QString createImages();
    QString bakePaper();
    void setSamplingParameters();  // of the bound GL_TEXTURE_2D
    GLuint makeTexture(GLenum format, GLsizei size, const void* pixels);
    void clearCanvasTexture();
    void paintQueuedInk();
    void uploadLineArt(const QImage& image);
    void stampPass();
    void compositePass(GLuint targetFramebuffer);
    void drawCursors();
    void drawOverlay();

    StrokeStamper m_stamper;
    std::vector<StampRun> m_runs;
    std::vector<CursorDraw> m_cursorDraws;

    float m_zoom = 1.0f;
    Vec2f m_pan;
    std::optional<CursorViz> m_selfCursor;
    std::map<std::string, CursorViz> m_peerCursors;
    int m_width = 0;
    int m_height = 0;
    float m_time = 0.0f;

    // Work for the next frame, so callers need no current context.
    bool m_clearPending = false;
    // The decoded line art (null: none), kept so a new context can upload it again, and the
    // image still to upload at the next frame.
    QImage m_lineArt;
    std::optional<QImage> m_pendingLineArt;
    QImage m_overlay;  // premultiplied RGBA
    bool m_overlayPending = false;

    QPointer<QOpenGLContext> m_context;
    bool m_initialized = false;
    std::array<GLuint, 5> m_brushPrograms{};
    GLuint m_compositeProgram = 0;
    GLuint m_cursorProgram = 0;
    GLuint m_overlayProgram = 0;
    CompositeUniforms m_compositeUniforms;
    CursorUniforms m_cursorUniforms;
    OverlayUniforms m_overlayUniforms;
    GLuint m_emptyVertexArray = 0;
    GLuint m_stampVertexArray = 0;
    GLuint m_instanceBuffer = 0;
    std::size_t m_instanceCapacity = 0;
    float m_maxPointSize = 0;  // the driver's largest point sprite
    GLuint m_canvasTexture = 0;
    GLuint m_canvasFramebuffer = 0;
    GLuint m_transparentTexture = 0;
    GLuint m_lineArtTexture = 0;  // 0: the transparent default is in use
    GLuint m_overlayTexture = 0;
    GLuint m_paperTexture = 0;
    std::deque<GLsync> m_inkFences;  // one per paintInk() still being painted, oldest first
};

// A page's line art from its PNG (or other image) bytes, for Renderer::setLineArt: the stored
// 8-bit values as they are (straight alpha, no colour conversion). Any thread. Bytes that are
// not an image give a null image and a warning.
QImage decodeLineArt(const QByteArray& bytes);

}  // namespace vellumora
