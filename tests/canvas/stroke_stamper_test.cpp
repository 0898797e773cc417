#include "canvas/stroke_stamper.h"
#include "canvas/stamp_runs.h"
#include "canvas/view_mapping.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace vellumora {
namespace {

constexpr Color4f kRed{1, 0, 0, 1};

StrokeStamper fixedSeeds() {
    return StrokeStamper([] { return 7.0f; });
}

// A normalized point `px` canvas pixels from the origin along x, at y = 100 px.
CanvasPoint pixels(double px, double py = 100.0) {
    return {px / 2048.0, py / 2048.0};
}

TEST(StrokeStamper, singlePointStrokePaintsOneStampAtThatPoint) {
    StrokeStamper stamper = fixedSeeds();
    stamper.beginStroke("s", pixels(300, 200), Tool::crayon, kRed, 6.0f);
    stamper.endStroke("s");
    ASSERT_EQ(stamper.pendingStamps().size(), 1u);
    const PendingStamp& stamp = stamper.pendingStamps()[0];
    EXPECT_EQ(stamp.center, (Vec2f{300, 200}));
    EXPECT_EQ(stamp.tool, Tool::crayon);
    EXPECT_EQ(stamp.radius, 6.0f);
    EXPECT_EQ(stamp.opacity, 1.0f);
    EXPECT_EQ(stamp.seed, 7.0f);
    EXPECT_TRUE(stamper.activeStrokes().empty());
}

struct SpacingCase {
    Tool tool;
    float radius;
    double move;
    std::size_t expectedStamps;
};

class StampSpacing : public ::testing::TestWithParam<SpacingCase> {};

TEST_P(StampSpacing, queuesCeilDistanceOverSpacingStampsEndingOnThePoint) {
    const SpacingCase c = GetParam();
    StrokeStamper stamper = fixedSeeds();
    stamper.beginStroke("s", pixels(100), c.tool, kRed, c.radius);
    stamper.appendPoint("s", pixels(100 + c.move));
    const auto& stamps = stamper.pendingStamps();
    ASSERT_EQ(stamps.size(), 1 + c.expectedStamps);
    const float target = static_cast<float>(100 + c.move);
    EXPECT_EQ(stamps.back().center, (Vec2f{target, 100}));
    // Evenly spaced, the segment's start not stamped again.
    const float step = static_cast<float>(c.move) / static_cast<float>(c.expectedStamps);
    for (std::size_t k = 1; k < stamps.size(); ++k)
        EXPECT_NEAR(stamps[k].center.x, 100.0f + step * static_cast<float>(k), 1e-3f) << k;
}

INSTANTIATE_TEST_SUITE_P(
    Table, StampSpacing,
    ::testing::Values(SpacingCase{Tool::pencil, 4.5f, 10.0, 19},      // spacing 0.54
                      SpacingCase{Tool::sketchpen, 1.0f, 10.0, 20},   // 0.12 raised to the 0.5 minimum
                      SpacingCase{Tool::watercolor, 10.0f, 11.0, 5},  // 2.2
                      SpacingCase{Tool::crayon, 10.0f, 9.0, 5},       // 1.8
                      SpacingCase{Tool::pastel, 10.0f, 2.2, 1},       // exactly one spacing
                      SpacingCase{Tool::pencil, 30.0f, 0.01, 1}));    // tiny moves still paint their end

TEST(StrokeStamper, subThousandthMovePaintsNothingButMovesTheLastPoint) {
    StrokeStamper stamper = fixedSeeds();
    stamper.beginStroke("s", pixels(100), Tool::pencil, kRed, 4.5f);
    stamper.appendPoint("s", pixels(100.0005));
    EXPECT_EQ(stamper.pendingStamps().size(), 1u);
    EXPECT_EQ(stamper.activeStrokes().at("s").lastPoint.x, 100.0005f);
}

TEST(StrokeStamper, pointsAndEndsOfUnknownStrokesAreIgnored) {
    StrokeStamper stamper = fixedSeeds();
    stamper.appendPoint("nope", pixels(10));
    stamper.endStroke("nope");
    stamper.beginStroke("s", pixels(100), Tool::pencil, kRed, 4.5f);
    stamper.endStroke("s");
    stamper.appendPoint("s", pixels(200));
    EXPECT_EQ(stamper.pendingStamps().size(), 1u);
}

TEST(StrokeStamper, beginReplacesAnOpenStrokeOfTheSameId) {
    StrokeStamper stamper = fixedSeeds();
    stamper.beginStroke("s", pixels(100), Tool::pencil, kRed, 4.5f);
    stamper.beginStroke("s", pixels(500), Tool::pastel, kRed, 9.0f);
    ASSERT_EQ(stamper.activeStrokes().size(), 1u);
    EXPECT_EQ(stamper.activeStrokes().at("s").tool, Tool::pastel);
    EXPECT_EQ(stamper.activeStrokes().at("s").lastPoint, (Vec2f{500, 100}));
}

TEST(StrokeStamper, resetDropsQueuedStampsAndOpenStrokes) {
    StrokeStamper stamper = fixedSeeds();
    stamper.beginStroke("a", pixels(100), Tool::pencil, kRed, 4.5f);
    stamper.appendPoint("a", pixels(110));
    stamper.reset();
    EXPECT_TRUE(stamper.pendingStamps().empty());
    EXPECT_TRUE(stamper.activeStrokes().empty());
    stamper.appendPoint("a", pixels(120));
    EXPECT_TRUE(stamper.pendingStamps().empty());
    stamper.beginStroke("b", pixels(50), Tool::pencil, kRed, 4.5f);
    EXPECT_EQ(stamper.pendingStamps().size(), 1u);
}

TEST(StrokeStamper, clearPendingKeepsStorage) {
    StrokeStamper stamper = fixedSeeds();
    stamper.beginStroke("a", pixels(100), Tool::pencil, kRed, 4.5f);
    stamper.appendPoint("a", pixels(300));
    const std::size_t capacity = stamper.pendingStamps().capacity();
    stamper.clearPending();
    EXPECT_TRUE(stamper.pendingStamps().empty());
    EXPECT_EQ(stamper.pendingStamps().capacity(), capacity);
    EXPECT_EQ(stamper.activeStrokes().size(), 1u);
}

TEST(StrokeStamper, systemSeedsStayInRangeAndVary) {
    StrokeStamper stamper;
    stamper.beginStroke("a", pixels(0), Tool::sketchpen, kRed, 1.0f);
    stamper.appendPoint("a", pixels(500));
    float lowest = 1000, highest = 0;
    for (const PendingStamp& stamp : stamper.pendingStamps()) {
        ASSERT_GE(stamp.seed, 0.0f);
        ASSERT_LT(stamp.seed, 1000.0f);
        lowest = std::min(lowest, stamp.seed);
        highest = std::max(highest, stamp.seed);
    }
    EXPECT_LT(lowest, 100.0f);
    EXPECT_GT(highest, 900.0f);
}

// What a peer may send and the protocol accepts must neither hang nor grow memory without bound.
TEST(StrokeStamper, hostileInputStaysBounded) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::nan("");
    StrokeStamper stamper = fixedSeeds();

