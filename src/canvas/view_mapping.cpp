#include "canvas/view_mapping.h"

#include <algorithm>

namespace vellumora {

namespace {
constexpr float kSelfRadius = 14.0f;
constexpr float kSelfRingWidth = 2.5f;
constexpr float kPeerRadius = 10.0f;
constexpr float kPeerRingWidth = 2.0f;
}  // namespace

Vec2f ViewMapping::squareScale() const {
    const float side = std::min(viewSize.x, viewSize.y);
    if (!(side > 0)) return {1, 1};
    return {viewSize.x / side, viewSize.y / side};
}

Vec2f ViewMapping::toSquare(Vec2f uv) const {
    const Vec2f k = squareScale();
    return {(uv.x - 0.5f) * k.x + 0.5f, (uv.y - 0.5f) * k.y + 0.5f};
}

Vec2f ViewMapping::toCanvas(Vec2f uv) const {
    const Vec2f s = toSquare(uv);
    return {(s.x - 0.5f) / zoom + 0.5f + pan.x, (s.y - 0.5f) / zoom + 0.5f + pan.y};
}

Vec2f ViewMapping::toView(Vec2f canvas) const {
    const Vec2f k = squareScale();
    return {(canvas.x - 0.5f - pan.x) * zoom / k.x + 0.5f, (canvas.y - 0.5f - pan.y) * zoom / k.y + 0.5f};
}

void planCursors(const std::optional<CursorViz>& self, const std::map<std::string, CursorViz>& peers,
                 const ViewMapping& mapping, std::vector<CursorDraw>& draws) {
    const auto drawable = [&mapping](Vec2f canvas) {
        const Vec2f uv = mapping.toView(canvas);
        return Vec2f{uv.x * mapping.viewSize.x, uv.y * mapping.viewSize.y};
    };
    draws.clear();
    if (self) {
        draws.push_back(
            {drawable(self->pos), self->color, kSelfRadius, kSelfRingWidth, self->isDrawing ? 1.0f : 0.0f});
    }
    for (const auto& [userId, peer] : peers) {
        draws.push_back({drawable(peer.pos), peer.color, kPeerRadius, kPeerRingWidth, 0.0f});
    }
}

}  // namespace vellumora
