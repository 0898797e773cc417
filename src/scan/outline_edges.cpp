// Edges between two outlines, told apart by what a camera sees on either side of them and past
// their ends.

#include "scan/outline_edges.h"

#include "scan/quad_geometry.h"
#include "scan/side_measures.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

namespace vellumora::scan {

namespace {

// `inner`'s sides told apart: how sharply those it shares with `outer` step, and which cross
// `outer`'s inside.
struct NestedSides {
    std::vector<double> sharedSharpness;
    std::vector<int> crossing;
};

NestedSides nestedSides(const cv::Mat& lightness, const Corners& outer, const Corners& inner) {
    const auto polygon = polygonOf(outer);
    NestedSides sides;
    for (int side = 0; side < 4; ++side) {
        const cv::Point2d a = inner[side], b = inner[(side + 1) % 4];
        if (signedDistance(polygon, cv::Point2f((a + b) * 0.5)) < 4.0) {
            if (const auto s = sharpness(lightness, a, b)) sides.sharedSharpness.push_back(*s);
        } else {
            sides.crossing.push_back(side);
        }
    }
    return sides;
}

// How a side from a to b that crosses another outline's inside looks from outside it.
struct Crossing {
    cv::Point2d a, b, outward;
    std::optional<Shade> across;  // the shade past it, along its middle

    Crossing(const WorkingImage& image, cv::Point2d from, cv::Point2d to) : a(from), b(to) {
        const cv::Point2d dir = (b - a) / std::max(1e-9, cv::norm(b - a));
        outward = cv::Point2d(dir.y, -dir.x);
        across = shadeAlong(image, a + (b - a) * 0.2, a + (b - a) * 0.8, outward);
    }
    bool shades() const { return across && across->median <= 0.85; }

