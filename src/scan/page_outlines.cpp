// Where outlines of the sheet come from. Four sources, because each fails somewhere: regions
// brighter and greyer than a threshold (split by shadows and merged with bright clutter),
// colourless regions (merged with a grey desk), closed loops of edges (broken by shadows and
// thumbs), and quadrilaterals of long straight brightness steps, with the frame's border
// standing in for sides beyond it (lost among many edges). A region's corner that is curled over
// or under a thumb is carried on from its sides, and two outlines a shadow's edge splits the
// sheet into are joined.

#include "scan/page_search.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <optional>
#include <string_view>
#include <utility>

namespace vellumora::scan {

namespace {

constexpr const char* kStraightEdges = "straight edges";

// A straight edge: a line with the span of it that edges were found along.
struct Edge {
    cv::Point2d point;  // on the line
    cv::Point2d dir;    // unit
    double from = 0, to = 0;  // span along dir from point
    double support = 0;       // length of edge segments on it
    bool border = false;
    std::vector<std::pair<cv::Point2d, cv::Point2d>> pieces;  // the segments found along it
    bool stretch = false;  // a stretch of pieces lined up by chance with others
    cv::Point2d start() const { return point + dir * from; }
    cv::Point2d end() const { return point + dir * to; }
};

// Whether no outline yet has its corners within a pixel or two of these.
bool isNew(const std::vector<Outline>& out, const Corners& c) {
    return std::none_of(out.begin(), out.end(), [&](const Outline& o) {
        for (int i = 0; i < 4; ++i) {
            if (cv::norm(o.corners[i] - c[i]) > 2.0) {
                return false;
            }
        }
        return true;
    });
}

void addQuad(std::vector<Outline>& out, const std::vector<cv::Point>& contour, double minArea, const char* source) {
    const double inside = cv::contourArea(contour);
    if (inside < minArea) {
        return;
    }
    std::vector<cv::Point> hull;
    cv::convexHull(contour, hull);
    for (const auto& corners : {quadFromContour(contour, hull), quadWithCutCorners(contour, hull)}) {
        // Notches from fingers or a curled corner are fine; much more and the region is not a quad.
        if (corners && inside >= 0.8 * area(*corners) && isNew(out, *corners)) {
            out.push_back({*corners, source});
        }
    }
}

// The outlines of the regions of a mask. Closing first erases the drawing's lines from the
// paper; opening then cuts thin bridges to other bright things touching the sheet.
void regionOutlines(cv::Mat& mask, const char* source, std::vector<Outline>& out) {
    const int k = std::max(3, (std::max(mask.cols, mask.rows) / 100) | 1);
    const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(k, k));
    cv::morphologyEx(mask, mask, cv::MORPH_CLOSE, kernel);
    cv::morphologyEx(mask, mask, cv::MORPH_OPEN, kernel);
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(mask, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
    for (const auto& contour : contours) {
        addQuad(out, contour, 0.02 * double(mask.total()), source);
    }
}

void paperRegions(const WorkingImage& image, std::vector<Outline>& out) {
    cv::Mat mask;
    const double otsu = cv::threshold(image.paper, mask, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
    // Uneven light makes any single threshold cut off part of the paper or spill onto a bright
    // desk; a few thresholds each offer their outlines.
    for (double offset : {0.0, -24.0, 24.0, 48.0}) {
        const double t = otsu + offset;
        if (t <= 0 || t >= 255) {
            continue;
        }
        cv::threshold(image.paper, mask, t, 255, cv::THRESH_BINARY);
        regionOutlines(mask, "paper region", out);
    }
}

// Shade darkens paper down to a desk's brightness, but leaves it colourless: a region of
// colourless pixels, not too dark to tell colour from noise, holds the sheet in light and shade
// alike, on any desk with some colour.
void colourlessRegions(const WorkingImage& image, std::vector<Outline>& out) {
    const cv::Mat lit = image.lightness >= 0.25 * image.paperWhite;
    for (double most : {40.0, kTintedPaper}) {
        cv::Mat mask = (image.saturation < most) & lit;
        regionOutlines(mask, "colourless region", out);
    }
}

// Canny edges thickened a little, so that small gaps close.
cv::Mat edgeMap(const WorkingImage& image) {
    // Contrast evened out region by region first, so that a sheet's edge in deep shade, a small
    // step in lightness, is found as well as one in light.
    cv::Mat even, edges;
    cv::createCLAHE(2.5, cv::Size(6, 6))->apply(image.lightness, even);
    cv::Canny(even, edges, 20, 60);
    cv::dilate(edges, edges, cv::Mat());
    return edges;
}

void edgeLoops(const std::vector<std::vector<cv::Point>>& contours, double minArea, std::vector<Outline>& out) {
    for (const auto& contour : contours) {
        addQuad(out, contour, minArea, "closed edge");
    }
}

// The side of the line through a and b that it steps down from.
cv::Point2d towardsBrightSide(cv::Point2d a, cv::Point2d b, const BothWays& steps) {
    const cv::Point2d dir = (b - a) / std::max(1e-9, cv::norm(b - a));
    const bool fromRight = steps.forth.value_or(Steps()).share >= steps.back.value_or(Steps()).share;
    return fromRight ? cv::Point2d(-dir.y, dir.x) : cv::Point2d(dir.y, -dir.x);
}

// How much colour lowers the paper measure just to one side of a line. Shade darkens paper, but
// leaves it colourless: its paper measure stays its lightness.
double colourAlong(const WorkingImage& image, cv::Point2d a, cv::Point2d b, cv::Point2d towards) {
    return insideAlong(image.lightness, a, b, towards) - insideAlong(image.paper, a, b, towards);
}
constexpr double kColourful = 20.0;

// Whether what an edge steps down from may be paper, if in deep shade: a step from a colourful
// card, book or screen to its darker border or the desk, or from something near black, is not a
// sheet's edge.
bool paperOnBrightSide(const WorkingImage& image, cv::Point2d a, cv::Point2d b, const BothWays& steps) {
    const cv::Point2d inward = towardsBrightSide(a, b, steps);
    constexpr double kNearBlack = 36.0;
    return insideAlong(image.paper, a, b, inward) >= kNearBlack && colourAlong(image, a, b, inward) < kColourful;
}

// The pieces of an edge that lie closely on one line, in stretches without gaps wider than `gap`
// that are at least twice that long, each fitted to its own pieces; none when that leaves the
// edge whole. Pieces lined up by chance (the sheet's edge, a line drawn beside it, a shadow's
// edge, another object's beyond it) make an edge that steps only in part.
std::vector<Edge> splitEdge(const Edge& e, double gap) {
    constexpr double kClose = 2.5;
    std::vector<size_t> order(e.pieces.size());
    std::iota(order.begin(), order.end(), size_t{0});
    auto length = [&](size_t i) { return cv::norm(e.pieces[i].second - e.pieces[i].first); };
    std::sort(order.begin(), order.end(), [&](size_t x, size_t y) { return length(x) > length(y); });
    std::vector<std::vector<size_t>> lines;
    for (size_t i : order) {
        const auto& [a, b] = e.pieces[i];
        auto near = [&](const std::vector<size_t>& line) {
            const auto& [p, q] = e.pieces[line.front()];
            const cv::Point2d d = (q - p) / std::max(1e-9, cv::norm(q - p));
            return std::abs(cross(a - p, d)) <= kClose && std::abs(cross(b - p, d)) <= kClose;
        };
        const auto line = std::find_if(lines.begin(), lines.end(), near);
        if (line == lines.end()) {
            lines.push_back({i});
        } else {
            line->push_back(i);
        }
    }
    std::vector<std::vector<size_t>> runs;
    for (const auto& line : lines) {
        std::vector<std::pair<double, size_t>> starts;
        for (size_t i : line) {
            const auto& [a, b] = e.pieces[i];
            starts.emplace_back(std::min((a - e.point).dot(e.dir), (b - e.point).dot(e.dir)), i);
        }
        std::sort(starts.begin(), starts.end());
        double reach = -1e300;
        bool first = true;
        for (const auto& [start, i] : starts) {
            if (first || start > reach + gap) {
                runs.emplace_back();
                first = false;
            }
            runs.back().push_back(i);
            const auto& [a, b] = e.pieces[i];
            reach = std::max({reach, (a - e.point).dot(e.dir), (b - e.point).dot(e.dir)});
        }
    }
    std::vector<Edge> parts;
    if (runs.size() < 2) {
        return parts;
    }
    for (const auto& run : runs) {
        std::vector<cv::Point2f> ends;
        double support = 0;
        for (size_t i : run) {
            const auto& [a, b] = e.pieces[i];
            ends.emplace_back(a);
            ends.emplace_back(b);
            support += length(i);
        }
        cv::Vec4f line;
        cv::fitLine(ends, line, cv::DIST_L2, 0, 0.01, 0.01);
        Edge part{cv::Point2d(line[2], line[3]),
                  cv::Point2d(line[0], line[1]),
                  1e300,
                  -1e300,
                  support,
                  false,
                  {},
                  true};
        for (const auto& p : ends) {
            const double t = (cv::Point2d(p) - part.point).dot(part.dir);
            part.from = std::min(part.from, t);
            part.to = std::max(part.to, t);
        }
        if (part.to - part.from >= 2 * gap) {
            parts.push_back(part);
        }
    }
    return parts;
}

// Whether the segment from a to b lies along the edge's line, its ends within `off` of it.
bool liesOn(const Edge& e, cv::Point2d a, cv::Point2d b, double turn = 0.06, double off = 4.0) {
    const cv::Point2d dir = (b - a) / std::max(1e-9, cv::norm(b - a));
    return std::abs(cross(dir, e.dir)) < turn && std::abs(cross(a - e.point, e.dir)) < off &&
           std::abs(cross(b - e.point, e.dir)) < off;
}

bool alongAny(const std::vector<Edge>& edges, cv::Point2d a, cv::Point2d b, double turn, double off) {
    return std::any_of(edges.begin(), edges.end(), [&](const Edge& e) { return liesOn(e, a, b, turn, off); });
}

// The share of the side from a to b that runs along edge pixels, within a pixel.
double onEdgeMap(const cv::Mat& edgePixels, cv::Point2d a, cv::Point2d b) {
    const cv::Point2d dir = (b - a) / std::max(1e-9, cv::norm(b - a)), across(-dir.y, dir.x);
    constexpr int n = 32;
    int on = 0;
    for (int i = 0; i < n; ++i) {
        const cv::Point2d p = alongSide(a, b, i, n);
        for (double d : {-1.0, 0.0, 1.0}) {
            if (sampleAt(edgePixels, p + across * d).value_or(0) >= 128) {
                ++on;
                break;
            }
        }
    }
    return double(on) / n;
}

// A sheet's edge against grained wood or a patterned cloth breaks into pieces too short to be
// edges, while the paper region still ends along it in a clean line of edge pixels: such a side
// of a region, stepping down from paper to colour, stands in for the edge, a few at most. (A
// region's side that cuts across a pale object touching the sheet has no edge along the cut; past
// a shadow's edge across the sheet, or a block of print, lies colourless paper.)
std::vector<Edge> regionSides(const WorkingImage& image, const cv::Mat& edgePixels,
                              const std::vector<Outline>& regions, const std::vector<Edge>& found) {
    const cv::Size size = image.paper.size();
    // Nothing else vouches for such a side: it must step nearly all along.
    constexpr double kNearlyAll = 0.9;
    std::vector<Edge> sides;
    for (const Outline& o : regions) {
        for (int k = 0; k < 4; ++k) {
            const cv::Point2d a = o.corners[k], b = o.corners[(k + 1) % 4];
            const double length = cv::norm(b - a);
            // Only where no edge was found near it, however skewed: elsewhere outlines of the
            // edges found are already proposed, and one more line close by only adds outlines
            // that differ by a sliver.
            if (length < 2 * shortestEdge(size) || alongBorder(a, b, size) ||
                alongAny(found, a, b, 0.1, 0.03 * std::min(size.width, size.height)) ||
                alongAny(sides, a, b, 0.06, 4.0)) {
                continue;
            }
            const BothWays both = stepsBothWays(image, a, b);
            const double share = both.share();
            if (share >= kNearlyAll && paperOnBrightSide(image, a, b, both) &&
                colourAlong(image, a, b, -towardsBrightSide(a, b, both)) >= kColourful &&
                onEdgeMap(edgePixels, a, b) >= kNearlyAll) {
                sides.push_back({a, (b - a) / length, 0, length, share * length, false, {}, true});
            }
        }
    }
    constexpr size_t kMaxSides = 4;
    std::sort(sides.begin(), sides.end(), [](const Edge& x, const Edge& y) { return x.support > y.support; });
    sides.resize(std::min(sides.size(), kMaxSides));
    return sides;
}

std::vector<Edge> straightEdges(const WorkingImage& image, const cv::Mat& edgePixels,
                                const std::vector<std::vector<cv::Point>>& contours,
                                const std::vector<Outline>& regions) {
    const cv::Size size = image.paper.size();
    const double minSegment = shortestEdge(size);
    struct Segment {
        cv::Point2d a, b;
        double length;
    };
    std::vector<Segment> segments;
    for (const auto& contour : contours) {
        if (cv::arcLength(contour, true) < 2 * minSegment) {
            continue;
        }
        std::vector<cv::Point> poly;
        cv::approxPolyDP(contour, poly, 1.5, true);
        for (size_t i = 0; i < poly.size(); ++i) {
            const cv::Point2d a(poly[i].x + 0.5, poly[i].y + 0.5);
            const cv::Point2d b(poly[(i + 1) % poly.size()].x + 0.5, poly[(i + 1) % poly.size()].y + 0.5);
            const double length = cv::norm(b - a);
            if (length >= minSegment) {
                segments.push_back({a, b, length});
            }
        }
    }
    std::sort(segments.begin(), segments.end(), [](const Segment& x, const Segment& y) { return x.length > y.length; });

    // Collinear segments (both sides of a thickened edge, pieces of an edge broken by a thumb)
    // make one edge.
    std::vector<Edge> edges;
    for (const Segment& s : segments) {
        const cv::Point2d dir = (s.b - s.a) / s.length;
        const auto on =
            std::find_if(edges.begin(), edges.end(), [&](const Edge& e) { return liesOn(e, s.a, s.b); });
        Edge* match = on == edges.end() ? nullptr : &*on;
        if (!match) {
            edges.push_back({s.a, dir, 0, 0, 0, false, {}});
            match = &edges.back();
        }
        const double ta = (s.a - match->point).dot(match->dir), tb = (s.b - match->point).dot(match->dir);
        match->from = std::min({match->from, ta, tb});
        match->to = std::max({match->to, ta, tb});
        match->support += s.length;
        match->pieces.emplace_back(s.a, s.b);
    }
    // Only steps between surfaces, either way, along as much of them as a side needs: drawn
    // lines and lines of text are not the sheet's edge.
    std::vector<Edge> steps, parts;
    std::vector<std::pair<double, const Edge*>> unsplit;  // with the length along which each steps
    for (Edge& e : edges) {
        const cv::Point2d a = e.start(), b = e.end();
        const BothWays both = stepsBothWays(image, a, b);
        double stepping = both.share();
        if (stepping >= kMinSideSupport && !paperOnBrightSide(image, a, b, both)) {
            continue;
        }
        // A sheet's edge just inside the frame leaves little room to see past it. Where there is
        // room it must step; then it stands in for the frame's border, counting half as that
        // does, and is judged as a side the frame cuts. Where there is none, the strip between it
        // and the frame must be darker than the paper nearly all along: nothing else vouches for it.
        if (!both.forth && !both.back && judgeableLength(a, b, size) < 0.15 * std::min(size.width, size.height)) {
            const auto room = partSeenPast(a, b, size);
            if (room && cv::norm(room->second - room->first) >= minSegment) {
                const auto [from, to] = *room;
                stepping = stepsBothWays(image, from, to).share() >= kMinSideSupport ? 0.5 : 0.0;
            } else if (!room) {
                constexpr double kNearlyAll = 0.8;
                stepping = stepToFrame(image, a, b).value_or(0.0) >= kNearlyAll ? 0.5 : 0.0;
            }
        }
        if (stepping >= kMinSideSupport) {
            e.support *= stepping;
            steps.push_back(e);
            continue;
        }
        unsplit.emplace_back(e.support * stepping, &e);
    }
    // Each stretch costs two looks along it: only the lines that step along the most are split.
    constexpr size_t kMaxSplit = 4;
    std::sort(unsplit.begin(), unsplit.end(), [](const auto& x, const auto& y) { return x.first > y.first; });
    unsplit.resize(std::min(unsplit.size(), kMaxSplit));
    for (const auto& [stepped, e] : unsplit) {
        for (Edge& part : splitEdge(*e, minSegment)) {
            const BothWays both = stepsBothWays(image, part.start(), part.end());
            const double share = both.share();
            if (share >= kMinSideSupport && paperOnBrightSide(image, part.start(), part.end(), both)) {
                part.support *= share;
                parts.push_back(part);
            }
        }
    }
    // Stretches of edges lined up by chance come after the whole edges, a few at most: they must
    // not crowd out an edge found whole.
    auto bySupport = [](const Edge& x, const Edge& y) { return x.support > y.support; };
    std::sort(steps.begin(), steps.end(), bySupport);
    std::sort(parts.begin(), parts.end(), bySupport);
    // Two dark boxes and a card on the desk bring a dozen edges and more that step more clearly
    // than a sheet's side in shade.
    constexpr size_t kMaxEdges = 20, kMaxParts = 4;
    if (steps.size() > kMaxEdges) {
        steps.resize(kMaxEdges);
    }
    steps.insert(steps.end(), parts.begin(),
                 parts.begin() + std::ptrdiff_t(std::min(parts.size(), kMaxParts)));
    const std::vector<Edge> sides = regionSides(image, edgePixels, regions, edges);
    steps.insert(steps.end(), sides.begin(), sides.end());
    const double w = size.width, h = size.height;
    steps.push_back({{0, 0}, {1, 0}, 0, w, w, true, {}});
    steps.push_back({{0, h}, {1, 0}, 0, w, w, true, {}});
    steps.push_back({{0, 0}, {0, 1}, 0, h, h, true, {}});
    steps.push_back({{w, 0}, {0, 1}, 0, h, h, true, {}});
    return steps;
}

std::optional<cv::Point2d> meet(const Edge& a, const Edge& b) {
    return meetOfLines(a.point, a.dir, b.point, b.dir, 1e-6);
}

// How much of the side from p to q its edge's span covers. The frame's border covers half: an
// outline the frame cuts is less likely than one in view.
double covered(const Edge& e, cv::Point2d p, cv::Point2d q) {
    if (e.border) {
        return 0.5;
    }
    const double tp = (p - e.point).dot(e.dir), tq = (q - e.point).dot(e.dir);
    const double lo = std::min(tp, tq), hi = std::max(tp, tq);
    return hi > lo ? std::max(0.0, std::min(hi, e.to) - std::max(lo, e.from)) / (hi - lo) : 0.0;
}

// Quadrilaterals of two roughly opposite pairs of edges, the best covered first.
void edgeQuads(const std::vector<Edge>& edges, cv::Size size, std::vector<Outline>& out) {
    const double minSide = 0.15 * std::min(size.width, size.height);
    std::vector<std::pair<int, int>> pairs;
    for (int i = 0; i < int(edges.size()); ++i) {
        for (int j = i + 1; j < int(edges.size()); ++j) {
            if (std::abs(cross(edges[i].dir, edges[j].dir)) < std::sin(35.0 * CV_PI / 180) &&
                std::abs(cross(edges[j].point - edges[i].point, edges[i].dir)) >= minSide) {
                pairs.emplace_back(i, j);
            }
        }
    }
    // Quadrilaterals with a stretch of an edge are kept apart, a few at most, so as not to crowd
    // out those of whole edges.
    struct Found {
        bool stretch;
        double mean;
        Corners corners;
    };
    std::vector<Found> found;
    for (size_t p = 0; p < pairs.size(); ++p) {
        for (size_t q = p + 1; q < pairs.size(); ++q) {
            const auto [a, b] = pairs[p];
            const auto [c, d] = pairs[q];
            if (a == c || a == d || b == c || b == d ||
                std::abs(cross(edges[a].dir, edges[c].dir)) < std::sin(50.0 * CV_PI / 180)) {
                continue;
            }
            if (edges[a].border && edges[b].border && edges[c].border && edges[d].border) {
                continue;  // the whole frame is judged on its own
            }
            const auto ac = meet(edges[a], edges[c]), cb = meet(edges[c], edges[b]);
            const auto bd = meet(edges[b], edges[d]), da = meet(edges[d], edges[a]);
            if (!ac || !cb || !bd || !da) {
                continue;
            }
            const auto corners = orderCorners({*ac, *cb, *bd, *da});
            if (!corners) {
                continue;
            }
            const double coverage[] = {covered(edges[a], *da, *ac), covered(edges[c], *ac, *cb),
                                       covered(edges[b], *cb, *bd), covered(edges[d], *bd, *da)};
            const double worst = *std::min_element(std::begin(coverage), std::end(coverage));
            const double mean = (coverage[0] + coverage[1] + coverage[2] + coverage[3]) / 4;
            // Sides may meet beyond the frame in a close-up, but most of the sheet is in view.
            if (worst >= 0.3 && std::min({sideLength(*corners, 0), sideLength(*corners, 1)}) >= minSide &&
                areaInFrame(*corners, size) >= 0.5 * area(*corners)) {
                const bool stretch =
                    edges[a].stretch || edges[b].stretch || edges[c].stretch || edges[d].stretch;
                found.push_back({stretch, mean, *corners});
            }
        }
    }
    std::sort(found.begin(), found.end(), [](const Found& x, const Found& y) { return x.mean > y.mean; });
    constexpr size_t kMaxWhole = 20, kMaxStretched = 6;
    size_t whole = 0, stretched = 0;
    for (const Found& f : found) {
        size_t& kept = f.stretch ? stretched : whole;
        if (kept >= (f.stretch ? kMaxStretched : kMaxWhole) || !isNew(out, f.corners)) {
            continue;
        }
        out.push_back({f.corners, kStraightEdges});
        ++kept;
    }
}

// Whether the corners are the frame's own: the whole frame is judged on its own.
bool isFrame(const Corners& c, cv::Size size, double near) {
    const double w = size.width, h = size.height;
    const Corners frame{cv::Point2d(0, 0), cv::Point2d(w, 0), cv::Point2d(w, h), cv::Point2d(0, h)};
    for (int i = 0; i < 4; ++i) {
        if (cv::norm(c[i] - frame[i]) > near) {
            return false;
        }
    }
    return true;
}

// A shadow's edge across the sheet splits its regions into a lit outline and a shaded one, each
// with the shadow's edge for a side. Two such outlines that share a side from opposite sides of
// it, their other sides running on straight across its ends, are one sheet. (Quadrilaterals of
// straight edges are made across any such split already; joining them would only mix lines.)
void joinAcrossSharedSides(std::vector<Outline>& out, cv::Size size) {
    const double near = 0.02 * std::min(size.width, size.height);
    const size_t proposed = out.size();
    auto ofRegion = [&](size_t i) { return std::string_view(out[i].source) != kStraightEdges; };
    for (size_t i = 0; i < proposed; ++i) {
        if (!ofRegion(i)) {
            continue;
        }
        for (size_t j = i + 1; j < proposed; ++j) {
            if (!ofRegion(j)) {
                continue;
            }
            // Copies: what is joined goes onto `out`, which may move its outlines.
            const Corners p = out[i].corners, q = out[j].corners;
            for (int k = 0; k < 4; ++k) {
                for (int m = 0; m < 4; ++m) {
                    // Both clockwise, so a shared side runs one way in one and back in the other.
                    const cv::Point2d a = p[k], b = p[(k + 1) % 4];
                    if (cv::norm(a - q[(m + 1) % 4]) > near || cv::norm(b - q[m]) > near) {
                        continue;
                    }
                    const cv::Point2d pa = p[(k + 3) % 4], pb = p[(k + 2) % 4];
                    const cv::Point2d qa = q[(m + 2) % 4], qb = q[(m + 3) % 4];
                    if (cross(b - a, pa - a) * cross(b - a, qa - a) >= 0 ||
                        cross(b - a, pb - a) * cross(b - a, qb - a) >= 0) {
                        continue;  // one lies over the other
                    }
                    if (std::max(distanceFromLine(a, pa, qa), distanceFromLine(q[(m + 1) % 4], pa, qa)) > near ||
                        std::max(distanceFromLine(b, pb, qb), distanceFromLine(q[m], pb, qb)) > near) {
                        continue;
                    }
                    const auto corners = orderCorners({pa, qa, qb, pb});
                    if (corners && !isFrame(*corners, size, near) && isNew(out, *corners)) {
                        out.push_back({*corners, "joined outlines"});
                    }
                }
            }
        }
    }
}

}  // namespace

std::vector<Outline> proposeOutlines(const WorkingImage& image) {
    std::vector<Outline> out;
    paperRegions(image, out);
    colourlessRegions(image, out);
    const cv::Mat edges = edgeMap(image);
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(edges, contours, cv::RETR_LIST, cv::CHAIN_APPROX_NONE);
    edgeLoops(contours, 0.02 * double(image.paper.total()), out);
    edgeQuads(straightEdges(image, edges, contours, out), image.paper.size(), out);
    joinAcrossSharedSides(out, image.paper.size());
    return out;
}

}  // namespace vellumora::scan
