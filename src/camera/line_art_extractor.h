#pragma once
// Turns pictures into colouring pages: black lines on a transparent background, as PNG bytes of
// at most kMaxPageSide pixels on the longest side. Pure functions, callable from any thread.

#include <QByteArray>
#include <QImage>

#include <optional>

namespace vellumora::LineArtExtractor {

// Bounds the cost of rendering and the size of the page every peer in the room receives.
inline constexpr int kMaxPageSide = 1400;

// RGBA PNG in sRGB, scaled down uniformly when the longest side is over kMaxPageSide.
// None for a null or empty image ("[LineExtractor] refusing to encode: bad extent …" is logged)
// and when encoding fails ("[LineExtractor] pngRepresentation returned nil").
std::optional<QByteArray> pngData(const QImage& image);

}  // namespace vellumora::LineArtExtractor
