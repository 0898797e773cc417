#pragma once
// The pages every user can pick without importing anything: blank paper and three line-art
// drawings, drawn from their geometry rather than stored.

#include <QList>

#include "session/current_page.h"

namespace vellumora::PageLibrary {

// Pixel size of the square drawings.
inline constexpr int kPageSide = 1024;
// The drawings' ink: an almost black, slightly violet.
inline constexpr double kInkRed = 0.12;
inline constexpr double kInkGreen = 0.10;
inline constexpr double kInkBlue = 0.12;

// Blank Paper (no image), Mandala, Tulip and Cottage (transparent PNGs), in that order. The
// drawings are rendered on the first call and kept, as they never change; any thread may call.
// A drawing that cannot be rendered is listed without image data.
QList<CurrentPage> builtIn();

// Starts drawing the pages on the thread pool, so that the first builtIn() on the main thread
// finds them ready (or waits only for the rest) instead of drawing them while the window waits.
void prepareInBackground();

}  // namespace vellumora::PageLibrary
