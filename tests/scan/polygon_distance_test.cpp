#include "scan/quad_geometry.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

namespace vellumora {
namespace {

// Outlines are told apart by comparing these distances with thresholds, so they must be
// OpenCV's to the bit: on the outline, at its corners, inside, outside, either way round.
TEST(PolygonDistanceTest, matchesOpenCvEverywhere) {
    cv::RNG rng(11);
    const std::vector<std::vector<cv::Point2f>> fixed = {
        {{10, 10}, {90, 12}, {88, 70}, {12, 68}},  // clockwise on screen
        {{12, 68}, {88, 70}, {90, 12}, {10, 10}},  // the other way round
        {{0, 0}, {50, 0}, {50, 50}},               // a triangle with a horizontal and a vertical side
        {{0, 0}, {60, 0}, {30, 10}, {60, 40}, {0, 40}},  // not convex
    };
    std::vector<std::vector<cv::Point2f>> polygons = fixed;
    for (int i = 0; i < 20; ++i) {
        std::vector<cv::Point2f> quad;
        for (int k = 0; k < 4; ++k) quad.emplace_back(rng.uniform(-20.f, 420.f), rng.uniform(-20.f, 260.f));
        polygons.push_back(quad);
    }
    for (const auto& polygon : polygons) {
        std::vector<cv::Point2f> points;
        for (int i = 0; i < 200; ++i) points.emplace_back(rng.uniform(-40.f, 440.f), rng.uniform(-40.f, 280.f));
        for (size_t k = 0; k < polygon.size(); ++k) {
            const cv::Point2f a = polygon[k], b = polygon[(k + 1) % polygon.size()];
            points.push_back(a);
            points.push_back((a + b) * 0.5f);
            points.emplace_back(a.x, b.y);
            points.emplace_back(std::round(a.x), std::round(a.y) + 0.5f);
        }
        for (const cv::Point2f& p : points) {
            EXPECT_EQ(scan::signedDistance(polygon, p), cv::pointPolygonTest(polygon, p, true)) << p;
        }
    }
}

}  // namespace
}  // namespace vellumora
