// The canvas in a real window on real OpenGL (Xvfb + llvmpipe): canvas mode and the pointer,
// zoom and pan input, drawing with the pointer, the mouse, the pen and the touchscreen, frames
// only while the window can be seen, backlog replay and a new GL context.

#include "canvas/gl_drivers.h"
#include "canvas_window.h"
#include "canvasview/canvas_coordinator.h"
#include "canvasview/first_stroke_hint.h"
#include "canvasview/picture_export.h"
#include "canvasview/room_status_view.h"
#include "support/qt_test_app.h"
#include "support/shading_oracle.h"
#include "support/test_images.h"

#include <QClipboard>
#include <QCursor>
#include <QFile>
#include <QNativeGestureEvent>
#include <QPointingDevice>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <utility>
#include <vector>

namespace vellumora {
namespace {

using testing::CanvasWindow;
using testing::runUntil;

// What the canvas remembers (the first-stroke hint) goes to settings of each test's own.
struct PrivateSettings {
    PrivateSettings() { QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path()); }
    QTemporaryDir dir;
};

// What a window manager does to a window it minimises or sends to another workspace.
void setMapped(QWidget& window, bool mapped) {
    xcb_connection_t* x = qApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    const auto id = static_cast<xcb_window_t>(window.winId());
    mapped ? xcb_map_window(x, id) : xcb_unmap_window(x, id);
    xcb_flush(x);
}

class CanvasWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        session.setCurrentUser(AuthUser{"me", "me", "Me"});
        ASSERT_TRUE(canvas.open());
    }

    // Captured: grabbed and hidden; free: neither.
    bool pointerCaptured() { return pointer() == std::tuple(true, true, true); }
    bool pointerFree() { return pointer() == std::tuple(false, false, false); }
    std::tuple<bool, bool, bool> pointer() {
        return {canvas.input().isPointerCaptured(), QWidget::mouseGrabber() == &canvas.input(),
                canvas.input().cursor().shape() == Qt::BlankCursor};
    }

    void pinch(Qt::NativeGestureType type, QPointF local, double value) {
        QNativeGestureEvent event(type, QPointingDevice::primaryPointingDevice(), 2, local, local,
                                  canvas.input().mapToGlobal(local), value, {});
        QApplication::sendEvent(&canvas.input(), &event);
    }
    void wheel(QPoint pixels) {
        const QPointF local(canvas.input().rect().center());
        QWheelEvent event(local, canvas.input().mapToGlobal(local), pixels, {}, Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(&canvas.input(), &event);
    }

    testing::TestAppScope app;
    PrivateSettings settings;
    SessionModel session{QUrl("http://127.0.0.1:9")};
    CanvasWindow canvas{session, "canvas"};
};

TEST_F(CanvasWindowTest, canvasModeKeysAndWindowFocusDecideWhoHasThePointer) {
    EXPECT_TRUE(pointerFree());
    canvas.key(Qt::Key_Space);
    EXPECT_TRUE(session.isInCanvasMode() && canvas.input().isInCanvasMode() && pointerCaptured());
    canvas.key(Qt::Key_Space, Qt::NoModifier, /*autoRepeat=*/true);
    EXPECT_TRUE(session.isInCanvasMode()) << "a held space bar toggles once";
    canvas.key(Qt::Key_Space, Qt::ControlModifier);
    EXPECT_FALSE(session.isInCanvasMode()) << "modifiers play no part for space";
    canvas.key(Qt::Key_Space);
    canvas.key(Qt::Key_Escape);
    EXPECT_TRUE(!session.isInCanvasMode() && pointerFree());

    // Another window takes the pointer back without leaving the mode; returning takes it again.
    canvas.key(Qt::Key_Space);
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    EXPECT_TRUE(session.isInCanvasMode() && pointerFree());
    canvas.window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&canvas.window()));
    EXPECT_TRUE(runUntil([&] { return pointerCaptured(); }));
}