    // A shadow darkens whatever it falls on by the same ratio: across the side, and across its
    // continuation over the desk beyond the corners. Whether that continuation was seen at all,
    // and whether it steps as the side does.
    struct Past {
        bool seen = false, goesOn = false;
    };
    Past past(const WorkingImage& image) const {
        const cv::Point2d reach = (b - a) * 0.3, skip = (b - a) * 0.04;
        Past result;
        for (const auto& [from, to] : {std::pair(b + skip, b + reach), std::pair(a - skip, a - reach)}) {
            const auto beyond = shadeAlong(image, from, to, outward, across->median);
            result.seen = result.seen || beyond.has_value();
            if (beyond && beyond->matching >= 0.5) {
                result.goesOn = true;
                return result;
            }
        }
        return result;
    }
};

// The positions (in samples) of thin dark lines across a row of lightness: darker than the
// paper close on either side (or than the ramp between, in a shadow's soft edge) by a share that
// shade does not change (lightness is near a power of luminance, which shade scales). The edge of
// something darker lying across the row is no line: past it the paper does not come back.
std::vector<int> linesAcross(const std::vector<double>& row) {
    constexpr int kWidth = 8;  // samples either side within which the paper comes back
    constexpr double kDepth = 0.12, kEven = 1.0 / 3;
    std::vector<double> depth(row.size(), 0.0);
    for (size_t i = kWidth; i + kWidth < row.size(); ++i) {
        for (size_t k = 2; k <= kWidth; ++k) {
            const double left = row[i - k] - row[i], right = row[i + k] - row[i];
            const double paper = (row[i - k] + row[i + k]) / 2;
            const double d = (paper - row[i]) / std::max(1.0, paper);
            // Never for a missing sample (NaN).
            if (d > depth[i] && std::min(left, right) >= kEven * std::max(left, right)) depth[i] = d;
        }
    }
    std::vector<int> found;
    for (size_t i = 1; i + 1 < row.size(); ++i) {
        if (depth[i] >= kDepth && depth[i] >= depth[i - 1] && depth[i] > depth[i + 1]) {
            found.push_back(int(i));
        }
    }
    return found;
}

// With rows `gap` pixels apart, so that they span the same width at any size.
bool linesRunAcrossAt(const cv::Mat& lightness, cv::Point2d a, cv::Point2d b, double gap) {
    const double length = cv::norm(b - a);
    const cv::Point2d dir = (b - a) / std::max(1e-9, length), outward(dir.y, -dir.x);
    // Rows along the side, from well inside to well outside it, a sample every half pixel.
    constexpr int kReach = 6, kLines = 2;
    constexpr double kStride = 0.5;
    const int n = int(0.9 * length / kStride);
    std::vector<std::vector<int>> rows;
    std::vector<double> values(size_t(std::max(0, n)));
    for (int r = -kReach; r <= kReach; ++r) {
        for (int i = 0; i < n; ++i) {
            const auto v = sampleAt(lightness, a + (b - a) * 0.05 + dir * (i * kStride) + outward * (r * gap));
            // Outside the picture is no sample, not black: black there would read as a line
            // wherever a row leaves the frame.
            values[size_t(i)] = v.value_or(std::numeric_limits<double>::quiet_NaN());
        }
        rows.push_back(linesAcross(values));
        // Too few lines reach the side from inside: none can run on across it.
        if (rows.front().size() < size_t(kLines)) {
            return false;
        }
    }
    // A line is followed from row to row while it moves along by at most two pixels for each pixel
    // between rows (lines that cross the side more steeply than about 25 degrees), over a row
    // where it fades at most, the farthest too: in deep shade a line sinks into the camera's noise.
    const double kShift = 4 * gap;
    int across = 0;
    for (int start : rows.front()) {
        int at = start, missed = 0;
        for (size_t r = 1; r < rows.size() && missed < 2; ++r) {
            const auto next = std::min_element(rows[r].begin(), rows[r].end(),
                                               [&](int x, int y) { return std::abs(x - at) < std::abs(y - at); });
            if (next != rows[r].end() && std::abs(*next - at) <= kShift * (missed + 1)) {
                at = *next;
                missed = 0;
            } else {
                ++missed;
            }
        }
        across += missed <= 1 ? 1 : 0;
    }
    return across >= kLines;
}

}  // namespace

bool linesRunAcross(const WorkingImage& image, cv::Point2d a, cv::Point2d b) {
    if (linesRunAcrossAt(image.lightness, a, b, 1.0)) {
        return true;
    }
    // A thin line far from the camera fades into the paper at the working size.
    const double k = image.detailPerWorking();
    return k > 1.5 && linesRunAcrossAt(image.detail(), a * k, b * k, k);
}

ShadowEdge shadowEdgeInside(const WorkingImage& image, const Corners& outer, const Corners& inner) {
    const cv::Mat& lightness = image.lightness;
    const NestedSides sides = nestedSides(lightness, outer, inner);
    ShadowEdge found = ShadowEdge::none;
    for (int side : sides.crossing) {
        const Crossing crossing(image, inner[side], inner[(side + 1) % 4]);
        if (!crossing.shades()) {
            continue;
        }
        if (linesRunAcross(image, crossing.a, crossing.b)) {
            return ShadowEdge::linesRunOn;
        }
        if (found != ShadowEdge::none) {
            continue;
        }
        // Paper and desk meet in a step only the camera's blur softens; a shadow's penumbra is
        // far wider.
        constexpr double kSofter = 0.6;
        const auto here = sharpness(lightness, crossing.a, crossing.b);
        const auto& shared = sides.sharedSharpness;
        if (here && shared.size() >= 2 && *here < kSofter * percentile(shared, 0.5)) {
            found = ShadowEdge::soft;
        } else if (crossing.past(image).goesOn) {
            found = ShadowEdge::goesOn;
        }
    }
    return found;
}

bool ownEdgeInside(const WorkingImage& image, const Corners& outer, const Corners& inner, const Judgement& j,
                   double clearAs, EndsOutOfView endsOutOfView) {
    const cv::Mat& lightness = image.lightness;
    const NestedSides sides = nestedSides(lightness, outer, inner);
    // One shared side is enough to compare with: an outline reaching the frame on three sides
    // across a lit desk may keep only one of the sheet's.
    if (sides.sharedSharpness.empty() || sides.crossing.empty()) {
        return false;
    }
    constexpr double kAsSharp = 0.8;
    for (int side : sides.crossing) {
        const Crossing crossing(image, inner[side], inner[(side + 1) % 4]);
        const auto here = sharpness(lightness, crossing.a, crossing.b);
        if (j.steps[size_t(side)] < clearAs || !crossing.shades() || !here ||
            *here < kAsSharp * percentile(sides.sharedSharpness, 0.5)) {
            return false;
        }
        const Crossing::Past past = crossing.past(image);
        if (past.goesOn) {
            return false;
        }
        // Where the frame hides what lies past its corners, a shadow's edge still shows where the
        // drawing runs on across it.
        if (!past.seen && (endsOutOfView == EndsOutOfView::unknown ||
                           linesRunAcross(image, crossing.a, crossing.b))) {
            return false;
        }
    }
    return true;
}

bool sidesGoOnOverDesk(const WorkingImage& image, const Corners& outer, const Corners& inner) {
    const auto polygon = polygonOf(inner);
    constexpr int n = 24;
    constexpr double kNear = 4.0;
    double sum = 0, length = 0;
    for (int side = 0; side < 4; ++side) {
        const cv::Point2d a = outer[side], b = outer[(side + 1) % 4];
        // The side may run on past both of the inner one's ends: each stretch apart, or the
        // inner one's own edge between them would count as the side going on.
        std::vector<std::pair<double, double>> past;
        int along = 0;
        bool outside = false;
        for (int i = 0; i <= n; ++i) {
            const double t = double(i) / n;
            const double d = signedDistance(polygon, cv::Point2f(a + (b - a) * t));
            along += std::abs(d) <= kNear ? 1 : 0;
            if (d < -kNear) {
                if (!outside) past.emplace_back(t, t);
                past.back().second = t;
            }
            outside = d < -kNear;
        }
        if (along < n / 4 || past.empty() || alongBorder(a, b, image.paper.size())) {
            continue;
        }
        for (const auto& [from, to] : past) {
            const cv::Point2d p = a + (b - a) * from, q = a + (b - a) * to;
            const double stretch = cv::norm(q - p);
            const auto steps = stretch >= 8.0 ? stepSupport(image, p, q) : std::nullopt;
            if (steps) {
                // A sheet going on into shade steps on from the inner one's corner. Along a
                // stretch too short to be an edge of its own, a shadow's edge on the desk meeting
                // the side by chance may step along most of it, but away from the corner.
                double share = steps->share;
                if (stretch < shortestEdge(image.paper.size())) {
                    share = std::min(share, from == 0 ? steps->atEnd : steps->atStart);
                }
                sum += share * stretch;
                length += stretch;
            }
        }
    }
    return sum <= 0.5 * length;
}

bool paperPastEdge(const cv::Mat& paper, const Corners& outer, const Corners& inner, double level) {
    // How far inside `outer` a point lies: the least of its distances in from the sides, as
    // the outline is convex.
    const double turn = cross(outer[1] - outer[0], outer[2] - outer[1]) > 0 ? 1.0 : -1.0;
    auto depth = [&](cv::Point2d q) {
        double least = 1e300;
        for (int k = 0; k < 4; ++k) {
            const cv::Point2d e = outer[(k + 1) % 4] - outer[k];
            least = std::min(least, turn * cross(e, q - outer[k]) / std::max(1e-9, cv::norm(e)));
        }
        return least;
    };
    constexpr int n = 12;
    constexpr double kStride = 1.5, kClearOfEdge = 3.0;
    for (int side = 0; side < 4; ++side) {
        const cv::Point2d a = inner[side], b = inner[(side + 1) % 4];
        if (depth((a + b) * 0.5) < 4.0) {
            continue;
        }
        const cv::Point2d dir = (b - a) / std::max(1e-9, cv::norm(b - a)), outward(dir.y, -dir.x);
        int back = 0;
        for (int i = 0; i < n; ++i) {
            const cv::Point2d p = a + (b - a) * (0.1 + 0.8 * i / (n - 1.0));
            bool dark = false;
            for (double d = kStride;; d += kStride) {
                const cv::Point2d q = p + outward * d;
                if (depth(q) < kClearOfEdge) {
                    break;
                }
                const auto v = sampleAt(paper, q);
                if (!v) {
                    break;
                }
                if (*v < level) {
                    dark = true;
                } else if (dark) {
                    ++back;
                    break;
                }
            }
        }
        if (4 * back >= 3 * n) {
            return true;
        }
    }
    return false;
}

std::optional<std::pair<double, double>> partInside(const Corners& c, cv::Point2d a, cv::Point2d b, double depth) {
    const auto polygon = polygonOf(c);
    constexpr int n = 48;
    std::optional<double> first, last;
    for (int i = 0; i < n; ++i) {
        const double t = (i + 0.5) / n;
        if (signedDistance(polygon, cv::Point2f(a + (b - a) * t)) > depth) {
            first = first.value_or(t);
            last = t;
        }
    }
    if (!first) {
        return std::nullopt;
    }
    return std::pair(*first, *last);
}

bool lightEdgeAcross(const WorkingImage& image, const Corners& outer, const Corners& inner) {
    const double shortest =
        std::min({sideLength(inner, 0), sideLength(inner, 1), sideLength(inner, 2), sideLength(inner, 3)});
    constexpr double kWellInside = 8.0;
    for (int side = 0; side < 4; ++side) {
        const cv::Point2d a = outer[side], b = outer[(side + 1) % 4];
        if (alongBorder(a, b, image.lightness.size())) {
            continue;
        }
        const auto part = partInside(inner, a, b, kWellInside);
        if (!part || (part->second - part->first) * cv::norm(b - a) < 0.3 * shortest) {
            continue;
        }
        const cv::Point2d dir = (b - a) / std::max(1e-9, cv::norm(b - a));
        const auto across = shadeAlong(image, a + (b - a) * part->first, a + (b - a) * part->second,
                                       cv::Point2d(dir.y, -dir.x));
        if (across && across->median <= 0.85) {
            return true;
        }
    }
    return false;
}

}  // namespace vellumora::scan
