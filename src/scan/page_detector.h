#pragma once
// Finds the sheet of paper in a camera image. Outlines of many kinds are proposed (bright,
// colourless regions, closed edges, straight edges) and each is judged as paper: its inside must
// be bright and colourless, and each of its sides a step down from that paper to something
// darker or more colourful. A line drawn on the sheet has the same paper on both sides, and a
// card, a book or a block of text is not paper, so none of them is ever the page. Among nested
// sheets the outermost wins; when no edge of the sheet is in view the page is the paper region
// touching the frame, or the whole frame when it is all paper. The live preview and the still
// path both call detectPage.

#include "scan/quad.h"
#include "scan/quad_geometry.h"

#include <opencv2/core.hpp>

#include <optional>
#include <string>
#include <vector>

namespace vellumora::scan {

// Longest side of the shrunken copy the page is judged on. Every image is judged at this size,
// so a preview frame and a large still of the same scene are judged alike.
inline constexpr int kWorkingSide = 400;
inline constexpr int kDetailSide = 1280;

// What the search reads, computed once per image.
struct WorkingImage {
    cv::Mat bgr;        // CV_8UC3, the shrunken image
    cv::Mat lightness;  // CV_8U, L of CIE Lab, lightly smoothed
    cv::Mat paper;      // CV_8U, how much a pixel looks like paper: lightness less its colourfulness
    // CV_8U, saturation (HSV), lightly smoothed: unlike chroma, the same for a surface in light
    // and in shade. Cream paper and warm light tint the sheet a little; a desk, a cloth or leaves
    // far more (kTintedPaper).
    cv::Mat saturation;
    cv::Mat gradX;      // CV_32F, derivatives of lightness
    cv::Mat gradY;
    double paperWhite = 0;  // the paper measure of the brightest part of the picture
    double scale = 1.0;     // image pixels per working pixel
    // Whether a side may step only where no shadow on the paper, with a lit desk beyond, hides
    // its step: a second look when nothing else is a sheet.
    bool shadowsHideSteps = false;

    // From an 8-bit BGR, BGRA or grey image, which it keeps (shared, not copied) for detail().
    static WorkingImage from(const cv::Mat& image, int longSide = kWorkingSide);

    // The image in grey at about kDetailSide, where a thin drawn line the working size blurs away
    // still shows; made when first asked for. `detailPerWorking` is its pixels per working pixel.
    const cv::Mat& detail() const;
    double detailPerWorking() const;

private:
    cv::Mat source_;
    mutable cv::Mat detail_;
};

// One outline considered, in the image's pixels, and how it was judged.
struct PageCandidate {
    Quad outline;
    bool sheet = false;  // judged to be a sheet of paper
    double score = 0;
    std::string source;   // where the outline came from
    std::string verdict;  // why it is or is not a sheet
};

struct PageSearch {
    std::vector<PageCandidate> candidates;
    std::optional<Quad> page;
};

// The page in the image's own pixels, outline refined on the full image. `search`, when given,
// receives every outline considered.
std::optional<Quad> detectPage(const cv::Mat& image, PageSearch* search = nullptr);

}  // namespace vellumora::scan
