#pragma once
// The GL widget that shows the canvas and receives everything meant for it: trackpad touch sets
// or the pointer standing in for them, pinch, scroll and the canvas keys. It owns the gesture
// machine and the renderer; requests it cannot serve itself go out through the on… callbacks.
//
// In canvas mode the pointer is captured: grabbed, hidden and put back at the view's centre
// after every move, so its motion drives the canvas cursor. Every way out (mode off, Escape,
// focus or activation lost, the widget hidden or destroyed) gives the pointer back.

#include "canvas/gesture_state_machine.h"
#include "canvas/renderer.h"
#include "canvasview/pointer_emulation.h"

#include <QElapsedTimer>
#include <QOpenGLWidget>
#include <QPointF>
#include <QString>
#include <QSurfaceFormat>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QEventPoint;

namespace vellumora {

class CanvasInputView : public QOpenGLWidget {
    Q_OBJECT

  public:
    // Frames are drawn continuously at this rate, whether or not the display paces swaps.
    // While a backlog is painted, its painter asks for frames instead (see setReplayProgress).
    static constexpr double kFrameIntervalMs = 1000.0 / 60.0;
    // Between frames while a large message is decoded (see setBacklogArriving).
    static constexpr double kArrivingFrameIntervalMs = 250.0;

    // Whether this process can create the OpenGL context the view needs at all. Without one,
    // no CanvasInputView may be created: a window holding one fails to paint.
    static bool isOpenGLAvailable();
    static QSurfaceFormat surfaceFormat();

    explicit CanvasInputView(QWidget* parent = nullptr);
    ~CanvasInputView() override;

    GestureStateMachine& gestureMachine() { return gestureMachine_; }
    Renderer& renderer() { return *renderer_; }

    // Requests for the coordinator; any may be left empty.
    std::function<void()> onToggleCanvasMode;
    std::function<void(double magnification, QPointF anchorViewUV)> onPinchMagnification;
    std::function<void(double dx, double dy)> onScrollPan;  // fractions of the view's size
    std::function<void()> onResetZoom;
    std::function<void()> onLeaveCanvasMode;

    bool isInCanvasMode() const { return isInCanvasMode_; }
    // A different value switches the mode; the same value does nothing.
    void setIsInCanvasMode(bool on);
    bool isPinching() const { return isPinching_; }
    QPointF pinchAnchorUV() const { return pinchAnchorUV_; }
    bool isPointerCaptured() const { return pointerCaptured_; }
    // The renderer's start-up message, once it failed.
    const QString& startupFailure() const { return startupFailure_; }

    // Starts painting the renderer's queued ink now, outside a frame, without waiting for the
    // GPU; false while the renderer is not running.
    bool paintInkNow();
    // Painting started by paintInkNow() that the GPU has not finished (none without GL).
    std::size_t inkInFlight();

    // Shown over the canvas (and as the view's accessible description) while a backlog is being
    // painted. Meanwhile frames come only when asked for (requestReplayFrame), so none shares a
    // turn of the event loop with a painting slice; continuous frames resume when it is cleared.
    void setReplayProgress(std::optional<double> progress);
    std::optional<double> replayProgress() const { return replayProgress_; }
    // A frame that shows the canvas and the progress as they are now.
    void requestReplayFrame();
    // While a room's backlog is decoded on a worker thread, frames slow to four a second: on a
    // software rasteriser each one takes the cores the decoding needs, and nothing they would
    // show is changing but the cursor.
    void setBacklogArriving(bool arriving);

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
    void applyTouchSets(const std::vector<PointerEmulation::TouchSet>& sets);
    QPointF anchorFor(QPointF position) const;
    // Grabs and hides the pointer when canvas mode is on and the window may have it.
    void capturePointerIfAllowed();
    void releasePointer();
    QPoint captureCentre() const;
    void releaseGL();
    void fail(const QString& message);
    void onFrameSwapped();
    // Paints the progress label for the renderer when its text changes (or `force`).
    void updateReplayLabel(bool force = false);

    GestureStateMachine gestureMachine_;
    std::unique_ptr<Renderer> renderer_;
    PointerEmulation emulation_;

    bool isInCanvasMode_ = true;
    bool isPinching_ = false;
    QPointF pinchAnchorUV_{0.5, 0.5};
    bool pointerCaptured_ = false;
    QPointF lastPointer_;  // where the last pointer event put it, in this view

    QString startupFailure_;
    std::optional<double> replayProgress_;
    bool backlogArriving_ = false;
    QElapsedTimer frameStart_;
    QTimer nextFrame_;
    QString replayLabel_;  // the label the renderer shows; empty: none
};

}  // namespace vellumora
