#pragma once
// A small line-art page: a black cross on a transparent background, as PNG bytes.

#include <QBuffer>
#include <QImage>
#include <QPainter>

namespace vellumora::testing {

inline QByteArray lineArtPng(int size) {
    QImage image(size, size, QImage::Format_RGBA8888);
    image.fill(Qt::transparent);
    QPainter(&image).fillRect(0, size * 15 / 32, size, size / 16, Qt::black);
    QPainter(&image).fillRect(size * 15 / 32, 0, size / 16, size, Qt::black);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    image.save(&buffer, "PNG");
    return bytes;
}

}  // namespace vellumora::testing
