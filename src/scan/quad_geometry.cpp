#include "scan/quad_geometry.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace vellumora::scan {

namespace {

cv::Point2d unit(cv::Point2d v) {
    const double n = std::hypot(v.x, v.y);
    return n > 0 ? v / n : cv::Point2d(0, 0);
}

// A line through `point` along the unit vector `dir`.
struct Line {
    cv::Point2d point;
    cv::Point2d dir;
};

Line sideLine(const Corners& c, int side) {
    return {c[side], unit(c[(side + 1) % 4] - c[side])};
}

// The weighted least-squares line: through the points' centroid, along their principal axis.
Line weightedLine(const std::vector<cv::Point2f>& points, const std::vector<double>& weights) {
    double sw = 0, sx = 0, sy = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        sw += weights[i];
        sx += weights[i] * points[i].x;
        sy += weights[i] * points[i].y;
    }
    const cv::Point2d centre(sx / sw, sy / sw);
    double xx = 0, yy = 0, xy = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        const double dx = points[i].x - centre.x, dy = points[i].y - centre.y;
        xx += weights[i] * dx * dx;
        yy += weights[i] * dy * dy;
        xy += weights[i] * dx * dy;
    }
    const double angle = 0.5 * std::atan2(2 * xy, xx - yy);
    return {centre, {std::cos(angle), std::sin(angle)}};
}

// A line fitted with Huber's loss, so that a few stray points barely move it: reweighted least
// squares from the plain fit, which settles in a few rounds on points that lie along a side.
std::optional<Line> fitLine(const std::vector<cv::Point2f>& points) {
    if (points.size() < 2) {
        return std::nullopt;
    }
    constexpr double kHuber = 1.345;  // pixels: residuals beyond this count linearly
    std::vector<double> weights(points.size(), 1.0);
    Line line = weightedLine(points, weights);
    for (int round = 0; round < 30; ++round) {
        for (size_t i = 0; i < points.size(); ++i) {
            const double d = std::abs(cross(cv::Point2d(points[i]) - line.point, line.dir));
            weights[i] = d < kHuber ? 1.0 : kHuber / d;
        }
        const Line next = weightedLine(points, weights);
        const bool settled = std::abs(cross(next.dir, line.dir)) < 1e-3 &&
                             cv::norm(next.point - line.point) < 0.01;
        line = next;
        if (settled) {
            break;
        }
    }
    return line;
}

// Corner i is where side i - 1 meets side i.
std::optional<Corners> cornersFromLines(const std::array<Line, 4>& lines) {
    std::vector<cv::Point2d> points;
    for (int i = 0; i < 4; ++i) {
        const Line& before = lines[(i + 3) % 4];
        const auto p = meetOfLines(before.point, before.dir, lines[i].point, lines[i].dir);
        if (!p) {
            return std::nullopt;
        }
        points.push_back(*p);
    }
    return orderCorners(points);
}

bool closeTo(const Corners& a, const Corners& b, double limit) {
    for (int i = 0; i < 4; ++i) {
        if (cv::norm(a[i] - b[i]) > limit) {
            return false;
        }
    }
    return true;
}

// Bilinear luma of an 8-bit image with 1, 3 (BGR) or 4 (BGRA) channels; none outside it.
class LumaSampler {
  public:
    explicit LumaSampler(const cv::Mat& image) : image_(image), channels_(image.channels()) {}

    std::optional<double> at(cv::Point2d p) const {
        const double x = p.x - 0.5, y = p.y - 0.5;  // pixel centres sit at half-integers
        const int x0 = int(std::floor(x)), y0 = int(std::floor(y));
        if (x0 < 0 || y0 < 0 || x0 + 1 >= image_.cols || y0 + 1 >= image_.rows) {
            return std::nullopt;
        }
        const double fx = x - x0, fy = y - y0;
        return (1 - fy) * ((1 - fx) * luma(x0, y0) + fx * luma(x0 + 1, y0)) +
               fy * ((1 - fx) * luma(x0, y0 + 1) + fx * luma(x0 + 1, y0 + 1));
    }

