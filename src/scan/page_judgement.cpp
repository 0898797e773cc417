// Judging an outline as a sheet of paper. The inside must look like paper: bright and
// colourless, not a card, a book or a screen. Every side within the frame must be a step from
// that paper down to darker or more colourful surroundings, along most of its length: a line
// drawn on the sheet, and the edge of a block of text, have paper beyond them.

#include "scan/outline_edges.h"
#include "scan/page_search.h"
#include "scan/quad_geometry.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <opencv2/imgproc.hpp>

namespace vellumora::scan {

namespace {

// Paper is at least this bright (L of Lab, 0...255, less colour), in shade too; a dark grey
// card is below...
constexpr double kMinPaper = 72.0;
// ...and at least this share of the picture's brightest paper; a dark card is far below.
constexpr double kMinShareOfWhite = 0.45;
// Paper in shade still keeps this share of that.
constexpr double kShadedPaper = 2.0 / 3.0;
// The sides on average must step along this share of their length.
constexpr double kMinMeanSupport = 0.65;

std::string format(const char* pattern, double a, double b = 0) {
    char text[96];
    std::snprintf(text, sizeof text, pattern, a, b);
    return text;
}

// The least paper measure of paper in light.
double paperLevel(const WorkingImage& image) {
    return std::max(kMinPaper, kMinShareOfWhite * image.paperWhite);
}

bool looksLikePaper(const WorkingImage& image, double level) {
    return level >= paperLevel(image);
}

// A measure over the quad's inside, sampled on a grid away from its sides.
template <typename Measure>
std::vector<double> insideGrid(const Corners& c, const Measure& measure) {
    std::vector<double> values;
    constexpr int n = 16;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            const double u = 0.06 + 0.88 * (i + 0.5) / n, v = 0.06 + 0.88 * (j + 0.5) / n;
            const cv::Point2d p = (1 - v) * ((1 - u) * c[0] + u * c[1]) + v * ((1 - u) * c[3] + u * c[2]);
            if (const auto value = measure(p)) {
                values.push_back(*value);
            }
        }
    }
    return values;
}

// The paper measure over the quad's inside.
std::vector<double> insideValues(const cv::Mat& paper, const Corners& c) {
    return insideGrid(c, [&](cv::Point2d p) { return sampleAt(paper, p); });
}

// How far the paper measure falls below the lightness over the quad's inside: nothing for grey,
// twice the colour beyond a paper's tint for the rest.
std::vector<double> insideColour(const WorkingImage& image, const Corners& c) {
    return insideGrid(c, [&](cv::Point2d p) -> std::optional<double> {
        const auto lightness = sampleAt(image.lightness, p), paper = sampleAt(image.paper, p);
        if (!lightness || !paper) {
            return std::nullopt;
        }
        return *lightness - *paper;
    });
}

}  // namespace

bool paperInShade(const WorkingImage& image, double level) {
    return level >= kShadedPaper * paperLevel(image);
}

