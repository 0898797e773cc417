#include "support/test_images.h"

#include <QBuffer>
#include <QFile>
#include <QImageWriter>
#include <QtEndian>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>
#include <zlib.h>

namespace vellumora::testing {

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

QByteArray hugePng(int width, int height) {
    QByteArray bytes = encodeImage(paperWithBlock({1, 1}), "png");
    // IHDR starts the file after the 8-byte signature: length, type, width, height, ..., CRC.
    qToBigEndian(std::uint32_t(width), bytes.data() + 16);
    qToBigEndian(std::uint32_t(height), bytes.data() + 20);
    qToBigEndian(std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(bytes.data() + 12), 17)),
                 bytes.data() + 29);
    return bytes;
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