  private:
    double luma(int x, int y) const {
        const uchar* px = image_.ptr<uchar>(y) + x * channels_;
        if (channels_ == 1) {
            return px[0];
        }
        return 0.114 * px[0] + 0.587 * px[1] + 0.299 * px[2];
    }

    const cv::Mat& image_;
    int channels_;
};

// Where a profile crosses a thin dark line: a step down and the next one, back up within a line's
// width and about as strong. Neither is the sheet's edge, however strongly a line drawn on the
// paper steps. (A thin bright strip is no line: it may be the paper between a line drawn close to
// the edge and the edge itself.) Profiles run outwards: a line's inner edge comes first.
enum class LineEdge : unsigned char { none, inner, outer };

std::vector<LineEdge> lineEdges(const std::vector<double>& d, int width, double least) {
    struct Lobe {
        size_t from, to, peak;
    };
    std::vector<Lobe> lobes;
    for (size_t k = 0; k < d.size(); ++k) {
        if (std::abs(d[k]) < least) {
            continue;
        }
        if (lobes.empty() || lobes.back().to + 1 != k || (d[k] > 0) != (d[lobes.back().peak] > 0)) {
            lobes.push_back({k, k, k});
            continue;
        }
        lobes.back().to = k;
        if (std::abs(d[k]) > std::abs(d[lobes.back().peak])) {
            lobes.back().peak = k;
        }
    }
    std::vector<LineEdge> line(d.size(), LineEdge::none);
    for (size_t i = 0; i + 1 < lobes.size(); ++i) {
        const Lobe &a = lobes[i], &b = lobes[i + 1];
        const double pa = d[a.peak], pb = d[b.peak];
        if (pa >= 0 || pb <= 0 || b.peak - a.peak > size_t(width) ||
            std::min(std::abs(pa), std::abs(pb)) < 0.5 * std::max(std::abs(pa), std::abs(pb))) {
            continue;
        }
        std::fill(line.begin() + std::ptrdiff_t(a.from), line.begin() + std::ptrdiff_t(a.to) + 1, LineEdge::inner);
        std::fill(line.begin() + std::ptrdiff_t(b.from), line.begin() + std::ptrdiff_t(b.to) + 1, LineEdge::outer);
        ++i;
    }
    return line;
}

