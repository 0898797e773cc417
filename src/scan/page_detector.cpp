#include "scan/page_detector.h"

#include "scan/image_matrix.h"
#include "scan/page_search.h"
#include "scan/quad_geometry.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace vellumora::scan {

namespace {

// How much more a unit of colour counts against paper than a unit of darkness, beyond the tint
// of cream paper or of warm light on white paper (Lab chroma).
constexpr double kChromaWeight = 2.0;
constexpr double kPaperTint = 12.0;

Corners frameCorners(cv::Size size) {
    return {cv::Point2d(0, 0), cv::Point2d(size.width, 0), cv::Point2d(size.width, size.height),
            cv::Point2d(0, size.height)};
}

// A close-up's side taken as running along the frame, too near it to judge, may still lie a
// little way in from it: a paper region cut short where the light falls off towards a corner.
// Where the same paper lies between, the side goes out onto the frame, with the ink drawn there.
Corners reachFrame(const WorkingImage& w, Corners c) {
    const cv::Size size = w.paper.size();
    const Corners frame = frameCorners(size);
    for (int side = 0; side < 4; ++side) {
        const cv::Point2d a = c[side], b = c[(side + 1) % 4];
        if (alongBorder(a, b, size) || stepSupport(w, a, b) ||
            judgeableLength(a, b, size) >= 0.15 * std::min(size.width, size.height)) {
            continue;
        }
        // The frame's side both ends lie nearest.
        int nearest = 0;
        double least = 1e300;
        for (int f = 0; f < 4; ++f) {
            const cv::Point2d p = frame[f], d = (frame[(f + 1) % 4] - p) / cv::norm(frame[(f + 1) % 4] - p);
            const double off = std::max(std::abs(cross(d, a - p)), std::abs(cross(d, b - p)));
            if (off < least) {
                least = off;
                nearest = f;
            }
        }
        const cv::Point2d p = frame[nearest], q = frame[(nearest + 1) % 4];
        const cv::Point2d d = (q - p) / cv::norm(q - p);
        std::vector<double> between;
        for (int i = 0; i < 16; ++i) {
            const cv::Point2d s = alongSide(a, b, i, 16);
            const cv::Point2d onFrame = p + d * (s - p).dot(d);
            for (double t : {0.3, 0.6, 0.9}) {
                if (const auto v = sampleAt(w.paper, s + (onFrame - s) * t)) {
                    between.push_back(*v);
                }
            }
        }
        // Light falling off towards a corner darkens the paper a little over so short a way; a
        // desk beyond the sheet's edge is far darker or more colourful.
        constexpr double kFallOff = 0.75;
        const cv::Point2d dir = (b - a) / std::max(1e-9, cv::norm(b - a));
        const double rim = insideAlong(w.paper, a, b, cv::Point2d(-dir.y, dir.x));
        const double level = percentile(between, 0.5);
        if (between.size() < 8 || !paperInShade(w, level) || level < kFallOff * rim) {
            continue;
        }
        const cv::Point2d before = c[(side + 3) % 4];
        const auto from = meetOfLines(before, a - before, p, q - p);
        const auto to = meetOfLines(b, c[(side + 2) % 4] - b, p, q - p);
        if (!from || !to) {
            continue;
        }
        Corners moved = c;
        moved[side] = *from;
        moved[(side + 1) % 4] = *to;
        if (const auto ordered = orderCorners({moved.begin(), moved.end()})) {
            c = *ordered;
        }
    }
    return c;
}

// Whether `outer` is the larger and `inner` lies within it, give or take a pixel.
bool encloses(const Corners& outer, const Corners& inner) {
    const auto polygon = polygonOf(outer);
    return area(outer) > area(inner) && std::all_of(inner.begin(), inner.end(), [&](const cv::Point2d& p) {
               return signedDistance(polygon, cv::Point2f(p)) >= -1.5;
           });
}

bool sameCorners(const Corners& a, const Corners& b) {
    for (size_t k = 0; k < a.size(); ++k) {
        if (cv::norm(a[k] - b[k]) > 0.5) {
            return false;
        }
    }
    return true;
}

// Fits the outline found in the working image onto the full image's edges, first within a
// working pixel or two, then closer in. Sides along the frame's border stay there.
Quad refinePage(const cv::Mat& image, const WorkingImage& w, const Corners& chosen) {
    const Corners found = reachFrame(w, chosen);
    std::array<bool, 4> border{};
    for (int side = 0; side < 4; ++side) {
        border[side] = alongBorder(found[side], found[(side + 1) % 4], w.paper.size());
    }
    // A working pixel's worth of error either way, plus what smoothing moved.
    const double searchRadius = std::max(3.0, 2.5 * w.scale);
    Corners c = refineCorners(image, scaled(found, w.scale), searchRadius, border);
    c = refineCorners(image, c, std::max(2.0, searchRadius / 3), border);
    return toQuad(c);
}

// The size shrunk by a whole-number factor near the one that brings its longest side to
// `longSide`: shrinking by one is several times faster.
cv::Size shrunkSize(cv::Size size, int longSide) {
    const int factor = std::max(1, int(std::lround(double(std::max(size.width, size.height)) / longSide)));
    return {std::max(1, size.width / factor), std::max(1, size.height / factor)};
}

cv::Mat shrunkNear(const cv::Mat& image, int longSide) {
    const cv::Size size = shrunkSize(image.size(), longSide);
    return size == image.size() ? image : shrinkByArea(image, size);
}

double pixelsPer(cv::Size image, cv::Size small) {
    return 0.5 * (double(image.width) / small.width + double(image.height) / small.height);
}

}  // namespace

