#include "canvas_window.h"

#include "support/qt_test_app.h"

#include <QApplication>
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
    return QTest::qWaitForWindowActive(window_.get()) &&
           runUntil([this] { return input().renderer().isInitialized() && input().hasFocus(); });
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

}  // namespace vellumora::testing
