#pragma once
// Image files made by the tests themselves: ordinary PNG and JPEG bytes, and what Qt cannot
// write (an EXIF orientation, a huge PNG that is small on disk).

#include <QByteArray>
#include <QImage>
#include <QImageIOHandler>
#include <QPointF>
#include <QString>

#include <optional>

namespace vellumora::testing {

// White paper with a solid black block over the left half: ink at kInkAt, paper at kPaperAt
// (fractions of the width and height).
QImage paperWithBlock(QSize size);
inline constexpr QPointF kInkAt{0.25, 0.5};
inline constexpr QPointF kPaperAt{0.75, 0.5};

// Line art for a page: a black cross through the centre on a transparent square, as PNG bytes.
QByteArray lineArtPng(int size);

// PNG bytes decoded as 32-bit ARGB with straight alpha; null for none or bad bytes.
QImage decodedPng(const std::optional<QByteArray>& png);
// The pixel at a point given in fractions of the width and height.
QRgb pixelAt(const QImage& image, QPointF fraction);

// Bytes of `image` in a format Qt writes ("png", "jpeg").
QByteArray encodeImage(const QImage& image, const char* format);

// JPEG bytes with an EXIF segment carrying only the orientation tag (1…8; 6: turn a quarter
// clockwise to show).
QByteArray withExifOrientation(const QByteArray& jpeg, int orientation);

// A PNG whose header claims the given size over the pixel data of a single pixel: only a
// decoder would notice.
QByteArray hugePng(int width, int height);

// Writes the bytes to `path`; false when that fails.
bool writeFile(const QString& path, const QByteArray& bytes);

}  // namespace vellumora::testing
