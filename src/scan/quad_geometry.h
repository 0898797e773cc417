#pragma once
// Geometry shared by the page detectors: corner order, shape checks, how well an outline sits on
// the image's edges, and sub-pixel refinement of an outline onto the edges it follows.

#include "scan/quad.h"

#include <opencv2/core.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <vector>

namespace vellumora::scan {

// Clockwise from the top-left corner, image pixels (y downwards).
using Corners = std::array<cv::Point2d, 4>;

// The z component of the cross product of two vectors in the image plane.
inline double cross(cv::Point2d a, cv::Point2d b) {
    return a.x * b.y - a.y * b.x;
}

// The distance of p from the line through a and b.
inline double distanceFromLine(cv::Point2d p, cv::Point2d a, cv::Point2d b) {
    const cv::Point2d d = b - a;
    return std::abs(cross(d, p - a)) / std::max(1e-9, std::sqrt(d.x * d.x + d.y * d.y));
}

// Where the line through p along u meets the one through q along v; none when they are parallel
// within `parallel` (the cross product of u and v).
inline std::optional<cv::Point2d> meetOfLines(cv::Point2d p, cv::Point2d u, cv::Point2d q, cv::Point2d v,
                                              double parallel = 1e-9) {
    const double denom = cross(u, v);
    if (std::abs(denom) < parallel) {
        return std::nullopt;
    }
    return p + u * (cross(q - p, v) / denom);
}

Quad toQuad(const Corners& c);
Corners toCorners(const Quad& q);
Corners scaled(const Corners& c, double factor);

// Orders the four points of a convex quadrilateral clockwise from the corner nearest the
// image's top-left; none when the points do not form a convex quadrilateral.
std::optional<Corners> orderCorners(const std::vector<cv::Point2d>& points);

double area(const Corners& c);
// The area of the part of the quadrilateral inside a frame of the given size.
double areaInFrame(const Corners& c, cv::Size frame);
double perimeter(const Corners& c);
double sideLength(const Corners& c, int side);  // side i runs from corner i to corner i + 1
// Interior angle at each corner, in degrees.
std::array<double, 4> cornerAngles(const Corners& c);

// The outline as OpenCV's polygon functions take it.
std::vector<cv::Point2f> polygonOf(const Corners& corners);

// The signed distance of a point from a polygon's outline, positive inside: what
// cv::pointPolygonTest(polygon, p, true) gives, to the bit, without its cost of wrapping the
// polygon for each point (grids of points inside an outline take thousands a frame).
double signedDistance(const std::vector<cv::Point2f>& polygon, cv::Point2f p);

// Whether points lie farther than `by` outside a quad: signedDistance(p) < -by, to the bit, but
// quicker for a convex quad, where a point inside every side's line is inside it and one beyond a
// side's line by more is beyond the quad by more. Only points near its sides take the exact test.
class FarOutside {
  public:
    FarOutside(const Corners& quad, double by);
    bool operator()(cv::Point2d p) const;

  private:
    std::vector<cv::Point2f> polygon_;
    Corners corners_;
    std::array<cv::Point2d, 4> normals_{};
    double by_;
    bool convex_ = false;
};

// A quadrilateral for a region's outline: its convex hull (given, as both of these need it)
// simplified to four vertices whose sides are then fitted to the outline points along them. None
// when no simplification of the hull has exactly four convex vertices.
std::optional<Corners> quadFromContour(const std::vector<cv::Point>& contour, const std::vector<cv::Point>& hull);
// The same for an outline whose hull has one or two corners cut off (curled over, or under a
// thumb): the sides beside each cut are carried on to meet. None unless the hull simplifies to
// five or six vertices, each cut short beside the sides it joins.
std::optional<Corners> quadWithCutCorners(const std::vector<cv::Point>& contour,
                                          const std::vector<cv::Point>& hull);

// Moves every side onto the strongest matching brightness step within searchRadius pixels of
// it, fitted to sub-pixel precision, in an 8-bit BGR, BGRA or grey image. Sides without a clear
// step, and the fixed ones, stay where they were.
Corners refineCorners(const cv::Mat& image, const Corners& c, double searchRadius,
                      const std::array<bool, 4>& fixed = {});

}  // namespace vellumora::scan
