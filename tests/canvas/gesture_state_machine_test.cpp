#include "canvas/gesture_state_machine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

namespace vellumora {
namespace {

using State = GestureStateMachine::State;

// Records callbacks as short text, so a scenario's expectation reads like its story.
class RecordingDelegate : public GestureDelegate {
  public:
    std::vector<std::string> calls;

    void gestureDidStartStroke(CanvasPoint at) override { calls.push_back("start" + text(at)); }
    void gestureDidAppendPoint(CanvasPoint p) override { calls.push_back("append" + text(p)); }
    void gestureDidEndStroke() override { calls.push_back("end"); }
    void gestureDidUpdateCursor(CanvasPoint p, bool isDrawing) override {
        calls.push_back((isDrawing ? "CURSOR" : "cursor") + text(p));
    }

  private:
    static std::string text(CanvasPoint p) {
        std::ostringstream out;
        out << '(' << p.x << ',' << p.y << ')';
        return out.str();
    }
};

// Touch positions are given in TOP-left pad coordinates to keep the tables readable; the
// sample carries the platform's bottom-left form.
struct Finger {
    std::int64_t key;
    double x;
    double y;
    TouchKind kind = TouchKind::indirect;
};
struct Touches {
    std::vector<Finger> fingers;
};
struct SetCursor {
    double x;
    double y;
};
struct Reset {};
struct Sensitivity {
    double value;
};
using Step = std::variant<Touches, SetCursor, Reset, Sensitivity>;

struct Scenario {
    std::string name;
    std::vector<Step> steps;
    std::vector<std::string> calls;
    State finalState;
    CanvasPoint finalCursor;
};

void apply(GestureStateMachine& machine, const Step& step) {
    if (const auto* touches = std::get_if<Touches>(&step)) {
        std::vector<TouchSample> samples;
        for (const Finger& f : touches->fingers) samples.push_back({f.kind, f.key, {f.x, 1.0 - f.y}});
        machine.update(samples);
    } else if (const auto* set = std::get_if<SetCursor>(&step)) {
        machine.setCursor(set->x, set->y);
    } else if (std::holds_alternative<Reset>(step)) {
        machine.reset();
    } else {
        machine.sensitivity = std::get<Sensitivity>(step).value;
    }
}

Touches none() {
    return {};
}
Touches fingers(std::initializer_list<Finger> list) {
    return {list};
}
Touches one(double x, double y, std::int64_t key = 1) {
    return {{{key, x, y}}};
}
Touches two(double x1, double y1, double x2, double y2) {
    return {{{1, x1, y1}, {2, x2, y2}}};
}

class GestureScenario : public ::testing::TestWithParam<Scenario> {};

TEST_P(GestureScenario, producesExpectedCallbacksAndState) {
    const Scenario& scenario = GetParam();
    GestureStateMachine machine;
    RecordingDelegate delegate;
    machine.setDelegate(&delegate);
    for (const Step& step : scenario.steps) apply(machine, step);
    EXPECT_EQ(delegate.calls, scenario.calls);
    EXPECT_EQ(machine.state(), scenario.finalState);
    EXPECT_EQ(machine.cursor(), scenario.finalCursor);
}

const Scenario kScenarios[] = {
    {"tapWithoutMovingDrawsNothing",
     {one(0.25, 0.25), none()},
     {"cursor(0.5,0.5)", "cursor(0.5,0.5)"},
     State::idle,
     {0.5, 0.5}},
    {"stillFingerStaysPending",
     {one(0.25, 0.25), one(0.25, 0.25), one(0.25, 0.25)},
     {"cursor(0.5,0.5)", "cursor(0.5,0.5)", "cursor(0.5,0.5)"},
     State::pending,
     {0.5, 0.5}},
    {"strokeStartsWhereTheFirstMovementLeftTheCursor",
     {one(0.25, 0.25), one(0.375, 0.25), one(0.375, 0.125), none()},
     {"cursor(0.5,0.5)", "start(0.625,0.5)", "CURSOR(0.625,0.5)", "append(0.625,0.375)",
      "CURSOR(0.625,0.375)", "end", "cursor(0.625,0.375)"},
     State::idle,
     {0.625, 0.375}},
    {"drawingAppendsEvenWithoutMovement",
     {one(0.25, 0.25), one(0.5, 0.25), one(0.5, 0.25)},
     {"cursor(0.5,0.5)", "start(0.75,0.5)", "CURSOR(0.75,0.5)", "append(0.75,0.5)", "CURSOR(0.75,0.5)"},
     State::drawing,
     {0.75, 0.5}},
    {"sensitivityScalesMotion",
     {Sensitivity{0.5}, one(0.25, 0.5), one(0.5, 0.5)},
     {"cursor(0.5,0.5)", "start(0.625,0.5)", "CURSOR(0.625,0.5)"},
     State::drawing,
     {0.625, 0.5}},
    {"twoFingersMoveTheCursorAndNeverDraw",
     {two(0.25, 0.25, 0.75, 0.75), two(0.375, 0.25, 0.75, 0.5), one(0.5, 0.25), one(0.625, 0.25), none(),
      one(0.5, 0.5), one(0.5, 0.625)},
     {"cursor(0.5,0.5)", "cursor(0.625,0.5)", "cursor(0.75,0.5)", "cursor(0.875,0.5)", "cursor(0.875,0.5)",
      "cursor(0.875,0.5)", "start(0.875,0.625)", "CURSOR(0.875,0.625)"},
     State::drawing,
     {0.875, 0.625}},
    {"secondFingerEndsTheStrokeInTheSameEvent",
     {one(0.25, 0.25), one(0.5, 0.25), two(0.5, 0.25, 0.75, 0.75)},
     {"cursor(0.5,0.5)", "start(0.75,0.5)", "CURSOR(0.75,0.5)", "end", "cursor(0.75,0.5)"},
     State::hovering,
     {0.75, 0.5}},
    {"remainingFingerBecomesPrimaryWithoutJump",
     {two(0.25, 0.25, 0.75, 0.75), fingers({{2, 0.75, 0.75}}), fingers({{2, 0.875, 0.75}})},
     {"cursor(0.5,0.5)", "cursor(0.5,0.5)", "cursor(0.625,0.5)"},
     State::hovering,
     {0.625, 0.5}},
    {"smallestKeyDrivesTheCursor",
     {fingers({{7, 0.5, 0.5}, {3, 0.25, 0.25}}), fingers({{7, 0.75, 0.75}, {3, 0.375, 0.25}})},
     {"cursor(0.5,0.5)", "cursor(0.625,0.5)"},
     State::hovering,
     {0.625, 0.5}},
    {"laterTouchWithSameKeyReplacesEarlier",
     {one(0.25, 0.25), fingers({{1, 0.0, 0.0}, {1, 0.5, 0.25}})},
     {"cursor(0.5,0.5)", "start(0.75,0.5)", "CURSOR(0.75,0.5)"},
     State::drawing,
     {0.75, 0.5}},
    {"cursorStopsAtTheEdgeAndComesBackAtOnce",
     {two(0.0, 0.5, 1.0, 1.0), two(0.75, 0.5, 1.0, 1.0), two(0.625, 0.5, 1.0, 1.0)},
     {"cursor(0.5,0.5)", "cursor(1,0.5)", "cursor(0.875,0.5)"},
     State::hovering,
     {0.875, 0.5}},
    {"directTouchesCountAsNoFinger",
     {one(0.25, 0.25), one(0.5, 0.25),
      fingers({{1, 0.5, 0.25, TouchKind::direct}, {2, 0.1, 0.1, TouchKind::direct}})},
     {"cursor(0.5,0.5)", "start(0.75,0.5)", "CURSOR(0.75,0.5)", "end", "cursor(0.75,0.5)"},
     State::idle,
     {0.75, 0.5}},
    {"setCursorClampsAndEndsTheStrokeFirst",
     {one(0.25, 0.25), one(0.5, 0.25), SetCursor{-1.0, 2.0}},
     {"cursor(0.5,0.5)", "start(0.75,0.5)", "CURSOR(0.75,0.5)", "end", "cursor(0,1)"},
     State::idle,
     {0.0, 1.0}},
    {"setCursorForgetsThePrimaryFinger",
     {one(0.25, 0.25), SetCursor{0.25, 0.25}, one(0.75, 0.75), one(0.875, 0.75)},
     {"cursor(0.5,0.5)", "cursor(0.25,0.25)", "cursor(0.25,0.25)", "start(0.375,0.25)", "CURSOR(0.375,0.25)"},
     State::drawing,
     {0.375, 0.25}},
    {"resetWhilePendingOrHoveringIsSilent",
     {one(0.25, 0.25), Reset{}, two(0.25, 0.25, 0.5, 0.5), Reset{}},
     {"cursor(0.5,0.5)", "cursor(0.5,0.5)"},
     State::idle,
     {0.5, 0.5}},
    {"resetWhileDrawingOnlyEndsTheStroke",
     {one(0.25, 0.25), one(0.5, 0.25), Reset{}, one(0.75, 0.75)},
     {"cursor(0.5,0.5)", "start(0.75,0.5)", "CURSOR(0.75,0.5)", "end", "cursor(0.75,0.5)"},
     State::pending,
     {0.75, 0.5}},
};

INSTANTIATE_TEST_SUITE_P(Table, GestureScenario, ::testing::ValuesIn(kScenarios),
                         [](const auto& info) { return info.param.name; });

TEST(GestureStateMachine, shouldHaveDefaultValuesOnCreation) {
    GestureStateMachine machine;
    EXPECT_EQ(machine.state(), State::idle);
    EXPECT_EQ(machine.cursor(), (CanvasPoint{0.5, 0.5}));
    EXPECT_EQ(machine.sensitivity, 1.0);
    EXPECT_FALSE(machine.primaryKey());
    EXPECT_FALSE(machine.lastPrimaryPos());
}

TEST(GestureStateMachine, flagsReportMovementAndClampingPerEvent) {
    GestureStateMachine machine;
    machine.update({{TouchKind::indirect, 1, {0.0, 0.5}}});
    EXPECT_FALSE(machine.didCursorMoveThisEvent());
    machine.update({{TouchKind::indirect, 1, {0.75, 0.5}}});
    EXPECT_TRUE(machine.didCursorMoveThisEvent());
    EXPECT_TRUE(machine.didClampCursorThisEvent());
    EXPECT_EQ(machine.cursor().x, 1.0);
    machine.update({{TouchKind::indirect, 1, {0.75, 0.5}}});
    EXPECT_FALSE(machine.didCursorMoveThisEvent());
    EXPECT_FALSE(machine.didClampCursorThisEvent());
    // Touch y grows upwards on the pad, so an upward finger moves the cursor up the canvas.
    machine.update({{TouchKind::indirect, 1, {0.75, 0.625}}});
    EXPECT_EQ(machine.cursor(), (CanvasPoint{1.0, 0.375}));
}

TEST(GestureStateMachine, worksWithoutDelegate) {
    GestureStateMachine machine;
    machine.update({{TouchKind::indirect, 1, {0.25, 0.75}}});
    machine.update({{TouchKind::indirect, 1, {0.5, 0.75}}});
    EXPECT_EQ(machine.state(), State::drawing);
    machine.setCursor(0.1, 0.2);
    EXPECT_EQ(machine.state(), State::idle);
}

TEST(GestureStateMachine, nonFiniteInputNeverLeavesTheCanvas) {
    GestureStateMachine machine;
    machine.setCursor(std::nan(""), 0.25);
    EXPECT_EQ(machine.cursor(), (CanvasPoint{0.5, 0.25}));
    machine.sensitivity = std::numeric_limits<double>::infinity();
    machine.update({{TouchKind::indirect, 1, {0.5, 0.5}}});
    machine.update({{TouchKind::indirect, 1, {0.5, 0.5}}});
    EXPECT_EQ(machine.cursor(), (CanvasPoint{0.5, 0.25}));  // 0 × ∞ is NaN: no move
}

}  // namespace
}  // namespace vellumora
