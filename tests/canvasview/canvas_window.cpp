#include "canvas_window.h"

#include "support/qt_test_app.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTabletEvent>
#include <QTest>
#include <QVBoxLayout>

namespace vellumora::testing {

CanvasWindow::CanvasWindow(SessionModel& session, const QString& title)
    : window_(std::make_unique<QWidget>()), view_(new CanvasView(session, window_.get())) {
    (new QVBoxLayout(window_.get()))->addWidget(view_);
    window_->setWindowTitle(title);
    window_->resize(480, 360);
    if (view_->coordinator())  // none without OpenGL
        QObject::connect(view_->coordinator(), &CanvasCoordinator::messageSent,
                         [this](const ClientMessage& m) { sent.push_back(m); });
}

bool CanvasWindow::open() {
    window_->show();
    window_->activateWindow();
    const bool ready = QTest::qWaitForWindowActive(window_.get()) &&
                       runUntil([this] { return input().renderer().isInitialized() && input().hasFocus(); });
    return ready;
}

void CanvasWindow::mouse(QEvent::Type type, QPointF delta, Qt::MouseButton button, Qt::MouseButtons buttons) {
    mouseAt(type, QPointF(input().rect().center()) + delta, button, buttons);
}

void CanvasWindow::mouseAt(QEvent::Type type, QPointF local, Qt::MouseButton button,
                           Qt::MouseButtons buttons) {
    QMouseEvent event(type, local, input().mapToGlobal(local), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(&input(), &event);
}

void CanvasWindow::drag(Qt::MouseButton button, const std::vector<QPointF>& canvas) {
    // Where each point is shown before the drag moves the page.
    std::vector<QPointF> local;
    for (const QPointF p : canvas) local.push_back(this->local(p));
    mouseAt(QEvent::MouseButtonPress, local.front(), button, button);
    for (std::size_t i = 1; i < local.size(); ++i) mouseAt(QEvent::MouseMove, local[i], Qt::NoButton, button);
    mouseAt(QEvent::MouseButtonRelease, local.back(), button, Qt::NoButton);
}

bool CanvasWindow::tablet(QEvent::Type type, const QPointingDevice& device, QPointF canvas, double pressure) {
    QWidget& view = input();
    const QPointF local = this->local(canvas);
    const bool down = type == QEvent::TabletPress || (type == QEvent::TabletMove && pressure > 0);
    QTabletEvent event(type, &device, view.mapTo(view.window(), local), view.mapToGlobal(local), pressure, 0,
                       0, 0, 0, 0, Qt::NoModifier, type == QEvent::TabletMove ? Qt::NoButton : Qt::LeftButton,
                       down ? Qt::LeftButton : Qt::NoButton);
    event.setAccepted(false);
    QApplication::sendEvent(view.window()->windowHandle(), &event);
    return event.isAccepted();
}

void CanvasWindow::key(int key, Qt::KeyboardModifiers modifiers, bool autoRepeat) {
    keyEvent(QEvent::KeyPress, key, modifiers, autoRepeat);
    keyEvent(QEvent::KeyRelease, key, modifiers, autoRepeat);
}

void CanvasWindow::keyEvent(QEvent::Type type, int key, Qt::KeyboardModifiers modifiers, bool autoRepeat) {
    QKeyEvent event(type, key, modifiers, key == Qt::Key_Space ? " " : "", autoRepeat);
    QApplication::sendEvent(&input(), &event);
}

}  // namespace vellumora::testing
