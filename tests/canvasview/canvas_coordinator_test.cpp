// The coordinator's rules without a window: a renderer with no GL context keeps its stroke
// table and stamp queue, which is what these tests read.

#include "canvasview/canvas_coordinator.h"
#include "canvas/renderer.h"
#include "canvasview/ink_journal.h"
#include "page_image.h"
#include "support/qt_test_app.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <variant>

namespace vellumora {
namespace {

struct Sent {
    std::vector<ClientMessage> messages;
    template <class T>
    std::vector<T> of() const {
        std::vector<T> out;
        for (const ClientMessage& m : messages)
            if (const T* v = std::get_if<T>(&m.value)) out.push_back(*v);
        return out;
    }
};

class CoordinatorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        session.setCurrentUser(AuthUser{"user-1", "ann", "Ann"});
        coordinator.setClock([this] { return clock; });
        QObject::connect(&coordinator, &CanvasCoordinator::messageSent,
                         [this](const ClientMessage& m) { sent.messages.push_back(m); });
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
    Sent sent;
};

Stroke stroke(std::string id, std::vector<std::pair<double, double>> points, bool complete,
              double brushSize = 2.0) {
    Stroke s{std::move(id), "peer", Tool::crayon, {0.1, 0.2, 0.3, 0.5}, brushSize, {}, complete};
    for (auto [x, y] : points) s.points.push_back({x, y, 1.0, 0.0});
    return s;
}

TEST_F(CoordinatorTest, aGestureBecomesOneStrokeOfMessagesUnderOneUpperCaseId) {
    coordinator.gestureDidStartStroke({0.25, 0.5});
    clock += 0.5;
    // Settings changed mid-stroke belong to the next stroke.
    session.setTool(Tool::watercolor);
    session.setBrushSize(10);
    coordinator.gestureDidAppendPoint({0.26, 0.5});
    coordinator.gestureDidAppendPoint({0.26, 0.5});  // no motion still sends a point
    coordinator.gestureDidEndStroke();

    const auto starts = sent.of<ClientMessage::StrokeStart>();
    const auto points = sent.of<ClientMessage::StrokePoint>();
    const auto ends = sent.of<ClientMessage::StrokeEnd>();
    ASSERT_EQ(starts.size(), 1u);
    ASSERT_EQ(points.size(), 2u);
    ASSERT_EQ(ends.size(), 1u);
    const StrokeStartPayload& start = starts[0].stroke;
    EXPECT_TRUE(QRegularExpression("^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$")
                    .match(QString::fromStdString(start.id))
                    .hasMatch())
        << start.id;
    EXPECT_EQ(start.userId, "user-1");
    EXPECT_EQ(start.tool, Tool::sketchpen);
    EXPECT_EQ(start.color, (WireColor{0.86, 0.18, 0.18, 1.0}));
    EXPECT_EQ(start.brushSize, 3.0);
    EXPECT_EQ(start.point, (StrokePoint{0.25, 0.5, 1.0, 1733400000.0}));
    for (const auto& p : points) EXPECT_EQ(p.strokeId, start.id);
    EXPECT_EQ(points[0].point, (StrokePoint{0.26, 0.5, 1.0, 1733400000.5}));
    EXPECT_EQ(ends[0].strokeId, start.id);
    EXPECT_FALSE(coordinator.currentStrokeId());

    // Drawn locally with the settings of its start: radius 3 × 1.5, sketch pen, own colour.
    ASSERT_FALSE(stamps().empty());
    for (const PendingStamp& s : stamps()) {
        EXPECT_EQ(s.radius, 4.5f);
        EXPECT_EQ(s.tool, Tool::sketchpen);
        EXPECT_EQ(s.color, (Color4f{0.86f, 0.18f, 0.18f, 1.0f}));
    }
    EXPECT_TRUE(strokes().empty());

    coordinator.gestureDidStartStroke({0.5, 0.5});
    ASSERT_EQ(strokes().size(), 1u);
    EXPECT_EQ(strokes().begin()->second.radius, 15.0f);
    EXPECT_EQ(strokes().begin()->second.tool, Tool::watercolor);
    EXPECT_NE(sent.of<ClientMessage::StrokeStart>().back().stroke.id, start.id);
}

TEST_F(CoordinatorTest, withoutAUserNothingIsDrawnOrSent) {
    session.setCurrentUser(std::nullopt);
    coordinator.gestureDidStartStroke({0.25, 0.5});
    coordinator.gestureDidAppendPoint({0.3, 0.5});
    coordinator.gestureDidEndStroke();
    EXPECT_TRUE(sent.of<ClientMessage::StrokeStart>().empty());
    EXPECT_TRUE(sent.of<ClientMessage::StrokePoint>().empty());
    EXPECT_TRUE(sent.of<ClientMessage::StrokeEnd>().empty());
    EXPECT_TRUE(stamps().empty());
}

TEST_F(CoordinatorTest, cursorMessagesAreThrottledToMoreThanSixteenMilliseconds) {
    struct Case {
        const char* name;
        std::vector<double> gaps;  // seconds after the previous update
        std::vector<bool> sent;
    };
    const Case cases[] = {
        {"first update always goes", {0.0}, {true}},
        {"10 ms apart: every other one", {0.0, 0.010, 0.010, 0.010, 0.010}, {true, false, true, false, true}},
        {"just under the interval waits", {0.0, 0.015625, 0.0011}, {true, false, true}},
        {"a skipped position is never sent later", {0.0, 0.001, 0.1}, {true, false, true}},
    };
    session.setIsInCanvasMode(true);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CanvasCoordinator fresh;
        double t = clock;
        fresh.setClock([&t] { return t; });
        std::vector<ClientMessage::Cursor> cursors;
        QObject::connect(&fresh, &CanvasCoordinator::messageSent, [&](const ClientMessage& m) {
            if (auto* cursor = std::get_if<ClientMessage::Cursor>(&m.value)) cursors.push_back(*cursor);
        });
        Renderer r;
        fresh.bind(nullptr, r, session);
        std::vector<bool> got;
        for (std::size_t i = 0; i < c.gaps.size(); ++i) {
            t += c.gaps[i];
            const std::size_t before = cursors.size();
            fresh.gestureDidUpdateCursor({0.1 * double(i), 0.5}, false);
            got.push_back(cursors.size() > before);
            if (got.back()) {
                EXPECT_EQ(cursors.back().x, 0.1 * double(i));
            }
        }
        EXPECT_EQ(got, c.sent);
    }

