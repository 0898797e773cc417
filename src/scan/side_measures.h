#pragma once
// Measures across and along one side of an outline, in working pixels: whether the paper steps
// down across it, how sharply, and how much darker the far side is.

#include "scan/page_detector.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

namespace vellumora::scan {

// A side's step: the paper measure falls by at least this much, or this share, across it.
inline constexpr double kMinStep = 10.0;
inline constexpr double kMinRelativeStep = 0.08;

// The value at the given share (0...1) of the sorted values; 0 for none.
double percentile(std::vector<double> values, double share);

// Bilinear value of an 8-bit single-channel image at a continuous point (pixel centres at
// half-integers); none outside it. Inline: the side measures take hundreds of thousands a frame.
inline std::optional<double> sampleAt(const cv::Mat& image, cv::Point2d p) {
    const double x = p.x - 0.5, y = p.y - 0.5;
    // Within these bounds truncation is the floor, and both neighbours lie in the image.
    if (!(x >= 0 && y >= 0 && x < image.cols - 1 && y < image.rows - 1)) {
        return std::nullopt;
    }
    const int x0 = int(x), y0 = int(y);
    const double fx = x - x0, fy = y - y0;
    const uchar* r0 = image.data + image.step[0] * size_t(y0) + x0;
    const uchar* r1 = r0 + image.step[0];
    return (1 - fy) * ((1 - fx) * r0[0] + fx * r0[1]) + fy * ((1 - fx) * r1[0] + fx * r1[1]);
}

// Share of the side from a to b where the paper measure steps down from its inside (on the
// right, going from a to b with y downwards) to its outside, over a band wider than a marker's
// line, or, for paper in shade, right at the edge with a lit desk farther out: along all of it,
// and along its first and last fifths. None when too little of the side has both bands in the
// frame.
struct Steps {
    double share = 0;
    double atStart = 0;
    double atEnd = 0;
};
std::optional<Steps> stepSupport(const WorkingImage& image, cv::Point2d a, cv::Point2d b);

// How a line steps, read from either side (`back` as from b to a, so its start is at b); its
// share is the better of the two. Both are read from one set of samples.
struct BothWays {
    std::optional<Steps> forth, back;
    double share() const { return std::max(forth.value_or(Steps()).share, back.value_or(Steps()).share); }
};
BothWays stepsBothWays(const WorkingImage& image, cv::Point2d a, cv::Point2d b);

// The i-th of n points spread evenly along the side from a to b, clear of its corners.
inline cv::Point2d alongSide(cv::Point2d a, cv::Point2d b, int i, int n) {
    return a + (b - a) * (0.08 + 0.84 * (i + 0.5) / n);
}

// Whether a side runs along the frame's border.
bool alongBorder(cv::Point2d a, cv::Point2d b, cv::Size size);

// The length of the part of the side from a to b whose bands across it lie in the frame.
double judgeableLength(cv::Point2d a, cv::Point2d b, cv::Size size);
// The part of the side from a to b far enough from the frame's border that what lies past it
// shows, if any.
std::optional<std::pair<cv::Point2d, cv::Point2d>> partSeenPast(cv::Point2d a, cv::Point2d b, cv::Size size);
// Share of a side too near the frame to see past where the strip between it and the frame is
// darker than the paper inside: a strip of desk, not the same paper past a line drawn near the
// frame. None when the strip is too thin to tell.
std::optional<double> stepToFrame(const WorkingImage& image, cv::Point2d a, cv::Point2d b);

// The paper measure just inside a side, between lines drawn along it.
double insideAlong(const cv::Mat& paper, cv::Point2d a, cv::Point2d b, cv::Point2d inward);

// The share of the side from a to b where the paper just inside it is in shade: darker than
// `lit` by a step, yet paper.
double shadedInside(const WorkingImage& image, cv::Point2d a, cv::Point2d b, double lit);

// The median shade (luminance outside over inside) across the stretch from `from` to `to`, and
// the share of it within a little of `ratio` (when given) where the surface's colour goes on.
struct Shade {
    double median = 1;
    double matching = 0;
};
std::optional<Shade> shadeAlong(const WorkingImage& image, cv::Point2d from, cv::Point2d to, cv::Point2d outward,
                                std::optional<double> ratio = std::nullopt);

// How sharply the lightness steps down across the side from a to b, from its inside out: the
// steepest drop over two pixels as a share of the whole drop, from the brightest within a few
// pixels inside to the level a few pixels outside (near 1 for a sheet's edge, far less for a
// shadow's soft one). The median over the side's middle; none where too little of it steps.
std::optional<double> sharpness(const cv::Mat& lightness, cv::Point2d a, cv::Point2d b);

}  // namespace vellumora::scan
