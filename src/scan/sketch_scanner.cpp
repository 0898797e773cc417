#include "scan/sketch_scanner.h"

#include "lineart/line_art_extractor.h"
#include "scan/image_matrix.h"
#include "scan/page_detector.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace vellumora::LineArtExtractor {

namespace {

cv::Mat shrunk(const cv::Mat& image, int longSide) {
    const double factor = std::min(1.0, double(longSide) / std::max(image.cols, image.rows));
    if (factor >= 1.0) {
        return image;
    }
    return scan::shrinkByArea(image, cv::Size(std::max(1, int(std::lround(image.cols * factor))),
                                              std::max(1, int(std::lround(image.rows * factor)))));
}

}  // namespace

std::optional<Quad> detectDocument(const cv::Mat& still) {
    return scan::detectPage(still);
}

cv::Mat perspectiveCorrected(const cv::Mat& image, const Quad& quad, int maxSide) {
    const scan::Corners c = scan::toCorners(quad);
    const double width = std::max(scan::sideLength(c, 0), scan::sideLength(c, 2));
    const double height = std::max(scan::sideLength(c, 1), scan::sideLength(c, 3));
    if (image.empty() || width < 1 || height < 1) {
        return {};
    }
    const double fit = std::min(1.0, double(maxSide) / std::max(width, height));
    const cv::Size out(std::max(1, int(std::lround(width * fit))),
                       std::max(1, int(std::lround(height * fit))));

    // Sampling a much larger source straight into the page would alias the paper's grain into
    // noise; shrink it by area first, by the whole factor that keeps it at least the page's scale.
    const int whole = int(std::floor(1.0 / fit));
    cv::Mat source = image;
    if (whole >= 2) {
        cv::resize(image, source, cv::Size(), 1.0 / whole, 1.0 / whole, cv::INTER_AREA);
    }
    const double pre = double(source.cols) / image.cols;

    // OpenCV puts pixel centres on integers; quads use continuous coordinates.
    cv::Point2f from[4], to[4];
    for (int i = 0; i < 4; ++i) {
        from[i] = cv::Point2f(float(c[i].x * pre - 0.5), float(c[i].y * pre - 0.5));
    }
    to[0] = {-0.5f, -0.5f};
    to[1] = {out.width - 0.5f, -0.5f};
    to[2] = {out.width - 0.5f, out.height - 0.5f};
    to[3] = {-0.5f, out.height - 0.5f};
    cv::Mat page;
    cv::warpPerspective(source, page, cv::getPerspectiveTransform(from, to), out, cv::INTER_LINEAR,
                        cv::BORDER_REPLICATE);
    return page;
}

std::optional<QByteArray> extractHighQuality(const QImage& still) {
    QImage holder;
    const cv::Mat image = scan::bgraView(still, holder);
    if (image.empty()) {
        return pngData(QImage());
    }
    cv::Mat page;
    if (const auto quad = detectDocument(image)) {
        page = perspectiveCorrected(image, *quad, kMaxPageSide);
    }
    if (page.empty()) {
        page = shrunk(image, kMaxPageSide);
    }
    return pngData(lineOverlayPipeline(page));
}

}  // namespace vellumora::LineArtExtractor
