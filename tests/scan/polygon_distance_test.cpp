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

// The quick test must agree with the exact one wherever it answers, just past the distance asked
// and just short of it too, convex or not, either way round.
TEST(PolygonDistanceTest, farOutsideAgreesWithTheDistance) {
    cv::RNG rng(5);
    std::vector<scan::Corners> quads = {
        {{{10, 10}, {90, 12}, {88, 70}, {12, 68}}},
        {{{12, 68}, {88, 70}, {90, 12}, {10, 10}}},
        {{{0, 0}, {60, 0}, {20, 10}, {0, 40}}},  // not convex
    };
    for (int i = 0; i < 20; ++i) {
        scan::Corners q;
        for (auto& p : q) p = {rng.uniform(-20.0, 420.0), rng.uniform(-20.0, 260.0)};
        quads.push_back(q);
    }
    constexpr double by = 1.5;
    for (const scan::Corners& quad : quads) {
        const scan::FarOutside farOutside(quad, by);
        const auto polygon = scan::polygonOf(quad);
        std::vector<cv::Point2d> points;
        for (int i = 0; i < 300; ++i) points.emplace_back(rng.uniform(-40.0, 440.0), rng.uniform(-40.0, 280.0));
        for (int k = 0; k < 4; ++k) {
            const cv::Point2d a = quad[k], b = quad[(k + 1) % 4], d = (b - a) / cv::norm(b - a);
            for (double t : {0.0, 0.3, 1.0}) {
                for (double off : {-by - 0.01, -by + 0.01, -0.01, 0.01, by - 0.01, by + 0.01}) {
                    points.push_back(a + (b - a) * t + cv::Point2d(-d.y, d.x) * off);
                }
            }
        }
        for (const cv::Point2d& p : points) {
            EXPECT_EQ(farOutside(p), scan::signedDistance(polygon, cv::Point2f(p)) < -by) << p;
        }
    }
}

}  // namespace
}  // namespace vellumora
