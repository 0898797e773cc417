// Measures across and along one side of an outline. Bands on either side of it are compared
// rather than single pixels, so that a line drawn along the side, paper grain and the camera's
// blur do not decide.

#include "scan/side_measures.h"

#include "scan/page_search.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace vellumora::scan {

namespace {

// Across a side, the bands compared lie this far in and out (working pixels): beyond the side's
// own blur, and wider than a line drawn with a marker.
constexpr std::array<double, 9> kBand = {1.5, 2.5, 3.5, 4.5, 5.5, 6.5, 7.5, 8.5, 9.5};
// Farther out, where the paper beyond the broadest marker line shows again.
constexpr std::array<double, 6> kBeyond = {10.5, 11.5, 12.5, 13.5, 14.5, 15.5};
// Samples across the broadest line drawn with a marker.
constexpr std::ptrdiff_t kMaxLine = 4;
// Paper in shade is at most this share of the picture's brightest paper.
constexpr double kShade = 0.85;
// Bands out from a side that shaded desk, darker than the paper, fills before a shadow's edge.
constexpr std::ptrdiff_t kShadedDesk = 4;

// Relative luminance of the lightness channel (L of Lab, 0...255): shade scales it, whatever
// the surface.
double luminance(double lightness) {
    const double l = lightness * 100.0 / 255.0;
    return l > 8.0 ? std::pow((l + 16.0) / 116.0, 3.0) : l / 903.3;
}

// How much darker the outside of a line is than its inside at p, as a ratio of luminance, and
// how much its saturation differs.
struct Step {
    double ratio = 1;
    double tint = 0;
};
std::optional<Step> shade(const WorkingImage& image, cv::Point2d p, cv::Point2d outward) {
    std::vector<double> in, out, tintIn, tintOut;
    for (double d : kBand) {
        const cv::Point2d i = p - outward * d, o = p + outward * d;
        const auto vi = sampleAt(image.lightness, i), vo = sampleAt(image.lightness, o);
        if (vi && vo) {
            in.push_back(*vi);
            out.push_back(*vo);
            tintIn.push_back(*sampleAt(image.saturation, i));
            tintOut.push_back(*sampleAt(image.saturation, o));
        }
    }
    if (in.size() < kBand.size() / 2) {
        return std::nullopt;
    }
    return Step{luminance(percentile(out, 0.5)) / std::max(1e-6, luminance(percentile(in, 0.5))),
                std::abs(percentile(tintOut, 0.5) - percentile(tintIn, 0.5))};
}

// A thick line drawn a few pixels inside the sheet's edge can darken half the band: the paper
// past it, when the profile `in` (from the side inwards) shows that paper on both sides of a
// thin dark dip, and the paper before the dip already brighter than the outside. A desk or a
// curl just beyond the sheet is as dark as the outside before the paper comes.
std::optional<double> paperPastLine(const std::array<double, kBand.size()>& in, double outside, double least) {
    const auto dip = std::min_element(in.begin() + 1, in.end() - 1);
    const double before = *std::max_element(in.begin(), dip), past = *std::max_element(dip + 1, in.end());
    if (before - *dip < least || past - *dip < least || before - outside < least / 2) {
        return std::nullopt;
    }
    // Thinner than the band, as a marker's line is.
    const double mid = (*dip + past) / 2;
    if (std::count_if(in.begin(), in.end(), [&](double v) { return v < mid; }) > kMaxLine) {
        return std::nullopt;
    }
    return past;
}

}  // namespace

double percentile(std::vector<double> values, double share) {
    if (values.empty()) {
        return 0.0;
    }
    const auto at = values.begin() + std::ptrdiff_t(share * double(values.size() - 1));
    std::nth_element(values.begin(), at, values.end());
    return *at;
}

