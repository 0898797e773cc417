#include "scan/image_matrix.h"

#include <QPainter>

#include <opencv2/core/hal/intrin.hpp>
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
    const int full = std::min(cells, rows == whole ? width / whole : 0);
    const int span = whole * Channels;
    const uchar* table = mean.data();
    for (int cell = 0; cell < full; ++cell) {
        const std::uint16_t* column = columns + size_t(cell) * size_t(span);
        // Four 16-bit sums side by side add up as one 64-bit number while no cell's sum can
        // carry into its neighbour's (255 * 16 * 16 fits 16 bits).
        if (Channels == 4 && whole <= 16) {
            std::uint64_t lanes = 0;
            for (int k = 0; k < span; k += 4) {
                std::uint64_t pixel;
                std::memcpy(&pixel, column + k, sizeof pixel);
                lanes += pixel;
            }
            for (int c = 0; c < Channels; ++c) {
                out[cell * Channels + c] = table[(lanes >> (16 * c)) & 0xffff];
            }
            continue;
        }
        std::uint32_t sums[Channels] = {};
        for (int k = 0; k < span; k += Channels) {
            for (int c = 0; c < Channels; ++c) {
                sums[c] += column[k + c];
            }
        }
        for (int c = 0; c < Channels; ++c) {
            out[cell * Channels + c] = table[sums[c]];
        }
    }
    for (int cell = full; cell < cells; ++cell) {
        const int x0 = cell * whole, count = std::clamp(width - x0, 0, whole);
        const std::uint16_t* column = columns + size_t(x0) * Channels;
        std::uint32_t sums[Channels] = {};
        for (int k = 0; k < count; ++k) {
            for (int c = 0; c < Channels; ++c) {
                sums[c] += column[k * Channels + c];
            }
        }
        for (int c = 0; c < Channels; ++c) {
            out[cell * Channels + c] =
                count > 0 && rows > 0 ? roundHalfEven(float(sums[c]) / float(count * rows)) : 0;
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

// One source pixel's share of a destination pixel along a row or a column.
struct Share {
    int to, from;
    float weight;
};

// The shares OpenCV's area resize gives each destination pixel of a line of `from` shrunk to `to`
// (no larger), in its order and with its rounding.
std::vector<Share> areaShares(int from, int to, int cn, double scale) {
    std::vector<Share> shares;
    for (int d = 0; d < to; ++d) {
        const double start = d * scale, end = start + scale;
        const double width = std::min(scale, from - start);
        int first = int(std::ceil(start)), last = int(std::floor(end));
        last = std::min(last, from - 1);
        first = std::min(first, last);
        if (first - start > 1e-3) {
            shares.push_back({d * cn, (first - 1) * cn, float((first - start) / width)});
        }
        for (int s = first; s < last; ++s) {
            shares.push_back({d * cn, s * cn, float(1.0 / width)});
        }
        if (end - last > 1e-3) {
            shares.push_back({d * cn, last * cn, float(std::min(std::min(end - last, 1.), width) / width)});
        }
    }
    return shares;
}

template <int Channels>
void addShares(const uchar* source, const std::vector<Share>& shares, float* row) {
    for (const Share& x : shares) {
        for (int c = 0; c < Channels; ++c) {
            row[x.to + c] += float(source[x.from + c]) * x.weight;
        }
    }
}

// A pixel's four channels at once: the same products and sums, rounded the same.
template <>
void addShares<4>(const uchar* source, const std::vector<Share>& shares, float* row) {
    for (const Share& x : shares) {
        const cv::v_float32x4 pixel = cv::v_cvt_f32(cv::v_reinterpret_as_s32(cv::v_load_expand_q(source + x.from)));
        cv::v_store(row + x.to, cv::v_load(row + x.to) + pixel * cv::v_setall_f32(x.weight));
    }
}

// What cv::resize with INTER_AREA gives an 8-bit image shrunk by a ratio that is not whole, bit
// for bit: each row's weighted sums in float, rows weighted into the destination's. OpenCV takes
// several times longer over the same sums.
cv::Mat shrinkByRatio(const cv::Mat& image, cv::Size size) {
    const int cn = image.channels();
    const auto across = areaShares(image.cols, size.width, cn, double(image.cols) / size.width);
    const auto down = areaShares(image.rows, size.height, 1, double(image.rows) / size.height);
    cv::Mat out(size, image.type());
    const size_t width = size_t(size.width) * size_t(cn);
    std::vector<float> row(width), sum(width, 0.f);
    int current = down.front().to;
    for (const Share& y : down) {
        const uchar* s = image.ptr<uchar>(y.from);
        std::fill(row.begin(), row.end(), 0.f);
        switch (cn) {
            case 1:
                addShares<1>(s, across, row.data());
                break;
            case 3:
                addShares<3>(s, across, row.data());
                break;
            default:
                addShares<4>(s, across, row.data());
                break;
        }
        if (y.to != current) {
            uchar* d = out.ptr<uchar>(current);
            for (size_t i = 0; i < width; ++i) {
                d[i] = cv::saturate_cast<uchar>(sum[i]);
                sum[i] = y.weight * row[i];
            }
            current = y.to;
        } else {
            for (size_t i = 0; i < width; ++i) {
                sum[i] += y.weight * row[i];
            }
        }
    }
    uchar* d = out.ptr<uchar>(current);
    for (size_t i = 0; i < width; ++i) {
        d[i] = cv::saturate_cast<uchar>(sum[i]);
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
    const bool ours = image.depth() == CV_8U && (channels == 1 || channels == 3 || channels == 4);
    if (whole >= 3 && whole <= 32 && ours) {
        step = shrinkByWhole(image, whole);
    } else if (whole >= 2) {
        cv::resize(image, step, cv::Size(), 1.0 / whole, 1.0 / whole, cv::INTER_AREA);
    }
    if (step.size() == size) {
        return step;
    }
    // Whole ratios both ways take OpenCV's other path, with sums in integers.
    const bool wholeRatios = step.cols % size.width == 0 && step.rows % size.height == 0;
    if (ours && step.cols >= size.width && step.rows >= size.height && !wholeRatios) {
        return shrinkByRatio(step, size);
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
