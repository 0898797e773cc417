#include "support/qt_test_app.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <memory>

namespace vellumora::testing {

QApplication& testApp() {
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) return *app;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // The test main deletes it once the tests are done.
    static int argc = 1;
    static char name[] = "vellumora-tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

bool runUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout) {
    testApp();
    const QDeadlineTimer deadline(timeout);
    QTimer tick;  // wakes the wait below so the deadline is noticed
    tick.start(10);
    while (!predicate()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void runFor(std::chrono::milliseconds duration) {
    const QDeadlineTimer deadline(duration);
    runUntil([&deadline] { return deadline.hasExpired(); }, duration + std::chrono::seconds(1));
}

bool await(const std::function<void(std::function<void()> done)>& start, std::chrono::milliseconds timeout) {
    testApp();
    auto finished = std::make_shared<bool>(false);
    start([finished] { *finished = true; });
    return runUntil([finished] { return *finished; }, timeout);
}

}  // namespace vellumora::testing
