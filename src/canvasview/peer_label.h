#pragma once
// A peer's name as the canvas shows it beside their cursor: a small pill in their colour.

#include <QColor>
#include <QImage>
#include <QString>

namespace vellumora {

// At `ratio` device pixels per point, for the renderer to draw one texel per drawable pixel.
QImage paintPeerLabel(const QString& name, const QColor& color, qreal ratio);

}  // namespace vellumora
