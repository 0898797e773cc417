#pragma once
// Inside the page search: where outlines come from and how one is judged. All in working pixels.

#include "scan/page_detector.h"
#include "scan/side_measures.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

namespace vellumora::scan {

struct Outline {
    Corners corners;
    const char* source;
};

// Outlines that might be the sheet: regions that look like paper or lack colour, closed edges, and
// quadrilaterals of straight steps in brightness (with the frame's border where the sheet goes
// beyond it).
std::vector<Outline> proposeOutlines(const WorkingImage& image);

// The most a sheet's saturation (0...255) is tinted by cream paper or warm light.
inline constexpr double kTintedPaper = 72.0;

// The shortest straight stretch of an edge that counts as one, in working pixels.
inline double shortestEdge(cv::Size size) {
    return 0.07 * std::min(size.width, size.height);
}

// A side must step along this share of its length (thumbs, clutter, curled corners and shade
// that darkens the paper below the desk beyond take the rest).
inline constexpr double kMinSideSupport = 0.4;

struct Judgement {
    bool sheet = false;
    double score = 0;
    double paper = 0;     // the paper measure of the inside
    double weakest = 0;   // the least share of a side that steps down from the paper
    std::array<double, 4> steps{};  // that share for each side, 1 along the frame's border
    int borderSides = 0;  // sides along the frame's border, where the sheet may go on
    bool edgeInView = false;  // two long sides step down from paper along nearly all their length
    std::string verdict;
    // The outlines (by index among those judged with it) of sheets this is a part of, cut off by
    // a shadow's edge.
    std::vector<size_t> shadedPartOf;
};

Judgement judgeOutline(const WorkingImage& image, const Corners& c);

// Whether a paper measure is that of paper, if maybe in shade.
bool paperInShade(const WorkingImage& image, double level);

struct Judged {
    Outline outline;
    Judgement judgement;
};

// The sheet among the judged outlines, or none when no outline is one. Outlines set aside for
// another have that noted in their verdicts.
const Judged* chooseSheet(const WorkingImage& image, std::vector<Judged>& judged);

// The whole frame is paper: a close-up with no edge of the sheet in view (none of the judged
// outlines has one).
bool framedByPaper(const WorkingImage& image, const std::vector<Judged>& judged);

}  // namespace vellumora::scan
