#include "scan/image_matrix.h"

#include <QPainter>

#include <opencv2/imgproc.hpp>

#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

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

namespace {

// A non-negative float rounded half to even, as OpenCV rounds.
uchar roundHalfEven(float v) {
    const int down = int(v);
    const float fraction = v - float(down);
    return uchar(std::min(255, fraction > 0.5f || (fraction == 0.5f && (down & 1)) ? down + 1 : down));
}

// One row of cells, from the sums of its rows down each column of pixels.
template <int Channels>
void shrinkRow(const std::uint16_t* columns, int width, int whole, int rows, const std::vector<uchar>& mean,
               uchar* out, int cells) {
    // Only whole cells take the table; cells cut short are averaged over what they hold.
    const int full = rows == whole ? width / whole : 0;
    for (int cell = 0; cell < cells; ++cell) {
        const int x0 = cell * whole, count = std::min(whole, width - x0);
        const std::uint16_t* column = columns + size_t(x0) * Channels;
        std::uint32_t sums[Channels] = {};
        for (int k = 0; k < count; ++k) {
            for (int c = 0; c < Channels; ++c) {
                sums[c] += column[k * Channels + c];
            }
        }
        for (int c = 0; c < Channels; ++c) {
            out[cell * Channels + c] = cell < full                   ? mean[sums[c]]
                                       : count > 0 && rows > 0 ? roundHalfEven(float(sums[c]) / float(count * rows))
                                                                : 0;
        }
    }
}

// What cv::resize by 1 / whole with INTER_AREA gives an 8-bit image of 1, 3 or 4 channels, bit
// for bit, for factors from 3 to 32: each cell's sum times the float reciprocal of its area,
// rounded; cells the image's edge cuts short are averaged over what they hold. OpenCV adds up a
// cell pixel by pixel through a table of offsets; rows of cells at a time are many times cheaper.
cv::Mat shrinkByWhole(const cv::Mat& image, int whole) {
    const int cn = image.channels();
    const cv::Size size(int(std::lrint(image.cols * (1.0 / whole))), int(std::lrint(image.rows * (1.0 / whole))));
    cv::Mat out(size, image.type());
    const size_t width = size_t(image.cols) * size_t(cn);
    std::vector<std::uint16_t> columns(width);
    // Every sum a whole cell can have, rounded once.
    const float scale = 1.f / float(whole * whole);
    std::vector<uchar> mean(size_t(255 * whole * whole + 1));
    for (size_t sum = 0; sum < mean.size(); ++sum) {
        mean[sum] = roundHalfEven(float(int(sum)) * scale);
    }
    for (int dy = 0; dy < size.height; ++dy) {
        const int y0 = dy * whole, rows = std::clamp(image.rows - y0, 0, whole);
        std::fill(columns.begin(), columns.end(), std::uint16_t(0));
        for (int y = y0; y < y0 + rows; ++y) {
            const uchar* s = image.ptr<uchar>(y);
            for (size_t i = 0; i < width; ++i) {
                columns[i] = std::uint16_t(columns[i] + s[i]);
            }
        }
        uchar* d = out.ptr<uchar>(dy);
        switch (cn) {
            case 1:
                shrinkRow<1>(columns.data(), image.cols, whole, rows, mean, d, size.width);
                break;
            case 3:
                shrinkRow<3>(columns.data(), image.cols, whole, rows, mean, d, size.width);
                break;
            default:
                shrinkRow<4>(columns.data(), image.cols, whole, rows, mean, d, size.width);
                break;
        }
    }
    return out;
}

}  // namespace

cv::Mat shrinkByArea(const cv::Mat& image, cv::Size size) {
    if (image.empty() || size.width <= 0 || size.height <= 0 || size == image.size()) {
        return image;
    }
    const int whole = std::min(image.cols / size.width, image.rows / size.height);
    cv::Mat step = image;
    const int channels = image.channels();
    if (whole >= 3 && whole <= 32 && image.depth() == CV_8U && (channels == 1 || channels == 3 || channels == 4)) {
        step = shrinkByWhole(image, whole);
    } else if (whole >= 2) {
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
