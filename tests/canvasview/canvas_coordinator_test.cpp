// The coordinator's rules without a window: a renderer with no GL context keeps its stroke
// table and stamp queue, which is what these tests read.

#include "canvasview/canvas_coordinator.h"
#include "canvas/renderer.h"
#include "canvas_window.h"
#include "support/qt_test_app.h"
#include "support/test_images.h"

#include <gtest/gtest.h>

namespace vellumora {
namespace {

class CoordinatorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        session.setCurrentUser(AuthUser{"user-1", "ann", "Ann"});
        coordinator.setClock([this] { return clock; });
        QObject::connect(&coordinator, &CanvasCoordinator::messageSent,
                         [this](const ClientMessage& m) { sent.push_back(m); });
        coordinator.bind(nullptr, renderer, session);
    }
    void publish(CanvasEvent::Value value) { session.publishCanvasEvent(CanvasEvent{std::move(value)}); }
    const auto& strokes() const { return renderer.stamper().activeStrokes(); }
    const auto& stamps() const { return renderer.stamper().pendingStamps(); }

    testing::TestAppScope app;
    SessionModel session{QUrl("http://127.0.0.1:9")};
    Renderer renderer{[] { return 1.0f; }};
    CanvasCoordinator coordinator;
    double clock = 1733400000.0;
    std::vector<ClientMessage> sent;
};

Stroke peerStroke(std::string id, std::vector<std::pair<double, double>> points, bool complete) {
    Stroke s{std::move(id), "peer", Tool::crayon, {0.1, 0.2, 0.3, 0.5}, 2.0, {}, complete};
    for (auto [x, y] : points) s.points.push_back({x, y, 1.0, 0.0});
    return s;
}

TEST_F(CoordinatorTest, cursorMessagesAreThrottledToMoreThanSixteenMilliseconds) {
    session.setIsInCanvasMode(true);
    // Clock readings: 0.048 is exactly 16 ms after 0.032 in binary floating point too.
    const double times[] = {0.032, 0.042, 0.048, 0.0485, 0.0585, 0.0646};
    const std::vector<bool> expected{true, false, false, true, false, true};
    std::vector<bool> got;
    for (double t : times) {
        clock = t;
        const std::size_t before = sent.size();
        coordinator.gestureDidUpdateCursor({t, 0.5}, false);
        got.push_back(sent.size() > before && sent.back() == ClientMessage::cursor(t, 0.5));
    }
    EXPECT_EQ(got, expected);
    // Outside canvas mode the own cursor is neither drawn nor sent.
    sent.clear();
    session.setIsInCanvasMode(false);
    coordinator.gestureDidUpdateCursor({0.4, 0.4}, false);
    EXPECT_TRUE(sent.empty() && !renderer.selfCursor());
}

TEST_F(CoordinatorTest, roomStateReplaysStrokesAndLeavesIncompleteOnesOpen) {
    publish(CanvasEvent::RoomState{{peerStroke("A", {{0.1, 0.1}, {0.12, 0.1}}, true),
                                    peerStroke("EMPTY", {}, false),
                                    peerStroke("C", {{0.5, 0.5}, {0.5, 0.51}}, false)}});
    // Not in the turn that brought the whole room.
    EXPECT_TRUE(strokes().empty());
    ASSERT_TRUE(testing::runUntil([&] { return !coordinator.replayProgress(); }));
    ASSERT_EQ(strokes().size(), 1u);
    EXPECT_EQ(std::pair(strokes().at("C").radius, strokes().at("C").color),
              std::pair(3.0f, Color4f{0.1f, 0.2f, 0.3f, 0.5f}));

    // The open stroke goes on from its last point; the complete one takes no more points.
    const std::size_t before = stamps().size();
    publish(CanvasEvent::PeerStrokePoint{"peer", "A", {0.2, 0.2, 1, 0}});
    EXPECT_EQ(stamps().size(), before);
    publish(CanvasEvent::PeerStrokePoint{"peer", "C", {0.5, 0.52, 1, 0}});
    ASSERT_GT(stamps().size(), before);
    EXPECT_NEAR(stamps()[before].center.y, 0.51f * 2048 + 0.54f, 0.01f);
    EXPECT_EQ(stamps().back().center.y, 0.52f * 2048);
}

