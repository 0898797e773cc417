#pragma once
// How far a room's backlog has been painted: a bar along the top edge of the canvas and a
// label under it, painted into an image that the renderer draws over each frame.

#include <QImage>
#include <QSize>
#include <QString>

namespace vellumora {

// The label for a fraction from 0 to 1.
QString replayProgressText(double progress);
// The bar and label over a view of `viewSize` (logical pixels) at `ratio` device pixels each.
QImage paintReplayOverlay(double progress, QSize viewSize, qreal ratio);

}  // namespace vellumora
