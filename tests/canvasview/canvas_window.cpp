#include "canvas_window.h"

#include "canvas/gl_drivers.h"
#include "support/qt_test_app.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTest>
#include <QVBoxLayout>

namespace vellumora::testing {

CanvasWindow::CanvasWindow(SessionModel& session, const QString& title)
    : m_window(std::make_unique<QWidget>()), m_view(new CanvasView(session, m_window.get())) {
    (new QVBoxLayout(m_window.get()))->addWidget(m_view);
    m_window->setWindowTitle(title);
    m_window->resize(480, 360);
    if (m_view->coordinator())  // none without OpenGL
        QObject::connect(m_view->coordinator(), &CanvasCoordinator::messageSent,
                         [this](const ClientMessage& m) { sent.push_back(m); });
}

bool CanvasWindow::open() {
    m_window->show();
    m_window->activateWindow();
    const bool ready = QTest::qWaitForWindowActive(m_window.get()) &&
                       runUntil([this] { return input().renderer().isInitialized() && input().hasFocus(); });
    keepGlDriversLoaded();
    return ready;
}

void CanvasWindow::mouse(QEvent::Type type, QPointF delta, Qt::MouseButton button, Qt::MouseButtons buttons) {
    const QPointF local = QPointF(input().rect().center()) + delta;
    QMouseEvent event(type, local, input().mapToGlobal(local), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(&input(), &event);
}

void CanvasWindow::key(int key, Qt::KeyboardModifiers modifiers, bool autoRepeat) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers, key == Qt::Key_Space ? " " : "", autoRepeat);
    QApplication::sendEvent(&input(), &press);
}

}  // namespace vellumora::testing
