#pragma once
// A canvas in a window of its own, as a user meets it, plus the synthetic input and pixel
// reads the window tests use.

#include "canvas/renderer.h"
#include "canvasview/canvas_coordinator.h"
#include "canvasview/canvas_input_view.h"
#include "canvasview/canvas_view.h"
#include "session/session_model.h"

#include <QApplication>
#include <QEvent>
#include <QImage>
#include <QKeyEvent>
#include <QPointingDevice>
#include <QWidget>

#include <algorithm>
#include <memory>
#include <variant>
#include <vector>

namespace vellumora::testing {

class CanvasWindow {
  public:
    CanvasWindow(SessionModel& session, const QString& title);

    // Shows, activates and waits until the renderer runs; false if it did not.
    bool open();

    QWidget& window() { return *window_; }
    CanvasView& view() { return *view_; }
    CanvasInputView& input() { return *view_->inputView(); }
    CanvasCoordinator& coordinator() { return *view_->coordinator(); }

    // One frame as drawn now, and the colour at a canvas-normalized point of it (zoom 1).
    QImage frame() { return input().grabFramebuffer(); }
    static QColor at(const QImage& frame, QPointF canvas) { return frame.pixelColor(pixelOf(frame, canvas)); }
    static QPoint pixelOf(const QImage& frame, QPointF canvas) {
        const Vec2f size{float(frame.width()), float(frame.height())};
        const Vec2f uv = ViewMapping{1, {}, size}.toView({float(canvas.x()), float(canvas.y())});
        return {int(uv.x * size.x), int(uv.y * size.y)};
    }
    // Pixels of the shorter side, which the canvas spans at zoom 1.
    double side() { return std::min(input().width(), input().height()); }

    // Synthetic pointer input with the pointer captured: motion relative to the view's centre,
    // after the echo of the warp that put the pointer there.
    void moveBy(QPointF delta, Qt::MouseButtons buttons = Qt::NoButton) {
        mouse(QEvent::MouseMove, {}, Qt::NoButton, buttons);
        mouse(QEvent::MouseMove, delta, Qt::NoButton, buttons);
    }
    void press() { mouse(QEvent::MouseButtonPress, {}, Qt::LeftButton, Qt::LeftButton); }
    void release() { mouse(QEvent::MouseButtonRelease, {}, Qt::LeftButton, Qt::NoButton); }
    // A free pointer: a drag with `button` through canvas points, where the view shows them now.
    void drag(Qt::MouseButton button, const std::vector<QPointF>& canvas);
    // A pen event over a canvas point, as the window system hands it to the window; true when
    // the view took it (the toolkit would otherwise make up a mouse event from it).
    bool tablet(QEvent::Type type, const QPointingDevice& device, QPointF canvas, double pressure);
    // View pixels over a canvas point, as the view is now (for touch events).
    QPoint at(QPointF canvas) { return local(canvas).toPoint(); }
    QPointF local(QPointF canvas) {
        const Vec2f uv = input().renderer().mapping().toView({float(canvas.x()), float(canvas.y())});
        return {uv.x * input().width(), uv.y * input().height()};
    }
    // A key pressed and released; or only one of the two.
    void key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, bool autoRepeat = false) {
        keyEvent(QEvent::KeyPress, key, modifiers, autoRepeat);
        keyEvent(QEvent::KeyRelease, key, modifiers, autoRepeat);
    }
    void keyEvent(QEvent::Type type, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
                  bool autoRepeat = false) {
        QKeyEvent event(type, key, modifiers, key == Qt::Key_Space ? " " : "", autoRepeat);
        QApplication::sendEvent(&input(), &event);
    }

    std::vector<ClientMessage> sent;  // by the coordinator, in order

  private:
    void mouse(QEvent::Type type, QPointF delta, Qt::MouseButton button, Qt::MouseButtons buttons) {
        mouseAt(type, QPointF(input().rect().center()) + delta, button, buttons);
    }
    void mouseAt(QEvent::Type type, QPointF local, Qt::MouseButton button, Qt::MouseButtons buttons);

    std::unique_ptr<QWidget> window_;
    CanvasView* view_;
};

// The entries of one kind from a list of messages or canvas events, in order.
template <class T, class List>
std::vector<T> only(const List& list) {
    std::vector<T> out;
    for (const auto& entry : list)
        if (const T* value = std::get_if<T>(&entry.value)) out.push_back(*value);
    return out;
}

// Ink clearly over the paper, which is near white; paper without ink or lines.
inline bool isInk(const QColor& pixel) {
    return pixel.saturation() > 100 || pixel.value() < 150;
}
inline bool isPaper(const QColor& pixel) {
    return pixel.value() > 200 && pixel.saturation() < 60;
}

}  // namespace vellumora::testing