namespace {

// One look across a side: whether the paper inside steps down to something else outside, and
// whether shade hides the step, from the bands in and out and what lies farther out.
struct Look {
    int step = 0;
    int dark = 0;
};

template <typename Beyond>
Look lookAcross(const WorkingImage& image, std::array<double, kBand.size()> in, std::array<double, kBand.size()> out,
                const Beyond& beyondAt) {
    // Right at the edge paper and desk share the light. A shadow's edge just beyond paper in
    // shade, with a lit desk past that, turns the wider step around; the shaded desk before
    // it is wider than a line drawn along the edge.
    const double nearOut = *std::max_element(out.begin(), out.begin() + kShadedDesk);
    // The inside's median shrugs off a line drawn close to the edge; the outside's upper
    // values find the paper beyond a line drawn on the sheet.
    const std::array<double, kBand.size()> profile = in;
    const auto middle = in.begin() + std::ptrdiff_t(in.size() / 2);
    const auto upper = out.begin() + std::ptrdiff_t(out.size() * 2 / 3);
    std::nth_element(in.begin(), middle, in.end());
    std::nth_element(out.begin(), upper, out.end());
    const double inside = *middle, outside = *upper;
    // A shadow shrinks a step in lightness with the light it leaves. Where the search allows for
    // shadows hiding steps, the least step shrinks with it, down to what the camera's noise allows.
    const double smallest = image.shadowsHideSteps
                                ? std::max(kMinStep / 2, kMinStep * std::min(1.0, inside / (kShade * image.paperWhite)))
                                : kMinStep;
    const double least = std::max(smallest, kMinRelativeStep * inside);
    // Where such a line darkens half the band, the median falls well short of the paper.
    const double pastLine = paperPastLine(profile, outside, least).value_or(inside);
    const bool stepsDown = inside - outside >= least ||
                           (pastLine - inside >= least / 2 &&
                            pastLine - outside >= std::max(kMinStep, kMinRelativeStep * pastLine));
    // Beyond a marker's broad line the same paper comes back; beyond the sheet's edge it does
    // not (a lit desk beyond shaded paper may well be brighter). Only a step needs that look.
    const bool shadowNear = inside - nearOut >= least && inside <= kShade * image.paperWhite;
    Look look;
    if (stepsDown || shadowNear) {
        std::array<double, kBand.size() + kBeyond.size()> beyond;
        std::copy(out.begin(), out.end(), beyond.begin());
        size_t seen = out.size();
        for (double d : kBeyond) {
            if (const auto v = beyondAt(d)) {
                beyond[seen++] = *v;
            }
        }
        // percentile(beyond, 0.9) without a copy on the heap.
        const auto at = beyond.begin() + std::ptrdiff_t(0.9 * double(seen - 1));
        std::nth_element(beyond.begin(), at, beyond.begin() + std::ptrdiff_t(seen));
        const double far = *at;
        const bool paperBeyond = std::abs(far - inside) < least / 2;
        const bool shadowBeyond = shadowNear && far >= inside + least;
        look.step = (stepsDown || shadowBeyond) && !paperBeyond ? 1 : 0;
    }
    // Paper in shade beside a lit desk: the desk's light hides the sheet's own step.
    look.dark = !look.step && outside - inside >= least && inside <= kShade * image.paperWhite &&
                        paperInShade(image, inside)
                    ? 1
                    : 0;
    return look;
}

// The looks along a side, all of them and those along its first and last fifths.
class Tally {
  public:
    explicit Tally(int samples) : samples_(samples), end_(std::max(2, samples / 5)) {}

    void add(int i, Look look) {
        ++counted_;
        stepped_ += look.step;
        hidden_ += look.dark;
        if (i < end_ || i >= samples_ - end_) {
            const size_t at = i < end_ ? 0 : 1;
            ++endCounted_[at];
            endStepped_[at] += look.step;
            endHidden_[at] += look.dark;
        }
    }

    std::optional<Steps> steps(const WorkingImage& image) const {
        if (counted_ < samples_ * 2 / 5) {
            return std::nullopt;
        }
        // An end that lies beyond the frame cannot be judged and does not count against the side.
        auto share = [](int n, int of) { return of > 0 ? double(n) / of : 1.0; };
        int hidden = hidden_;
        std::array<int, 2> endHidden = endHidden_;
        // Where a shadow falls on the paper but not on the desk beyond, the side cannot be judged
        // by brightness there (when the search allows for that); unless too little of it is left,
        // as along a shadow's own edge.
        if (!image.shadowsHideSteps || 3 * (counted_ - hidden) < counted_) {
            hidden = 0;
            endHidden = {};
        }
        return Steps{share(stepped_, counted_ - hidden), share(endStepped_[0], endCounted_[0] - endHidden[0]),
                     share(endStepped_[1], endCounted_[1] - endHidden[1])};
    }

  private:
    int samples_, end_;
    int counted_ = 0, stepped_ = 0, hidden_ = 0;
    std::array<int, 2> endCounted_{}, endStepped_{}, endHidden_{};
};

// The side from a to b looked across at evenly spread points, from its right (`forth`) and, when
// asked, from its left (`back`, as from b to a): both read the same samples.
BothWays lookAlong(const WorkingImage& image, cv::Point2d a, cv::Point2d b, bool bothWays) {
    const cv::Mat& paper = image.paper;
    const cv::Point2d along = b - a;
    const double length = std::hypot(along.x, along.y);
    if (length < 1) {
        return {};
    }
    const cv::Point2d dir = along / length;
    const cv::Point2d outward(dir.y, -dir.x);
    const int samples = std::clamp(int(length / 3), 10, 40);
    Tally there(samples), andBack(samples);
    std::array<double, kBand.size()> in{}, out{};
    for (int i = 0; i < samples; ++i) {
        const cv::Point2d p = alongSide(a, b, i, samples);
        bool complete = true;
        for (size_t k = 0; k < kBand.size() && complete; ++k) {
            const auto vi = sampleAt(paper, p - outward * kBand[k]);
            const auto vo = sampleAt(paper, p + outward * kBand[k]);
            complete = vi && vo;
            if (complete) {
                in[k] = *vi;
                out[k] = *vo;
            }
        }
        if (!complete) {
            continue;
        }
        there.add(i, lookAcross(image, in, out, [&](double d) { return sampleAt(paper, p + outward * d); }));
        if (bothWays) {
            andBack.add(samples - 1 - i,
                        lookAcross(image, out, in, [&](double d) { return sampleAt(paper, p - outward * d); }));
        }
    }
    return {there.steps(image), bothWays ? andBack.steps(image) : std::nullopt};
}

}  // namespace

