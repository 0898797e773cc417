#pragma once
// The GL widget that shows the canvas and receives everything meant for it: trackpad touch sets
// or the pointer standing in for them in canvas mode, the mouse, pen and touchscreen that draw
// where they point (DirectInput), pinch, scroll and the canvas keys. It owns the gesture machine
// and the renderer; requests it cannot serve itself go out as …Requested signals.
//
// In canvas mode the pointer is captured (PointerCapture). Every way out (mode off, Escape,
// focus or activation lost, the widget hidden or destroyed) gives the pointer back.
//
// Space is decided on release: a tap toggles canvas mode, held while dragging it pans.

#include "canvas/gesture_state_machine.h"
#include "canvas/renderer.h"
#include "canvasview/direct_input.h"
#include "canvasview/frame_pacer.h"
#include "canvasview/pointer_capture.h"
#include "canvasview/window_visibility.h"

#include <QOpenGLWidget>
#include <QPointF>
#include <QString>
#include <QSurfaceFormat>

#include <memory>
#include <optional>
#include <vector>

class QEventPoint;

namespace vellumora {

class CanvasInputView : public QOpenGLWidget {
    Q_OBJECT

  public:
    // Whether this process can create the OpenGL context the view needs at all. Without one,
    // no CanvasInputView may be created: a window holding one fails to paint.
    static bool isOpenGLAvailable();
    static QSurfaceFormat surfaceFormat();

    explicit CanvasInputView(QWidget* parent = nullptr);
    ~CanvasInputView() override;

    GestureStateMachine& gestureMachine() { return gestureMachine_; }
    DirectInput& directInput() { return *direct_; }
    Renderer& renderer() { return *renderer_; }

    bool isInCanvasMode() const { return isInCanvasMode_; }
    // A different value switches the mode; the same value does nothing.
    void setIsInCanvasMode(bool on);
    bool isPinching() const { return isPinching_; }
    QPointF pinchAnchorUV() const { return pinchAnchorUV_; }
    bool isPointerCaptured() const { return capture_->isCaptured(); }
    // Frames are presented only while somebody can see the canvas (WindowVisibility).
    bool isPresenting() const { return pacer_.isPresenting(); }
    // The renderer's start-up message, once it failed.
    const QString& startupFailure() const { return startupFailure_; }

    // Starts painting the renderer's queued ink now, outside a frame, without waiting for the
    // GPU; false while the renderer is not running.
    bool paintInkNow();
    // The canvas's full-size picture as Renderer::startPicture() and finishedPicture() read it,
    // without waiting for the GPU; false (and a null picture) before the view has a GL context.
    bool startPicture();
    std::optional<QImage> finishedPicture();
    // Painting started by paintInkNow() that the GPU has not finished (none without GL).
    std::size_t inkInFlight();

    // Shown over the canvas (and as the view's accessible description) while a backlog is being
    // painted. Meanwhile frames come only when asked for (requestReplayFrame), so none shares a
    // turn of the event loop with a painting slice; continuous frames resume when it is cleared.
    void setReplayProgress(std::optional<double> progress);
    std::optional<double> replayProgress() const { return replayProgress_; }
    // A frame that shows the canvas and the progress as they are now.
    void requestReplayFrame();
    // While a room's backlog is decoded on a worker thread, frames slow down (FramePacer).
    void setBacklogArriving(bool arriving) { pacer_.setSlow(arriving); }

    // The fingers on a trackpad (phases began, moved, stationary) and their cancellation.
    void handleTouches(const std::vector<TouchSample>& touches);
    void handleTouchesCancelled();
    // Trackpad points as touch samples; points of other devices are direct, released ones left out.
    static std::vector<TouchSample> touchSamples(const QList<QEventPoint>& points, bool fromTouchPad);

    // The pointer as a fraction of the view, when it is over it.
    std::optional<QPointF> normalizedMousePositionIfOverCanvas() const;
    // Moves the system pointer to a fraction of the view.
    void warpOSCursor(QPointF normalized);

  signals:
    // Requests for the coordinator.
    void toggleCanvasModeRequested();
    void leaveCanvasModeRequested();
    void pinchMagnificationRequested(double magnification, QPointF anchorViewUV);
    void scrollPanRequested(double dx, double dy);  // fractions of the view's size
    void resetZoomRequested();
    // The renderer is ready in a new GL context: its canvas is empty.
    void glInitialized();
    // The renderer could not start; the canvas cannot run.
    void startupFailed(const QString& message);
    // A frame was presented after `frameMs` of drawing and presenting.
    void frameDone(double frameMs);

  protected:
    void initializeGL() override;
    void paintGL() override;

    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void pinch(Qt::NativeGestureType type, double value, QPointF position);
    QPointF anchorFor(QPointF position) const;
    // Takes the pointer when canvas mode is on and the window may have it.
    void capturePointerIfAllowed();
    void releaseGL();
    void fail(const QString& message);
    void onFrameSwapped();
    // Paints the progress label for the renderer when its text changes (or `force`).
    void updateReplayLabel(bool force = false);

    GestureStateMachine gestureMachine_;
    std::unique_ptr<Renderer> renderer_;
    PointerCapture* capture_;
    DirectInput* direct_;
    FramePacer pacer_;
    WindowVisibility* visibility_;

    bool isInCanvasMode_ = true;
    bool isPinching_ = false;
    QPointF pinchAnchorUV_{0.5, 0.5};

    QString startupFailure_;
    std::optional<double> replayProgress_;
    bool pictureInFlight_ = false;  // frames wait for a picture's composite
    QString replayLabel_;  // the label the renderer shows; empty: none
};

}  // namespace vellumora
