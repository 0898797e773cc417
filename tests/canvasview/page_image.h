#pragma once
// A small line-art page: a black cross on a transparent background, as PNG bytes.

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QPainter>

namespace vellumora::testing {

inline QByteArray lineArtPng(int size) {
    QImage image(size, size, QImage::Format_RGBA8888);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        const int thick = std::max(1, size / 16);
        painter.fillRect(0, (size - thick) / 2, size, thick, Qt::black);
        painter.fillRect((size - thick) / 2, 0, thick, size, Qt::black);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

}  // namespace vellumora::testing
