#include "camera/page_tracker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace vellumora {
namespace {

// A 1000 x 0 frame has a diagonal of 1000, so a 2 % jump is 20 pixels.
const QSize kFrame(1000, 0);

Quad square(double x, double y, double side) {
    return {{x, y}, {x + side, y}, {x, y + side}, {x + side, y + side}};
}

TEST(PageTrackerTest, scoresMotionAndShapeOverTheWindow) {
    struct Case {
        const char* name;
        std::vector<Quad> quads;
        double score;
    };
    // Same centre, diagonals of 90 and 100: the page moved towards the camera.
    const double d90 = 90 / std::sqrt(2.0), d100 = 100 / std::sqrt(2.0);
    const Quad a = square(0, 0, 50), b = square(10, 0, 50), c = square(20, 0, 50), far = square(300, 0, 50);
    const Quad small = square(-d90 / 2, -d90 / 2, d90), large = square(-d100 / 2, -d100 / 2, d100);
    const std::vector<Case> cases = {
        {"three quads give no score yet", {a, a, a}, 0.0},
        {"four identical quads", {a, a, a, a}, 1.0},
        {"a jump of half the limit", {a, a, b, b}, 0.5},
        {"a jump of the whole limit", {a, c, c, c}, 0.0},
        {"a jump far beyond it", {a, a, a, far}, 0.0},
        {"diagonals from 90 to 100", {small, large, small, large}, 0.9},
        {"a far quad that has left the eight-quad window", {far, a, a, a, a, a, a, a, a}, 1.0},
    };
    for (const Case& row : cases) {
        PageTracker tracker;
        double score = -1;
        for (const Quad& q : row.quads) score = tracker.pageFound(q, kFrame);
        EXPECT_NEAR(score, row.score, 1e-9) << row.name;
        EXPECT_EQ(tracker.recentQuads().size(), std::min<std::size_t>(row.quads.size(), 8)) << row.name;
    }
}

TEST(PageTrackerTest, losesThePageFromTheSixthFrameWithoutItAndOnEveryFrameAfter) {
    PageTracker tracker;
    for (int i = 0; i < 4; ++i) tracker.pageFound(square(0, 0, 50), kFrame);
    for (int i = 1; i <= 5; ++i) EXPECT_FALSE(tracker.pageMissing()) << "frame " << i;
    EXPECT_EQ(tracker.computeStability(), 1.0) << "five missing frames leave the window alone";
    EXPECT_TRUE(tracker.pageMissing());
    EXPECT_TRUE(tracker.recentQuads().empty());
    EXPECT_TRUE(tracker.pageMissing()) << "the seventh reports it again";

    // Found again: the count starts over, and the score needs four quads anew.
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(tracker.pageFound(square(0, 0, 50), kFrame), 0.0);
    EXPECT_EQ(tracker.framesWithoutQuad(), 0);
    EXPECT_EQ(tracker.pageFound(square(0, 0, 50), kFrame), 1.0);
    EXPECT_FALSE(tracker.pageMissing());
}

}  // namespace
}  // namespace vellumora
