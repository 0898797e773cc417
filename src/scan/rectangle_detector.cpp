// The rectangle detector, the fallback for paper that does not stand out by brightness (a white
// sheet on a white desk): any four-sided outline among the image's edges whose shape passes the
// rectangle rules and whose sides are backed by edges.

#include "scan/page_detector.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace vellumora::scan {

namespace {

constexpr float kMinRectangleGradient = 40.0f;

bool acceptable(const Corners& c, cv::Size imageSize, const RectangleParameters& p) {
    for (double angle : cornerAngles(c)) {
        if (std::abs(angle - 90.0) > p.quadratureTolerance) {
            return false;
        }
    }
    const double width = 0.5 * (sideLength(c, 0) + sideLength(c, 2));
    const double height = 0.5 * (sideLength(c, 1) + sideLength(c, 3));
    const double shorter = std::min(width, height), longer = std::max(width, height);
    if (longer <= 0) {
        return false;
    }
    const double aspect = shorter / longer;
    return aspect >= p.minimumAspectRatio && aspect <= p.maximumAspectRatio &&
           shorter >= p.minimumSize * std::min(imageSize.width, imageSize.height);
}

}  // namespace

std::optional<Detection> detectRectangle(const WorkingImage& image, const RectangleParameters& parameters) {
    if (image.bgr.empty()) {
        return std::nullopt;
    }
    cv::Mat edges;
    cv::Canny(image.lightness, edges, 30, 90);
    cv::dilate(edges, edges, cv::Mat());
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(edges, contours, cv::RETR_LIST, cv::CHAIN_APPROX_NONE);

    const double minSide = parameters.minimumSize * std::min(image.bgr.cols, image.bgr.rows);
    const double imageArea = double(image.bgr.total());
    std::optional<Detection> best;
    double bestRank = 0;
    for (const auto& contour : contours) {
        if (cv::arcLength(contour, false) < 2 * minSide) {
            continue;
        }
        const auto corners = quadFromContour(contour);
        if (!corners || !acceptable(*corners, image.bgr.size(), parameters)) {
            continue;
        }
        const EdgeSupport support =
            edgeSupport(image.gradX, image.gradY, *corners, kMinRectangleGradient, false);
        const double confidence = 0.5 * support.mean() + 0.5 * support.weakest();
        if (confidence < parameters.minimumConfidence) {
            continue;
        }
        // A sketch often has a frame drawn inside the sheet: among outlines about as well backed
        // by edges, the larger one is the sheet.
        const double rank = confidence * (0.8 + 0.2 * std::sqrt(area(*corners) / imageArea));
        if (!best || rank > bestRank) {
            best = Detection{*corners, confidence};
            bestRank = rank;
        }
    }
    return best;
}

}  // namespace vellumora::scan
