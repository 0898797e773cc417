#pragma once
// Synthetic camera pictures of a sheet of paper with known corners: a sketch on paper grain,
// laid on a desk, a cloth or clutter, tilted, lit unevenly, sometimes shadowed or held by a
// thumb, then blurred and noised like a webcam. For detection-quality measurements and for
// tests that need camera frames without a camera.

#include <opencv2/core.hpp>

#include <array>
#include <cstdint>
#include <vector>

namespace vellumora::synthetic {

enum class Background { wood, cloth, clutter, lightDesk, darkDesk };

struct SceneParameters {
    cv::Size frame{1280, 720};
    Background background = Background::wood;
    bool withPage = true;              // false: only the background, lit and noised the same way
    double pageAspect = 1.0 / 1.4142;  // width over height of the sheet before placement
    double pageHeight = 0.75;          // the sheet's height as a share of the frame's height
    cv::Point2d centre{0.5, 0.5};      // where the sheet sits, as shares of the frame
    double rotation = 0.0;             // degrees, clockwise on screen
    double perspective = 0.0;          // how far corners move to show tilt, share of the sheet
    double lightGradient = 0.2;        // brightness falls by this share across the frame
    bool shadow = false;               // a soft shadow across part of the sheet
    bool thumb = false;                // a thumb over one edge of the sheet
    double blur = 0.8;                 // Gaussian sigma of the lens, in pixels
    double noise = 3.0;                // sensor noise, grey levels
    std::uint32_t seed = 1;
};

// A pencil line on the sheet, in the sheet's own unit coordinates (0...1 across and down).
struct Stroke {
    std::vector<cv::Point2d> points;
    double width = 0.003;  // share of the sheet's width
};

struct Scene {
    cv::Mat image;                       // 8-bit BGR
    std::array<cv::Point2d, 4> corners;  // continuous pixels, clockwise from the top-left
    std::vector<Stroke> strokes;
    cv::Mat shadowMask;  // 8-bit, 255 where the shadow falls (empty without one)
};

Scene renderScene(const SceneParameters& parameters);

// A varied but reproducible scene for the index-th picture of a set.
SceneParameters variedParameters(int index, cv::Size frame);

// Intersection over union of two convex quadrilaterals.
double polygonIoU(const std::array<cv::Point2d, 4>& a, const std::array<cv::Point2d, 4>& b);

}  // namespace vellumora::synthetic