const cv::Mat& WorkingImage::detail() const {
    if (detail_.empty() && !source_.empty()) {
        const cv::Mat small = shrunkNear(source_, kDetailSide);
        cv::Mat grey = small;
        if (small.channels() > 1) {
            cv::cvtColor(small, grey, small.channels() == 4 ? cv::COLOR_BGRA2GRAY : cv::COLOR_BGR2GRAY);
        }
        // As lightly smoothed as the working image: unsmoothed, the camera's noise in deep shade
        // reads as lines everywhere.
        cv::GaussianBlur(grey, detail_, cv::Size(3, 3), 0);
    }
    return detail_;
}

double WorkingImage::detailPerWorking() const {
    if (source_.empty()) {
        return 1.0;
    }
    return scale / pixelsPer(source_.size(), shrunkSize(source_.size(), kDetailSide));
}

WorkingImage WorkingImage::from(const cv::Mat& image, int longSide) {
    WorkingImage w;
    w.source_ = image;
    const cv::Mat small = shrunkNear(image, longSide);
    w.scale = pixelsPer(image.size(), small.size());
    switch (small.channels()) {
        case 1:
            cv::cvtColor(small, w.bgr, cv::COLOR_GRAY2BGR);
            break;
        case 4:
            cv::cvtColor(small, w.bgr, cv::COLOR_BGRA2BGR);
            break;
        default:
            w.bgr = small.clone();
            break;
    }
    cv::Mat lab;
    cv::cvtColor(w.bgr, lab, cv::COLOR_BGR2Lab);
    cv::Mat channels[3];
    cv::split(lab, channels);
    cv::GaussianBlur(channels[0], w.lightness, cv::Size(5, 5), 0);
    cv::Mat a, b, chroma;
    channels[1].convertTo(a, CV_32F, 1.0, -128.0);
    channels[2].convertTo(b, CV_32F, 1.0, -128.0);
    cv::magnitude(a, b, chroma);
    cv::GaussianBlur(chroma, chroma, cv::Size(5, 5), 0);
    cv::Mat lightness;
    w.lightness.convertTo(lightness, CV_32F);
    cv::Mat colour = cv::max(chroma - kPaperTint, 0.0);
    cv::Mat paper = lightness - kChromaWeight * colour;
    paper.convertTo(w.paper, CV_8U);
    cv::Mat hsv;
    cv::cvtColor(w.bgr, hsv, cv::COLOR_BGR2HSV);
    cv::extractChannel(hsv, w.saturation, 1);
    cv::GaussianBlur(w.saturation, w.saturation, cv::Size(5, 5), 0);
    cv::Sobel(w.lightness, w.gradX, CV_32F, 1, 0);
    cv::Sobel(w.lightness, w.gradY, CV_32F, 0, 1);

    // The brightest paper in the picture: a high percentile, so that a few glints do not set it.
    int histogram[256] = {};
    for (int y = 0; y < w.paper.rows; ++y) {
        const uchar* row = w.paper.ptr<uchar>(y);
        for (int x = 0; x < w.paper.cols; ++x) ++histogram[row[x]];
    }
    const double top = 0.02 * double(w.paper.total());
    double seen = 0;
    for (int v = 255; v >= 0; --v) {
        seen += histogram[v];
        if (seen >= top) {
            w.paperWhite = v;
            break;
        }
    }
    return w;
}

