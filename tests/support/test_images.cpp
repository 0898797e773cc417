#include "support/test_images.h"

#include <QBuffer>
#include <QFile>
#include <QImageWriter>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

namespace vellumora::testing {

namespace {

std::uint32_t crc32(const QByteArray& bytes) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    std::uint32_t c = 0xFFFFFFFFu;
    for (const char byte : bytes) c = table[(c ^ std::uint8_t(byte)) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

QByteArray bigEndian32(std::uint32_t value) {
    QByteArray out(4, '\0');
    qToBigEndian(value, out.data());
    return out;
}

QByteArray chunk(const char* type, const QByteArray& data) {
    const QByteArray typed = QByteArray(type) + data;
    return bigEndian32(std::uint32_t(data.size())) + typed + bigEndian32(crc32(typed));
}

QByteArray png(int width, int height, int colourType, int bitDepth, const QByteArray& zlibStream) {
    QByteArray header = bigEndian32(std::uint32_t(width)) + bigEndian32(std::uint32_t(height));
    header += char(bitDepth);
    header += char(colourType);
    header += QByteArray(3, '\0');  // deflate, adaptive filtering, no interlace
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + chunk("IDAT", zlibStream) +
           chunk("IEND", {});
}

// Deflate output, least significant bit first.
class BitWriter {
  public:
    explicit BitWriter(QByteArray& out) : out_(out) {}
    void write(std::uint32_t bits, int count) {
        acc_ |= std::uint64_t(bits) << filled_;
        filled_ += count;
        while (filled_ >= 8) {
            out_.append(char(acc_ & 0xFF));
            acc_ >>= 8;
            filled_ -= 8;
        }
    }
    void flush() {
        if (filled_ > 0) out_.append(char(acc_ & 0xFF));
        acc_ = 0;
        filled_ = 0;
    }

  private:
    QByteArray& out_;
    std::uint64_t acc_ = 0;
    int filled_ = 0;
};

// Huffman codes are sent most significant bit first.
std::uint32_t reversed(std::uint32_t code, int length) {
    std::uint32_t r = 0;
    for (int i = 0; i < length; ++i) r |= ((code >> i) & 1u) << (length - 1 - i);
    return r;
}

}  // namespace

QImage paperWithBlock(QSize size) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    const int w = size.width(), h = size.height();
    for (int y = h / 4; y < h - h / 4; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        std::fill(line + w / 8, line + w / 2 - w / 16, qRgb(0, 0, 0));
    }
    return image;
}

QImage decodedPng(const std::optional<QByteArray>& png) {
    return png ? QImage::fromData(*png, "PNG").convertToFormat(QImage::Format_ARGB32) : QImage();
}

QRgb pixelAt(const QImage& image, QPointF fraction) {
    return image.pixel(int(fraction.x() * image.width()), int(fraction.y() * image.height()));
}

QByteArray rawRows(const QImage& image, int colourType, int bitDepth) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    QByteArray rows;
    const auto sample = [&](int value) {
        if (bitDepth == 16) {
            rows += char(value);  // the same high and low byte: the full 16-bit range
        }
        rows += char(value);
    };
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x) {
            const int grey = qGray(line[x]);
            switch (colourType) {
                case 0:
                    sample(grey);
                    break;
                case 4:
                    sample(0), sample(255 - grey);
                    break;
                case 2:
                    sample(qRed(line[x])), sample(qGreen(line[x])), sample(qBlue(line[x]));
                    break;
                default:
                    sample(qRed(line[x])), sample(qGreen(line[x])), sample(qBlue(line[x])), sample(255);
                    break;
            }
        }
    }
    return rows;
}

QByteArray encodeImage(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, format).write(image);
    return bytes;
}

QByteArray withExifOrientation(const QByteArray& jpeg, int orientation) {
    // Big-endian TIFF header, one IFD with one SHORT entry (tag 0x0112), no next IFD.
    QByteArray tiff("MM\0\x2a\0\0\0\x08", 8);
    tiff += QByteArray("\0\x01\x01\x12\0\x03\0\0\0\x01", 10);
    tiff += char(0);
    tiff += char(orientation);
    tiff += QByteArray(6, '\0');  // value padding, next IFD offset 0
    const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
    QByteArray segment("\xFF\xE1", 2);
    segment += char((payload.size() + 2) >> 8);
    segment += char((payload.size() + 2) & 0xFF);
    return jpeg.left(2) + segment + payload + jpeg.mid(2);
}

QByteArray rawPng(int width, int height, int colourType, int bitDepth, const QByteArray& rows) {
    const qsizetype stride = rows.size() / height;
    QByteArray filtered;
    for (int y = 0; y < height; ++y) filtered += '\0' + rows.mid(y * stride, stride);
    return png(width, height, colourType, bitDepth,
               qCompress(filtered).mid(4));  // qCompress prefixes the size
}

QByteArray hugeTransparentPng(int width, int height) {
    // Every filter byte and sample is zero: one literal zero, then copies of 258 bytes at distance 1,
    // in one block with the fixed codes.
    const qint64 total = qint64(height) * (1 + qint64(width) * 4);
    QByteArray stream("\x78\x01", 2);
    BitWriter bits(stream);
    bits.write(1, 1);                                 // final block
    bits.write(1, 2);                                 // fixed Huffman codes
    bits.write(reversed(0x30, 8), 8);                 // literal 0
    const std::uint32_t copy258 = reversed(0xC5, 8);  // length symbol 285; distance code 0 is five zero bits
    qint64 left = total - 1;
    for (; left >= 258; left -= 258) bits.write(copy258, 13);
    for (; left > 0; --left) bits.write(reversed(0x30, 8), 8);
    bits.write(0, 7);  // end of block
    bits.flush();
    const std::uint32_t adler = (std::uint32_t(total % 65521) << 16) | 1u;
    stream += bigEndian32(adler);
    return png(width, height, 6, 8, stream);
}

QByteArray cmykJpeg(const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    info.image_width = JDIMENSION(rgb.width());
    info.image_height = JDIMENSION(rgb.height());
    info.input_components = 4;
    info.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 95, TRUE);
    jpeg_start_compress(&info, TRUE);
    std::vector<unsigned char> row(std::size_t(rgb.width()) * 4);
    for (int y = 0; y < rgb.height(); ++y) {
        const uchar* in = rgb.constScanLine(y);
        for (int x = 0; x < rgb.width(); ++x) {
            // Inverted CMYK: the stored values are 255 minus the ink.
            const int r = in[3 * x], g = in[3 * x + 1], b = in[3 * x + 2];
            const int k = std::max({r, g, b});
            unsigned char* px = &row[std::size_t(x) * 4];
            px[0] = k ? uchar(r * 255 / k) : 255;
            px[1] = k ? uchar(g * 255 / k) : 255;
            px[2] = k ? uchar(b * 255 / k) : 255;
            px[3] = uchar(k);
        }
        JSAMPROW rowPointer = row.data();
        jpeg_write_scanlines(&info, &rowPointer, 1);
    }
    jpeg_finish_compress(&info);
    QByteArray bytes(reinterpret_cast<const char*>(out), qsizetype(size));
    std::free(out);
    jpeg_destroy_compress(&info);
    return bytes;
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

}  // namespace vellumora::testing