    // Outside canvas mode the own cursor is neither drawn nor sent.
    session.setIsInCanvasMode(false);
    clock += 1.0;
    coordinator.gestureDidUpdateCursor({0.4, 0.4}, false);
    EXPECT_TRUE(sent.of<ClientMessage::Cursor>().empty());
    EXPECT_FALSE(renderer.selfCursor());
    session.setIsInCanvasMode(true);
    coordinator.gestureDidUpdateCursor({0.4, 0.4}, true);
    ASSERT_TRUE(renderer.selfCursor());
    EXPECT_TRUE(renderer.selfCursor()->isDrawing);
    EXPECT_EQ(renderer.selfCursor()->color, (Color4f{0.86f, 0.18f, 0.18f, 1.0f}));
}

TEST_F(CoordinatorTest, roomStateReplaysStrokesAndLeavesIncompleteOnesOpen) {
    coordinator.gestureDidStartStroke({0.9, 0.9});  // a local stroke is wiped by the new state
    publish(CanvasEvent::RoomState{{stroke("A", {{0.1, 0.1}, {0.12, 0.1}}, true), stroke("EMPTY", {}, false),
                                    stroke("C", {{0.5, 0.5}, {0.5, 0.51}}, false)}});
    ASSERT_EQ(strokes().size(), 1u);
    const ActiveStroke& open = strokes().at("C");
    EXPECT_EQ(open.radius, 3.0f);
    EXPECT_EQ(open.tool, Tool::crayon);
    EXPECT_EQ(open.color, (Color4f{0.1f, 0.2f, 0.3f, 0.5f}));
    for (const PendingStamp& s : stamps()) EXPECT_LT(s.center.x, 0.8f * 2048);

    // The open stroke goes on from its last point; the complete one takes no more points.
    const std::size_t before = stamps().size();
    publish(CanvasEvent::PeerStrokePoint{"peer", "A", {0.2, 0.2, 1, 0}});
    EXPECT_EQ(stamps().size(), before);
    publish(CanvasEvent::PeerStrokePoint{"peer", "C", {0.5, 0.52, 1, 0}});
    ASSERT_GT(stamps().size(), before);
    EXPECT_NEAR(stamps()[before].center.y, 0.51f * 2048 + 0.54f, 0.01f);
    EXPECT_EQ(stamps().back().center.y, 0.52f * 2048);
    publish(CanvasEvent::PeerStrokeEnd{"peer", "C"});
    EXPECT_TRUE(strokes().empty());
}

