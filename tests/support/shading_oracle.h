#pragma once
// The per-pixel formulas of the brush tips, the paper, the composite and the cursor, in C++
// with 32-bit float arithmetic. The GPU runs the same formulas from shaders/*.glsl; tests
// read its pixels back and compare them with these.

#include "canvas/canvas_types.h"
#include "model/drawing_types.h"

#include <optional>

namespace vellumora::shading {

// Alpha of a brush tip at `local` (±1 is 1.3 × the stamp radius from its centre), before
// the stamp's opacity; nothing outside the tip's disc (the pixel is left untouched).
std::optional<float> brushAlpha(Tool tool, Vec2f local, float seed);

// One composite pixel at canvas coordinate `c`, given the ink and line art sampled there.
Color4f composite(Vec2f c, Color4f ink, Color4f lines);

// The cursor at `local` drawable pixels from its centre; nothing where it is discarded.
std::optional<Color4f> cursorColor(Vec2f local, float radius, float ringWidth, Color4f color, float filled);

}  // namespace vellumora::shading
