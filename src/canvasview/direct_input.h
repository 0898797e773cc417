#pragma once
// Devices that draw where they point, as in any drawing program: the mouse outside canvas mode,
// the pen in either mode, the touchscreen. A left drag, the pen's tip or one finger draws; the
// right or middle button, Space held while dragging, the pen's side buttons or two fingers move
// the page, and two fingers zoom it too. One device at a time: while one draws or pans, the
// others are ignored (a palm on a touchscreen while the pen draws).
//
// Positions go out as fractions of the view (top-left origin; beyond [0, 1] while a drag leaves
// it); the coordinator maps them onto the canvas.

#include "canvasview/touch_screen_gesture.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointF>

class QMouseEvent;
class QTabletEvent;
class QTouchEvent;
class QWidget;

namespace vellumora {

class DirectInput : public QObject {
    Q_OBJECT

  public:
    // How long after a pen event the system pointer's motion is taken as the pen's own echo.
    static constexpr int kPenEchoMs = 100;

    // Lives as a child of `view`, whose events it is handed.
    explicit DirectInput(QWidget& view);

    // Outside canvas mode the mouse draws and pans here; in it, canvas mode has the pointer.
    // The pen and the touchscreen draw in either mode.
    void setPointerMode(bool on);

    // Each returns whether the event was used.
    bool mousePressed(const QMouseEvent& event);
    bool mouseMoved(const QMouseEvent& event);
    bool mouseReleased(const QMouseEvent& event);
    void tablet(QTabletEvent& event);
    void touch(const QTouchEvent& event);

    // Space held: a left drag pans. Released, true when Space was a tap (no pan meanwhile).
    void spacePressed();
    bool spaceReleased();
    // The keyboard went elsewhere: Space's release will not come here. (A drag goes on: its
    // pointer, pen or fingers still report to the view.)
    void keyboardLost();

    // Ends whatever is under way (the view was hidden or changed mode).
    void cancel();

    // The pen was used this recently: pointer events now are its echo, not a mouse.
    bool isPenNear() const { return penSeen_.isValid() && penSeen_.elapsed() < kPenEchoMs; }
    bool isDrawing() const { return drawing_ != Device::none; }

  signals:
    // `eraser`: drawn with the pen's eraser end, which erases whatever tool is chosen.
    void strokeStarted(QPointF viewUV, double pressure, bool eraser);
    void strokeMoved(QPointF viewUV, double pressure);
    void strokeEnded();
    // A pen or the mouse hovers here without drawing.
    void hovered(QPointF viewUV);
    // Fractions of the view's size, as a scroll; and a pinch step about an anchor.
    void panned(double dx, double dy);
    void zoomed(double magnification, QPointF anchorViewUV);

  private:
    enum class Device { none, mouse, pen, touch };

    QPointF uv(QPointF local) const;
    bool busyWith(Device device) const;
    void startPan(Device device, QPointF local);
    void panTo(QPointF local);
    void panBy(QPointF pixels);
    void endPan();
    void startStroke(Device device, QPointF local, double pressure, bool eraser = false);
    void endStroke();
    void showHand();

    QWidget& view_;
    bool pointerMode_ = false;
    TouchScreenGesture fingers_;
    Device drawing_ = Device::none;
    Device panning_ = Device::none;
    Qt::MouseButton button_ = Qt::NoButton;  // the mouse button or pen button that draws or pans
    QPointF panFrom_;
    bool spaceHeld_ = false;
    bool spacePanned_ = false;
    QElapsedTimer penSeen_;
};

}  // namespace vellumora