Judgement judgeOutline(const WorkingImage& image, const Corners& c) {
    Judgement j;
    const cv::Size size = image.paper.size();
    const double shortest =
        std::min({sideLength(c, 0), sideLength(c, 1), sideLength(c, 2), sideLength(c, 3)});
    if (shortest < 0.15 * std::min(size.width, size.height)) {
        j.verdict = "too small";
        return j;
    }
    for (double angle : cornerAngles(c)) {
        if (angle < 35.0 || angle > 145.0) {
            j.verdict = format("corner of %.0f degrees", angle);
            return j;
        }
    }

    const double inside = percentile(insideValues(image.paper, c), 0.85);
    if (!looksLikePaper(image, inside)) {
        j.verdict = format("not paper inside (%.0f, white %.0f)", inside, image.paperWhite);
        return j;
    }
    // A card of strong colour can be as light as paper in shade, or lighter; paper keeps little
    // colour, under warm light too. Three quarters of the inside must be that colourful: a page
    // coloured in, or printed with a picture, is still paper.
    constexpr double kCardColour = 40.0;  // Lab chroma above 32
    const double colour = percentile(insideColour(image, c), 0.25);
    if (colour >= kCardColour) {
        j.verdict = format("coloured inside (%.0f below its lightness): a card, not paper", colour);
        return j;
    }
    j.paper = inside;

    double sum = 0, weakest = 1;
    int measured = 0, longEdges = 0;
    std::string sides;
    for (int side = 0; side < 4; ++side) {
        const cv::Point2d a = c[side], b = c[(side + 1) % 4];
        const auto steps = stepSupport(image, a, b);
        // A close-up's side that runs too close along the frame to judge is taken as along it.
        if (alongBorder(a, b, size) ||
            (!steps && judgeableLength(a, b, size) < 0.15 * std::min(size.width, size.height))) {
            const cv::Point2d dir = (b - a) / std::max(1e-9, cv::norm(b - a));
            // Where the frame cuts the sheet, paper goes on beyond it, maybe in shade, but not a
            // dark or colourful desk.
            const double rim = insideAlong(image.paper, a, b, cv::Point2d(-dir.y, dir.x));
            if (!paperInShade(image, rim)) {
                j.verdict = format("no paper along the frame at side %.0f", side);
                return j;
            }
            ++j.borderSides;
            j.steps[size_t(side)] = 1.0;
            sides += " border";
            continue;
        }
        if (!steps) {
            j.verdict = format("side %.0f runs out of the frame", side);
            return j;
        }
        // A side that the frame cuts steps right up to the frame: an outline that only reaches
        // the frame across the desk beyond the sheet's corner is not the sheet.
        if ((alongBorder(c[(side + 3) % 4], a, size) && steps->atStart < 0.5) ||
            (alongBorder(b, c[(side + 2) % 4], size) && steps->atEnd < 0.5)) {
            j.verdict = format("side %.0f stops stepping before the frame", side);
            return j;
        }
        const double support = steps->share;
        longEdges += support >= 0.8 && cv::norm(b - a) >= 0.3 * std::min(size.width, size.height) ? 1 : 0;
        // Two long edges of paper meeting: a sheet's corner, not a shadow's edge across a close-up.
        j.edgeInView = longEdges >= 2;
        sides += format(" %.2f", support);
        j.steps[size_t(side)] = support;
        sum += support;
        weakest = std::min(weakest, support);
        ++measured;
    }
    if (measured == 0) {
        j.verdict = "the whole frame";
        return j;
    }
    const double mean = sum / measured;
    j.weakest = weakest;
    j.score = mean * std::min(1.0, inside / std::max(1.0, image.paperWhite));
    if (weakest < kMinSideSupport || mean < kMinMeanSupport) {
        j.verdict = "no step from paper at its sides:" + sides;
        return j;
    }
    j.sheet = true;
    j.verdict = format("sheet, paper %.2f of white, steps:", inside / std::max(1.0, image.paperWhite)) + sides;
    return j;
}

namespace {

// The areas in the frame of a, of b, and of their overlap. Only what the frame shows counts:
// outlines of a close-up may reach beyond it in different ways.
struct Overlap {
    double a = 0, b = 0, both = 0;
};
Overlap overlapInFrame(const Corners& a, const Corners& b, cv::Size frame) {
    const std::vector<cv::Point2f> rect = {
        {0, 0}, {float(frame.width), 0}, {float(frame.width), float(frame.height)}, {0, float(frame.height)}};
    auto inFrame = [&](const Corners& c) {
        std::vector<cv::Point2f> clipped;
        cv::intersectConvexConvex(polygonOf(c), rect, clipped, true);
        return clipped;
    };
    const auto pa = inFrame(a), pb = inFrame(b);
    if (pa.size() < 3 || pb.size() < 3) {
        return {};
    }
    std::vector<cv::Point2f> overlap;
    return {std::abs(cv::contourArea(pa)), std::abs(cv::contourArea(pb)),
            cv::intersectConvexConvex(pa, pb, overlap, true)};
}

// Whether the first holds the second: nearly all of it lies inside, and the first is clearly larger.
bool holds(const Overlap& o) {
    return o.b > 0 && o.a > 1.03 * o.b && o.both >= 0.9 * o.b;
}

// How many sides of `inner` lie along a side of `outer`: both ends within a few pixels of it.
int sharedSides(const Corners& outer, const Corners& inner) {
    constexpr double kNear = 4.0;
    int shared = 0;
    for (int i = 0; i < 4; ++i) {
        const cv::Point2d p = inner[i], q = inner[(i + 1) % 4];
        for (int k = 0; k < 4; ++k) {
            const cv::Point2d a = outer[k], b = outer[(k + 1) % 4];
            if (distanceFromLine(p, a, b) <= kNear && distanceFromLine(q, a, b) <= kNear) {
                ++shared;
                break;
            }
        }
    }
    return shared;
}

// The paper measure of what lies inside `outer` but outside `inner` (beyond the blur of its
// edge), sampled on a grid of n by n; none when that is a sliver.
std::vector<double> ringValues(const cv::Mat& paper, const Corners& outer, const Corners& inner, int n) {
    const FarOutside pastInner(inner, 1.5);
    std::vector<double> values;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            const double u = 0.03 + 0.94 * (i + 0.5) / n, v = 0.03 + 0.94 * (j + 0.5) / n;
            const cv::Point2d p =
                (1 - v) * ((1 - u) * outer[0] + u * outer[1]) + v * ((1 - u) * outer[3] + u * outer[2]);
            if (pastInner(p)) {
                if (const auto value = sampleAt(paper, p)) {
                    values.push_back(*value);
                }
            }
        }
    }
    if (values.size() < 12) {
        values.clear();
    }
    return values;
}

