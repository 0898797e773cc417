#include "scan/image_matrix.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

namespace vellumora {
namespace {

// The shrink takes its own paths for whole factors above 2 and for the remainder; it must give
// what OpenCV's area resize gives, pixel for pixel, cells cut short by the image's edge included.
TEST(ImageMatrixTest, shrinksByAreaAsOpenCvDoes) {
    struct Case {
        cv::Size from, to;
        int type;
    };
    const Case cases[] = {
        {{1280, 720}, {426, 240}, CV_8UC4},  // a preview frame: by 3, then 427 to 426 columns
        {{1003, 757}, {250, 189}, CV_8UC3},  // by 4, the last row and column of cells cut short
        {{640, 481}, {64, 48}, CV_8UC1},     // by 10, a row left over
        {{98, 63}, {19, 12}, CV_8UC4},       // by 5, rounded up to take in cut cells, then 20 to 19
        {{1600, 900}, {100, 56}, CV_8UC4},   // by 16, the widest cells summed four channels at once
        {{1700, 900}, {100, 52}, CV_8UC4},   // by 17, one wider, then 53 to 52 rows
        {{416, 51}, {83, 1}, CV_8UC1},       // by 5, then 10 rows to 1: a whole ratio
        {{300, 200}, {150, 100}, CV_8UC3},   // by 2: OpenCV's own path
    };
    cv::RNG rng(7);
    for (const Case& c : cases) {
        cv::Mat image(c.from, c.type);
        rng.fill(image, cv::RNG::UNIFORM, 0, 256);
        // Saturated and flat stretches, where rounding up to 255 or halfway values show.
        image(cv::Rect(0, 0, c.from.width / 3, c.from.height / 2)).setTo(cv::Scalar::all(255));
        image(cv::Rect(c.from.width / 2, c.from.height / 2, c.from.width / 4, c.from.height / 4))
            .setTo(cv::Scalar::all(131));
        const int whole = std::min(c.from.width / c.to.width, c.from.height / c.to.height);
        cv::Mat expected;
        cv::resize(image, expected, cv::Size(), 1.0 / whole, 1.0 / whole, cv::INTER_AREA);
        if (expected.size() != c.to) {
            cv::resize(expected, expected, c.to, 0, 0, cv::INTER_AREA);
        }
        const cv::Mat shrunk = scan::shrinkByArea(image, c.to);
        ASSERT_EQ(shrunk.size(), c.to) << c.from;
        ASSERT_EQ(shrunk.type(), c.type);
        EXPECT_EQ(cv::norm(shrunk, expected, cv::NORM_INF), 0.0) << c.from << " to " << c.to;
    }
}

}  // namespace
}  // namespace vellumora