std::optional<Quad> detectPage(const cv::Mat& image, PageSearch* search) {
    if (image.empty()) {
        return std::nullopt;
    }
    WorkingImage w = WorkingImage::from(image);
    auto judgeAll = [&w] {
        std::vector<Judged> judged;
        for (const Outline& outline : proposeOutlines(w)) {
            judged.push_back({outline, judgeOutline(w, outline.corners)});
        }
        return judged;
    };
    std::vector<Judged> judged = judgeAll();
    const Judged* chosen = chooseSheet(w, judged);
    bool framed = !chosen && framedByPaper(w, judged);
    // A sheet with a side that barely steps may be only the lit part of one that a cast shadow
    // falls across, that side the shadow's edge.
    constexpr double kFaintSide = 0.6;
    const bool partLit = chosen && chosen->judgement.weakest < kFaintSide;
    if (!chosen || partLit) {
        // Harsh light can shade part of a sheet beside a lit desk, so that along some of a side
        // nothing shows its step; with a pale desk around it, the frame may pass for paper.
        w.shadowsHideSteps = true;
        std::vector<Judged> again = judgeAll();
        const Judged* found = chooseSheet(w, again);
        // The first choice may be only the lit part of the sheet the second look finds, carried
        // past the sheet's corner over lit desk by the shadow's edge, so not enclosed by it. The
        // second look proposes its outlines anew: the first choice is found there by its corners.
        auto partOfFound = [&] {
            const auto same = std::find_if(again.begin(), again.end(), [&](const Judged& j) {
                return sameCorners(j.outline.corners, chosen->outline.corners);
            });
            if (same == again.end()) {
                return false;
            }
            const auto& of = same->judgement.shadedPartOf;
            return std::any_of(of.begin(), of.end(), [&](size_t i) {
                return &again[i] == found || encloses(found->outline.corners, again[i].outline.corners);
            });
        };
        // Where the frame passed for paper, a sheet the frame cuts is only part of that paper, cut
        // off by a shadow's edge.
        const bool better =
            found &&
            (framed ? found->judgement.borderSides == 0
                    : !chosen || encloses(found->outline.corners, chosen->outline.corners) || partOfFound());
        if (better) {
            const auto index = found - again.data();
            judged = std::move(again);
            chosen = &judged[size_t(index)];
            framed = false;
        } else {
            w.shadowsHideSteps = false;
        }
    }
    std::optional<Quad> page;
    if (chosen) {
        page = refinePage(image, w, chosen->outline.corners);
    } else if (framed) {
        page = toQuad(frameCorners(image.size()));
    }
    if (search) {
        search->candidates.clear();
        for (const Judged& j : judged) {
            search->candidates.push_back(
                {toQuad(scaled(j.outline.corners, w.scale)), j.judgement.sheet, j.judgement.score, j.outline.source,
                 j.judgement.verdict + (j.judgement.edgeInView ? " (an edge of paper in view)" : "")});
        }
        search->page = page;
    }
    return page;
}

}  // namespace vellumora::scan