    stamper.beginStroke("nan", {nan, 0.5}, Tool::pencil, kRed, 4.5f);
    stamper.beginStroke("huge", {1e300, 0.5}, Tool::pencil, kRed, 4.5f);
    stamper.beginStroke("badRadius", {0.5, 0.5}, Tool::pencil, kRed, std::numeric_limits<float>::quiet_NaN());
    EXPECT_TRUE(stamper.activeStrokes().empty());
    EXPECT_TRUE(stamper.pendingStamps().empty());

    stamper.beginStroke("s", {0.5, 0.5}, Tool::pencil, {nanf(""), 2.0f, -1.0f, 1.0f}, 1e9f);
    ASSERT_EQ(stamper.pendingStamps().size(), 1u);
    EXPECT_EQ(stamper.pendingStamps()[0].radius, kMaxStampRadius);
    EXPECT_EQ(stamper.pendingStamps()[0].color, (Color4f{0, 1, 0, 1}));

    stamper.appendPoint("s", {inf, 0.5});
    stamper.appendPoint("s", {0.5, nan});
    stamper.appendPoint("s", {1e300, 1e300});
    EXPECT_EQ(stamper.pendingStamps().size(), 1u);
    EXPECT_EQ(stamper.activeStrokes().at("s").lastPoint, (Vec2f{1024, 1024}));

    // Finite but absurdly far: capped, every stamp finite.
    stamper.beginStroke("t", {0.5, 0.5}, Tool::sketchpen, kRed, 0.0f);
    stamper.clearPending();
    stamper.appendPoint("t", {1e30, -1e30});
    EXPECT_EQ(stamper.pendingStamps().size(), kMaxStampsPerSegment);
    for (const PendingStamp& stamp : stamper.pendingStamps())
        ASSERT_TRUE(std::isfinite(stamp.center.x) && std::isfinite(stamp.center.y));