// Share of a side where the paper inside steps down to something else outside; none when too
// little of the side has its outside in the frame.
std::optional<Steps> stepSupport(const WorkingImage& image, cv::Point2d a, cv::Point2d b) {
    return lookAlong(image, a, b, false).forth;
}

BothWays stepsBothWays(const WorkingImage& image, cv::Point2d a, cv::Point2d b) {
    return lookAlong(image, a, b, true);
}

bool alongBorder(cv::Point2d a, cv::Point2d b, cv::Size size) {
    constexpr double margin = 2.5;
    auto near = [&](double v, double edge) { return std::abs(v - edge) <= margin; };
    return (near(a.x, 0) && near(b.x, 0)) || (near(a.y, 0) && near(b.y, 0)) ||
           (near(a.x, size.width) && near(b.x, size.width)) || (near(a.y, size.height) && near(b.y, size.height));
}

double insideAlong(const cv::Mat& paper, cv::Point2d a, cv::Point2d b, cv::Point2d inward) {
    std::vector<double> values;
    for (int i = 0; i < 16; ++i) {
        const cv::Point2d p = alongSide(a, b, i, 16);
        for (double d : kBand) {
            if (const auto v = sampleAt(paper, p + inward * d)) {
                values.push_back(*v);
            }
        }
    }
    return percentile(values, 0.75);
}

double shadedInside(const WorkingImage& image, cv::Point2d a, cv::Point2d b, double lit) {
    const cv::Point2d dir = (b - a) / std::max(1e-9, cv::norm(b - a)), inward(-dir.y, dir.x);
    const double darker = lit - std::max(kMinStep, kMinRelativeStep * lit);
    constexpr int n = 16;
    int counted = 0, shaded = 0;
    std::vector<double> values;
    for (int i = 0; i < n; ++i) {
        const cv::Point2d p = alongSide(a, b, i, n);
        values.clear();
        for (double d : kBand) {
            if (const auto v = sampleAt(image.paper, p + inward * d)) {
                values.push_back(*v);
            }
        }
        if (values.size() < kBand.size() / 2) {
            continue;
        }
        // A high percentile passes over a line drawn along the side.
        const double inside = percentile(values, 0.75);
        ++counted;
        shaded += inside <= darker && paperInShade(image, inside) ? 1 : 0;
    }
    return counted > 0 ? double(shaded) / counted : 0.0;
}

namespace {

// The part of the side from a to b at least `margin` from the frame's border, if any.
std::optional<std::pair<cv::Point2d, cv::Point2d>> partAway(cv::Point2d a, cv::Point2d b, cv::Size size,
                                                            double margin) {
    const cv::Point2d d = b - a;
    const double p[] = {-d.x, d.x, -d.y, d.y};
    const double q[] = {a.x - margin, size.width - margin - a.x, a.y - margin, size.height - margin - a.y};
    double t0 = 0, t1 = 1;
    for (int i = 0; i < 4; ++i) {
        if (std::abs(p[i]) < 1e-12) {
            if (q[i] < 0) {
                return std::nullopt;
            }
        } else if (p[i] < 0) {
            t0 = std::max(t0, q[i] / p[i]);
        } else {
            t1 = std::min(t1, q[i] / p[i]);
        }
    }
    if (t1 <= t0) {
        return std::nullopt;
    }
    return std::pair(a + d * t0, a + d * t1);
}

}  // namespace

double judgeableLength(cv::Point2d a, cv::Point2d b, cv::Size size) {
    const auto part = partAway(a, b, size, kBeyond.back() + 1.0);
    return part ? cv::norm(part->second - part->first) : 0.0;
}

std::optional<std::pair<cv::Point2d, cv::Point2d>> partSeenPast(cv::Point2d a, cv::Point2d b, cv::Size size) {
    return partAway(a, b, size, kBeyond.front());
}

