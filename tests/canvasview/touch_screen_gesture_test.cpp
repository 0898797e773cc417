// Fingers on a touchscreen: one draws where it landed, two pan and zoom, and nothing inks again
// until every finger has lifted.

#include "canvasview/touch_screen_gesture.h"

#include <gtest/gtest.h>

#include <ostream>

namespace vellumora {

void PrintTo(const TouchScreenGesture::Step& s, std::ostream* os) {
    *os << int(s.kind) << " at " << s.point.x() << "," << s.point.y() << " pan " << s.pan.x() << ","
        << s.pan.y() << " scale " << s.scale;
}

namespace {

using Finger = TouchScreenGesture::Finger;
using Step = TouchScreenGesture::Step;
using Kind = Step::Kind;
using Steps = std::vector<Step>;

Step pen(Kind kind, double x, double y) {
    return {kind, {x, y}, {}, 1};
}

TEST(TouchScreenGesture, oneFingerDrawsFromWhereItLandedAndTwoPanAndZoomWithoutJumpsWhenFingersChange) {
    const std::vector<Finger> lifted;
    const std::vector<Finger> cancelled{{-1, {}}};  // the system takes the touches away
    const struct {
        const char* name;
        std::vector<std::vector<Finger>> events;
        Steps expected;  // of all events together
    } cases[] = {
        {"a tap is a dot",
         {{{1, {10, 10}}}, {{1, {12, 11}}}, lifted},
         {pen(Kind::penDown, 10, 10), pen(Kind::penUp, 10, 10)}},
        {"past the slop the stroke starts where the finger landed",
         {{{1, {10, 10}}}, {{1, {13, 10}}}, {{1, {20, 10}}}, {{1, {20, 10}}}, {{1, {30, 10}}}, lifted},
         {pen(Kind::penDown, 10, 10), pen(Kind::penMove, 20, 10), pen(Kind::penMove, 30, 10),
          pen(Kind::penUp, 30, 10)}},
        {"a second finger before the slop: no ink at all",
         {{{1, {10, 10}}},
          {{1, {10, 10}}, {2, {50, 10}}},
          {{1, {30, 10}}, {2, {70, 10}}},
          {{2, {70, 10}}},
          lifted},
         {{Kind::panZoom, {50, 10}, {20, 0}, 1}}},
        {"a second finger while drawing ends the stroke, then pans",
         {{{1, {10, 10}}}, {{1, {30, 10}}}, {{1, {30, 10}}, {2, {50, 10}}}, {{1, {30, 20}}, {2, {50, 20}}}},
         {pen(Kind::penDown, 10, 10),
          pen(Kind::penMove, 30, 10),
          pen(Kind::penUp, 30, 10),
          {Kind::panZoom, {40, 20}, {0, 10}, 1}}},
        {"after two fingers the last one left does not draw; a new touch does",
         {{{1, {0, 0}}, {2, {10, 0}}},
          {{2, {40, 40}}},
          {{2, {80, 80}}},
          lifted,
          {{3, {5, 5}}},
          {{3, {25, 5}}}},
         {pen(Kind::penDown, 5, 5), pen(Kind::penMove, 25, 5)}},
        {"a cancel ends the open stroke where it was",
         {{{7, {0, 0}}}, {{7, {0, 40}}}, cancelled, lifted},
         {pen(Kind::penDown, 0, 0), pen(Kind::penMove, 0, 40), pen(Kind::penUp, 0, 40)}},
        // A third finger rides along; when one of the pair lifts, the others take over where they are.
        {"two fingers spread from 100 to 200 about a fixed centre, then another pair takes over",
         {{{1, {100, 100}}, {2, {200, 100}}},
          {{1, {50, 100}}, {2, {250, 100}}},
          {{1, {50, 100}}, {2, {250, 100}}, {3, {400, 400}}},
          {{2, {250, 100}}, {3, {400, 400}}},
          {{2, {260, 100}}, {3, {410, 400}}}},
         {{Kind::panZoom, {150, 100}, {0, 0}, 2}, {Kind::panZoom, {335, 250}, {10, 0}, 1}}},
    };
    for (const auto& c : cases) {
        TouchScreenGesture gesture;
        Steps got;
        for (const auto& fingers : c.events) {
            const Steps steps =
                fingers.size() == 1 && fingers[0].id == -1 ? gesture.cancel() : gesture.update(fingers);
            got.insert(got.end(), steps.begin(), steps.end());
        }
        EXPECT_EQ(got, c.expected) << c.name;
    }
}

}  // namespace
}  // namespace vellumora
