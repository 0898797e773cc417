#pragma once
// Owns the picture: the 2048 × 2048 ink image, the line-art layer, and every frame's stamp
// pass, composite and cursors. OpenGL 3.3 core; the widget that shows it calls initialize()
// from initializeGL, resize() from resizeGL and render() from paintGL. Every other call only
// changes state for the next frame and needs no current context.

#include "canvas/canvas_picture.h"
#include "canvas/canvas_types.h"
#include "canvas/frame_passes.h"
#include "canvas/gl_object.h"
#include "canvas/ink_layer.h"
#include "canvas/stroke_stamper.h"
#include "canvas/view_mapping.h"

#include <QByteArray>
#include <QImage>
#include <QOpenGLFunctions_3_3_Core>
#include <QPointer>
#include <QString>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
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
    bool isInitialized() const { return gl_ != nullptr; }

    // Drawable size in pixels.
    void resize(int width, int height);
    // One frame: queued canvas clear and line art, the stamp pass, then composite and cursors
    // into `targetFramebuffer` (the widget's defaultFramebufferObject()).
    void render(GLuint targetFramebuffer);
    // With the context current: starts painting the queued clear and stamps into the ink image
    // now instead of at the next frame, without waiting for the GPU (a long backlog in slices).
    void paintInk();
    // With the context current: starts reading back the picture as the canvas shows it (paper,
    // ink and line art) at the canvas's full size, after painting what is queued, without
    // waiting for the GPU; false without GL or when the GPU could not.
    bool startPicture();
    // With the context current: the started picture once the GPU has it, rows bottom-up as
    // finishPicture takes them (null when it could not be read or none was started); none while
    // it is under way.
    std::optional<QImage> finishedPicture();
    // Both, waiting for the GPU.
    QImage picture();
    // With the context current: how many paintInk() calls the GPU has not finished yet.
    std::size_t inkInFlight();

    void beginStroke(const std::string& id, CanvasPoint at, Tool tool, Color4f color, float radius);
    void appendPoint(const std::string& id, CanvasPoint point);
    void endStroke(const std::string& id);
    // Drops every open stroke and every stamp not yet painted; the ink is cleared before the
    // stamps queued after this call are painted.
    void resetCanvas();
    // Copies of the ink to go back to, by slot (memory for each one the ink's, 16 MiB).
    // Once the stamps queued so far are painted, copies the ink and the open strokes into `slot`.
    void saveInk(std::size_t slot);
    // The ink and the open strokes saved in `slot` come back; the stamps queued since the last
    // save still to be made are dropped (those before it are painted first, so it is made).
    void restoreInk(std::size_t slot);
    // True once when a restore found its copy missing (it could not be made; its memory ran
    // out): the ink was cleared instead and needs painting again from the start.
    bool takeInkLost() { return std::exchange(inkLost_, false); }
    // The page's line art as decodeLineArt gives it; a null image removes it.
    void setLineArt(const QImage& image);
    // Drawn over every frame at the drawable's top-left corner, one pixel per drawable pixel
    // (a progress label); a null image removes it. Drawn here rather than by a widget over the
    // view, which would cost each frame a composition of its own.
    void setOverlay(const QImage& image);

    float zoom() const { return zoom_; }
    void setZoom(float zoom) { zoom_ = zoom; }
    Vec2f pan() const { return pan_; }
    void setPan(Vec2f pan) { pan_ = pan; }
    // Where the canvas lies in the drawable this frame.
    ViewMapping mapping() const {
        return {zoom_, pan_, {static_cast<float>(width_), static_cast<float>(height_)}};
    }
    const std::optional<CursorViz>& selfCursor() const { return selfCursor_; }
    void setSelfCursor(std::optional<CursorViz> cursor) { selfCursor_ = cursor; }
    const std::map<std::string, CursorViz>& peerCursors() const { return peerCursors_; }
    void setPeerCursors(std::map<std::string, CursorViz> cursors) { peerCursors_ = std::move(cursors); }
    // Images drawn beside the peers' cursors, one texel per drawable pixel (their names), by the
    // same keys as the cursors.
    void setPeerLabels(std::map<std::string, QImage> labels);
    const std::map<std::string, QImage>& peerLabels() const { return peerLabels_; }
    float time() const { return time_; }

    // Inspection for tests: the queue and stroke table, and the ink image's framebuffer.
    const StrokeStamper& stamper() const { return stamper_; }
    GLuint canvasFramebuffer() const { return gl_ ? gl_->ink.framebuffer() : 0; }
    // True while a line-art image (not the transparent default) is set.
    bool hasLineArt() const;

  private:
    // Everything that lives in the GL context, made by initialize() and gone with releaseGL().
    struct Gl {
        GlVertexArray emptyVertexArray;  // the passes' quads come from gl_VertexID
        InkLayer ink;
        CompositePass composite;
        CursorPass cursors;
        OverlayPass overlays;
        PictureReadBack picture;
        GlTexture overlay;
        std::map<std::string, GlTexture> labels;
    };

    QString createGl();
    void paintQueuedInk();
    void uploadPendingLineArt();
    void drawOverlay();
    void drawPeerLabels(Vec2f drawableSize);

    StrokeStamper stamper_;
    std::vector<CursorDraw> cursorDraws_;

    float zoom_ = 1.0f;
    Vec2f pan_;
    std::optional<CursorViz> selfCursor_;
    std::map<std::string, CursorViz> peerCursors_;
    int width_ = 0;
    int height_ = 0;
    float time_ = 0.0f;

    // Work on the ink for the next frame, so callers need no current context: each step comes
    // after the first `stamp` queued stamps are painted.
    struct InkStep {
        enum class Kind { clear, save, restore };
        std::size_t stamp = 0;
        Kind kind = Kind::clear;
        std::size_t slot = 0;
    };
    std::vector<InkStep> inkSteps_;
    std::map<std::size_t, StrokeStamper::StrokeTable> savedStrokes_;  // by slot
    bool inkLost_ = false;
    // The decoded line art (null: none), kept so a new context can upload it again, and the
    // image still to upload at the next frame.
    QImage lineArt_;
    std::optional<QImage> pendingLineArt_;
    QImage overlay_;  // premultiplied RGBA
    bool overlayPending_ = false;
    std::map<std::string, QImage> peerLabels_;  // premultiplied RGBA
    bool labelsPending_ = false;

    QPointer<QOpenGLContext> context_;
    std::unique_ptr<Gl> gl_;
};

// A page's line art from its image bytes, for Renderer::setLineArt: the stored 8-bit values as
// they are (straight alpha, no colour conversion). Any thread. Only the declared type is tried,
// and only PNG ("image/png") or JPEG ("image/jpeg"): bytes from a peer never reach the decoders
// of other formats. Anything else gives a null image and a warning.
QImage decodeLineArt(const QByteArray& bytes, const QString& mimeType);

}  // namespace vellumora
