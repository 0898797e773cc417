#include "canvas_window.h"

#include "support/qt_test_app.h"

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTest>
#include <QVBoxLayout>

namespace vellumora::testing {

CanvasWindow::CanvasWindow(SessionModel& session, const QString& title, QSize size)
    : m_window(std::make_unique<QWidget>()), m_view(new CanvasView(session, m_window.get())) {
    auto* layout = new QVBoxLayout(m_window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    m_window->setWindowTitle(title);
    m_window->resize(size);
}

bool CanvasWindow::open() {
    m_window->show();
    m_window->activateWindow();
    return QTest::qWaitForWindowActive(m_window.get()) &&
           runUntil([this] { return input().renderer().isInitialized() && input().hasFocus(); });
}

QImage CanvasWindow::frame() {
    return input().grabFramebuffer();
}

QColor CanvasWindow::at(const QImage& frame, QPointF canvas) {
    return frame.pixelColor(static_cast<int>(canvas.x() * frame.width()),
                            static_cast<int>(canvas.y() * frame.height()));
}

void CanvasWindow::mouse(QEvent::Type type, QPointF local, Qt::MouseButton button, Qt::MouseButtons buttons) {
    QMouseEvent event(type, local, input().mapToGlobal(local), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(&input(), &event);
}

void CanvasWindow::moveBy(QPointF delta, Qt::MouseButtons buttons) {
    mouse(QEvent::MouseMove, QPointF(input().rect().center()) + delta, Qt::NoButton, buttons);
}

void CanvasWindow::press() {
    mouse(QEvent::MouseButtonPress, QPointF(input().rect().center()), Qt::LeftButton, Qt::LeftButton);
}

void CanvasWindow::release() {
    mouse(QEvent::MouseButtonRelease, QPointF(input().rect().center()), Qt::LeftButton, Qt::NoButton);
}

void CanvasWindow::key(int key, Qt::KeyboardModifiers modifiers, bool autoRepeat) {
    const QString text = key == Qt::Key_Space ? QStringLiteral(" ") : QString();
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text, autoRepeat);
    QApplication::sendEvent(&input(), &press);
}

void CanvasWindow::screenshot(const QImage& image, const QString& name) {
    const QString dir = qEnvironmentVariable("VELLUMORA_SCREENSHOTS");
    if (dir.isEmpty()) return;
    QDir().mkpath(dir);
    image.save(dir + "/" + name + ".png");
}

bool isInk(const QColor& pixel) {
    return pixel.saturation() > 100 || pixel.value() < 150;
}

bool isPaper(const QColor& pixel) {
    return pixel.value() > 200 && pixel.saturation() < 60;
}

}  // namespace vellumora::testing
