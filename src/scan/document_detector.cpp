// The document detector: paper is brighter and less colourful than what surrounds it, so the
// sheet is a bright, grey region of the image whose outline is close to a quadrilateral and
// whose sides sit on brightness steps from the paper down to its surroundings.

#include "scan/page_detector.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace vellumora::scan {

namespace {

// How much more a unit of colour counts against paper than a unit of darkness.
constexpr double kChromaWeight = 2.0;
// A step of about 12 grey levels between neighbouring pixels (Sobel scales steps by 4).
constexpr float kMinPageGradient = 48.0f;

cv::Mat paperness(const WorkingImage& image) {
    cv::Mat p;
    cv::addWeighted(image.lightness, 1.0, image.chroma, -kChromaWeight, 0.0, p, CV_8U);
    return p;
}

// Sides that run along the image's border cannot show a step: the paper goes on beyond it.
bool alongBorder(cv::Point2d a, cv::Point2d b, cv::Size size) {
    constexpr double margin = 3.0;
    auto near = [&](double v, double edge) { return std::abs(v - edge) <= margin; };
    return (near(a.x, 0) && near(b.x, 0)) || (near(a.y, 0) && near(b.y, 0)) ||
           (near(a.x, size.width) && near(b.x, size.width)) ||
           (near(a.y, size.height) && near(b.y, size.height));
}

struct Candidate {
    Corners corners;
    double score;
};

std::optional<Candidate> judge(const WorkingImage& image, const std::vector<cv::Point>& contour) {
    const double imageArea = double(image.bgr.cols) * image.bgr.rows;
    const auto corners = quadFromContour(contour);
    if (!corners) {
        return std::nullopt;
    }
    const double quadArea = area(*corners);
    const double shorterSide = std::min(
        {sideLength(*corners, 0), sideLength(*corners, 1), sideLength(*corners, 2), sideLength(*corners, 3)});
    if (quadArea < 0.02 * imageArea || shorterSide < 0.1 * std::min(image.bgr.cols, image.bgr.rows)) {
        return std::nullopt;
    }
    for (double angle : cornerAngles(*corners)) {
        if (angle < 35.0 || angle > 145.0) {
            return std::nullopt;
        }
    }
    // Fingers over an edge or a lifted corner leave notches; much more than that is not a sheet.
    const double fill = std::min(1.0, cv::contourArea(contour) / quadArea);
    if (fill < 0.8) {
        return std::nullopt;
    }
    EdgeSupport support = edgeSupport(image.gradX, image.gradY, *corners, kMinPageGradient, true);
    int borderSides = 0;
    for (int side = 0; side < 4; ++side) {
        if (alongBorder((*corners)[side], (*corners)[(side + 1) % 4], image.bgr.size())) {
            support.sides[side] = 1.0;
            ++borderSides;
        }
    }
    if (borderSides > 2 || support.weakest() < 0.3 || support.mean() < 0.55) {
        return std::nullopt;
    }
    return Candidate{*corners, support.mean() * (0.5 + 0.5 * fill) * (borderSides == 0 ? 1.0 : 0.9)};
}

}  // namespace

std::optional<Detection> detectDocument(const WorkingImage& image) {
    if (image.bgr.empty()) {
        return std::nullopt;
    }
    const cv::Mat p = paperness(image);
    cv::Mat mask;
    const double otsu = cv::threshold(p, mask, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);

    const int k = std::max(3, (std::max(image.bgr.cols, image.bgr.rows) / 100) | 1);
    const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(k, k));
    std::vector<Candidate> candidates;
    auto consider = [&](const std::vector<std::vector<cv::Point>>& contours) {
        for (const auto& contour : contours) {
            if (cv::contourArea(contour) < 0.015 * p.total()) {
                continue;
            }
            if (auto c = judge(image, contour)) {
                candidates.push_back(*c);
            }
        }
    };
    // Uneven light makes any single threshold cut off part of the paper or spill onto a bright
    // desk; a few thresholds each offer their outlines.
    for (double offset : {0.0, -24.0, 24.0, 48.0}) {
        const double t = otsu + offset;
        if (t <= 0 || t >= 255) {
            continue;
        }
        cv::threshold(p, mask, t, 255, cv::THRESH_BINARY);
        // Closing erases the drawing's lines from the paper; opening cuts thin bridges to
        // other bright things touching the sheet.
        cv::morphologyEx(mask, mask, cv::MORPH_CLOSE, kernel);
        cv::morphologyEx(mask, mask, cv::MORPH_OPEN, kernel);
        std::vector<std::vector<cv::Point>> contours;
        cv::findContours(mask, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
        consider(contours);
    }
    // A shadow across the sheet can make its shaded part darker than a light desk, so no
    // threshold holds the whole sheet; the closed outlines among the edges still do.
    cv::Mat edges;
    cv::Canny(image.lightness, edges, 30, 90);
    cv::dilate(edges, edges, cv::Mat());
    std::vector<std::vector<cv::Point>> loops;
    cv::findContours(edges, loops, cv::RETR_LIST, cv::CHAIN_APPROX_NONE);
    consider(loops);
    if (candidates.empty()) {
        return std::nullopt;
    }

    // Part of a sheet, cut off by a shadow's edge, can look as good as the whole; among the
    // outlines nearly as good as the best, the largest is the sheet.
    const auto best =
        std::max_element(candidates.begin(), candidates.end(),
                         [](const Candidate& a, const Candidate& b) { return a.score < b.score; });
    const Candidate* chosen = &*best;
    for (const Candidate& c : candidates) {
        if (c.score >= 0.92 * best->score && area(c.corners) > 1.05 * area(chosen->corners)) {
            chosen = &c;
        }
    }
    return Detection{chosen->corners, std::clamp(chosen->score, 0.0, 1.0)};
}

}  // namespace vellumora::scan
