#pragma once
// Value types of the drawing path: brushes, points, colours, strokes and the palette.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vellumora {

// Five brushes that lay ink, and the eraser that takes it back to the paper.
enum class Tool { sketchpen, pencil, watercolor, crayon, pastel, eraser };

// Declaration order; the tool picker lists them this way.
inline constexpr std::array<Tool, 6> toolAllCases{Tool::sketchpen, Tool::pencil, Tool::watercolor,
                                                  Tool::crayon,    Tool::pastel, Tool::eraser};

// The wire form and identity of a tool.
std::string_view rawValue(Tool tool);
std::string_view displayName(Tool tool);
std::string_view symbolName(Tool tool);
// The size a tool starts with whenever it is chosen.
double defaultBrushSize(Tool tool);
// Exact, case-sensitive match of the raw value.
std::optional<Tool> toolFromRawValue(std::string_view text);

struct StrokePoint {
    double x = 0;
    double y = 0;
    double pressure = 1.0;
    double t = 0;
    bool operator==(const StrokePoint&) const = default;
};

struct WireColor {
    double r = 0;
    double g = 0;
    double b = 0;
    double a = 1.0;
    bool operator==(const WireColor&) const = default;
};

struct StrokeHeader {
    std::string id;
    std::string userId;
    Tool tool = Tool::sketchpen;
    WireColor color;
    double brushSize = 3.0;
    bool operator==(const StrokeHeader&) const = default;
};

struct Stroke {
    std::string id;
    std::string userId;
    Tool tool = Tool::sketchpen;
    WireColor color;
    double brushSize = 3.0;
    std::vector<StrokePoint> points;
    bool complete = false;
    bool operator==(const Stroke&) const = default;
};

struct ArtColor {
    std::string id;
    std::string name;
    double r = 0;
    double g = 0;
    double b = 0;
    bool operator==(const ArtColor&) const = default;

    WireColor wireColor() const { return {r, g, b, 1.0}; }

    // The fixed 24-entry palette, in the order the colour grid shows it.
    static const std::vector<ArtColor>& palette();
    // Palette entry by id; the session's default is "cherry-red".
    static const ArtColor* byId(std::string_view id);
};

struct RGBA32 {
    float r = 0;
    float g = 0;
    float b = 0;
    float a = 0;
    bool operator==(const RGBA32&) const = default;
};

// "#RRGGBB" (or "RRGGBB"), case-insensitive; anything else gives opaque mid grey.
RGBA32 parseHexColor(std::string_view text);
// "#RRGGBB" with upper-case digits; each component is truncated from component × 255.
std::string hexColorText(double r, double g, double b);

}  // namespace vellumora
