// The line pipeline: grey with a little more contrast, lightly sharpened, then compared with the
// paper behind it. Whatever is darker than its paper by more than a small threshold becomes the
// line's alpha, eight times the darkness.

#include "scan/image_matrix.h"
#include "scan/sketch_scanner.h"

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
constexpr double kDenoiseRadius = 0.7;
constexpr double kGrainDeviations = 3.0;
constexpr double kBorderShare = 0.006;

// Robust deviation of the darkness over the page: most of a sketch is paper, so the median
// absolute deviation measures the paper's grain and noise, not the lines.
double noiseDeviation(const cv::Mat& darkness) {
    cv::Mat sample;
    const int step = std::max(1, int(std::sqrt(double(darkness.total()) / 40000.0)));
    for (int y = 0; y < darkness.rows; y += step) {
        const float* row = darkness.ptr<float>(y);
        for (int x = 0; x < darkness.cols; x += step) {
            sample.push_back(row[x]);
        }
    }
    if (sample.empty()) {
        return 0.0;
    }
    auto median = [](cv::Mat values) {
        float* begin = values.ptr<float>();
        float* end = begin + values.total();
        std::nth_element(begin, begin + values.total() / 2, end);
        return double(begin[values.total() / 2]);
    };
    const double centre = median(sample.clone());
    cv::Mat deviation = cv::abs(sample - centre);
    return 1.4826 * median(deviation);
}

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
    cv::Mat grey = greyOf(image);
    // Sensor noise, sharpened, would otherwise sprinkle the paper with specks.
    cv::GaussianBlur(grey, grey, cv::Size(), kDenoiseRadius, kDenoiseRadius, cv::BORDER_REPLICATE);
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
    // Sensor noise and grain do not shrink in the shade as lines do: their share of the paper
    // grows where it is darker, and so does the threshold that hides them.
    const cv::Mat difference = paper - sharpened;
    cv::Mat floor;
    cv::max(paper, 0.05, floor);
    cv::Mat darkness;
    cv::divide(difference - kGrainDeviations * noiseDeviation(difference), floor, darkness);
    cv::Mat alpha;
    darkness.convertTo(alpha, CV_8U, 255.0 * kAlphaGain, -255.0 * kAlphaThreshold);

    // The sheet's own border, and any sliver of desk the outline let in, are never lines.
    const int border = std::max(1, int(std::lround(kBorderShare * std::min(image.cols, image.rows))));
    if (alpha.cols > 2 * border && alpha.rows > 2 * border) {
        cv::Mat inner =
            alpha(cv::Rect(border, border, alpha.cols - 2 * border, alpha.rows - 2 * border)).clone();
        alpha.setTo(0);
        inner.copyTo(alpha(cv::Rect(border, border, inner.cols, inner.rows)));
    }

    cv::Mat bgra(image.size(), CV_8UC4, cv::Scalar::all(0));
    const int fromTo[] = {0, 3};
    cv::mixChannels(&alpha, 1, &bgra, 1, fromTo, 1);
    return scan::imageFromBgra(bgra);
}

}  // namespace vellumora::LineArtExtractor
