#pragma once
// Finds the sheet of paper in a camera image. Two detectors: the document detector segments
// the bright, colourless paper from its surroundings; the rectangle detector, the fallback,
// looks for any four-sided outline in the image's edges. Both analyse a shrunken copy and the
// outline is then refined on the full image to sub-pixel precision.

#include "scan/quad.h"
#include "scan/quad_geometry.h"

#include <opencv2/core.hpp>

#include <optional>

namespace vellumora::scan {

// Longest side of the analysis copy: live preview frames, and stills where precision matters
// more than time.
inline constexpr int kPreviewWorkingSide = 400;
inline constexpr int kStillWorkingSide = 640;

// What both detectors read, computed once per image.
struct WorkingImage {
    cv::Mat bgr;        // CV_8UC3, the shrunken image
    cv::Mat lightness;  // CV_8U, L of CIE Lab, lightly smoothed
    cv::Mat chroma;     // CV_8U, distance from grey in the a-b plane
    cv::Mat gradX;      // CV_32F, derivatives of lightness
    cv::Mat gradY;
    double scale = 1.0;  // image pixels per working pixel

    // From an 8-bit BGR, BGRA or grey image (a grey image has no chroma).
    static WorkingImage from(const cv::Mat& image, int longSide);
};

// An outline in working pixels with the detector's confidence in it (0...1).
struct Detection {
    Corners corners;
    double confidence = 0;
};

std::optional<Detection> detectDocument(const WorkingImage& image);

// The rectangle detector's acceptance rules. Aspect is the shorter over the longer side, size the
// shorter side over the image's shorter side, quadrature tolerance the largest deviation of a
// corner from a right angle in degrees.
struct RectangleParameters {
    double minimumAspectRatio = 0.3;
    double maximumAspectRatio = 1.6;
    double minimumSize = 0.15;
    double minimumConfidence = 0.5;
    double quadratureTolerance = 45.0;
};
std::optional<Detection> detectRectangle(const WorkingImage& image,
                                         const RectangleParameters& parameters = {});

enum class PageDetectors { documentThenRectangle, rectangleOnly };

// The page outline in the image's own pixels: the document detector's when it finds one, else
// the rectangle detector's.
std::optional<Quad> detectPage(const cv::Mat& image, int workingSide,
                               PageDetectors detectors = PageDetectors::documentThenRectangle);

// Fits a coarse outline (image pixels) onto the image's edges, first within searchRadius, then
// closer in.
Quad refinePage(const cv::Mat& image, const Quad& coarse, double searchRadius);

}  // namespace vellumora::scan
