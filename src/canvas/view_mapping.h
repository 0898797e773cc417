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

// View coordinate (uv, top-left origin, [0, 1]) to canvas-normalized, as the composite does.
Vec2f viewToCanvas(Vec2f uv, float zoom, Vec2f pan);
// The exact inverse, scaled to drawable pixels: a cursor sits on the canvas point it names.
Vec2f canvasToDrawable(Vec2f canvas, float zoom, Vec2f pan, Vec2f drawableSize);

// Refills `draws`: the own cursor first, then every peer's.
void planCursors(const std::optional<CursorViz>& self, const std::map<std::string, CursorViz>& peers,
                 float zoom, Vec2f pan, Vec2f drawableSize, std::vector<CursorDraw>& draws);

}  // namespace vellumora