TEST_F(CanvasWindowTest, zoomAndPanInput) {
    // A pinch about the canvas's bottom-right corner keeps that canvas point in place.
    pinch(Qt::ZoomNativeGesture, canvas.local({1, 1}), 1.0);
    pinch(Qt::EndNativeGesture, {}, 0);
    EXPECT_EQ(session.zoom(), 2.0);
    EXPECT_EQ(session.pan(), QSizeF(0.25, 0.25));
    EXPECT_EQ(canvas.input().gestureMachine().sensitivity, 0.5);

    // Scrolling pans outside canvas mode only: 40 px of a canvas as wide as the view is high.
    session.setPan({0, 0});
    wheel({40, 0});
    EXPECT_NEAR(session.pan().width(), -40.0 / canvas.side() / 2.0, 1e-6);
    canvas.key(Qt::Key_Space);
    wheel({0, 40});
    EXPECT_DOUBLE_EQ(session.pan().height(), 0.0);

    // Ctrl+0 resets.
    canvas.key(Qt::Key_0, Qt::ControlModifier);
    EXPECT_EQ(session.zoom(), 1.0);
    EXPECT_EQ(session.pan(), QSizeF(0, 0));
}

TEST_F(CanvasWindowTest, thePointerDrawsInCanvasMode) {
    const QSize size = canvas.input().size();
    // The canvas cursor starts under the pointer.
    QCursor::setPos(canvas.input().mapToGlobal(QPoint(size.width() / 4, size.height() / 2)));
    ASSERT_TRUE(runUntil([&] { return canvas.input().underMouse(); }));
    canvas.key(Qt::Key_Space);
    ASSERT_TRUE(pointerCaptured());
    const CanvasPoint start = canvas.input().gestureMachine().cursor();
    const Vec2f under = canvas.input().renderer().mapping().toCanvas({0.25f, 0.5f});
    EXPECT_LT(std::hypot(start.x - under.x, start.y - under.y), 0.01);
    // Motion the window system queued before the warp to the centre counts from where it was.
    const QPointF before(size.width() / 4 + 6, size.height() / 2);
    QMouseEvent stale(QEvent::MouseMove, before, canvas.input().mapToGlobal(before), Qt::NoButton,
                      Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&canvas.input(), &stale);
    EXPECT_NEAR(canvas.input().gestureMachine().cursor().x, start.x + 6.0 / canvas.side(), 1e-9);

    // Hovering moves the cursor only.
    canvas.moveBy({20, 0});
    canvas.moveBy({20, 0});
    const double hovered = canvas.input().gestureMachine().cursor().x;
    EXPECT_NEAR(hovered, start.x + 46.0 / canvas.side(), 1e-9);

    canvas.press();
    for (int i = 0; i < 12; ++i) canvas.moveBy({10, 0}, Qt::LeftButton);
    EXPECT_EQ(canvas.input().renderer().stamper().activeStrokes().begin()->second.radius, 4.5f);
    canvas.release();
    EXPECT_EQ(testing::only<ClientMessage::StrokePoint>(canvas.sent).size(), 11u);
    const QImage drawn = canvas.frame();
    EXPECT_TRUE(testing::isInk(CanvasWindow::at(drawn, {hovered + 60.0 / canvas.side(), 0.5})));
    EXPECT_TRUE(testing::isPaper(CanvasWindow::at(drawn, {hovered + 60.0 / canvas.side(), 0.7})));

    // Nobody signed in: the pen draws and sends nothing.
    session.setCurrentUser(std::nullopt);
    canvas.press();
    canvas.moveBy({10, 0}, Qt::LeftButton);
    canvas.release();
    EXPECT_EQ(testing::only<ClientMessage::StrokeStart>(canvas.sent).size(), 1u);
    EXPECT_TRUE(canvas.input().renderer().stamper().activeStrokes().empty());
}