std::optional<double> stepToFrame(const WorkingImage& image, cv::Point2d a, cv::Point2d b) {
    const cv::Mat& paper = image.paper;
    const double length = cv::norm(b - a);
    if (length < 1) {
        return std::nullopt;
    }
    const cv::Point2d dir = (b - a) / length;
    // Out is towards the border the side runs along: the way its band leaves the frame more.
    cv::Point2d outward(dir.y, -dir.x);
    int leaves = 0;
    for (double t : {0.1, 0.5, 0.9}) {
        const cv::Point2d p = a + (b - a) * t;
        leaves += sampleAt(paper, p + outward * kBand.back()) ? 0 : 1;
        leaves -= sampleAt(paper, p - outward * kBand.back()) ? 0 : 1;
    }
    if (leaves < 0) {
        outward = -outward;
    }
    const int samples = std::clamp(int(length / 3), 10, 40);
    int counted = 0, stepped = 0;
    std::array<double, kBand.size()> in{};
    for (int i = 0; i < samples; ++i) {
        const cv::Point2d p = alongSide(a, b, i, samples);
        bool complete = true;
        for (size_t k = 0; k < kBand.size() && complete; ++k) {
            const auto v = sampleAt(paper, p - outward * kBand[k]);
            complete = v.has_value();
            in[k] = v.value_or(0);
        }
        // Clear of the side's own blur, and wider than a marker's line: a line drawn along the
        // frame is as dark as a desk.
        double outside = -1;
        int seen = 0;
        for (double d = 2.5; d < kBand.back(); d += 1.0) {
            if (const auto v = sampleAt(paper, p + outward * d)) {
                outside = std::max(outside, *v);
                ++seen;
            }
        }
        if (!complete || seen <= kMaxLine) {
            continue;
        }
        std::sort(in.begin(), in.end());
        const double inside = in[in.size() / 2];
        ++counted;
        stepped += inside - outside >= std::max(kMinStep, kMinRelativeStep * inside) ? 1 : 0;
    }
    if (counted < samples * 2 / 5) {
        return std::nullopt;
    }
    return double(stepped) / counted;
}

std::optional<Shade> shadeAlong(const WorkingImage& image, cv::Point2d from, cv::Point2d to, cv::Point2d outward,
                                std::optional<double> ratio) {
    constexpr int n = 12;
    std::vector<Step> steps;
    for (int i = 0; i < n; ++i) {
        if (const auto s = shade(image, from + (to - from) * ((i + 0.5) / n), outward)) {
            steps.push_back(*s);
        }
    }
    if (steps.size() < n / 2) {
        return std::nullopt;
    }
    std::vector<double> ratios;
    for (const Step& s : steps) ratios.push_back(s.ratio);
    Shade result{percentile(ratios, 0.5), 0};
    if (ratio) {
        // A shadow scales every channel alike: past a step to something more or less colourful
        // (a card's edge in line), the surface changes, whatever its brightness.
        constexpr double kNear = 0.12, kSameTint = 40;
        const auto close = std::count_if(steps.begin(), steps.end(), [&](const Step& s) {
            return std::abs(s.ratio - *ratio) <= kNear && s.tint <= kSameTint;
        });
        result.matching = double(close) / double(steps.size());
    }
    return result;
}

std::optional<double> sharpness(const cv::Mat& lightness, cv::Point2d a, cv::Point2d b) {
    constexpr int n = 16, reach = 10;
    const cv::Point2d dir = (b - a) / std::max(1e-9, cv::norm(b - a));
    const cv::Point2d outward(dir.y, -dir.x);
    std::vector<double> shares;
    for (int i = 0; i < n; ++i) {
        const cv::Point2d p = a + (b - a) * (0.2 + 0.6 * (i + 0.5) / n);
        std::array<double, 2 * reach + 1> profile{};
        bool complete = true;
        for (int t = -reach; t <= reach && complete; ++t) {
            const auto v = sampleAt(lightness, p + outward * double(t));
            complete = v.has_value();
            profile[size_t(t + reach)] = v.value_or(0);
        }
        if (!complete) {
            continue;
        }
        // A line drawn near the edge only darkens the paper: its level is the brightest inside.
        const double paper = *std::max_element(profile.begin(), profile.begin() + reach);
        const double drop = paper - (profile[2 * reach - 1] + profile[2 * reach]) / 2;
        if (drop < kMinStep) {
            continue;
        }
        double steepest = 0;
        for (size_t k = 2; k < profile.size(); ++k) {
            steepest = std::max(steepest, profile[k - 2] - profile[k]);
        }
        shares.push_back(std::min(1.0, steepest / drop));
    }
    if (shares.size() < n / 2) {
        return std::nullopt;
    }
    return percentile(shares, 0.5);
}

}  // namespace vellumora::scan
