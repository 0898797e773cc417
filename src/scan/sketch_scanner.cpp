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

// The page's pixels that come from within the frame: the frame mapped onto the page, drawn
// directly rather than by warping a mask as large as the photo.
cv::Mat seenPart(const cv::Mat& transform, cv::Size frame, cv::Size page) {
    const std::vector<cv::Point2d> corners = {{-0.5, -0.5},
                                              {frame.width - 0.5, -0.5},
                                              {frame.width - 0.5, frame.height - 0.5},
                                              {-0.5, frame.height - 0.5}};
    constexpr int kShift = 4;
    std::vector<cv::Point> mapped;
    for (const cv::Point2d& p : corners) {
        const cv::Mat v = transform * (cv::Mat_<double>(3, 1) << p.x, p.y, 1.0);
        const double w = v.at<double>(2);
        // A corner of the frame that maps to infinity or beyond: the frame's outline on the page
        // is no quadrilateral, so every page pixel is tested instead.
        if (w <= 1e-9) {
            cv::Mat seen;
            cv::warpPerspective(cv::Mat(frame, CV_8U, cv::Scalar(255)), seen, transform, page,
                                cv::INTER_NEAREST, cv::BORDER_CONSTANT, cv::Scalar(0));
            return seen;
        }
        // Pixel centres on integers in both; the fill's grid is the page's pixels.
        mapped.emplace_back(int(std::lround(v.at<double>(0) / w * (1 << kShift))),
                            int(std::lround(v.at<double>(1) / w * (1 << kShift))));
    }
    cv::Mat seen(page, CV_8U, cv::Scalar(0));
    cv::fillConvexPoly(seen, mapped, cv::Scalar(255), cv::LINE_8, kShift);
    return seen;
}

}  // namespace

std::optional<Quad> detectDocument(const cv::Mat& still) {
    return scan::detectPage(still);
}

cv::Mat perspectiveCorrected(const cv::Mat& image, const Quad& quad, int maxSide, cv::Mat* inFrame) {
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
    const cv::Mat transform = cv::getPerspectiveTransform(from, to);
    cv::Mat page;
    cv::warpPerspective(source, page, transform, out, cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    if (inFrame) {
        *inFrame = seenPart(transform, source.size(), out);
    }
    return page;
}

std::optional<QByteArray> extractHighQuality(const QImage& still) {
    QImage holder;
    const cv::Mat image = scan::bgraView(still, holder);
    if (image.empty()) {
        return pngData(QImage());
    }
    cv::Mat page, inFrame;
    if (const auto quad = detectDocument(image)) {
        page = perspectiveCorrected(image, *quad, kMaxPageSide, &inFrame);
    }
    if (page.empty()) {
        return pngData(lineOverlayPipeline(shrunk(image, kMaxPageSide)));
    }
    QImage lines = lineOverlayPipeline(page);
    // A close-up's sheet may reach beyond the frame: nothing was seen there, so nothing is drawn,
    // nor along the frame's edge where the picture was stretched out.
    if (cv::countNonZero(inFrame) < int(inFrame.total())) {
        cv::erode(inFrame, inFrame, cv::Mat(), cv::Point(-1, -1), 2, cv::BORDER_CONSTANT, cv::Scalar(255));
        for (int y = 0; y < lines.height(); ++y) {
            auto* row = reinterpret_cast<QRgb*>(lines.scanLine(y));
            const uchar* seen = inFrame.ptr<uchar>(y);
            for (int x = 0; x < lines.width(); ++x) {
                row[x] = seen[x] ? row[x] : qRgba(0, 0, 0, 0);
            }
        }
    }
    return pngData(lines);
}

}  // namespace vellumora::LineArtExtractor