TEST_F(CanvasWindowTest, theMouseDrawsAndPansInPointerModeAndSpaceIsDecidedOnRelease) {
    FirstStrokeHint& hint = *canvas.view().firstStrokeHint();
    // In a narrow window the hint makes way for the room's status in the corner.
    const QSize wide = canvas.window().size();
    canvas.window().resize(300, 420);
    session.handleNetworkEvent({NetworkEvent::Closed{"refused", NetworkEvent::Closed::Outcome::refused}});
    const QWidget* status = canvas.view().findChild<RoomStatusView*>();
    ASSERT_TRUE(runUntil([&] { return status->isVisible() && canvas.view().width() < 320; }));
    EXPECT_TRUE(hint.isVisible());
    EXPECT_FALSE(hint.geometry().intersects(status->geometry()));
    EXPECT_TRUE(canvas.view().rect().contains(hint.geometry()));
    canvas.window().resize(wide);

    canvas.drag(Qt::LeftButton, {{0.25, 0.5}, {0.3, 0.5}, {0.35, 0.5}, {0.4, 0.5}});
    EXPECT_TRUE(pointerFree());
    const auto starts = testing::only<ClientMessage::StrokeStart>(canvas.sent);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_NEAR(starts[0].stroke.point.x, 0.25, 1.0 / canvas.side());
    EXPECT_EQ(testing::only<ClientMessage::StrokePoint>(canvas.sent).size(), 3u);
    EXPECT_TRUE(testing::isInk(CanvasWindow::at(canvas.frame(), {0.33, 0.5})));
    // Once drawn, the hint is gone, also from the next canvas.
    EXPECT_FALSE(hint.isVisible());
    EXPECT_TRUE(CanvasView(session).firstStrokeHint()->isHidden());
    EXPECT_TRUE(QFile::exists(settings.dir.filePath("vellumora/vellumora.conf")));

    // The right button pans (the page follows the pointer); Space held turns a left drag into a pan.
    session.setZoom(2.0);
    canvas.drag(Qt::RightButton, {{0.5, 0.5}, {0.55, 0.5}});
    EXPECT_NEAR(session.pan().width(), -0.05, 1e-3);
    canvas.keyEvent(QEvent::KeyPress, Qt::Key_Space);
    canvas.keyEvent(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, /*autoRepeat=*/true);
    canvas.drag(Qt::LeftButton, {{0.5, 0.5}, {0.45, 0.45}});
    canvas.keyEvent(QEvent::KeyRelease, Qt::Key_Space);
    EXPECT_NEAR(session.pan().width(), 0.0, 1e-3);
    EXPECT_NEAR(session.pan().height(), 0.05, 1e-3);
    EXPECT_EQ(testing::only<ClientMessage::StrokeStart>(canvas.sent).size(), 1u);
    EXPECT_FALSE(session.isInCanvasMode()) << "a pan-hold is no tap";
    canvas.keyEvent(QEvent::KeyPress, Qt::Key_Space);
    EXPECT_FALSE(session.isInCanvasMode()) << "decided on release";
    canvas.keyEvent(QEvent::KeyRelease, Qt::Key_Space);
    EXPECT_TRUE(session.isInCanvasMode() && pointerCaptured());
}

// Minimised, on another workspace or fully covered, the canvas presents nothing; shown again, it
// presents at once, with what arrived meanwhile.
TEST_F(CanvasWindowTest, framesStopWhileNobodyCanSeeTheCanvasAndNothingIsLostMeanwhile) {
    int frames = 0;
    QObject::connect(&canvas.input(), &CanvasInputView::frameDone, [&] { ++frames; });
    ASSERT_TRUE(runUntil([&] { return frames > 2; }));
    // The frame under way when the canvas was hidden may still come, however slow the machine:
    // after a quiet spell, nothing more.
    const auto noMoreFrames = [&] {
        using namespace std::chrono_literals;
        const bool quiet = runUntil([&] {
            frames = 0;
            testing::runFor(250ms);
            return frames == 0;
        });
        testing::runFor(300ms);
        return quiet && frames == 0;
    };

    setMapped(canvas.window(), false);
    ASSERT_TRUE(runUntil([&] { return !canvas.input().isPresenting(); }));
    session.publishCanvasEvent({CanvasEvent::PeerStrokeStart{
        "peer", {"HIDDEN", "peer", Tool::crayon, {0.1, 0.2, 0.9, 1}, 8.0}, {0.2, 0.2, 1, 0}}});
    session.publishCanvasEvent({CanvasEvent::PeerStrokePoint{"peer", "HIDDEN", {0.8, 0.2, 1, 0}}});
    EXPECT_TRUE(noMoreFrames());

    setMapped(canvas.window(), true);
    ASSERT_TRUE(runUntil([&] { return frames > 0; }));
    EXPECT_TRUE(testing::isInk(CanvasWindow::at(canvas.frame(), {0.5, 0.2})));

    // Covered, the window is still mapped: only the canvas itself keeps from drawing.
    QWidget cover;
    cover.setGeometry(canvas.window().geometry().adjusted(-20, -20, 20, 20));
    cover.show();
    ASSERT_TRUE(runUntil([&] { return !canvas.input().isPresenting(); }));
    EXPECT_TRUE(noMoreFrames());
    cover.hide();
    EXPECT_TRUE(runUntil([&] { return canvas.input().isPresenting(); }));
}

