#include "canvas/stroke_stamper.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>

namespace vellumora {

namespace {

// Canvas pixels of a normalized point; nothing when either axis does not fit a float.
std::optional<Vec2f> toCanvasPixels(CanvasPoint p) {
    const Vec2f q{static_cast<float>(p.x * kCanvasSize), static_cast<float>(p.y * kCanvasSize)};
    if (!std::isfinite(q.x) || !std::isfinite(q.y)) return std::nullopt;
    return q;
}

float clampUnit(float v) {
    return std::isnan(v) ? 0.0f : std::clamp(v, 0.0f, 1.0f);
}

StrokeStamper::SeedSource systemSeeds() {
    auto engine = std::make_shared<std::mt19937>(std::random_device{}());
    return [engine] {
        std::uniform_real_distribution<float> seed(0.0f, 1000.0f);
        // The distribution may round up to its bound in float; keep the range half-open.
        return std::min(seed(*engine), std::nextafter(1000.0f, 0.0f));
    };
}

}  // namespace

float spacingFactor(Tool tool) {
    switch (tool) {
        case Tool::sketchpen:
        case Tool::pencil:
        case Tool::eraser:
            return 0.12f;
        case Tool::crayon:
            return 0.18f;
        case Tool::watercolor:
        case Tool::pastel:
            return 0.22f;
    }
    return 0.12f;
}

StrokeStamper::StrokeStamper(SeedSource seeds) : seeds_(seeds ? std::move(seeds) : systemSeeds()) {}

void StrokeStamper::beginStroke(const std::string& id, CanvasPoint at, Tool tool, Color4f color,
                                float radius) {
    const std::optional<Vec2f> c = toCanvasPixels(at);
    if (!c || !std::isfinite(radius)) return;
    ActiveStroke stroke{*c,
                        {clampUnit(color.r), clampUnit(color.g), clampUnit(color.b), clampUnit(color.a)},
                        std::clamp(radius, 0.0f, kMaxStampRadius),
                        tool};
    strokes_.insert_or_assign(id, stroke);
    queueStamp(stroke, stroke.lastPoint);
}

void StrokeStamper::appendPoint(const std::string& id, CanvasPoint point) {
    const auto it = strokes_.find(id);
    if (it == strokes_.end()) return;
    const std::optional<Vec2f> q = toCanvasPixels(point);
    if (!q) return;
    ActiveStroke& stroke = it->second;

    const Vec2f d{q->x - stroke.lastPoint.x, q->y - stroke.lastPoint.y};
    const float dist = std::hypot(d.x, d.y);  // no overflow of the squares
    // Two finite but far-apart points can still overflow the distance: such a segment lies
    // off the canvas anyway, so it paints nothing.
    if (std::isfinite(dist) && dist >= 0.001f) {
        const float spacing = std::max(stroke.radius * spacingFactor(stroke.tool), kMinStampSpacing);
        // Computed in double: a hostile float distance may exceed every integer type.
        const double wanted = std::max(1.0, std::ceil(static_cast<double>(dist) / spacing));
        const auto n = static_cast<std::size_t>(std::min(wanted, double(kMaxStampsPerSegment)));
        for (std::size_t k = 1; k < n; ++k) {
            const float t = static_cast<float>(k) / static_cast<float>(n);
            queueStamp(stroke, {stroke.lastPoint.x + d.x * t, stroke.lastPoint.y + d.y * t});
        }
        // The segment always ends on its point, exactly.
        queueStamp(stroke, *q);
    }
    stroke.lastPoint = *q;
}

void StrokeStamper::endStroke(const std::string& id) {
    strokes_.erase(id);
}

void StrokeStamper::rewind(std::size_t keepStamps, StrokeTable strokes) {
    pending_.resize(std::min(keepStamps, pending_.size()));
    strokes_ = std::move(strokes);
}

void StrokeStamper::reset() {
    strokes_.clear();
    pending_.clear();
}

void StrokeStamper::queueStamp(const ActiveStroke& stroke, Vec2f center) {
    pending_.push_back({stroke.tool, center, stroke.color, stroke.radius, 1.0f, seeds_()});
}

}  // namespace vellumora
