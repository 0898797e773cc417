#include "scan/image_matrix.h"

#include <QPainter>

#include <opencv2/imgproc.hpp>

#include <QtEndian>
#include <algorithm>

#include <cstring>

namespace vellumora::scan {

// ARGB32 is stored as B, G, R, A bytes only on little-endian machines.
static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN);

cv::Mat bgraView(const QImage& image, QImage& holder) {
    if (image.isNull()) {
        holder = QImage();
        return {};
    }
    if (image.format() == QImage::Format_RGB32) {
        holder = image;
    } else if (image.hasAlphaChannel()) {
        holder = QImage(image.size(), QImage::Format_RGB32);
        holder.fill(Qt::white);
        QPainter painter(&holder);
        painter.drawImage(0, 0, image);
    } else {
        holder = image.convertToFormat(QImage::Format_RGB32);
    }
    return cv::Mat(holder.height(), holder.width(), CV_8UC4, const_cast<uchar*>(holder.constBits()),
                   size_t(holder.bytesPerLine()));
}

cv::Mat shrinkByArea(const cv::Mat& image, cv::Size size) {
    if (image.empty() || size.width <= 0 || size.height <= 0 || size == image.size()) {
        return image;
    }
    const int whole = std::min(image.cols / size.width, image.rows / size.height);
    cv::Mat step = image;
    if (whole >= 2) {
        cv::resize(image, step, cv::Size(), 1.0 / whole, 1.0 / whole, cv::INTER_AREA);
    }
    if (step.size() == size) {
        return step;
    }
    cv::Mat out;
    cv::resize(step, out, size, 0, 0, cv::INTER_AREA);
    return out;
}

QImage imageFromBgra(const cv::Mat& bgra) {
    CV_Assert(bgra.type() == CV_8UC4);
    QImage image(bgra.cols, bgra.rows, QImage::Format_ARGB32);
    for (int y = 0; y < bgra.rows; ++y) {
        std::memcpy(image.scanLine(y), bgra.ptr(y), size_t(bgra.cols) * 4);
    }
    return image;
}

}  // namespace vellumora::scan
