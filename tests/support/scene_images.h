#pragma once
// Synthetic scenes as the QImages a camera would deliver.

#include "scan/quad_geometry.h"
#include "scenes/synthetic_scene.h"

#include <QImage>

#include <opencv2/imgproc.hpp>

namespace vellumora::testing {

// A sheet on a background, placed and seeded; 640 x 360 unless said otherwise.
inline synthetic::SceneParameters scene(synthetic::Background background, double rotation, double perspective,
                                        std::uint32_t seed, cv::Size frame = cv::Size(640, 360)) {
    return {.frame = frame,
            .background = background,
            .rotation = rotation,
            .perspective = perspective,
            .seed = seed};
}

inline QImage toImage(const cv::Mat& bgr) {
    cv::Mat rgb;
    cv::cvtColor(bgr, rgb, cv::COLOR_BGR2RGB);
    return QImage(rgb.data, rgb.cols, rgb.rows, int(rgb.step), QImage::Format_RGB888).copy();
}

inline synthetic::Corners cornersOf(const Quad& quad) {
    const scan::Corners c = scan::toCorners(quad);
    return {c[0], c[1], c[2], c[3]};
}

// How well the outline matches the scene's sheet, as far as the frame shows it.
inline double iou(const Quad& quad, const synthetic::Scene& scene) {
    return synthetic::pageIoU(cornersOf(quad), scene.corners, scene.image.size());
}

inline QImage sceneImage(const synthetic::SceneParameters& p) {
    return toImage(synthetic::renderScene(p).image);
}

}  // namespace vellumora::testing
