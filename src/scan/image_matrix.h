#pragma once
// QImage pixels as OpenCV matrices and back.

#include <QImage>

#include <opencv2/core.hpp>

namespace vellumora::scan {

// The image as an 8-bit BGRA matrix. Transparent parts are laid over white, as a page would
// look. The matrix shares the pixels of `holder`, which must outlive it.
cv::Mat bgraView(const QImage& image, QImage& holder);

// The image scaled down to `size` by averaging, as OpenCV's area resize gives it: by the largest
// whole factor first, then by the small remainder, each summed here for 8-bit images, far sooner.
cv::Mat shrinkByArea(const cv::Mat& image, cv::Size size);

// A copy of an 8-bit BGRA matrix as a non-premultiplied ARGB image.
QImage imageFromBgra(const cv::Mat& bgra);

}  // namespace vellumora::scan
