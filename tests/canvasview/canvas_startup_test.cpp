// A canvas whose renderer cannot start. CTest runs this twice: once where the display offers
// only OpenGL 3.0 (MESA_GL_VERSION_OVERRIDE) and once with no OpenGL at all
// (QT_XCB_GL_INTEGRATION=none).

#include "canvas_window.h"
#include "support/qt_test_app.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

namespace vellumora {
namespace {

using testing::CanvasWindow;

// Shows a canvas, confirms the message box and expects the process to end with status 1;
// any other exit status names what went wrong.
void openCanvasAndConfirmTheMessage() {
    testing::TestAppScope app;
    const QString message = QStringLiteral("OpenGL 3.3 is not available on this device");
    SessionModel session(QUrl("http://127.0.0.1:9"));
    CanvasWindow canvas(session, "startup");
    QTimer confirm;
    QObject::connect(&confirm, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        if (box->text() != message || box->icon() != QMessageBox::Critical) std::_Exit(3);
        // Behind the box the window shows the message too, never a blank canvas.
        CanvasInputView* input = canvas.view().inputView();
        auto* label = canvas.view().findChild<QLabel*>();
        if (input ? input->startupFailure() != message : (!label || label->text() != message)) std::_Exit(4);
        box->accept();
    });
    confirm.start(50);
    canvas.window().show();
    testing::runFor(std::chrono::seconds(20));
    std::_Exit(5);
}

TEST(CanvasStartupDeathTest, theProgramShowsTheMessageAndExitsWithStatusOne) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(openCanvasAndConfirmTheMessage(), ::testing::ExitedWithCode(1), "");
}

}  // namespace
}  // namespace vellumora
