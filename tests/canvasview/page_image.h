#pragma once
// A small line-art page: a black cross on a transparent background, as PNG bytes.

#include <QImage>
#include <QPainter>

#include "support/test_images.h"

namespace vellumora::testing {

inline QByteArray lineArtPng(int size) {
    QImage image(size, size, QImage::Format_RGBA8888);
    image.fill(Qt::transparent);
    QPainter(&image).fillRect(0, size * 15 / 32, size, size / 16, Qt::black);
    QPainter(&image).fillRect(size * 15 / 32, 0, size / 16, size, Qt::black);
    return encodeImage(image, "png");
}

}  // namespace vellumora::testing
