// The canvas in a real window on real OpenGL (Xvfb + llvmpipe): canvas mode and the pointer,
// zoom and pan input, drawing with the pointer, backlog replay and a new GL context.

#include "canvas_window.h"
#include "canvasview/canvas_coordinator.h"
#include "support/qt_test_app.h"

#include <QCursor>
#include <QLineEdit>
#include <QNativeGestureEvent>
#include <QPointingDevice>
#include <QTest>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <variant>

namespace vellumora {
namespace {

using testing::CanvasWindow;
using testing::runUntil;

class CanvasWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        session.setCurrentUser(AuthUser{"me", "me", "Me"});
        QObject::connect(&canvas.coordinator(), &CanvasCoordinator::messageSent,
                         [this](const ClientMessage& m) { sent.push_back(m); });
        ASSERT_TRUE(canvas.open());
    }

    template <class T>
    std::size_t count() const {
        std::size_t n = 0;
        for (const ClientMessage& m : sent) n += std::holds_alternative<T>(m.value) ? 1 : 0;
        return n;
    }

    bool pointerCaptured() {
        return canvas.input().isPointerCaptured() && QWidget::mouseGrabber() == &canvas.input() &&
               canvas.input().cursor().shape() == Qt::BlankCursor;
    }
    bool pointerFree() {
        return !canvas.input().isPointerCaptured() && QWidget::mouseGrabber() == nullptr &&
               canvas.input().cursor().shape() != Qt::BlankCursor;
    }

    void pinch(Qt::NativeGestureType type, QPointF local, double value) {
        QNativeGestureEvent event(type, QPointingDevice::primaryPointingDevice(), 2, local, local,
                                  canvas.input().mapToGlobal(local), value, {});
        QApplication::sendEvent(&canvas.input(), &event);
    }
    void wheel(QPoint pixels, Qt::KeyboardModifiers modifiers = Qt::NoModifier, QPoint angle = {}) {
        const QPointF local(canvas.input().rect().center());
        QWheelEvent event(local, canvas.input().mapToGlobal(local), pixels, angle, Qt::NoButton, modifiers,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(&canvas.input(), &event);
    }

    testing::TestAppScope app;
    SessionModel session{QUrl("http://127.0.0.1:9")};
    CanvasWindow canvas{session, "canvas"};
    std::vector<ClientMessage> sent;
};

TEST_F(CanvasWindowTest, spaceAndEscapeSwitchCanvasModeAndThePointerFollows) {
    EXPECT_FALSE(session.isInCanvasMode());
    EXPECT_TRUE(pointerFree());

    canvas.key(Qt::Key_Space);
    EXPECT_TRUE(session.isInCanvasMode());
    EXPECT_TRUE(canvas.input().isInCanvasMode());
    EXPECT_TRUE(pointerCaptured());

    canvas.key(Qt::Key_Space, Qt::NoModifier, /*autoRepeat=*/true);
    EXPECT_TRUE(session.isInCanvasMode()) << "a held space bar toggles once";
    canvas.key(Qt::Key_Space, Qt::ControlModifier);
    EXPECT_FALSE(session.isInCanvasMode()) << "modifiers play no part for space";
    EXPECT_TRUE(pointerFree());

    canvas.key(Qt::Key_Space);
    canvas.key(Qt::Key_Escape);
    EXPECT_FALSE(session.isInCanvasMode());
    EXPECT_TRUE(pointerFree());
    canvas.key(Qt::Key_Escape);
    EXPECT_FALSE(session.isInCanvasMode());
}

TEST_F(CanvasWindowTest, losingFocusOrTheWindowGivesThePointerBackAndRegainingTakesIt) {
    auto* field = new QLineEdit(&canvas.window());
    canvas.window().layout()->addWidget(field);
    field->show();
    canvas.key(Qt::Key_Space);
    ASSERT_TRUE(pointerCaptured());

    field->setFocus();
    ASSERT_TRUE(runUntil([&] { return field->hasFocus(); }));
    EXPECT_TRUE(pointerFree());
    EXPECT_TRUE(session.isInCanvasMode()) << "the mode itself stays";
    canvas.input().setFocus();
    ASSERT_TRUE(runUntil([&] { return canvas.input().hasFocus(); }));
    EXPECT_TRUE(pointerCaptured());

    QWidget other;
    other.resize(200, 100);
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    EXPECT_TRUE(pointerFree());
    canvas.window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&canvas.window()));
    EXPECT_TRUE(runUntil([&] { return pointerCaptured(); }));
}

