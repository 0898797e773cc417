#include "support/test_images.h"

#include <QBuffer>
#include <QFile>
#include <QImageWriter>
#include <QPainter>
#include <QtEndian>

#include <algorithm>
#include <cstdint>

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

QByteArray lineArtPng(int size) {
    QImage image(size, size, QImage::Format_RGBA8888);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.fillRect(0, size * 15 / 32, size, size / 16, Qt::black);
    painter.fillRect(size * 15 / 32, 0, size / 16, size, Qt::black);
    painter.end();
    return encodeImage(image, "png");
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

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

}  // namespace vellumora::testing