// The same at the given percentile.
std::optional<double> between(const cv::Mat& paper, const Corners& outer, const Corners& inner, double share) {
    const auto values = ringValues(paper, outer, inner, 24);
    return values.empty() ? std::nullopt : std::optional(percentile(values, share));
}

// The paper measure just outside `inner`'s sides where they lie inside `outer`, past a line's
// width: for a ring too thin for `between`. None when no side leaves room.
std::optional<double> justOutside(const cv::Mat& paper, const Corners& outer, const Corners& inner) {
    const auto polygon = polygonOf(outer);
    std::vector<double> values;
    for (int side = 0; side < 4; ++side) {
        const cv::Point2d a = inner[side], b = inner[(side + 1) % 4];
        const cv::Point2d dir = (b - a) / std::max(1e-9, cv::norm(b - a)), outward(dir.y, -dir.x);
        for (int i = 0; i < 12; ++i) {
            for (double d : {2.5, 3.5}) {
                const cv::Point2d p = a + (b - a) * (0.1 + 0.8 * i / 11.0) + outward * d;
                if (signedDistance(polygon, cv::Point2f(p)) > 1.0) {
                    if (const auto v = sampleAt(paper, p)) {
                        values.push_back(*v);
                    }
                }
            }
        }
    }
    if (values.size() < 6) {
        return std::nullopt;
    }
    return percentile(values, 0.5);
}

// A cast shadow across one side of a sheet darkens paper and desk alike, and their step fades
// where it falls: the other three sides step clearly, and along that one the paper lies in shade
// for at least about as far as its step is missing.
bool oneSideShaded(const WorkingImage& image, const Corners& c, const Judgement& j, double clear) {
    int weak = -1;
    for (int side = 0; side < 4; ++side) {
        if (j.steps[size_t(side)] < clear) {
            if (weak >= 0) {
                return false;
            }
            weak = side;
        }
    }
    if (weak < 0) {
        return true;
    }
    const double missing = 1.0 - j.steps[size_t(weak)];
    const double shaded = shadedInside(image, c[weak], c[(weak + 1) % 4], j.paper);
    return shaded >= 0.5 * missing;
}

// Whether the ring between two outlines is close all round, as between a sheet's edge and a
// frame drawn near it: within a few hundredths of the picture, or about as wide everywhere. Not a
// wedge taken in past one side, where a pale object touching the sheet may fill a tenth of it.
bool evenRing(const Corners& outer, const Corners& inner) {
    double least = 1e300, most = 0;
    for (const cv::Point2d& p : outer) {
        double nearest = 1e300;
        for (const cv::Point2d& q : inner) nearest = std::min(nearest, cv::norm(p - q));
        least = std::min(least, nearest);
        most = std::max(most, nearest);
    }
    constexpr double kUneven = 3.0, kClose = 0.03 * kWorkingSide;
    return most <= kUneven * least + kClose;
}

// Whether lines drawn on paper run on across a side of the outline `c` that does not step all
// along, where it lies inside `other`: that side runs across a sheet, in light or in shade, not
// along its edge.
bool sideAcrossDrawing(const WorkingImage& image, const Corners& c, const Judgement& j, const Corners& other) {
    constexpr double kWellInside = 4.0, kLeast = 20.0;
    for (int side = 0; side < 4; ++side) {
        const cv::Point2d a = c[side], b = c[(side + 1) % 4];
        if (j.steps[size_t(side)] >= 1.0 || alongBorder(a, b, image.paper.size())) {
            continue;
        }
        const auto part = partInside(other, a, b, kWellInside);
        if (part && (part->second - part->first) * cv::norm(b - a) >= kLeast &&
            linesRunAcross(image, a + (b - a) * part->first, a + (b - a) * part->second)) {
            return true;
        }
    }
    return false;
}

}  // namespace