TEST_F(CanvasWindowTest, zoomAndPanInput) {
    const QSize size = canvas.input().size();

    // A pinch about the bottom-right corner keeps that canvas point in place.
    pinch(Qt::ZoomNativeGesture, QPointF(size.width(), size.height()), 1.0);
    EXPECT_TRUE(canvas.input().isPinching());
    pinch(Qt::EndNativeGesture, {}, 0);
    EXPECT_FALSE(canvas.input().isPinching());
    EXPECT_DOUBLE_EQ(session.zoom(), 2.0);
    EXPECT_DOUBLE_EQ(session.pan().width(), 0.25);
    EXPECT_DOUBLE_EQ(session.pan().height(), 0.25);
    EXPECT_DOUBLE_EQ(canvas.input().gestureMachine().sensitivity, 0.5);

    // A pinch left of the view anchors at its left edge.
    pinch(Qt::ZoomNativeGesture, QPointF(-50, size.height() / 2.0), 0.0);
    EXPECT_EQ(canvas.input().pinchAnchorUV(), QPointF(0.0, 0.5));
    pinch(Qt::EndNativeGesture, {}, 0);

    // Scrolling pans outside canvas mode only: 40 px of a view w wide at zoom 2.
    session.setPan({0, 0});
    wheel({40, 0});
    EXPECT_DOUBLE_EQ(session.pan().width(), -40.0 / size.width() / 2.0);
    canvas.key(Qt::Key_Space);
    wheel({0, 40});
    EXPECT_DOUBLE_EQ(session.pan().height(), 0.0);

    // Ctrl + wheel zooms in steps in either mode; Ctrl+0 resets, 0 alone does not.
    wheel({}, Qt::ControlModifier, {0, 120});
    EXPECT_DOUBLE_EQ(session.zoom(), 2.2);
    canvas.key(Qt::Key_0);
    EXPECT_DOUBLE_EQ(session.zoom(), 2.2);
    canvas.key(Qt::Key_0, Qt::ControlModifier);
    EXPECT_EQ(session.zoom(), 1.0);
    EXPECT_EQ(session.pan(), QSizeF(0, 0));
}

TEST_F(CanvasWindowTest, thePointerDrawsInCanvasModeAndPinchLiftsThePen) {
    const QSize size = canvas.input().size();
    // The canvas cursor starts under the pointer.
    QCursor::setPos(canvas.input().mapToGlobal(QPoint(size.width() / 4, size.height() / 2)));
    ASSERT_TRUE(runUntil([&] { return canvas.input().underMouse(); }));
    canvas.key(Qt::Key_Space);
    ASSERT_TRUE(pointerCaptured());
    EXPECT_NEAR(canvas.input().gestureMachine().cursor().x, 0.25, 0.01);
    EXPECT_NEAR(canvas.input().gestureMachine().cursor().y, 0.5, 0.01);

    // Hovering moves the cursor only.
    canvas.moveBy({20, 0});
    canvas.moveBy({20, 0});
    EXPECT_EQ(count<ClientMessage::StrokeStart>(), 0u);
    const double hovered = canvas.input().gestureMachine().cursor().x;
    EXPECT_NEAR(hovered, 0.25 + 40.0 / size.width(), 1e-9);

    canvas.press();
    for (int i = 0; i < 12; ++i) canvas.moveBy({10, 0}, Qt::LeftButton);
    canvas.release();
    EXPECT_EQ(count<ClientMessage::StrokeStart>(), 1u);
    EXPECT_EQ(count<ClientMessage::StrokePoint>(), 11u);
    EXPECT_EQ(count<ClientMessage::StrokeEnd>(), 1u);
    const QImage drawn = canvas.frame();
    CanvasWindow::screenshot(drawn, "canvas-stroke");
    const double y = 0.5;
    EXPECT_TRUE(testing::isInk(CanvasWindow::at(drawn, {hovered + 60.0 / size.width(), y})));
    EXPECT_TRUE(testing::isPaper(CanvasWindow::at(drawn, {hovered + 60.0 / size.width(), y + 0.2})));

    // A pinch that begins while drawing ends the stroke; touches wait for its end.
    canvas.press();
    canvas.moveBy({10, 0}, Qt::LeftButton);
    ASSERT_TRUE(canvas.coordinator().currentStrokeId());
    pinch(Qt::ZoomNativeGesture, QPointF(size.width() / 2.0, size.height() / 2.0), 0.0);
    EXPECT_FALSE(canvas.coordinator().currentStrokeId());
    EXPECT_EQ(count<ClientMessage::StrokeEnd>(), 2u);
    canvas.moveBy({10, 0}, Qt::LeftButton);
    EXPECT_EQ(count<ClientMessage::StrokeStart>(), 2u);
    pinch(Qt::EndNativeGesture, {}, 0);
    canvas.release();

    // Leaving canvas mode puts the pointer where the canvas cursor was.
    const CanvasPoint cursor = canvas.input().gestureMachine().cursor();
    canvas.key(Qt::Key_Escape);
    const QPoint expected =
        canvas.input().mapToGlobal(QPoint(int(cursor.x * size.width()), int(cursor.y * size.height())));
    EXPECT_LE((QCursor::pos() - expected).manhattanLength(), 2);
}

Stroke redStroke(int index) {
    Stroke s{"R" + std::to_string(index), "peer", Tool::sketchpen, {0.9, 0.1, 0.1, 1.0}, 6.0, {}, true};
    for (int i = 0; i <= 100; ++i) s.points.push_back({0.3 + 0.004 * i, 0.3 + 0.001 * (index % 100), 1, 0});
    return s;
}

