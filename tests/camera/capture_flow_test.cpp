#include "camera/capture_flow.h"

#include <gtest/gtest.h>

namespace vellumora {
namespace {

using namespace std::chrono_literals;
using Time = CaptureFlow::TimePoint;

const Quad kQuad{{10, 10}, {110, 10}, {10, 150}, {110, 150}};

struct HoldStillTest : ::testing::Test {
    HoldStillTest() { flow.quadDetected(kQuad); }

    // Feeds one score per 100 ms from t0 + from to t0 + to (inclusive); counts captures.
    int feed(double score, std::chrono::milliseconds from, std::chrono::milliseconds to) {
        int captures = 0;
        for (auto t = from; t <= to; t += 100ms) {
            captures += flow.stabilityChanged(score, t0 + t) ? 1 : 0;
        }
        return captures;
    }

    CaptureFlow flow;
    Time t0 = Time() + 1000s;
};

TEST_F(HoldStillTest, aPageHeldStillForOneAndAHalfSecondsIsCapturedOnce) {
    EXPECT_EQ(feed(0.85, 0ms, 1400ms), 0);
    EXPECT_NEAR(flow.holdProgress(), 1400.0 / 1500.0, 1e-9);
    EXPECT_EQ(feed(0.85, 1500ms, 1500ms), 1);
    EXPECT_EQ(flow.holdProgress(), 0.0);
}

TEST_F(HoldStillTest, aScoreBelowTheThresholdStartsTheHoldAgain) {
    EXPECT_EQ(feed(0.85, 0ms, 1400ms), 0);
    EXPECT_EQ(feed(0.7, 1500ms, 1500ms), 0);
    EXPECT_EQ(flow.holdProgress(), 0.0);
    EXPECT_EQ(feed(0.9, 1600ms, 3000ms), 0) << "the hold began again at 1.6 s";
    EXPECT_EQ(feed(0.9, 3100ms, 3100ms), 1);
}

TEST_F(HoldStillTest, aScoreOfExactlyTheThresholdCountsAsStill) {
    EXPECT_EQ(feed(0.8, 0ms, 1500ms), 1);
}

TEST_F(HoldStillTest, aLateScoreCapturesAtOnce) {
    EXPECT_FALSE(flow.stabilityChanged(0.9, t0));
    EXPECT_TRUE(flow.stabilityChanged(0.9, t0 + 1600ms));
    EXPECT_EQ(flow.holdProgress(), 0.0);
}

TEST_F(HoldStillTest, nothingHoldsWithoutAPage) {
    flow.quadLost();
    EXPECT_EQ(feed(1.0, 0ms, 3000ms), 0);
    EXPECT_EQ(flow.holdProgress(), 0.0);
}

TEST_F(HoldStillTest, nothingHoldsWhileProcessingOrInReview) {
    ASSERT_TRUE(flow.beginCapture());
    EXPECT_FALSE(flow.beginCapture()) << "a second capture while processing";
    EXPECT_EQ(feed(1.0, 0ms, 3000ms), 0);
    flow.captureSucceeded("png", QImage(4, 4, QImage::Format_ARGB32));
    EXPECT_EQ(feed(1.0, 3100ms, 6000ms), 0);
    flow.retake();
    EXPECT_FALSE(flow.latestQuad().has_value());
    flow.quadDetected(kQuad);
    EXPECT_EQ(feed(1.0, 6100ms, 7600ms), 1);
}

TEST_F(HoldStillTest, afterAFailureNoAutoCaptureForThreeSecondsThenTheHoldStartsAnew) {
    ASSERT_TRUE(flow.beginCapture());
    flow.captureFailed(CaptureFlow::frameUnavailableText(), t0);
    EXPECT_EQ(feed(1.0, 0ms, 2900ms), 0);
    EXPECT_EQ(flow.holdProgress(), 0.0);
    EXPECT_EQ(feed(1.0, 3000ms, 4400ms), 0) << "the hold only begins once the pause is over";
    EXPECT_EQ(feed(1.0, 4500ms, 4500ms), 1);
    EXPECT_TRUE(flow.beginCapture()) << "a manual capture is not held back";
    EXPECT_FALSE(flow.captureError().has_value()) << "the error stays until the next capture starts";
}

TEST(CaptureFlowStatusTest, theFirstMatchingStateNamesTheStatus) {
    const Time t = Time() + 10s;
    auto denied = [] {
        CaptureFlow f;
        f.quadDetected(kQuad);
        f.beginCapture();
        f.captureFailed(CaptureFlow::processingFailedText(), Time());
        f.cameraUnavailable();
        return f;
    };
    auto failed = [] {
        CaptureFlow f;
        f.beginCapture();
        f.captureFailed(CaptureFlow::processingFailedText(), Time());
        return f;
    };
    auto reviewing = [] {
        CaptureFlow f;
        f.beginCapture();
        f.captureSucceeded("png", QImage(2, 2, QImage::Format_ARGB32));
        return f;
    };
    auto processing = [] {
        CaptureFlow f;
        f.beginCapture();
        return f;
    };
    auto found = [] {
        CaptureFlow f;
        f.quadDetected(kQuad);
        return f;
    };
    auto holding = [&] {
        CaptureFlow f;
        f.quadDetected(kQuad);
        f.stabilityChanged(0.9, t);
        f.stabilityChanged(0.9, t + 600ms);  // progress 0.4
        return f;
    };
    struct Case {
        CaptureFlow flow;
        bool running;
        QString text;
    };
    const std::vector<Case> cases = {
        {denied(), true, "Camera disabled"},
        {failed(), true, "Scan processing failed. Adjust the lighting or angle and try again."},
        {reviewing(), false, "Looks good? Pick Use this page or Retake."},
        {processing(), true, "Enhancing scan…"},
        {found(), false, "Starting camera…"},
        {CaptureFlow(), true, "Hold up a drawing — detection will light up when it finds the page."},
        {holding(), true, "Hold steady… capturing in 0.9s"},
        {found(), true, "Page detected. Keep it still for auto-capture, or press ⏎."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.flow.statusText(c.running), c.text);
    }
}

}  // namespace
}  // namespace vellumora
