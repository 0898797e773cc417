#include "model/drawing_types.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace vellumora {

namespace {
struct ToolInfo {
    Tool tool;
    std::string_view raw;
    std::string_view display;
    std::string_view symbol;
    double defaultSize;
};

constexpr std::array<ToolInfo, 6> kTools{{
    {Tool::sketchpen, "sketchpen", "Sketch Pen", "highlighter", 3.0},
    {Tool::pencil, "pencil", "Color Pencil", "pencil", 1.5},
    {Tool::watercolor, "watercolor", "Watercolor", "paintbrush.pointed.fill", 11.0},
    {Tool::crayon, "crayon", "Crayon", "pencil.tip.crop.circle.fill", 6.0},
    {Tool::pastel, "pastel", "Pastel", "paintbrush", 8.0},
    {Tool::eraser, "eraser", "Eraser", "eraser", 12.0},
}};

const ToolInfo& info(Tool tool) {
    return kTools[static_cast<std::size_t>(tool)];
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

int toByte(double component) {
    // Truncation, not rounding; out-of-range input still yields two digits.
    if (!(component > 0)) return 0;
    return static_cast<int>(std::min(component * 255.0, 255.0));
}
}  // namespace

double defaultBrushSize(Tool tool) {
    return info(tool).defaultSize;
}

std::string_view rawValue(Tool tool) {
    return info(tool).raw;
}
std::string_view displayName(Tool tool) {
    return info(tool).display;
}
std::string_view symbolName(Tool tool) {
    return info(tool).symbol;
}

std::optional<Tool> toolFromRawValue(std::string_view text) {
    for (const auto& entry : kTools) {
        if (entry.raw == text) return entry.tool;
    }
    return std::nullopt;
}

const std::vector<ArtColor>& ArtColor::palette() {
    static const std::vector<ArtColor> entries{
        {"ink-black", "Ink Black", 0.08, 0.08, 0.10},
        {"graphite", "Graphite", 0.30, 0.32, 0.36},
        {"cherry-red", "Cherry Red", 0.86, 0.18, 0.18},
        {"coral", "Coral", 0.98, 0.51, 0.45},
        {"sunset", "Sunset", 0.96, 0.42, 0.30},
        {"orange", "Orange", 0.98, 0.63, 0.12},
        {"amber", "Amber", 0.98, 0.80, 0.20},
        {"lemon", "Lemon", 0.99, 0.95, 0.28},
        {"lime", "Lime", 0.68, 0.88, 0.28},
        {"grass", "Grass Green", 0.30, 0.72, 0.28},
        {"forest", "Forest", 0.08, 0.45, 0.28},
        {"teal", "Teal", 0.12, 0.66, 0.66},
        {"sky", "Sky", 0.42, 0.80, 0.98},
        {"azure", "Azure", 0.18, 0.50, 0.96},
        {"indigo", "Indigo", 0.30, 0.26, 0.74},
        {"violet", "Violet", 0.56, 0.34, 0.86},
        {"magenta", "Magenta", 0.92, 0.28, 0.72},
        {"pink", "Pink", 0.98, 0.60, 0.82},
        {"rose", "Rose", 0.94, 0.42, 0.58},
        {"brown", "Brown", 0.52, 0.32, 0.18},
        {"sand", "Sand", 0.90, 0.76, 0.52},
        {"mint", "Mint", 0.62, 0.92, 0.78},
        {"lavender", "Lavender", 0.76, 0.68, 0.96},
        {"slate", "Slate", 0.46, 0.52, 0.62},
    };
    return entries;
}

const ArtColor* ArtColor::byId(std::string_view id) {
    for (const auto& entry : palette()) {
        if (entry.id == id) return &entry;
    }
    return nullptr;
}

RGBA32 parseHexColor(std::string_view text) {
    constexpr RGBA32 fallback{0.5f, 0.5f, 0.5f, 1.0f};
    if (!text.empty() && text.front() == '#') text.remove_prefix(1);
    if (text.size() != 6) return fallback;
    std::uint32_t v = 0;
    for (char c : text) {
        const int digit = hexDigit(c);
        if (digit < 0) return fallback;
        v = (v << 4) | static_cast<std::uint32_t>(digit);
    }
    return {static_cast<float>((v >> 16) & 0xFF) / 255.0f, static_cast<float>((v >> 8) & 0xFF) / 255.0f,
            static_cast<float>(v & 0xFF) / 255.0f, 1.0f};
}

std::string hexColorText(double r, double g, double b) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out(7, '#');
    const int bytes[3] = {toByte(r), toByte(g), toByte(b)};
    for (int i = 0; i < 3; ++i) {
        out[1 + 2 * i] = kDigits[bytes[i] >> 4];
        out[2 + 2 * i] = kDigits[bytes[i] & 0xF];
    }
    return out;
}

}  // namespace vellumora