Stroke redStroke(int index) {
    Stroke s{"R" + std::to_string(index), "peer", Tool::sketchpen, {0.9, 0.1, 0.1, 1.0}, 6.0, {}, true};
    for (int i = 0; i <= 100; ++i) s.points.push_back({0.3 + 0.004 * i, 0.3 + 0.001 * (index % 100), 1, 0});
    return s;
}

TEST_F(CanvasWindowTest, aBacklogIsPaintedInSlicesWithLiveStrokesAfterIt) {
    std::vector<Stroke> backlog;
    for (int i = 0; i < 100; ++i) backlog.push_back(redStroke(i));
    session.publishCanvasEvent({CanvasEvent::RoomState{backlog}});
    // A live stroke that crosses the backlog arrives while it is being painted.
    session.publishCanvasEvent({CanvasEvent::PeerStrokeStart{
        "peer", {"LIVE", "peer", Tool::sketchpen, {0.1, 0.2, 0.9, 1}, 6.0}, {0.5, 0.2, 1, 0}}});
    session.publishCanvasEvent({CanvasEvent::PeerStrokePoint{"peer", "LIVE", {0.5, 0.5, 1, 0}}});
    session.publishCanvasEvent({CanvasEvent::PeerStrokeEnd{"peer", "LIVE"}});
    const CanvasCoordinator& coordinator = canvas.coordinator();
    ASSERT_LT(coordinator.replayProgress().value_or(1), 0.5) << "too small a backlog to need slices";

    // Progress shows over the canvas while it runs: a dark label at the top, and its text.
    ASSERT_TRUE(runUntil([&] { return !canvas.input().accessibleDescription().isEmpty(); }));
    EXPECT_TRUE(canvas.input().accessibleDescription().startsWith("Loading drawing… "));
    EXPECT_NE(canvas.input().accessibleDescription(), "Loading drawing… 100 %");
    const auto labelShown = [&] {
        const QImage frame = canvas.frame();
        int dark = 0;
        for (int y = 0; y < 40; ++y) dark += qGray(frame.pixel(frame.width() / 2, y)) < 100;
        return dark > 4;
    };
    EXPECT_TRUE(labelShown());
    using namespace std::chrono_literals;  // a hang guard: llvmpipe under a sanitizer is slow
    ASSERT_TRUE(
        runUntil([&] { return !coordinator.replayProgress() && !canvas.input().replayProgress(); }, 60s));
    EXPECT_TRUE(canvas.input().accessibleDescription().isEmpty());
    EXPECT_FALSE(labelShown());

    const QImage done = canvas.frame();
    const QColor crossing = CanvasWindow::at(done, {0.5, 0.35});
    EXPECT_GT(crossing.blue(), crossing.red()) << "the live stroke lies on top of the backlog";
    EXPECT_GT(CanvasWindow::at(done, {0.6, 0.35}).red(), 200);

    // A new room state supersedes a replay under way.
    session.publishCanvasEvent({CanvasEvent::RoomState{backlog}});
    session.publishCanvasEvent({CanvasEvent::RoomState{}});
    EXPECT_TRUE(!coordinator.replayProgress() &&
                testing::isPaper(CanvasWindow::at(canvas.frame(), {0.6, 0.35})));
}

