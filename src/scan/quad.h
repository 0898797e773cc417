#pragma once
// The outline of a sheet of paper in an image: four corners in the image's pixels, origin at the
// top-left, y downwards (Qt's and OpenCV's convention, so nothing is ever flipped).

#include <QPointF>
#include <QPolygonF>

#include <array>

namespace vellumora {

struct Quad {
    QPointF topLeft;
    QPointF topRight;
    QPointF bottomLeft;
    QPointF bottomRight;

    // Clockwise from the top-left corner.
    std::array<QPointF, 4> clockwise() const { return {topLeft, topRight, bottomRight, bottomLeft}; }
    QPolygonF polygon() const { return QPolygonF({topLeft, topRight, bottomRight, bottomLeft}); }
    QPointF centroid() const { return (topLeft + topRight + bottomLeft + bottomRight) * 0.25; }
    Quad scaled(double sx, double sy) const;

    friend bool operator==(const Quad&, const Quad&) = default;
};

inline Quad Quad::scaled(double sx, double sy) const {
    auto s = [&](QPointF p) { return QPointF(p.x() * sx, p.y() * sy); };
    return {s(topLeft), s(topRight), s(bottomLeft), s(bottomRight)};
}

}  // namespace vellumora
