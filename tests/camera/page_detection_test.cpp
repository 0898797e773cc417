#include "camera/page_detector.h"

#include "scene_images.h"

#include <opencv2/imgproc.hpp>

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

// A dark outline of the given corners (shares of a 800 x 600 image) on light grey.
cv::Mat outline(std::vector<cv::Point2d> shares) {
    cv::Mat image(600, 800, CV_8UC3, cv::Scalar::all(200));
    std::vector<cv::Point> points;
    for (const auto& s : shares) points.emplace_back(int(s.x * 800), int(s.y * 600));
    cv::polylines(image, points, true, cv::Scalar::all(40), 3, cv::LINE_AA);
    return image;
}

TEST(PageDetectionTest, theRectangleFallbackKeepsToItsRules) {
    struct Case {
        const char* name;
        std::vector<cv::Point2d> corners;
        bool found;
    };
    const std::vector<Case> cases = {
        {"a plain rectangle", {{0.2, 0.2}, {0.7, 0.2}, {0.7, 0.8}, {0.2, 0.8}}, true},
        {"aspect 0.32", {{0.1, 0.3}, {0.85, 0.3}, {0.85, 0.62}, {0.1, 0.62}}, true},
        {"aspect 0.25, too thin", {{0.1, 0.4}, {0.85, 0.4}, {0.85, 0.65}, {0.1, 0.65}}, false},
        {"shorter side 0.2 of the image", {{0.4, 0.4}, {0.6, 0.4}, {0.6, 0.6}, {0.4, 0.6}}, true},
        {"shorter side 0.12, too small", {{0.4, 0.4}, {0.49, 0.4}, {0.49, 0.52}, {0.4, 0.52}}, false},
        // 800 x 600 pixels: a side 300 high leaning by 240 meets the top at 51 degrees, by
        // 357 at 40 degrees, beyond the tolerance.
        {"corners of 51 and 129 degrees", {{0.45, 0.25}, {0.8, 0.25}, {0.5, 0.75}, {0.15, 0.75}}, true},
        {"corners of 40 and 140 degrees", {{0.55, 0.25}, {0.9, 0.25}, {0.45, 0.75}, {0.1, 0.75}}, false},
    };
    for (const Case& c : cases) {
        const auto w = scan::WorkingImage::from(outline(c.corners), scan::kPreviewWorkingSide);
        EXPECT_EQ(scan::detectRectangle(w).has_value(), c.found) << c.name;
    }
}

}  // namespace
}  // namespace vellumora