// Sub-pixel positions of the brightness step along one side, searched across it.
std::vector<cv::Point2f> stepPoints(const LumaSampler& luma, const Corners& c, int side, int radius) {
    const cv::Point2d a = c[side], b = c[(side + 1) % 4];
    const cv::Point2d dir = unit(b - a);
    const cv::Point2d outward(dir.y, -dir.x);
    const int samples = std::clamp(int(cv::norm(b - a) / 4), 8, 48);
    constexpr double kMinStep = 8.0;
    // A line drawn along the edge, inside it, steps one way and back soon after; the sheet's edge
    // does not come back. The profile reaches a line's width further in than the search, so that
    // a line there still shows as one.
    const int lineWidth = std::max(3, radius / 2);
    const int inward = radius + lineWidth;

    struct Profile {
        cv::Point2d origin;
        std::vector<double> derivative;  // index k is offset k - inward + 1
        std::vector<LineEdge> line;      // steps that are a line's edges
    };
    std::vector<Profile> profiles;
    double positive = 0, negative = 0;
    for (int i = 0; i < samples; ++i) {
        const double t = 0.1 + 0.8 * (i + 0.5) / samples;
        const cv::Point2d origin = a + (b - a) * t;
        std::vector<double> intensity;
        for (int s = -inward; s <= radius; ++s) {
            double sum = 0;
            int n = 0;
            for (int tangent = -1; tangent <= 1; ++tangent) {
                if (auto v = luma.at(origin + outward * s + dir * tangent)) {
                    sum += *v;
                    ++n;
                }
            }
            intensity.push_back(n == 3 ? sum / 3 : std::nan(""));
        }
        Profile p{origin, {}, {}};
        for (size_t k = 1; k + 1 < intensity.size(); ++k) {
            const double d = intensity[k + 1] - intensity[k - 1];
            p.derivative.push_back(std::isnan(d) ? 0.0 : d);
        }
        p.line = lineEdges(p.derivative, lineWidth, kMinStep);
        double strongest = 0;
        for (size_t k = size_t(lineWidth); k < p.derivative.size(); ++k) {
            if (p.line[k] == LineEdge::none && std::abs(p.derivative[k]) > std::abs(strongest)) {
                strongest = p.derivative[k];
            }
        }
        (strongest > 0 ? positive : negative) += std::abs(strongest);
        profiles.push_back(std::move(p));
    }

    // The side's step has one direction along its whole length; the other one is clutter.
    const double sign = positive > negative ? 1.0 : -1.0;
    auto comesBack = [&](const std::vector<double>& d, size_t k) {
        double back = 0;
        for (size_t j = k + 1; j < d.size() && j <= k + size_t(lineWidth); ++j) {
            back += std::max(0.0, -sign * d[j]);
        }
        return back >= 0.5 * sign * d[k];
    };
    std::vector<cv::Point2f> points;
    for (const Profile& p : profiles) {
        const auto& d = p.derivative;
        int best = -1;
        double bestScore = 0;
        for (size_t k = size_t(lineWidth); k < d.size(); ++k) {
            const double offset = double(k) - inward + 1;
            const double score = sign * d[k] * (1.0 - 0.5 * (offset / radius) * (offset / radius));
            if (sign * d[k] >= kMinStep && score > bestScore && p.line[k] == LineEdge::none && !comesBack(d, k)) {
                bestScore = score;
                best = int(k);
            }
        }
        // A line drawn along the sheet lies on it: with no edge in reach past it, the sheet goes
        // on at least to the line's outer side.
        for (size_t k = d.size(); best < 0 && k-- > size_t(lineWidth);) {
            if (p.line[k] != LineEdge::outer) {
                continue;
            }
            while (k > size_t(lineWidth) && p.line[k - 1] == LineEdge::outer && std::abs(d[k - 1]) > std::abs(d[k])) {
                --k;
            }
            best = int(k);
        }
        if (best < 0) {
            continue;
        }
        double offset = best - inward + 1;
        if (best > 0 && best + 1 < int(d.size())) {
            const double l = d[best - 1], m = d[best], r = d[best + 1];
            const double curvature = l - 2 * m + r;
            if (m * curvature < 0) {  // a true peak, not a shoulder
                offset += std::clamp(0.5 * (l - r) / curvature, -0.5, 0.5);
            }
        }
        const cv::Point2d q = p.origin + outward * offset;
        points.emplace_back(float(q.x), float(q.y));
    }
    if (points.size() < std::max<size_t>(6, profiles.size() * 2 / 5)) {
        return {};
    }
    return points;
}

// Fits a side to its step points, refitting once without the points far from the first fit.
std::optional<Line> robustSide(std::vector<cv::Point2f> points) {
    auto line = fitLine(points);
    if (!line) {
        return std::nullopt;
    }
    std::vector<cv::Point2f> inliers;
    for (const auto& p : points) {
        if (std::abs(cross(cv::Point2d(p) - line->point, line->dir)) <= 1.5) {
            inliers.push_back(p);
        }
    }
    if (inliers.size() >= points.size() / 2 && inliers.size() >= 4) {
        line = fitLine(inliers);
    }
    return line;
}

}  // namespace

Quad toQuad(const Corners& c) {
    auto q = [](cv::Point2d p) { return QPointF(p.x, p.y); };
    return {q(c[0]), q(c[1]), q(c[3]), q(c[2])};
}

