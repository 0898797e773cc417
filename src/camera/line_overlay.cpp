// The line pipeline: grey with a little more contrast, lightly sharpened, then compared with the
// paper behind it. Whatever is darker than its paper by more than a small threshold becomes the
// line's alpha, eight times the darkness.

#include "camera/image_matrix.h"
#include "camera/sketch_scanner.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace vellumora::LineArtExtractor {

namespace {

constexpr double kContrast = 1.15;
constexpr double kSharpenRadius = 1.2;
constexpr double kSharpenAmount = 0.5;
// Alpha is eight times the darkness (the Rec. 601 luma weights, times eight, on a grey
// difference) minus the threshold that hides paper noise.
constexpr double kAlphaGain = 2.392 + 4.696 + 0.912;
constexpr double kAlphaThreshold = 0.08;
// Lines are thinner than this share of the page's shorter side; anything broader is paper,
// shading or shadow.
constexpr double kLineWidthLimit = 0.014;

cv::Mat greyOf(const cv::Mat& image) {
    cv::Mat grey;
    switch (image.channels()) {
        case 4:
            cv::cvtColor(image, grey, cv::COLOR_BGRA2GRAY);
            break;
        case 3:
            cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
            break;
        default:
            grey = image;
            break;
    }
    cv::Mat f;
    grey.convertTo(f, CV_32F, kContrast / 255.0, 0.5 - 0.5 * kContrast);
    return f;
}

}  // namespace

QImage lineOverlayPipeline(const cv::Mat& image) {
    if (image.empty()) {
        return {};
    }
    const cv::Mat grey = greyOf(image);
    cv::Mat blurred;
    cv::GaussianBlur(grey, blurred, cv::Size(), kSharpenRadius, kSharpenRadius, cv::BORDER_REPLICATE);
    const cv::Mat sharpened = grey + kSharpenAmount * (grey - blurred);

    // The paper behind the lines: a closing wipes out everything darker and thinner than the
    // kernel (the lines) and keeps broad darkening as it is, edges included, so a shadow's border
    // never shows up as a line. Smoothing first keeps the closing from riding on paper grain.
    const int k = std::max(3, int(std::lround(kLineWidthLimit * std::min(image.cols, image.rows))) | 1);
    cv::Mat paper;
    cv::GaussianBlur(grey, paper, cv::Size(), 1.0, 1.0, cv::BORDER_REPLICATE);
    cv::morphologyEx(paper, paper, cv::MORPH_CLOSE, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(k, k)),
                     cv::Point(-1, -1), 1, cv::BORDER_REPLICATE);

    // Darkness relative to the local paper, so a line in shadow counts as much as one in light.
    cv::Mat darkness = paper - sharpened;
    cv::Mat floor;
    cv::max(paper, 0.05, floor);
    cv::divide(darkness, floor, darkness);
    cv::Mat alpha;
    darkness.convertTo(alpha, CV_8U, 255.0 * kAlphaGain, -255.0 * kAlphaThreshold);

    cv::Mat bgra(image.size(), CV_8UC4, cv::Scalar::all(0));
    const int fromTo[] = {0, 3};
    cv::mixChannels(&alpha, 1, &bgra, 1, fromTo, 1);
    return scan::imageFromBgra(bgra);
}

}  // namespace vellumora::LineArtExtractor