TEST_F(CoordinatorTest, peerStrokesAreDrawnWithTheirHeader) {
    publish(CanvasEvent::PeerStrokeStart{
        "peer", {"P", "peer", Tool::pastel, {1, 0, 0, 0.25}, 8.0}, {0.3, 0.3, 1, 0}});
    ASSERT_EQ(strokes().count("P"), 1u);
    EXPECT_EQ(strokes().at("P").radius, 12.0f);
    EXPECT_EQ(strokes().at("P").color, (Color4f{1, 0, 0, 0.25f}));
    publish(CanvasEvent::PeerStrokePoint{"peer", "P", {0.31, 0.3, 1, 0}});
    EXPECT_EQ(stamps().back().center.x, 0.31f * 2048);
    publish(CanvasEvent::PeerStrokeEnd{"peer", "P"});
    EXPECT_TRUE(strokes().empty());
}

TEST_F(CoordinatorTest, pagesSetTheLineArtAndAClearKeepsIt) {
    const QByteArray png = testing::lineArtPng(16);
    session.setCurrentPage(CurrentPage{"p", "Page", png});
    EXPECT_TRUE(renderer.hasLineArt());

    publish(CanvasEvent::PageChanged{std::nullopt});
    EXPECT_FALSE(renderer.hasLineArt());
    publish(CanvasEvent::PageChanged{WirePage{"q", "Q", "image/png", png.toBase64().toStdString()}});
    EXPECT_TRUE(renderer.hasLineArt());
    publish(CanvasEvent::PageChanged{WirePage{"q", "Q", "image/png", ""}});
    EXPECT_FALSE(renderer.hasLineArt());

    publish(CanvasEvent::PeerStrokeStart{
        "peer", {"P", "peer", Tool::pencil, {0, 0, 0, 1}, 3.0}, {0.3, 0.3, 1, 0}});
    ASSERT_FALSE(stamps().empty());
    publish(CanvasEvent::CanvasCleared{});
    EXPECT_TRUE(stamps().empty());
    EXPECT_TRUE(strokes().empty());
    EXPECT_TRUE(renderer.hasLineArt()) << "the current page's line art is loaded again";
}

TEST_F(CoordinatorTest, viewStateFollowsTheSession) {
    session.setZoom(2.0);
    session.setPan({0.25, -0.125});
    EXPECT_EQ(renderer.zoom(), 2.0f);
    EXPECT_EQ(renderer.pan(), (Vec2f{0.25f, -0.125f}));

    session.handleNetworkEvent({NetworkEvent::RoomState{{}, {{"a", "A", "#FF8000"}}, std::nullopt}});
    session.handleNetworkEvent({NetworkEvent::Cursor{"a", 0.25, 0.75}});
    session.handleNetworkEvent({NetworkEvent::Cursor{"stranger", 0.5, 0.5}});
    ASSERT_EQ(renderer.peerCursors().size(), 2u);
    const CursorViz& a = renderer.peerCursors().at("a");
    EXPECT_EQ(a.pos, (Vec2f{0.25f, 0.75f}));
    EXPECT_EQ(a.color, (Color4f{1.0f, 128 / 255.0f, 0.0f, 1.0f}));
    EXPECT_FALSE(a.isDrawing);
    EXPECT_NEAR(renderer.peerCursors().at("stranger").color.r, 136 / 255.0f, 1e-6);
    session.handleNetworkEvent({NetworkEvent::PeerLeft{"a"}});
    EXPECT_EQ(renderer.peerCursors().count("a"), 0u);
}

