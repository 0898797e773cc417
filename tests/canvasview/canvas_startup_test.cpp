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

const QString kMessage = QStringLiteral("OpenGL 3.3 is not available on this device");

TEST(CanvasStartup, theFailureIsReportedOnceAndShownInsteadOfACanvas) {
    testing::TestAppScope app;
    QStringList reported;
    CanvasView::setStartupFailureHandler([&](const QString& message) { reported << message; });
    {
        SessionModel session(QUrl("http://127.0.0.1:9"));
        CanvasWindow canvas(session, "startup");
        canvas.window().show();
        ASSERT_TRUE(testing::runUntil([&] { return !reported.isEmpty(); }));
        testing::runFor(std::chrono::milliseconds(200));
        EXPECT_EQ(reported, QStringList{kMessage});
        if (CanvasInputView* input = canvas.view().inputView()) {
            EXPECT_EQ(input->startupFailure(), kMessage);
            EXPECT_FALSE(input->renderer().isInitialized());
        } else {
            // No OpenGL at all: no GL widget, only the message.
            EXPECT_FALSE(CanvasInputView::isOpenGLAvailable());
            EXPECT_EQ(canvas.view().coordinator(), nullptr);
            auto* label = canvas.view().findChild<QLabel*>();
            ASSERT_TRUE(label);
            EXPECT_EQ(label->text(), kMessage);
            EXPECT_TRUE(label->isVisible());
        }
        CanvasWindow::screenshot(canvas.window().grab().toImage(), "startup-failure-window");
    }
    CanvasView::setStartupFailureHandler({});
}

// By default the message is shown in a modal box and the process ends with status 1.
void openCanvasAndConfirmTheMessage() {
    testing::TestAppScope app;
    QTimer confirm;
    QObject::connect(&confirm, &QTimer::timeout, [] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        if (box->text() != kMessage || box->icon() != QMessageBox::Critical) std::_Exit(3);
        CanvasWindow::screenshot(box->grab().toImage(), "startup-failure-message");
        box->accept();
    });
    confirm.start(50);
    SessionModel session(QUrl("http://127.0.0.1:9"));
    CanvasWindow canvas(session, "startup");
    canvas.window().show();
    testing::runFor(std::chrono::seconds(20));
    std::_Exit(4);  // the process should have ended by now
}

TEST(CanvasStartupDeathTest, byDefaultTheProgramShowsTheMessageAndExitsWithStatusOne) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(openCanvasAndConfirmTheMessage(), ::testing::ExitedWithCode(1), "");
}

}  // namespace
}  // namespace vellumora