Corners toCorners(const Quad& q) {
    auto p = [](QPointF v) { return cv::Point2d(v.x(), v.y()); };
    return {p(q.topLeft), p(q.topRight), p(q.bottomRight), p(q.bottomLeft)};
}

Corners scaled(const Corners& c, double factor) {
    return {c[0] * factor, c[1] * factor, c[2] * factor, c[3] * factor};
}

std::optional<Corners> orderCorners(const std::vector<cv::Point2d>& points) {
    if (points.size() != 4) {
        return std::nullopt;
    }
    const cv::Point2d centre = (points[0] + points[1] + points[2] + points[3]) * 0.25;
    Corners c{points[0], points[1], points[2], points[3]};
    std::sort(c.begin(), c.end(), [&](cv::Point2d a, cv::Point2d b) {
        return std::atan2(a.y - centre.y, a.x - centre.x) < std::atan2(b.y - centre.y, b.x - centre.x);
    });
    for (int i = 0; i < 4; ++i) {
        // Ascending angles with y downwards run clockwise on screen: every turn is positive.
        if (cross(c[(i + 1) % 4] - c[i], c[(i + 2) % 4] - c[(i + 1) % 4]) <= 1e-6) {
            return std::nullopt;
        }
    }
    const auto first = std::min_element(c.begin(), c.end(),
                                        [](cv::Point2d a, cv::Point2d b) { return a.x + a.y < b.x + b.y; });
    std::rotate(c.begin(), first, c.end());
    return c;
}

double area(const Corners& c) {
    double twice = 0;
    for (int i = 0; i < 4; ++i) {
        twice += cross(c[i], c[(i + 1) % 4]);
    }
    return std::abs(twice) / 2;
}

double areaInFrame(const Corners& c, cv::Size frame) {
    std::vector<cv::Point2f> overlap;
    const std::vector<cv::Point2f> quad = polygonOf(c), rect = {
        {0, 0}, {float(frame.width), 0}, {float(frame.width), float(frame.height)}, {0, float(frame.height)}};
    return std::abs(cv::intersectConvexConvex(quad, rect, overlap, true));
}

double sideLength(const Corners& c, int side) {
    return cv::norm(c[(side + 1) % 4] - c[side]);
}

double perimeter(const Corners& c) {
    return sideLength(c, 0) + sideLength(c, 1) + sideLength(c, 2) + sideLength(c, 3);
}

std::array<double, 4> cornerAngles(const Corners& c) {
    std::array<double, 4> angles{};
    for (int i = 0; i < 4; ++i) {
        const cv::Point2d toPrev = unit(c[(i + 3) % 4] - c[i]);
        const cv::Point2d toNext = unit(c[(i + 1) % 4] - c[i]);
        angles[i] = std::acos(std::clamp(toPrev.dot(toNext), -1.0, 1.0)) * 180.0 / CV_PI;
    }
    return angles;
}

std::vector<cv::Point2f> polygonOf(const Corners& corners) {
    std::vector<cv::Point2f> polygon;
    for (const auto& v : corners) polygon.emplace_back(float(v.x), float(v.y));
    return polygon;
}

