#pragma once
// Small value types shared by the gesture machine, the stamper, the shading oracle and the
// renderer.

namespace vellumora {

// The canvas image is this many pixels on each side; canvas pixels = normalized × this.
inline constexpr float kCanvasSize = 2048.0f;

// A point in canvas-normalized (or touch) coordinates: origin top-left, y downwards.
struct CanvasPoint {
    double x = 0;
    double y = 0;
    bool operator==(const CanvasPoint&) const = default;
};

struct Vec2f {
    float x = 0;
    float y = 0;
    bool operator==(const Vec2f&) const = default;
};

struct Color4f {
    float r = 0;
    float g = 0;
    float b = 0;
    float a = 0;
    bool operator==(const Color4f&) const = default;
};

}  // namespace vellumora