TEST_F(CanvasWindowTest, aBacklogIsPaintedInSlicesWithLiveStrokesAfterIt) {
    std::vector<Stroke> backlog;
    for (int i = 0; i < 300; ++i) backlog.push_back(redStroke(i));
    session.publishCanvasEvent({CanvasEvent::RoomState{backlog}});
    // A live stroke that crosses the backlog arrives while it is being painted.
    session.publishCanvasEvent({CanvasEvent::PeerStrokeStart{
        "peer", {"LIVE", "peer", Tool::sketchpen, {0.1, 0.2, 0.9, 1}, 6.0}, {0.5, 0.2, 1, 0}}});
    session.publishCanvasEvent({CanvasEvent::PeerStrokePoint{"peer", "LIVE", {0.5, 0.5, 1, 0}}});
    session.publishCanvasEvent({CanvasEvent::PeerStrokeEnd{"peer", "LIVE"}});
    const CanvasCoordinator& coordinator = canvas.coordinator();
    ASSERT_TRUE(coordinator.replayProgress()) << "too small a backlog to need slices";
    EXPECT_EQ(canvas.input().renderer().stamper().activeStrokes().count("LIVE"), 0u);
    EXPECT_LT(*coordinator.replayProgress(), 0.5);

    // Progress shows over the canvas while it runs.
    ASSERT_TRUE(
        runUntil([&] { return coordinator.replayProgress() && *coordinator.replayProgress() > 0.3; }));
    CanvasWindow::screenshot(canvas.frame(), "canvas-replay-progress");
    ASSERT_TRUE(runUntil([&] { return !coordinator.replayProgress(); }));
    EXPECT_FALSE(canvas.input().replayProgress());

    const QImage done = canvas.frame();
    CanvasWindow::screenshot(done, "canvas-replayed");
    const QColor crossing = CanvasWindow::at(done, {0.5, 0.35});
    EXPECT_GT(crossing.blue(), crossing.red()) << "the live stroke lies on top of the backlog";
    const QColor backlogOnly = CanvasWindow::at(done, {0.6, 0.35});
    EXPECT_GT(backlogOnly.red(), backlogOnly.blue());

    // A new room state supersedes a replay under way.
    session.publishCanvasEvent({CanvasEvent::RoomState{backlog}});
    ASSERT_TRUE(coordinator.replayProgress());
    session.publishCanvasEvent({CanvasEvent::RoomState{}});
    EXPECT_FALSE(coordinator.replayProgress());
    EXPECT_TRUE(testing::isPaper(CanvasWindow::at(canvas.frame(), {0.6, 0.35})));
}

TEST_F(CanvasWindowTest, inkSurvivesANewGlContext) {
    session.publishCanvasEvent({CanvasEvent::RoomState{{redStroke(0)}}});
    session.publishCanvasEvent({CanvasEvent::PeerStrokeStart{
        "peer", {"LIVE", "peer", Tool::crayon, {0.1, 0.2, 0.9, 1}, 8.0}, {0.5, 0.6, 1, 0}}});
    session.publishCanvasEvent({CanvasEvent::PeerStrokePoint{"peer", "LIVE", {0.5, 0.8, 1, 0}}});
    ASSERT_TRUE(testing::isInk(CanvasWindow::at(canvas.frame(), {0.4, 0.3})));

    int initialized = 0;
    QObject::connect(&canvas.input(), &CanvasInputView::glInitialized, [&] { ++initialized; });
    QWidget elsewhere;
    auto* layout = new QVBoxLayout(&elsewhere);
    layout->addWidget(&canvas.view());
    elsewhere.resize(480, 360);
    elsewhere.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&elsewhere));
    ASSERT_TRUE(runUntil([&] { return initialized > 0 && !canvas.coordinator().replayProgress(); }));

    const QImage frame = canvas.frame();
    CanvasWindow::screenshot(frame, "canvas-new-context");
    EXPECT_TRUE(testing::isInk(CanvasWindow::at(frame, {0.4, 0.3})));
    EXPECT_TRUE(testing::isInk(CanvasWindow::at(frame, {0.5, 0.7})));
    // The open stroke goes on in the new context.
    session.publishCanvasEvent({CanvasEvent::PeerStrokePoint{"peer", "LIVE", {0.7, 0.8, 1, 0}}});
    EXPECT_TRUE(testing::isInk(CanvasWindow::at(canvas.frame(), {0.6, 0.8})));
}

TEST(CanvasViewLifetime, aCanvasCanBeOpenedAndClosedAgainAndAgain) {
    testing::TestAppScope app;
    SessionModel session(QUrl("http://127.0.0.1:9"));
    session.setCurrentUser(AuthUser{"me", "me", "Me"});
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        CanvasWindow canvas(session, "again");
        ASSERT_TRUE(canvas.open());
        session.setIsInCanvasMode(true);
        ASSERT_TRUE(canvas.input().isPointerCaptured());
        session.publishCanvasEvent({CanvasEvent::RoomState{{redStroke(round)}}});
        EXPECT_TRUE(testing::isInk(CanvasWindow::at(canvas.frame(), {0.4, 0.3})));
    }
    // Closing the canvas in canvas mode gave the pointer back.
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
    session.setIsInCanvasMode(false);
}

}  // namespace
}  // namespace vellumora
