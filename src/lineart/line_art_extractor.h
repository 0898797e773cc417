#pragma once
// Turns pictures into colouring pages: black lines on a transparent background, as PNG bytes of
// at most kMaxPageSide pixels on the longest side. Pure functions, callable from any thread.

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

#include <optional>

namespace vellumora::LineArtExtractor {

// Bounds the cost of rendering and the size of the page every peer in the room receives.
inline constexpr int kMaxPageSide = 1400;
// A picture whose shorter side is below this has nothing to colour.
inline constexpr int kMinPageSide = 16;
// Files are read whole before decoding; nothing near this size is a colouring page.
inline constexpr qint64 kMaxFileBytes = 256 * 1024 * 1024;

// `size` scaled uniformly so that its longest side is at most kMaxPageSide (unchanged when it
// already is), as pngData scales.
QSize cappedSize(QSize size);

// RGBA PNG in sRGB, scaled down uniformly when the longest side is over kMaxPageSide.
// None for a null or empty image ("[LineExtractor] refusing to encode: bad extent …" is logged)
// and when encoding fails ("[LineExtractor] pngRepresentation returned nil").
std::optional<QByteArray> pngData(const QImage& image);

// For pages that already are clean line art: every pixel becomes black, with white paper fully
// transparent, black lines fully opaque and greys in between. Contrast is raised a little first,
// so paper that is nearly white (JPEG noise, a light scan) also drops out. A null image gives a
// null image.
QImage whiteToAlpha(const QImage& image);

enum class LoadFailure {
    unreadable,    // the file could not be opened or read
    notPngOrJpeg,  // no PNG or JPEG data, whatever the file's name says
    damaged,       // PNG or JPEG data that is broken or ends early
    tooSmall,      // shorter side below kMinPageSide
    tooLarge,      // decoding would need more memory than the image reader allows
    notEncoded,    // the page could not be encoded as PNG
};

struct LoadResult {
    std::optional<QByteArray> png;                  // the page; none on failure
    LoadFailure failure = LoadFailure::unreadable;  // why, when there is no page
    QSize imageSize;  // the file's picture as displayed, when its header could be read
};

// A PNG or JPEG file as a page: EXIF orientation applied, scaled to kMaxPageSide, whiteToAlpha,
// pngData. Bad input yields a failure and never a partial page.
LoadResult loadColoringPage(const QString& path);

}  // namespace vellumora::LineArtExtractor
