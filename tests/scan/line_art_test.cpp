#include "scan/sketch_scanner.h"

#include "lineart/line_art_extractor.h"
#include "scan/image_matrix.h"
#include "support/scene_images.h"

#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

namespace vellumora {
namespace {

// A pencil sketch photographed on a desk: uneven light, a soft shadow over part of the sheet.
synthetic::SceneParameters photographedSketch() {
    synthetic::SceneParameters p =
        testing::scene(synthetic::Background::wood, 4, 0.03, 21, cv::Size(2016, 1512));
    p.pageHeight = 0.88;
    p.lightGradient = 0.35;
    p.shadow = true;
    p.noise = 4;
    return p;
}

// A pen drawing so close that two of the sheet's corners lie beyond the frame.
synthetic::SceneParameters closeUp() {
    synthetic::SceneParameters p =
        testing::scene(synthetic::Background::wood, 6, 0.0, 7, cv::Size(2016, 1512));
    p.drawing = synthetic::Drawing::shapes;
    p.coverage = 0.92;
    p.centre = {0.56, 0.6};
    p.lightGradient = 0.3;
    return p;
}

cv::Mat alphaOf(const QImage& image) {
    cv::Mat alpha(image.height(), image.width(), CV_8U);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) alpha.at<uchar>(y, x) = uchar(qAlpha(image.pixel(x, y)));
    return alpha;
}

// Share of the masked pixels that are not fully transparent.
double visibleShare(const cv::Mat& alpha, const cv::Mat& mask) {
    const int total = cv::countNonZero(mask);
    return total ? double(cv::countNonZero((alpha > 0) & mask)) / total : 0.0;
}

// The page is the outline the still path finds, straightened, so a stroke's place on it follows
// from where the camera saw it: every line seen is kept, and paper, lit or shadowed, and whatever
// lay beyond the frame are clear.
TEST(LineArtTest, keepsEveryLineSeenAndNothingElse) {
    for (const auto& parameters : {photographedSketch(), closeUp()}) {
        const synthetic::Scene scene = synthetic::renderScene(parameters);
        const std::string name = parameters.coverage > 0 ? "close-up" : "on a desk";
        const QImage still = testing::toImage(scene.image);
        const auto png = LineArtExtractor::extractHighQuality(still);
        ASSERT_TRUE(png) << name;
        const QImage page = QImage::fromData(*png, "PNG").convertToFormat(QImage::Format_ARGB32);
        ASSERT_FALSE(page.isNull()) << name;
        EXPECT_LE(std::max(page.width(), page.height()), LineArtExtractor::kMaxPageSide) << name;
        const cv::Mat alpha = alphaOf(page);
        const cv::Size size = alpha.size();

        const cv::Rect frame = cv::Rect(cv::Point(), scene.image.size());
        const auto beyond = [&](const cv::Point2d& c) { return !frame.contains(cv::Point(c)); };
        ASSERT_EQ(std::any_of(scene.corners.begin(), scene.corners.end(), beyond), parameters.coverage > 0);
        const auto outline = LineArtExtractor::detectDocument(scene.image);
        ASSERT_TRUE(outline) << name;
        ASSERT_GT(testing::iou(*outline, scene), 0.97) << name;
        cv::Point2f unit[4] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}}, sheet[4], found[4];
        const cv::Point2f to[4] = {
            {0, 0}, {float(size.width), 0}, {float(size.width), float(size.height)}, {0, float(size.height)}};
        const scan::Corners f = scan::toCorners(*outline);
        for (int i = 0; i < 4; ++i) {
            sheet[i] = cv::Point2f(scene.corners[i]);
            found[i] = cv::Point2f(f[i]);
        }
        const cv::Mat toFrame = cv::getPerspectiveTransform(unit, sheet);
        const cv::Mat toPage = cv::getPerspectiveTransform(found, to);
        cv::Mat near(size, CV_8U, cv::Scalar(0));
        for (size_t s = 0; s < scene.strokes.size(); ++s) {
            std::vector<cv::Point2d> inFrame, onPage;
            cv::perspectiveTransform(scene.strokes[s].points, inFrame, toFrame);
            cv::perspectiveTransform(inFrame, onPage, toPage);
            std::vector<cv::Point> points;
            int kept = 0, seen = 0;
            for (size_t i = 0; i < inFrame.size(); ++i) {
                const cv::Point p(onPage[i]);
                points.push_back(p);
                if (!(frame - cv::Size(8, 8) + cv::Point(4, 4)).contains(cv::Point(inFrame[i]))) {
                    continue;
                }
                const cv::Rect window = cv::Rect(p - cv::Point(3, 3), cv::Size(7, 7)) & cv::Rect(cv::Point(), size);
                double strongest = 0;
                cv::minMaxLoc(alpha(window), nullptr, &strongest);
                kept += strongest >= 128 ? 1 : 0;
                ++seen;
            }
            EXPECT_GE(kept, seen * 95 / 100) << name << " stroke " << s;
            cv::polylines(near, points, false, cv::Scalar(255), 24);
        }

        // Away from the lines and the sheet's edge.
        cv::Mat paper(size, CV_8U, cv::Scalar(0));
        const int margin = size.width / 30;
        paper(cv::Rect(margin, margin, size.width - 2 * margin, size.height - 2 * margin)).setTo(255);
        paper &= ~near;
        EXPECT_LT(visibleShare(alpha, paper), 0.002) << name;

        // The shadow's border in particular does not turn into a line.
        if (scene.shadowMask.empty()) {
            continue;
        }
        cv::Mat shadow;
        cv::warpPerspective(scene.shadowMask, shadow, toPage, size);
        cv::Mat wide, narrow;
        cv::dilate(shadow, wide, cv::Mat(), cv::Point(-1, -1), 12);
        cv::erode(shadow, narrow, cv::Mat(), cv::Point(-1, -1), 12);
        const cv::Mat border = (wide & ~narrow) & paper;
        ASSERT_GT(cv::countNonZero(border), 1000) << "the shadow falls on the sheet";
        EXPECT_LT(visibleShare(alpha, border), 0.002);
    }
}

TEST(LineArtTest, greyPaperIsClearAStillWithoutPaperIsUsedWholeAndNoStillGivesNothing) {
    EXPECT_EQ(cv::countNonZero(alphaOf(
                  LineArtExtractor::lineOverlayPipeline(cv::Mat(600, 800, CV_8UC3, cv::Scalar::all(150))))),
              0);
    synthetic::SceneParameters p;
    p.frame = cv::Size(2016, 1512);
    p.withPage = false;
    const auto png = LineArtExtractor::extractHighQuality(testing::sceneImage(p));
    ASSERT_TRUE(png);
    EXPECT_EQ(QImage::fromData(*png, "PNG").size(), QSize(1400, 1050));
    EXPECT_FALSE(LineArtExtractor::extractHighQuality(QImage()));
}

}  // namespace
}  // namespace vellumora
