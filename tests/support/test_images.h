#pragma once
// Image files made by the tests themselves: ordinary PNG and JPEG bytes, and the unusual
// encodings Qt cannot write (16-bit and grey-with-alpha PNG, CMYK JPEG, a huge PNG that is
// small on disk).

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

// PNG bytes decoded as 32-bit ARGB with straight alpha; null for none or bad bytes.
QImage decodedPng(const std::optional<QByteArray>& png);
// The pixel at a point given in fractions of the width and height.
QRgb pixelAt(const QImage& image, QPointF fraction);

// Bytes of `image` in a format Qt writes ("png", "jpeg").
QByteArray encodeImage(const QImage& image, const char* format);

// JPEG bytes with an EXIF segment carrying only the orientation tag (1…8; 6: turn a quarter
// clockwise to show).
QByteArray withExifOrientation(const QByteArray& jpeg, int orientation);

// A PNG from raw pixel rows (without filter bytes): `colourType` and `bitDepth` as in IHDR
// (0 grey, 2 RGB, 4 grey + alpha, 6 RGBA; 8 or 16 bits), 16-bit samples big-endian.
QByteArray rawPng(int width, int height, int colourType, int bitDepth, const QByteArray& rows);

// The rows of `image` as rawPng wants them for the colour type and bit depth; with grey + alpha
// the paper is stored as transparent black, so only the alpha channel tells it from ink.
QByteArray rawRows(const QImage& image, int colourType, int bitDepth);

// A complete, valid RGBA PNG of the given size, every pixel transparent: a few bytes per
// thousand pixels on disk, gigabytes once decoded.
QByteArray hugeTransparentPng(int width, int height);

// `image` as a CMYK JPEG stored the way print software writes it (inverted, Adobe marker).
QByteArray cmykJpeg(const QImage& image);

// Writes the bytes to `path`; false when that fails.
bool writeFile(const QString& path, const QByteArray& bytes);

}  // namespace vellumora::testing
