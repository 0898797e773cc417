// The canvas's arithmetic without GL: the touch gestures, stroke stamping, the view mapping,
// cursor placement and which stamps go out as point sprites.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>
#include <tuple>

#include "canvas/gesture_state_machine.h"
#include "canvas/stamp_runs.h"
#include "canvas/stroke_stamper.h"
#include "canvas/view_mapping.h"

namespace vellumora {
namespace {

using State = GestureStateMachine::State;

// Callbacks as short text, so a scenario reads like its story: C(ursor) while drawing, c not.
class Recorder : public GestureDelegate {
  public:
    std::string calls;
    void gestureDidStartStroke(CanvasPoint at) override { add("start", at); }
    void gestureDidAppendPoint(CanvasPoint p) override { add("append", p); }
    void gestureDidEndStroke() override { calls += "end "; }
    void gestureDidUpdateCursor(CanvasPoint p, bool isDrawing) override { add(isDrawing ? "C" : "c", p); }

  private:
    void add(const char* what, CanvasPoint p) {
        std::ostringstream out;
        out << what << '(' << p.x << ',' << p.y << ") ";
        calls += out.str();
    }
};

// Fingers as {key, x, y} in TOP-left pad coordinates; the samples carry the pad's bottom-left form.
// A step without fingers lifts them all; a negative key sets the cursor to (x, y) instead.
struct Finger {
    std::int64_t key;
    double x, y;
};
using Step = std::vector<Finger>;

TEST(GestureStateMachine, oneFingerDrawsAfterItMovesOthersOnlyMoveTheCursor) {
    const Step lift{};
    const struct {
        const char* name;
        std::vector<Step> steps;
        std::string calls;
        State state;
    } cases[] = {
        {"tap", {{{1, .25, .25}}, lift}, "c(0.5,0.5) c(0.5,0.5) ", State::idle},
        {"still finger", {{{1, .25, .25}}, {{1, .25, .25}}}, "c(0.5,0.5) c(0.5,0.5) ", State::pending},
        {"stroke",
         {{{1, .25, .25}}, {{1, .375, .25}}, {{1, .375, .125}}, {{1, .375, .125}}, lift},
         "c(0.5,0.5) start(0.625,0.5) C(0.625,0.5) append(0.625,0.375) C(0.625,0.375) append(0.625,0.375) "
         "C(0.625,0.375) end c(0.625,0.375) ",
         State::idle},
        {"two fingers hover; lifting one never draws",
         {{{1, .25, .25}, {2, .75, .75}}, {{1, .375, .25}, {2, .75, .5}}, {{1, .5, .25}}, {{1, .625, .25}}},
         "c(0.5,0.5) c(0.625,0.5) c(0.75,0.5) c(0.875,0.5) ",
         State::hovering},
        {"second finger ends the stroke",
         {{{1, .25, .25}}, {{1, .5, .25}}, {{1, .5, .25}, {2, .75, .75}}},
         "c(0.5,0.5) start(0.75,0.5) C(0.75,0.5) end c(0.75,0.5) ",
         State::hovering},
        {"smallest key leads; the next takes over without a jump",
         {{{7, .5, .5}, {3, .25, .25}}, {{7, .75, .75}, {3, .375, .25}}, {{7, .75, .75}}, {{7, .75, .875}}},
         "c(0.5,0.5) c(0.625,0.5) c(0.625,0.5) c(0.625,0.625) ",
         State::hovering},
        {"the cursor stops at the edge",
         {{{1, 0, .5}, {2, 1, 1}}, {{1, .75, .5}, {2, 1, 1}}, {{1, .625, .5}, {2, 1, 1}}},
         "c(0.5,0.5) c(1,0.5) c(0.875,0.5) ",
         State::hovering},
        {"set cursor clamps and ends the stroke",
         {{{1, .25, .25}}, {{1, .5, .25}}, {{-1, -1, 2}}},
         "c(0.5,0.5) start(0.75,0.5) C(0.75,0.5) end c(0,1) ",
         State::idle},
    };
    for (const auto& c : cases) {
        GestureStateMachine machine;
        Recorder recorder;
        machine.setDelegate(&recorder);
        for (const Step& step : c.steps) {
            if (!step.empty() && step[0].key < 0) {
                machine.setCursor(step[0].x, step[0].y);
                continue;
            }
            std::vector<TouchSample> samples;
            for (const Finger& f : step) samples.push_back({TouchKind::indirect, f.key, {f.x, 1.0 - f.y}});
            machine.update(samples);
        }
        EXPECT_EQ(recorder.calls, c.calls) << c.name;
        EXPECT_EQ(machine.state(), c.state) << c.name;
    }
    GestureStateMachine machine;
    machine.update({{TouchKind::direct, 1, {0.1, 0.1}}});
    EXPECT_EQ(machine.state(), State::idle) << "a direct touch is no finger on the pad";
    machine.sensitivity = std::numeric_limits<double>::infinity();
    machine.update({{TouchKind::indirect, 1, {0.5, 0.5}}});
    machine.update({{TouchKind::indirect, 1, {0.5, 0.5}}});
    EXPECT_EQ(machine.cursor(), (CanvasPoint{0.5, 0.5})) << "0 × ∞ is no move";
}

constexpr Color4f kRed{1, 0, 0, 1};

TEST(StrokeStamper, spacesStampsEvenlyAndEndsEachSegmentOnItsPoint) {
    const struct {
        Tool tool;
        float radius;
        double move;
        std::size_t stamps;
    } cases[] = {
        {Tool::pencil, 4.5f, 10.0, 19},     {Tool::sketchpen, 1.0f, 10.0, 20},  // 0.12 raised to the minimum
        {Tool::watercolor, 10.0f, 11.0, 5}, {Tool::crayon, 10.0f, 9.0, 5},
        {Tool::pastel, 10.0f, 2.2, 1},      {Tool::pencil, 30.0f, 0.01, 1},
    };
    for (const auto& c : cases) {
        StrokeStamper stamper([] { return 7.0f; });
        stamper.beginStroke("s", {100 / 2048.0, 0.5}, c.tool, kRed, c.radius);
        stamper.appendPoint("s", {(100 + c.move) / 2048.0, 0.5});
        const auto& stamps = stamper.pendingStamps();
        ASSERT_EQ(stamps.size(), 1 + c.stamps) << rawValue(c.tool);
        EXPECT_EQ(stamps.front().center, (Vec2f{100, 1024}));
        EXPECT_EQ(stamps.back().center, (Vec2f{float(100 + c.move), 1024}));
        for (std::size_t k = 1; k < stamps.size(); ++k)
            EXPECT_NEAR(stamps[k].center.x, 100 + c.move * double(k) / double(c.stamps), 1e-3) << k;
    }
}

// What a peer may send and the protocol accepts must neither hang nor grow memory without bound.
TEST(StrokeStamper, hostileInputStaysBounded) {
    StrokeStamper stamper([] { return 7.0f; });
    stamper.beginStroke("nan", {NAN, 0.5}, Tool::pencil, kRed, 4.5f);
    stamper.beginStroke("huge", {1e300, 0.5}, Tool::pencil, kRed, 4.5f);
    stamper.beginStroke("radius", {0.5, 0.5}, Tool::pencil, kRed, NAN);
    stamper.appendPoint("unknown", {0.5, 0.5});
    EXPECT_TRUE(stamper.activeStrokes().empty() && stamper.pendingStamps().empty());

    stamper.beginStroke("s", {0.5, 0.5}, Tool::pencil, {NAN, 2.0f, -1.0f, 1.0f}, 1e9f);
    EXPECT_EQ(stamper.pendingStamps()[0].radius, kMaxStampRadius);
    EXPECT_EQ(stamper.pendingStamps()[0].color, (Color4f{0, 1, 0, 1}));
    stamper.appendPoint("s", {INFINITY, 0.5});
    stamper.appendPoint("s", {1e300, 1e300});
    EXPECT_EQ(stamper.pendingStamps().size(), 1U);
    stamper.clearPending();
    stamper.appendPoint("s", {1e30, -1e30});  // finite but absurdly far: capped
    EXPECT_EQ(stamper.pendingStamps().size(), kMaxStampsPerSegment);
    for (const PendingStamp& stamp : stamper.pendingStamps())
        ASSERT_TRUE(std::isfinite(stamp.center.x) && std::isfinite(stamp.center.y));
    stamper.reset();
    stamper.beginStroke("d", {0, 0}, Tool::sketchpen, kRed, 0.75f);
    stamper.appendPoint("d", {1, 1});
    EXPECT_EQ(stamper.pendingStamps().size(), 1 + kMaxStampsPerSegment) << "a real diagonal is not capped";
}

TEST(CanvasMapping, theCanvasStaysSquareInEveryViewAndCursorsSitOnThePointsTheyName) {
    const Vec2f shapes[] = {{800, 800}, {1600, 600}, {500, 1400}, {97, 61}, {0, 0}};
    const struct {
        float zoom;
        Vec2f pan;
    } views[] = {{1, {}}, {0.5f, {0.125f, -0.25f}}, {4, {0.3f, 0.1f}}};
    for (const Vec2f size : shapes) {
        for (const auto& view : views) {
            const ViewMapping mapping{view.zoom, view.pan, size};
            SCOPED_TRACE(::testing::Message() << size.x << "x" << size.y << " zoom " << view.zoom);
            for (const Vec2f uv : {Vec2f{0.1f, 0.9f}, Vec2f{0.75f, 0.3f}, Vec2f{0.5f, 0.5f}}) {
                const Vec2f back = mapping.toView(mapping.toCanvas(uv));
                EXPECT_NEAR(back.x, uv.x, 1e-5f);
                EXPECT_NEAR(back.y, uv.y, 1e-5f);
            }
            // A canvas circle, in view pixels: every point as far from the centre's image.
            const float side = std::min(size.x, size.y) > 0 ? std::min(size.x, size.y) : 1.0f;
            const Vec2f scale = size.x > 0 ? size : Vec2f{1, 1};
            const Vec2f c = mapping.toView({0.5f, 0.5f});
            for (const float angle : {0.0f, 0.7f, 1.5708f, 2.4f}) {
                const Vec2f p =
                    mapping.toView({0.5f + 0.2f * std::cos(angle), 0.5f + 0.2f * std::sin(angle)});
                EXPECT_NEAR(std::hypot((p.x - c.x) * scale.x, (p.y - c.y) * scale.y), 0.2f * side * view.zoom,
                            1e-3f * side);
            }
        }
    }
    // At zoom 1 the canvas fills the shorter side, centred; zoom anchors count in canvas widths.
    const ViewMapping wide{1, {}, {1600, 800}};
    EXPECT_EQ(wide.toView({0, 0}), (Vec2f{0.25f, 0}));
    EXPECT_EQ(wide.toSquare({0, 0.5f}), (Vec2f{-0.5f, 0.5f}));
    EXPECT_EQ((ViewMapping{2, {0.25f, 0}, {800, 600}}.toView({0.75f, 0.5f})), (Vec2f{0.5f, 0.5f}));

    std::vector<CursorDraw> draws;
    planCursors(CursorViz{{0.5f, 0.5f}, kRed, true}, {{"p", {{0.25f, 0.25f}, {0, 0, 1, 1}, true}}},
                {1, {}, {200, 100}}, draws);
    EXPECT_EQ(draws, (std::vector<CursorDraw>{{{100, 50}, kRed, 14.0f, 2.5f, 1.0f},
                                              {{75, 25}, {0, 0, 1, 1}, 10.0f, 2.0f, 0.0f}}));
}

TEST(StampRuns, pointSpritesOnlyWhereTheyDrawTheSameSquare) {
    std::vector<StampRun> runs;
    std::vector<PendingStamp> stamps;
    // Small enough, centre on the canvas.
    for (const auto& [tool, center, radius] : {std::tuple{Tool::pencil, Vec2f{0, 0}, 10.0f},
                                               {Tool::pencil, Vec2f{100, 100}, 10.0f},
                                               {Tool::crayon, Vec2f{100, 100}, 10.0f},
                                               {Tool::crayon, Vec2f{100, 100}, 40.0f},
                                               {Tool::crayon, Vec2f{100, 100.5f}, 10.0f},
                                               {Tool::crayon, Vec2f{-0.1f, 100}, 10.0f}})
        stamps.push_back({tool, center, {}, radius, 1, 0});
    planStampRuns(stamps, 64.0f, 100.0f, runs);
    EXPECT_EQ(runs,
              (std::vector<StampRun>{
                  {Tool::pencil, 0, 2, true}, {Tool::crayon, 2, 1, true}, {Tool::crayon, 3, 3, false}}));
}

}  // namespace
}  // namespace vellumora