    // So far apart that the float distance overflows: nothing painted, the stroke goes on.
    stamper.appendPoint("t", {1e35, 1e35});
    stamper.clearPending();
    stamper.appendPoint("t", {-1e35, -1e35});
    EXPECT_TRUE(stamper.pendingStamps().empty());
    stamper.appendPoint("t", {0.5, 0.5});
    EXPECT_LE(stamper.pendingStamps().size(), kMaxStampsPerSegment);
}

TEST(StrokeStamper, legitimateSegmentsNeverReachTheCap) {
    StrokeStamper stamper = fixedSeeds();
    stamper.beginStroke("s", {0, 0}, Tool::sketchpen, kRed, 0.75f);
    stamper.appendPoint("s", {1, 1});
    EXPECT_EQ(stamper.pendingStamps().size(), 1 + kMaxStampsPerSegment);  // the full diagonal
    EXPECT_EQ(stamper.pendingStamps().back().center, (Vec2f{2048, 2048}));
}

std::vector<PendingStamp> ofTools(std::initializer_list<Tool> tools) {
    std::vector<PendingStamp> stamps;
    for (Tool tool : tools) stamps.push_back({tool, {}, {}, 1, 1, 0});
    return stamps;
}

TEST(StampRuns, splitsTheQueueIntoRunsOfTheSameToolInOrder) {
    std::vector<StampRun> runs{{Tool::pastel, 9, 9}};
    planStampRuns(ofTools({Tool::pencil, Tool::pencil, Tool::crayon, Tool::pencil}), runs);
    EXPECT_EQ(runs,
              (std::vector<StampRun>{{Tool::pencil, 0, 2}, {Tool::crayon, 2, 1}, {Tool::pencil, 3, 1}}));
    planStampRuns(ofTools({Tool::watercolor, Tool::watercolor}), runs);
    EXPECT_EQ(runs, (std::vector<StampRun>{{Tool::watercolor, 0, 2}}));
    planStampRuns({}, runs);
    EXPECT_TRUE(runs.empty());
}

TEST(ViewMapping, cursorSitsOnTheCanvasPointItNames) {
    const Vec2f size{800, 600};
    EXPECT_EQ(canvasToDrawable({0.75f, 0.5f}, 2.0f, {0.25f, 0.0f}, size), (Vec2f{400, 300}));
    EXPECT_EQ(canvasToDrawable({0.5f, 0.5f}, 1.0f, {}, size), (Vec2f{400, 300}));
    EXPECT_EQ(canvasToDrawable({0.0f, 1.0f}, 1.0f, {}, size), (Vec2f{0, 600}));
    // The composite's mapping is its exact inverse.
    for (const Vec2f uv : {Vec2f{0.1f, 0.9f}, Vec2f{0.5f, 0.25f}, Vec2f{0.75f, 0.3f}}) {
        const Vec2f c = viewToCanvas(uv, 0.5f, {0.125f, -0.25f});
        const Vec2f back = canvasToDrawable(c, 0.5f, {0.125f, -0.25f}, {1, 1});
        EXPECT_NEAR(back.x, uv.x, 1e-6f);
        EXPECT_NEAR(back.y, uv.y, 1e-6f);
    }
}

TEST(ViewMapping, ownCursorFirstThenPeersWithTheirSizes) {
    std::vector<CursorDraw> draws;
    const std::map<std::string, CursorViz> peers{{"p", {{0.25f, 0.25f}, {0, 0, 1, 1}, true}}};
    planCursors(CursorViz{{0.5f, 0.5f}, kRed, true}, peers, 1.0f, {}, {100, 100}, draws);
    ASSERT_EQ(draws.size(), 2u);
    EXPECT_EQ(draws[0], (CursorDraw{{50, 50}, kRed, 14.0f, 2.5f, 1.0f}));
    EXPECT_EQ(draws[1], (CursorDraw{{25, 25}, {0, 0, 1, 1}, 10.0f, 2.0f, 0.0f}));
    planCursors(std::nullopt, {}, 1.0f, {}, {100, 100}, draws);
    EXPECT_TRUE(draws.empty());
}

}  // namespace
}  // namespace vellumora