TEST_F(CoordinatorTest, aClearRemovesTheInkAndLoadsThePagesLineArtAgain) {
    session.setCurrentPage(CurrentPage{"p", "Page", testing::lineArtPng(16)});
    publish(CanvasEvent::PageChanged{std::nullopt});  // before the first page is decoded
    testing::runFor(std::chrono::milliseconds(100));
    EXPECT_FALSE(renderer.hasLineArt()) << "the superseded page";
    publish(CanvasEvent::PeerStrokeStart{
        "peer", {"P", "peer", Tool::pencil, {0, 0, 0, 1}, 3.0}, {0.3, 0.3, 1, 0}});
    publish(CanvasEvent::CanvasCleared{});
    EXPECT_TRUE(stamps().empty() && strokes().empty());
    EXPECT_TRUE(testing::runUntil([&] { return renderer.hasLineArt(); })) << "decoded off the GUI thread";
}

// Mouse, pen and touchscreen draw where they point, through the zoom and pan, with the pen's
// pressure; their position is the cursor the room sees.
TEST_F(CoordinatorTest, directStrokesStartOnThePaperFollowTheViewAndCarryPressure) {
    session.setZoom(0.5);  // the desk shows around the page
    coordinator.directStrokeStart({0.05, 0.5}, 0.3);
    coordinator.directStrokePoint({0.5, 0.5}, 0.3);
    coordinator.directHover({0.05, 0.5});
    EXPECT_TRUE(sent.empty()) << "a stroke or cursor beside the page";

    session.setZoom(2.0);
    session.setPan({0.25, 0});
    coordinator.directStrokeStart({0.5, 0.5}, 0.3);
    coordinator.directStrokePoint({0.6, 0.5}, 0.8);
    clock += 1;
    coordinator.directStrokePoint({40.0, -9.0}, 1.0);  // dragged far out of the window
    coordinator.directStrokeEnd();
    const auto starts = testing::only<ClientMessage::StrokeStart>(sent);
    const auto points = testing::only<ClientMessage::StrokePoint>(sent);
    ASSERT_EQ(starts.size(), 1u);
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(starts[0].stroke.point, (StrokePoint{0.75, 0.5, 0.3, clock - 1}));
    EXPECT_NEAR(points[0].point.x, 0.8, 1e-6);
    EXPECT_EQ(points[0].point.pressure, 0.8);
    EXPECT_EQ(std::pair(points[1].point.x, points[1].point.y), std::pair(2.0, -1.0))
        << "as far as the room takes";
    EXPECT_EQ(testing::only<ClientMessage::StrokeEnd>(sent).size(), 1u);
    // Outside canvas mode the room sees the cursor, but no ring is drawn over the system pointer.
    EXPECT_EQ(testing::only<ClientMessage::Cursor>(sent).size(), 2u) << "throttled";
    EXPECT_FALSE(renderer.selfCursor());
}

// The pen starting while the touchpad draws ends the touchpad's stroke; neither extends the other.
TEST_F(CoordinatorTest, oneLocalStrokeAtATimeWhicheverDeviceStartedIt) {
    coordinator.gestureDidStartStroke({0.2, 0.2});
    coordinator.directStrokeStart({0.5, 0.5}, 1.0);
    coordinator.gestureDidAppendPoint({0.3, 0.3});
    coordinator.gestureDidEndStroke();
    coordinator.directStrokePoint({0.6, 0.6}, 1.0);
    const auto starts = testing::only<ClientMessage::StrokeStart>(sent);
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(testing::only<ClientMessage::StrokeEnd>(sent),
              std::vector{ClientMessage::StrokeEnd{starts[0].stroke.id}});
    EXPECT_EQ(testing::only<ClientMessage::StrokePoint>(sent).at(0).strokeId, starts[1].stroke.id);
}

}  // namespace
}  // namespace vellumora