double signedDistance(const std::vector<cv::Point2f>& polygon, cv::Point2f p) {
    if (polygon.empty()) {
        return -std::numeric_limits<double>::max();
    }
    // Float differences, double products and the nearest side kept as a fraction, compared
    // crosswise, as OpenCV does, so that every result matches its own.
    double nearestNum = std::numeric_limits<float>::max(), nearestDenom = 1;
    int crossings = 0;
    cv::Point2f v = polygon.back();
    for (const cv::Point2f& next : polygon) {
        const cv::Point2f v0 = v;
        v = next;
        const double dx = v.x - v0.x, dy = v.y - v0.y;
        const double dx1 = p.x - v0.x, dy1 = p.y - v0.y;
        const double dx2 = p.x - v.x, dy2 = p.y - v.y;
        double num = 0, denom = 1;
        if (dx1 * dx + dy1 * dy <= 0) {
            num = dx1 * dx1 + dy1 * dy1;
        } else if (dx2 * dx + dy2 * dy >= 0) {
            num = dx2 * dx2 + dy2 * dy2;
        } else {
            num = dy1 * dx - dx1 * dy;
            num *= num;
            denom = dx * dx + dy * dy;
        }
        if (num * nearestDenom < nearestNum * denom) {
            nearestNum = num;
            nearestDenom = denom;
            if (nearestNum == 0) {
                break;
            }
        }
        if ((v0.y <= p.y && v.y <= p.y) || (v0.y > p.y && v.y > p.y) || (v0.x < p.x && v.x < p.x)) {
            continue;
        }
        double side = dy1 * dx - dx1 * dy;
        if (dy < 0) {
            side = -side;
        }
        crossings += side > 0 ? 1 : 0;
    }
    const double distance = std::sqrt(nearestNum / nearestDenom);
    return crossings % 2 == 0 ? -distance : distance;
}

FarOutside::FarOutside(const Corners& quad, double by) : polygon_(polygonOf(quad)), corners_(quad), by_(by) {
    std::array<double, 4> turns;
    for (int i = 0; i < 4; ++i) {
        turns[i] = cross(quad[(i + 1) % 4] - quad[i], quad[(i + 2) % 4] - quad[(i + 1) % 4]);
    }
    convex_ = std::all_of(turns.begin(), turns.end(), [](double t) { return t > 0; }) ||
              std::all_of(turns.begin(), turns.end(), [](double t) { return t < 0; });
    for (int i = 0; i < 4 && convex_; ++i) {
        const cv::Point2d d = quad[(i + 1) % 4] - quad[i];
        // Outward: away from the side the quad turns towards.
        normals_[i] = (turns[0] > 0 ? cv::Point2d(d.y, -d.x) : cv::Point2d(-d.y, d.x)) / std::hypot(d.x, d.y);
    }
}

bool FarOutside::operator()(cv::Point2d p) const {
    // Far above the float rounding of the exact test.
    constexpr double kSlack = 1e-3;
    if (convex_) {
        double beyond = -std::numeric_limits<double>::infinity();
        for (int i = 0; i < 4; ++i) {
            beyond = std::max(beyond, normals_[i].dot(p - corners_[i]));
        }
        if (beyond < -kSlack) {
            return false;
        }
        if (beyond > by_ + kSlack) {
            return true;
        }
    }
    return signedDistance(polygon_, cv::Point2f(p)) < -by_;
}

namespace {

// Pixel indices to continuous coordinates, where pixel centres sit at half-integers.
std::vector<cv::Point2d> centres(const std::vector<cv::Point>& points) {
    std::vector<cv::Point2d> out;
    for (const cv::Point& p : points) {
        out.emplace_back(p.x + 0.5, p.y + 0.5);
    }
    return out;
}

std::optional<Corners> fitToOutline(const std::vector<cv::Point>& contour,
                                    const std::optional<Corners>& rough);

}  // namespace

std::optional<Corners> quadFromContour(const std::vector<cv::Point>& contour, const std::vector<cv::Point>& hull) {
    if (contour.size() < 4) {
        return std::nullopt;
    }
    const double length = cv::arcLength(hull, true);
    double low = 0.002 * length, high = 0.2 * length;
    std::vector<cv::Point> approx;
    std::optional<std::vector<cv::Point>> four;
    for (int i = 0; i < 24 && !four; ++i) {
        const double epsilon = (low + high) / 2;
        cv::approxPolyDP(hull, approx, epsilon, true);
        if (approx.size() == 4) {
            four = approx;
        } else if (approx.size() > 4) {
            low = epsilon;
        } else {
            high = epsilon;
        }
    }
    if (!four) {
        return std::nullopt;
    }
    return fitToOutline(contour, orderCorners(centres(*four)));
}