// Of two sheets one inside the other, only one is the sheet: the other is a box drawn on it, a
// part of it cut off by a shadow, or a bright desk it lies on.
const Judged* chooseSheet(const WorkingImage& image, std::vector<Judged>& judged) {
    std::vector<bool> out(judged.size(), false);
    // Set aside as reaching the frame across the desk beside a sheet in view: whichever outline
    // of that sheet wins, this one is not the sheet.
    std::vector<bool> acrossDesk(judged.size(), false);
    for (size_t a = 0; a < judged.size(); ++a) {
        for (size_t c = 0; c < judged.size(); ++c) {
            const Judgement& outer = judged[a].judgement;
            const Judgement& inner = judged[c].judgement;
            if (a == c || !outer.sheet || !inner.sheet) {
                continue;
            }
            auto setAside = [&](size_t loser, size_t winner, const char* why) {
                out[loser] = true;
                judged[loser].judgement.verdict += format("; set aside for %.0f: ", double(winner)) + why;
            };
            const Overlap overlap =
                overlapInFrame(judged[a].outline.corners, judged[c].outline.corners, image.paper.size());
            // What the frame cuts on three sides has a single step in view, maybe a shadow's edge
            // across a pale desk; a brighter sheet with two edges in view, lying mostly on it, is
            // the sheet, and so is one that such a step runs across. What the frame cuts on two
            // sides, with no long edge of paper in view, whose step runs across such a sheet is a
            // patch of light over desk and paper alike.
            const double margin = std::max(kMinStep, kMinRelativeStep * inner.paper);
            const bool singleStep = outer.borderSides >= 3;
            if ((singleStep || (outer.borderSides == 2 && !outer.edgeInView)) && inner.borderSides == 0 &&
                inner.edgeInView) {
                const Corners& ao = judged[a].outline.corners;
                const Corners& ci = judged[c].outline.corners;
                if (singleStep && overlap.both >= 0.5 * overlap.b) {
                    // Brighter than the outer outline as a whole, or than all of it around the inner one.
                    const auto around = between(image.paper, ao, ci, 0.85);
                    if (inner.paper >= outer.paper + margin || (around && inner.paper >= *around + margin)) {
                        setAside(a, c, "a brighter sheet in view lies on it");
                        acrossDesk[a] = true;
                        continue;
                    }
                }
                if (lightEdgeAcross(image, ao, ci)) {
                    setAside(a, c, "its edge runs across a sheet in view: a shadow's");
                    acrossDesk[a] = true;
                    continue;
                }
            }
            // Two outlines of one sheet that cross, neither holding the other: a side of one of
            // them, lined up by chance with another object's edge, runs across the sheet, and the
            // drawing's lines go on across it; the other's weak side, if any, is the sheet's edge
            // in shade, which ends them.
            if (a < c && !holds(overlap) && !holds({overlap.b, overlap.a, overlap.both}) &&
                overlap.both >= 0.5 * std::min(overlap.a, overlap.b)) {
                const Corners& one = judged[a].outline.corners;
                const Corners& two = judged[c].outline.corners;
                const bool outerAcross = sideAcrossDrawing(image, one, outer, two);
                if (outerAcross != sideAcrossDrawing(image, two, inner, one)) {
                    const size_t across = outerAcross ? a : c;
                    setAside(across, a + c - across, "a side of it runs across the drawing");
                }
                continue;
            }
            if (!holds(overlap)) {
                continue;
            }
            // The better-edged of the two is the sheet: a shadow's edge across a sheet, or a box
            // drawn on it, steps less clearly than the sheet's own edges; an outline that takes in
            // a strip of desk beside the sheet has a side with nothing to step to.
            constexpr double kClearlyBetter = 0.1;
            constexpr double kSlightlyBetter = 0.05;
            // Between outlines this close there is too little to judge: a line drawn along the
            // sheet's edge, blurred into it.
            constexpr double kThinRing = 1.12;
            const Corners& ao = judged[a].outline.corners;
            const Corners& ci = judged[c].outline.corners;
            std::optional<ShadowEdge> shadowOnce;  // asked for by two rules below
            auto shadowEdge = [&] {
                if (!shadowOnce) shadowOnce = shadowEdgeInside(image, ao, ci);
                return *shadowOnce;
            };
            // A sheet wholly in view, stepping down to its surroundings on every side as clearly,
            // or clearly enough with no paper as bright around it that a shadow's edge would cut
            // off, is not part of one the frame cuts: that one only reaches the frame across the
            // desk.
            constexpr double kClearSides = 0.75;
            if (outer.borderSides > 0 && inner.borderSides == 0) {
                bool whollyInView = inner.weakest >= outer.weakest - kClearlyBetter;
                if (!whollyInView && inner.edgeInView && oneSideShaded(image, ci, inner, kClearSides)) {
                    const auto around = between(image.paper, ao, ci, 0.85);
                    whollyInView = around && *around < inner.paper - margin &&
                                   shadowEdge() == ShadowEdge::none;
                }
                // Or its sides inside the outer one are its own edges, however clutter lying across
                // them weakens their step; no paper comes back past them, and the outer one's sides
                // do not go on stepping past its corners as a sheet's going on into shade would:
                // what the outer one takes in is desk, however brightly lit.
                if (!whollyInView && inner.edgeInView) {
                    whollyInView = ownEdgeInside(image, ao, ci, inner, kMinSideSupport,
                                                 EndsOutOfView::ownEdgeUnlessLinesCross) &&
                                   !paperPastEdge(image.paper, ao, ci, inner.paper - margin) &&
                                   sidesGoOnOverDesk(image, ao, ci);
                }
                if (whollyInView) {
                    setAside(a, c, "the inner one is wholly in view");
                    acrossDesk[a] = true;
                    continue;
                }
            }
            // A cast shadow's edge steps down as sharply as a sheet's own, often more clearly than
            // the sheet's sides in its shade; but it goes on over the desk beyond the sheet, and
            // what it cuts off is paper in shade, as colourless as in light (past the sheet's edge
            // lined up with another object's, the desk shows). Where the drawing runs on across
            // it, that paper may lie in shade as deep as a dark desk.
            const auto tint = between(image.saturation, ao, ci, 0.5);
            if (!tint || *tint < kTintedPaper) {
                const auto cutOff = between(image.paper, ao, ci, 0.5);
                const ShadowEdge shadow = shadowEdge();
                if (shadow == ShadowEdge::linesRunOn ||
                    (shadow != ShadowEdge::none && (!cutOff || paperInShade(image, *cutOff)))) {
                    setAside(c, a, "a shadow's edge cuts it off");
                    judged[c].judgement.shadedPartOf.push_back(a);
                    continue;
                }
            }
            const bool thinRing =
                outer.borderSides == 0 && inner.borderSides == 0 && area(ao) < kThinRing * area(ci);
            // The paper between lines of ink or text: a high percentile of what lies between.
            std::optional<std::optional<double>> restOnce;
            auto rest = [&] {
                if (!restOnce) restOnce = between(image.paper, ao, ci, 0.85);
                return *restOnce;
            };
            auto samePaper = [&] { return !rest() || *rest() >= inner.paper - margin; };
            // The inner one's own edge steps down inside the outer one. Unless paper comes back
            // past it (a block printed on the sheet) or the outer one's sides go on stepping past
            // it (the sheet going on into shade), the outer one takes in a strip of desk, however
            // pale and however clearly its sides step.
            if (!thinRing && ownEdgeInside(image, ao, ci, inner, outer.weakest - kClearlyBetter)) {
                if (paperPastEdge(image.paper, ao, ci, inner.paper - margin)) {
                    setAside(c, a, "the same paper comes back past its edge");
                    continue;
                }
                if (sidesGoOnOverDesk(image, ao, ci) && !samePaper()) {
                    setAside(a, c, "the inner one's own edge steps down inside it");
                    continue;
                }
            }
            std::optional<double> most;
            if (thinRing) {
                const auto ring = ringValues(image.paper, ao, ci, 64);
                most = ring.empty() ? justOutside(image.paper, ao, ci) : percentile(ring, 0.5);
                // A line drawn just inside the sheet's edge, the same paper beyond it: the outer
                // one is the sheet, however a thumb or a curl weakens its sides.
                if (!ring.empty() && percentile(ring, 0.9) >= inner.paper - margin && evenRing(ao, ci)) {
                    setAside(c, a, "a frame drawn close to the edge");
                    continue;
                }
            }
            if (outer.weakest > inner.weakest + kClearlyBetter) {
                setAside(c, a, "the outer one's sides step more clearly");
                continue;
            }
            if (outer.weakest < inner.weakest - kClearlyBetter) {
                setAside(a, c, "the inner one's sides step more clearly");
                continue;
            }
            // As well edged: the outer one is the sheet when what lies between them is the same
            // paper. Else the inner one lies on a desk, dark or light.
            if (thinRing) {
                // Mostly no paper, even in a thin ring: a desk the outer one takes in. A line
                // drawn along the sheet's edge covers far less of it.
                // On a pale desk the ring looks like paper either way; a sheet's own edge then
                // steps at least as clearly as a line drawn on it, which has paper beyond.
                if ((most && !looksLikePaper(image, *most)) ||
                    inner.weakest > outer.weakest + kSlightlyBetter) {
                    setAside(a, c, "no paper lies around the inner one");
                } else {
                    setAside(c, a, "a frame drawn close to the edge");
                }
                continue;
            }
            // Paper in deep shade is darker than paper in light, but still more than a dark desk;
            // where the outer outline, wholly in view, keeps the inner one's edges and steps all
            // round at least as clearly, that is the sheet's own shaded part.
            const bool shadedPart = outer.borderSides == 0 && sharedSides(ao, ci) >= 2 &&
                                    outer.weakest >= inner.weakest && rest() && paperInShade(image, *rest());
            if (!samePaper() && !looksLikePaper(image, *rest()) && !shadedPart) {
                setAside(a, c, "no paper lies around the inner one");
                continue;
            }
            if (samePaper()) {
                setAside(c, a, "the same paper lies around it");
            } else if (sharedSides(ao, ci) >= 2) {
                // Paper in shade around a piece of the sheet that keeps two of its edges: the
                // piece is cut off by a shadow, not a sheet lying on something greyer.
                setAside(c, a, "shaded paper of the same sheet lies around it");
                judged[c].judgement.shadedPartOf.push_back(a);
            } else {
                setAside(a, c, "the inner one lies on something greyer");
            }
        }
    }
    const Judged* best = nullptr;
    for (size_t i = 0; i < judged.size(); ++i) {
        if (judged[i].judgement.sheet && !out[i] && (!best || judged[i].judgement.score > best->judgement.score)) {
            best = &judged[i];
        }
    }
    if (best) {
        return best;
    }
    // Each set aside for another, round in a circle: of those that score about as well as the
    // best, the outermost keeps every line drawn on it; one that reaches across the desk beside
    // a sheet in view only when nothing else is left.
    constexpr double kAsWell = 0.1;
    double top = 0;
    for (const Judged& j : judged) {
        top = std::max(top, j.judgement.sheet ? j.judgement.score : 0.0);
    }
    double largest = 0;
    for (bool anyWay : {false, true}) {
        if (best) {
            break;
        }
        for (size_t i = 0; i < judged.size(); ++i) {
            const Judgement& j = judged[i].judgement;
            const bool candidate = j.sheet && (anyWay || !acrossDesk[i]) && j.score >= top - kAsWell;
            const double inFrame =
                candidate ? areaInFrame(judged[i].outline.corners, image.paper.size()) : 0.0;
            if (inFrame > largest) {
                largest = inFrame;
                best = &judged[i];
            }
        }
    }
    return best;
}

bool framedByPaper(const WorkingImage& image, const std::vector<Judged>& judged) {
    if (std::any_of(judged.begin(), judged.end(), [](const Judged& j) { return j.judgement.edgeInView; })) {
        return false;
    }
    const cv::Size size = image.paper.size();
    const Corners frame{cv::Point2d(0, 0), cv::Point2d(size.width, 0), cv::Point2d(size.width, size.height),
                        cv::Point2d(0, size.height)};
    const std::vector<double> values = insideValues(image.paper, frame);
    const double bright = percentile(values, 0.85);
    if (percentile(values, 0.5) < kMinPaper) {
        return false;
    }
    // Ink, shade and a shadow darken some of it, but most of it is paper.
    const auto paperLike = std::count_if(values.begin(), values.end(), [&](double v) {
        return v >= std::max(kMinPaper, kMinShareOfWhite * bright);
    });
    return double(paperLike) >= 0.6 * double(values.size());
}

}  // namespace vellumora::scan