TEST_F(CoordinatorTest, restoredInkRepaintsExactlyWhatTheRoomShowed) {
    publish(CanvasEvent::RoomState{
        {stroke("A", {{0.1, 0.1}, {0.2, 0.15}}, true), stroke("C", {{0.5, 0.5}, {0.55, 0.5}}, false)}});
    publish(CanvasEvent::PeerStrokePoint{"peer", "C", {0.6, 0.6, 1, 0}});
    coordinator.gestureDidStartStroke({0.7, 0.7});
    coordinator.gestureDidAppendPoint({0.72, 0.7});
    auto centres = [&] {
        std::vector<Vec2f> out;
        for (const PendingStamp& s : stamps()) out.push_back(s.center);
        return out;
    };
    const std::vector<Vec2f> first = centres();
    ASSERT_FALSE(first.empty());

    coordinator.restoreInk();
    EXPECT_EQ(centres(), first);
    // Both open strokes go on after the repaint.
    EXPECT_EQ(strokes().size(), 2u);
    coordinator.gestureDidAppendPoint({0.74, 0.7});
    EXPECT_EQ(stamps().back().center.x, 0.74f * 2048);

    // A clear starts the record anew: nothing from before comes back.
    publish(CanvasEvent::CanvasCleared{});
    coordinator.restoreInk();
    EXPECT_TRUE(stamps().empty());
}

TEST(StampBudget, followsTheMeasuredFrameTime) {
    struct Case {
        std::size_t budget;
        double frameMs;
        std::size_t next;
    };
    const Case cases[] = {
        {20'000, 20.0, 20'000},   // on target
        {20'000, 40.0, 10'000},   // twice as slow: half the stamps
        {20'000, 10.0, 40'000},   // fast frames: more per slice
        {20'000, 1.0, 40'000},    // at most doubled per frame
        {20'000, 400.0, 5'000},   // at most quartered per frame
        {3'000, 400.0, 2'000},    // floor
        {300'000, 5.0, 400'000},  // ceiling
        {20'000, 0.0, 20'000},    // unknown time changes nothing
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CanvasCoordinator::nextStampBudget(c.budget, c.frameMs), c.next)
            << c.budget << " " << c.frameMs;
    }
}

TEST(InkJournalCap, forgetsOnlyWhatWasPaintedAndKeepsRecording) {
    Renderer renderer;
    InkJournal journal(8);
    const auto later = std::chrono::steady_clock::now() + std::chrono::hours(1);
    journal.beginStroke("s", {0.1, 0.1}, Tool::pencil, {0, 0, 0, 1}, 2.0f);
    for (int i = 0; i < 20; ++i) journal.appendPoint("s", {0.1 + 0.001 * i, 0.1});
    EXPECT_EQ(journal.droppedCount(), 0u) << "nothing painted yet, nothing may go";
    EXPECT_EQ(journal.size(), 21u);

    journal.applyTo(renderer, 1'000'000, later);
    for (int i = 0; i < 20; ++i) {
        journal.appendPoint("s", {0.2 + 0.001 * i, 0.1});
        journal.applyTo(renderer, 1'000'000, later);
    }
    EXPECT_GT(journal.droppedCount(), 0u);
    EXPECT_LE(journal.size(), 9u);
    EXPECT_FALSE(journal.isBehind());
    EXPECT_EQ(renderer.stamper().pendingStamps().back().center.x, float(0.2 + 0.001 * 19) * 2048);
}

}  // namespace
}  // namespace vellumora
