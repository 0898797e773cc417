#pragma once
// The sheet of a synthetic scene, drawn flat in its own pixels before it is laid in the frame.

#include "scenes/synthetic_scene.h"

#include <opencv2/core.hpp>

#include <random>

namespace vellumora::synthetic {

using Rng = std::mt19937;

inline double uniform(Rng& rng, double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(rng);
}

struct Sheet {
    cv::Mat paper;   // CV_32FC3, BGR 0...255
    cv::Mat alpha;   // CV_32F, 0 where a folded corner left the sheet's outline empty
    cv::Mat ink;     // CV_8U, 255 where ink shows
    std::vector<Stroke> strokes;
};

// A sheet of `size` pixels with the drawing on it and `curledCorners` corners folded over.
Sheet drawSheet(Rng& rng, cv::Size size, Drawing drawing, int curledCorners);

}  // namespace vellumora::synthetic