std::optional<Corners> quadWithCutCorners(const std::vector<cv::Point>& contour,
                                          const std::vector<cv::Point>& hull) {
    if (contour.size() < 5) {
        return std::nullopt;
    }
    std::vector<cv::Point> approx;
    const double length = cv::arcLength(hull, true);
    cv::approxPolyDP(hull, approx, 0.01 * length, true);
    if (approx.size() < 5 || approx.size() > 6) {
        return std::nullopt;
    }
    std::vector<cv::Point2d> poly = centres(approx);
    while (poly.size() > 4) {
        const size_t n = poly.size();
        auto edge = [&](size_t i) { return cv::norm(poly[(i + 1) % n] - poly[i]); };
        size_t cut = 0;
        for (size_t i = 1; i < n; ++i) {
            cut = edge(i) < edge(cut) ? i : cut;
        }
        // A corner cut off is short beside the sides it joins; a short side of the sheet is not.
        const size_t before = (cut + n - 1) % n, after = (cut + 1) % n;
        if (edge(cut) > 0.4 * std::min(edge(before), edge(after))) {
            return std::nullopt;
        }
        const cv::Point2d a = poly[before], b = poly[cut], c = poly[after], d = poly[(cut + 2) % n];
        const double denom = cross(b - a, d - c);
        if (std::abs(denom) < 1e-9) {
            return std::nullopt;
        }
        const cv::Point2d corner = a + (b - a) * (cross(c - a, d - c) / denom);
        // The two sides must meet close by, not far beyond the cut.
        if (cv::norm(corner - (b + c) * 0.5) > 1.5 * edge(cut)) {
            return std::nullopt;
        }
        poly[cut] = corner;
        poly.erase(poly.begin() + std::ptrdiff_t(after));
    }
    return fitToOutline(contour, orderCorners(poly));
}

namespace {

// Each side moved onto the straight run of outline points along it.
std::optional<Corners> fitToOutline(const std::vector<cv::Point>& contour,
                                    const std::optional<Corners>& rough) {
    if (!rough) {
        return std::nullopt;
    }

    // Simplification puts corners on outline points; straight runs of the outline say better
    // where the sides are, which matters for corners rounded or clipped by the threshold.
    std::array<Line, 4> lines;
    for (int side = 0; side < 4; ++side) {
        const Line rough_line = sideLine(*rough, side);
        const double len = sideLength(*rough, side);
        const double band = std::max(2.0, 0.02 * len);
        std::vector<cv::Point2f> near;
        for (const cv::Point& p : contour) {
            const cv::Point2d centre(p.x + 0.5, p.y + 0.5);
            const cv::Point2d v = centre - rough_line.point;
            const double along = v.dot(rough_line.dir);
            if (along > 0.1 * len && along < 0.9 * len && std::abs(cross(v, rough_line.dir)) <= band) {
                near.emplace_back(float(centre.x), float(centre.y));
            }
        }
        const auto fitted = near.size() >= 5 ? fitLine(near) : std::nullopt;
        lines[side] = fitted ? *fitted : rough_line;
    }
    const auto fitted = cornersFromLines(lines);
    if (fitted && closeTo(*fitted, *rough, 0.1 * perimeter(*rough))) {
        return fitted;
    }
    return rough;
}

}  // namespace

Corners refineCorners(const cv::Mat& image, const Corners& c, double searchRadius, const std::array<bool, 4>& fixed) {
    const LumaSampler luma(image);
    const int radius = std::max(2, int(std::lround(searchRadius)));
    std::array<Line, 4> lines;
    for (int side = 0; side < 4; ++side) {
        const auto points = fixed[side] ? std::vector<cv::Point2f>() : stepPoints(luma, c, side, radius);
        const auto fitted = points.empty() ? std::nullopt : robustSide(points);
        lines[side] = fitted ? *fitted : sideLine(c, side);
    }
    const auto refined = cornersFromLines(lines);
    if (!refined || !closeTo(*refined, c, 3.0 * radius)) {
        return c;
    }
    return *refined;
}

}  // namespace vellumora::scan
