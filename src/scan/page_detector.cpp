#include "scan/page_detector.h"

#include "scan/image_matrix.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace vellumora::scan {

WorkingImage WorkingImage::from(const cv::Mat& image, int longSide) {
    WorkingImage w;
    // A whole-number factor near the asked one: shrinking by it is several times faster.
    const int longest = std::max(image.cols, image.rows);
    const int factor = std::max(1, int(std::lround(double(longest) / longSide)));
    cv::Mat small = image;
    if (factor > 1) {
        small =
            shrinkByArea(image, cv::Size(std::max(1, image.cols / factor), std::max(1, image.rows / factor)));
    }
    w.scale = 0.5 * (double(image.cols) / small.cols + double(image.rows) / small.rows);
    switch (small.channels()) {
        case 1:
            cv::cvtColor(small, w.bgr, cv::COLOR_GRAY2BGR);
            break;
        case 4:
            cv::cvtColor(small, w.bgr, cv::COLOR_BGRA2BGR);
            break;
        default:
            w.bgr = small.clone();
            break;
    }
    cv::Mat lab;
    cv::cvtColor(w.bgr, lab, cv::COLOR_BGR2Lab);
    cv::Mat channels[3];
    cv::split(lab, channels);
    cv::GaussianBlur(channels[0], w.lightness, cv::Size(5, 5), 0);
    cv::Mat a, b;
    channels[1].convertTo(a, CV_32F, 1.0, -128.0);
    channels[2].convertTo(b, CV_32F, 1.0, -128.0);
    cv::Mat chroma;
    cv::magnitude(a, b, chroma);
    chroma.convertTo(w.chroma, CV_8U);
    cv::GaussianBlur(w.chroma, w.chroma, cv::Size(5, 5), 0);
    cv::Sobel(w.lightness, w.gradX, CV_32F, 1, 0);
    cv::Sobel(w.lightness, w.gradY, CV_32F, 0, 1);
    return w;
}

Quad refinePage(const cv::Mat& image, const Quad& coarse, double searchRadius) {
    Corners c = toCorners(coarse);
    c = refineCorners(image, c, searchRadius);
    c = refineCorners(image, c, std::max(2.0, searchRadius / 3));
    return toQuad(c);
}

std::optional<Quad> detectPage(const cv::Mat& image, int workingSide, PageDetectors detectors) {
    if (image.empty()) {
        return std::nullopt;
    }
    const WorkingImage w = WorkingImage::from(image, workingSide);
    std::optional<Detection> found;
    if (detectors == PageDetectors::documentThenRectangle) {
        found = detectDocument(w);
    }
    if (!found) {
        found = detectRectangle(w);
    }
    if (!found) {
        return std::nullopt;
    }
    // A working pixel's worth of error either way, plus what smoothing moved.
    return refinePage(image, toQuad(scaled(found->corners, w.scale)), std::max(3.0, 2.5 * w.scale));
}

}  // namespace vellumora::scan
