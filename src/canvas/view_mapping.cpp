#include "canvas/view_mapping.h"

namespace vellumora {

namespace {
constexpr float kSelfRadius = 14.0f;
constexpr float kSelfRingWidth = 2.5f;
constexpr float kPeerRadius = 10.0f;
constexpr float kPeerRingWidth = 2.0f;
}  // namespace

Vec2f viewToCanvas(Vec2f uv, float zoom, Vec2f pan) {
    return {(uv.x - 0.5f) / zoom + 0.5f + pan.x, (uv.y - 0.5f) / zoom + 0.5f + pan.y};
}

Vec2f canvasToDrawable(Vec2f canvas, float zoom, Vec2f pan, Vec2f drawableSize) {
    return {((canvas.x - 0.5f - pan.x) * zoom + 0.5f) * drawableSize.x,
            ((canvas.y - 0.5f - pan.y) * zoom + 0.5f) * drawableSize.y};
}

void planCursors(const std::optional<CursorViz>& self, const std::map<std::string, CursorViz>& peers,
                 float zoom, Vec2f pan, Vec2f drawableSize, std::vector<CursorDraw>& draws) {
    draws.clear();
    if (self) {
        draws.push_back({canvasToDrawable(self->pos, zoom, pan, drawableSize), self->color, kSelfRadius,
                         kSelfRingWidth, self->isDrawing ? 1.0f : 0.0f});
    }
    for (const auto& [userId, peer] : peers) {
        draws.push_back({canvasToDrawable(peer.pos, zoom, pan, drawableSize), peer.color, kPeerRadius,
                         kPeerRingWidth, 0.0f});
    }
}

}  // namespace vellumora
