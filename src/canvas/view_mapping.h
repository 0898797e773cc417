#pragma once
// Where canvas points land in the drawable under zoom and pan, and which cursors a frame draws.

#include "canvas/canvas_types.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vellumora {

struct CursorViz {
    Vec2f pos;  // canvas-normalized
    Color4f color;
    bool isDrawing = false;
    bool operator==(const CursorViz&) const = default;
};

// One cursor quad: centre in drawable pixels (top-left origin), sizes in drawable pixels.
struct CursorDraw {
    Vec2f center;
    Color4f color;
    float radius = 0;
    float ringWidth = 0;
    float filled = 0;
    bool operator==(const CursorDraw&) const = default;
};

// The square canvas in a view of any shape: at zoom 1 it spans the view's shorter side,
// centred, and zoom and pan act about the view's centre. View coordinates (uv) have a top-left
// origin and run over [0, 1] on each axis; "square" coordinates are uv measured in canvas
// widths from the centred square's corner, the frame zoom anchors and pan steps are given in.
struct ViewMapping {
    float zoom = 1;
    Vec2f pan;
    Vec2f viewSize;  // any unit, only its shape counts; empty: taken as square

    Vec2f toSquare(Vec2f uv) const;
    Vec2f toCanvas(Vec2f uv) const;
    Vec2f toView(Vec2f canvas) const;  // the exact inverse of toCanvas
    // View-width fractions to canvas widths (a pan step, unzoomed).
    Vec2f squareScale() const;
};

// Refills `draws` (centres in drawable pixels): the own cursor first, then every peer's.
void planCursors(const std::optional<CursorViz>& self, const std::map<std::string, CursorViz>& peers,
                 const ViewMapping& mapping, std::vector<CursorDraw>& draws);

}  // namespace vellumora