// The renderer starts empty in a new context: the coordinator paints the ink again, and the
// page's line art comes back; the picture is taken from there.
TEST_F(CanvasWindowTest, inkAndLineArtSurviveANewGlContextAndThePictureIsTheWholeCanvasAtFullSize) {
    session.setCurrentPage(CurrentPage{"p", "P", testing::lineArtPng(64)});  // a cross through the centre
    session.publishCanvasEvent({CanvasEvent::RoomState{{redStroke(0)}}});
    session.publishCanvasEvent({CanvasEvent::PeerStrokeStart{
        "peer", {"LIVE", "peer", Tool::crayon, {0.1, 0.2, 0.9, 1}, 8.0}, {0.7, 0.6, 1, 0}}});
    session.publishCanvasEvent({CanvasEvent::PeerStrokePoint{"peer", "LIVE", {0.7, 0.8, 1, 0}}});
    canvas.frame();

    int initialized = 0;
    QObject::connect(&canvas.input(), &CanvasInputView::glInitialized, [&] { ++initialized; });
    QWidget elsewhere;
    elsewhere.resize(480, 360);
    (new QVBoxLayout(&elsewhere))->addWidget(&canvas.view());
    elsewhere.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&elsewhere));
    ASSERT_TRUE(runUntil([&] { return initialized > 0 && !canvas.coordinator().replayProgress(); }));

    const QImage frame = canvas.frame();
    EXPECT_TRUE(testing::isInk(CanvasWindow::at(frame, {0.4, 0.3})) &&
                testing::isInk(CanvasWindow::at(frame, {0.7, 0.7})));
    EXPECT_LT(CanvasWindow::at(frame, {0.5, 0.1}).value(), 60) << "the line art";
    // The open stroke goes on in the new context.
    session.publishCanvasEvent({CanvasEvent::PeerStrokePoint{"peer", "LIVE", {0.9, 0.8, 1, 0}}});
    EXPECT_TRUE(testing::isInk(CanvasWindow::at(canvas.frame(), {0.8, 0.8})));

    // The new contexts' rasteriser threads, too, give way to the GUI thread (unless it already
    // runs at the lowest priority there is, as under `nice -n 19`).
    const std::vector<id_t> threads = rasterThreads();
    EXPECT_GT(threads.size(), 0u);
    const int gui = std::min(getpriority(PRIO_PROCESS, 0), 18);
    for (const id_t t : threads) EXPECT_GT(getpriority(PRIO_PROCESS, t), gui);

    // The picture is the whole canvas at its full size whatever the view shows, taken once the
    // room's ink is all painted; a write that fails says so and leaves nothing behind.
    session.setCurrentPage(CurrentPage{"p2", "P", testing::lineArtPng(64)});
    session.publishCanvasEvent({CanvasEvent::RoomState{{redStroke(0)}}});
    session.setZoom(4.0);
    session.setPan({0.3, 0.3});
    PictureExport& exporter = *canvas.view().pictureExport();
    QSignalSpy saved(&exporter, &PictureExport::saved), failed(&exporter, &PictureExport::failed),
        copied(&exporter, &PictureExport::copied);
    QTemporaryDir dir;
    const QString path = dir.filePath("room.png");
    const QString missing = dir.filePath("gone/room.png");
    exporter.saveTo(path);
    exporter.saveTo(missing);
    exporter.copy();
    ASSERT_TRUE(runUntil([&] { return saved.size() + failed.size() == 2 && copied.size() == 1; }));
    EXPECT_EQ(saved, QList<QVariantList>{{path}});
    ASSERT_EQ(failed.size(), 1);
    const QString error = failed[0][0].toString();
    EXPECT_TRUE(error.startsWith("Could not export the picture to " + missing + ": ")) << error.toStdString();
    EXPECT_FALSE(QFile::exists(missing));

    const QImage png(path);
    ASSERT_EQ(png.size(), QSize(2048, 2048));
    const auto at = [&png](double x, double y) { return png.pixelColor(int(x * 2048), int(y * 2048)); };
    EXPECT_TRUE(testing::isInk(at(0.4, 0.3)) && at(0.4, 0.3).red() > 200) << "the ink, where the view is not";
    for (const QPoint p : {QPoint(819, 410), QPoint(40, 2000), QPoint(1800, 1700)}) {
        const Color4f paper =
            shading::composite({(float(p.x()) + 0.5f) / 2048, (float(p.y()) + 0.5f) / 2048}, {}, {});
        const QColor got = png.pixelColor(p);
        EXPECT_LE(std::max({std::abs(got.redF() - paper.r), std::abs(got.greenF() - paper.g),
                            std::abs(got.blueF() - paper.b)}),
                  2.0f / 255)
            << "the paper at " << p.x() << ", " << p.y();
    }
    EXPECT_LT(at(0.5, 0.9).value(), 60) << "the line art";
    EXPECT_TRUE(QGuiApplication::clipboard()->image().convertToFormat(png.format()) == png) << "the copy";

    for (const auto& [room, file] : std::initializer_list<std::pair<std::optional<QString>, QString>>{
             {"My sketchbook", "My sketchbook 2026-12-07.png"},
             {" a/b:c\\d ", "a-b-c-d 2026-12-07.png"},
             {"..", "Vellumora 2026-12-07.png"},
             {std::nullopt, "Vellumora 2026-12-07.png"}})
        EXPECT_EQ(PictureExport::suggestedPath("/p", room, QDate(2026, 12, 7)), "/p/" + file);
}

}  // namespace
}  // namespace vellumora
