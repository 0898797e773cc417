#include "scan/page_detector.h"

#include "support/scene_images.h"

#include <gtest/gtest.h>

namespace vellumora {
namespace {

using synthetic::Background;
using testing::scene;

TEST(PageDetectionTest, findsTheSheetOnDesksClothAndClutter) {
    struct Case {
        const char* name;
        synthetic::SceneParameters p;
    };
    auto held = scene(Background::clutter, -14, 0.06, 5);
    held.thumb = true;
    auto lamp = scene(Background::wood, 22, 0.03, 6);
    lamp.lightGradient = 0.45;
    auto landscape = scene(Background::darkDesk, 5, 0.08, 8);
    landscape.pageAspect = 1.41;
    landscape.pageHeight = 0.6;
    const std::vector<Case> cases = {
        {"clutter", scene(Background::clutter, 10, 0.05, 1)},
        {"wood", scene(Background::wood, -25, 0.02, 2)},
        {"cloth", scene(Background::cloth, 3, 0.1, 3)},
        {"light desk", scene(Background::lightDesk, 18, 0.0, 4)},
        {"held with a thumb over an edge", held},
        {"a lamp on one side", lamp},
        {"landscape, small, tilted", landscape},
    };
    for (const Case& c : cases) {
        const auto s = synthetic::renderScene(c.p);
        const auto quad = scan::detectPage(s.image, scan::kPreviewWorkingSide);
        ASSERT_TRUE(quad) << c.name;
        EXPECT_GT(testing::iou(*quad, s.corners), 0.95) << c.name;
        // Clockwise from the top-left, each corner where the sheet's corner is.
        const auto corners = quad->clockwise();
        for (int i = 0; i < 4; ++i)
            EXPECT_LT(cv::norm(cv::Point2d(corners[i].x(), corners[i].y()) - s.corners[i]), 2.0)
                << c.name << " " << i;
    }
}

TEST(PageDetectionTest, anEmptyDeskHasNoPage) {
    for (Background b : {Background::wood, Background::darkDesk, Background::cloth}) {
        auto p = scene(b, 0, 0, 9);
        p.withPage = false;
        const auto s = synthetic::renderScene(p);
        EXPECT_FALSE(scan::detectPage(s.image, scan::kPreviewWorkingSide)) << int(b);
    }
}

}  // namespace
}  // namespace vellumora
