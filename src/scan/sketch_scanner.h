#pragma once
// Turns a camera still of a hand-drawn sketch into a colouring page: finds the sheet, straightens
// it and keeps only its lines, black on transparent. Pure functions, callable from any thread.

#include "scan/quad.h"

#include <QByteArray>
#include <QImage>

#include <opencv2/core.hpp>

#include <optional>

namespace vellumora::LineArtExtractor {

// PNG bytes of the sketch's line art (at most kMaxPageSide on the longest side); none when the
// still is empty or the PNG cannot be written. A still without a detectable sheet is used whole.
std::optional<QByteArray> extractHighQuality(const QImage& still);

// The sheet of paper in a still, judged as the live preview judges it (scan::detectPage).
std::optional<Quad> detectDocument(const cv::Mat& still);

// The quad's content mapped onto an upright rectangle whose sides are the quad's longer
// opposite sides, shrunk to at most maxSide pixels on its longest side. The quad may reach
// beyond the image (a close-up); `inFrame`, when given, receives the page's mask of what lies
// within it (255) and what does not (0).
cv::Mat perspectiveCorrected(const cv::Mat& image, const Quad& quad, int maxSide, cv::Mat* inFrame = nullptr);

// Black line art whose alpha is how much darker each pixel is than the paper around it; broad
// shading and shadows stay transparent.
QImage lineOverlayPipeline(const cv::Mat& image);

}  // namespace vellumora::LineArtExtractor
