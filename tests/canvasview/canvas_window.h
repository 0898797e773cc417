#pragma once
// A canvas in a window of its own, as a user meets it, plus the synthetic input and pixel
// reads the window tests use. Screenshots go to $VELLUMORA_SCREENSHOTS when it is set.

#include "canvasview/canvas_coordinator.h"
#include "canvasview/canvas_input_view.h"
#include "canvasview/canvas_view.h"
#include "session/session_model.h"

#include <QColor>
#include <QEvent>
#include <QImage>
#include <QPointF>
#include <QWidget>

#include <memory>

namespace vellumora::testing {

class CanvasWindow {
  public:
    CanvasWindow(SessionModel& session, const QString& title, QSize size = {480, 360});

    // Shows, activates and waits until the renderer runs; false if it did not.
    bool open();

    QWidget& window() { return *m_window; }
    CanvasView& view() { return *m_view; }
    CanvasInputView& input() { return *m_view->inputView(); }
    CanvasCoordinator& coordinator() { return *m_view->coordinator(); }

    // One frame as drawn now, and the colour at a canvas-normalized point of it (zoom 1).
    QImage frame();
    static QColor at(const QImage& frame, QPointF canvas);

    // Synthetic pointer input with the pointer captured: motion relative to the view's centre.
    void moveBy(QPointF delta, Qt::MouseButtons buttons = Qt::NoButton);
    void press();
    void release();
    void key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, bool autoRepeat = false);

    static void screenshot(const QImage& image, const QString& name);

  private:
    void mouse(QEvent::Type type, QPointF local, Qt::MouseButton button, Qt::MouseButtons buttons);

    std::unique_ptr<QWidget> m_window;
    CanvasView* m_view;
};

// Ink of a colour clearly over the paper (which is near white).
bool isInk(const QColor& pixel);
bool isPaper(const QColor& pixel);

}  // namespace vellumora::testing
