// Subject isolation: whatever stands apart from the picture's border is the subject. GrabCut,
// seeded with the border as background, runs on a small copy; its mask is scaled back up.

#include "scan/sketch_scanner.h"

#include "scan/image_matrix.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace vellumora::LineArtExtractor {

namespace {

constexpr int kMaskSide = 192;
constexpr int kIterations = 4;

}  // namespace

std::optional<cv::Mat> isolateSubject(const cv::Mat& image) {
    if (image.empty() || image.depth() != CV_8U) {
        return std::nullopt;
    }
    cv::Mat bgr;
    if (image.channels() == 4) {
        cv::cvtColor(image, bgr, cv::COLOR_BGRA2BGR);
    } else if (image.channels() == 1) {
        cv::cvtColor(image, bgr, cv::COLOR_GRAY2BGR);
    } else {
        bgr = image;
    }
    const double factor = std::min(1.0, double(kMaskSide) / std::max(bgr.cols, bgr.rows));
    const cv::Mat small = scan::shrinkByArea(bgr, cv::Size(std::max(8, int(std::lround(bgr.cols * factor))),
                                                           std::max(8, int(std::lround(bgr.rows * factor)))));

    cv::Mat mask(small.size(), CV_8U, cv::Scalar(cv::GC_PR_FGD));
    const int band = std::max(2, int(0.04 * std::min(small.cols, small.rows)));
    mask.rowRange(0, band).setTo(cv::GC_BGD);
    mask.rowRange(small.rows - band, small.rows).setTo(cv::GC_BGD);
    mask.colRange(0, band).setTo(cv::GC_BGD);
    mask.colRange(small.cols - band, small.cols).setTo(cv::GC_BGD);
    cv::Mat backgroundModel, foregroundModel;
    try {
        cv::grabCut(small, mask, cv::Rect(), backgroundModel, foregroundModel, kIterations,
                    cv::GC_INIT_WITH_MASK);
    } catch (const cv::Exception&) {
        return std::nullopt;  // e.g. a picture of one flat colour gives GrabCut nothing to model
    }
    cv::Mat foreground = (mask == cv::GC_FGD) | (mask == cv::GC_PR_FGD);
    const double share = double(cv::countNonZero(foreground)) / double(foreground.total());
    if (share < 0.03 || share > 0.97) {
        return std::nullopt;
    }
    cv::Mat full;
    cv::resize(foreground, full, bgr.size(), 0, 0, cv::INTER_LINEAR);
    cv::threshold(full, full, 127, 255, cv::THRESH_BINARY);
    cv::Mat subject(bgr.size(), CV_8UC3, cv::Scalar::all(0));
    bgr.copyTo(subject, full);
    return subject;
}

}  // namespace vellumora::LineArtExtractor
