#include "camera/capture_flow.h"

#include <gtest/gtest.h>

namespace vellumora {
namespace {

using namespace std::chrono_literals;
using Time = CaptureFlow::TimePoint;

const Quad kQuad{{10, 10}, {110, 10}, {10, 150}, {110, 150}};

// A hold begins at the first score at or above the threshold and captures 1.5 s later; a
// failed capture pauses it for three seconds.
TEST(HoldStillTest, capturesOnceAfterOneAndAHalfSecondsAtOrAboveTheThreshold) {
    CaptureFlow flow;
    const Time t0 = Time() + 1000s;
    // One score per 100 ms from t0 + from to t0 + to (inclusive); counts the captures asked for.
    const auto feed = [&](double score, std::chrono::milliseconds from, std::chrono::milliseconds to) {
        int captures = 0;
        for (auto t = from; t <= to; t += 100ms) captures += flow.stabilityChanged(score, t0 + t) ? 1 : 0;
        return captures;
    };
    enum class Start { found, lost, failed };
    struct Feed {
        double score;
        std::chrono::milliseconds from, to;
        int captures;
        double progress;  // after the feed
    };
    const struct {
        const char* name;
        Start start;
        std::vector<Feed> feeds;
    } cases[] = {
        {"held still", Start::found, {{0.85, 0ms, 1400ms, 0, 14 / 15.0}, {0.85, 1500ms, 1500ms, 1, 0}}},
        {"a dip starts the hold again",
         Start::found,
         {{0.85, 0ms, 1400ms, 0, 14 / 15.0},
          {0.7, 1500ms, 1500ms, 0, 0},
          {0.9, 1600ms, 3000ms, 0, 14 / 15.0},
          {0.9, 3100ms, 3100ms, 1, 0}}},
        {"exactly the threshold counts as still", Start::found, {{0.8, 0ms, 1500ms, 1, 0}}},
        {"a late score captures at once", Start::found, {{0.9, 0ms, 0ms, 0, 0}, {0.9, 1600ms, 1600ms, 1, 0}}},
        {"nothing holds without a page", Start::lost, {{1.0, 0ms, 3000ms, 0, 0}}},
        {"the hold begins once the pause is over",
         Start::failed,
         {{1.0, 0ms, 2900ms, 0, 0}, {1.0, 3000ms, 4400ms, 0, 14 / 15.0}, {1.0, 4500ms, 4500ms, 1, 0}}},
    };
    for (const auto& c : cases) {
        flow = CaptureFlow();
        flow.quadDetected(kQuad);
        if (c.start == Start::lost) flow.quadLost();
        if (c.start == Start::failed && flow.beginCapture())
            flow.captureFailed(CaptureFlow::frameUnavailableText(), t0);
        for (const Feed& f : c.feeds) {
            EXPECT_EQ(feed(f.score, f.from, f.to), f.captures) << c.name << " until " << f.to.count();
            EXPECT_NEAR(flow.holdProgress(), f.progress, 1e-9) << c.name << " until " << f.to.count();
        }
    }
    EXPECT_TRUE(flow.beginCapture()) << "a manual capture is not held back";
    EXPECT_FALSE(flow.captureError().has_value()) << "the error stays until the next capture starts";
}

}  // namespace
}  // namespace vellumora
