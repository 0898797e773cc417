#include "canvasview/ink_journal.h"

#include "canvas/renderer.h"

#include <algorithm>

namespace vellumora {

namespace {
// The clock is read once per this many operations: cheap, and a few hundred operations take
// well under a millisecond.
constexpr std::size_t kOpsPerClockRead = 256;
}  // namespace

void InkJournal::restart() {
    strokes_.clear();
    open_.clear();
    ops_.clear();
    applied_ = 0;
    dropped_ = 0;
}

void InkJournal::beginStroke(const std::string& id, CanvasPoint at, Tool tool, Color4f color, float radius) {
    const auto index = static_cast<std::uint32_t>(strokes_.size());
    strokes_.push_back({id, tool, color, radius});
    open_.insert_or_assign(id, index);
    push({index, Kind::begin, at});
}

void InkJournal::appendPoint(const std::string& id, CanvasPoint point) {
    const auto it = open_.find(id);
    if (it == open_.end()) return;
    push({it->second, Kind::append, point});
}

void InkJournal::endStroke(const std::string& id) {
    const auto it = open_.find(id);
    if (it == open_.end()) return;
    push({it->second, Kind::end, {}});
    open_.erase(it);
}

void InkJournal::addStrokes(const std::vector<Stroke>& strokes) {
    std::size_t points = 0;
    for (const Stroke& stroke : strokes) points += stroke.points.size() + 1;
    ops_.reserve(ops_.size() + std::min(points, maxOps_));
    for (const Stroke& stroke : strokes) {
        if (stroke.points.empty()) continue;
        const StrokePoint& first = stroke.points.front();
        const WireColor& c = stroke.color;
        beginStroke(stroke.id, {first.x, first.y}, stroke.tool,
                    {static_cast<float>(c.r), static_cast<float>(c.g), static_cast<float>(c.b),
                     static_cast<float>(c.a)},
                    strokeRadius(stroke.brushSize));
        for (std::size_t i = 1; i < stroke.points.size(); ++i) {
            appendPoint(stroke.id, {stroke.points[i].x, stroke.points[i].y});
        }
        if (stroke.complete) endStroke(stroke.id);
    }
}

InkJournal::Stop InkJournal::applyTo(Renderer& renderer, std::size_t maxPendingStamps,
                                     std::chrono::steady_clock::time_point deadline) {
    std::size_t sinceClockRead = 0;
    while (applied_ < ops_.size()) {
        if (renderer.stamper().pendingStamps().size() >= maxPendingStamps) return Stop::stampBudget;
        if (++sinceClockRead == kOpsPerClockRead) {
            sinceClockRead = 0;
            if (std::chrono::steady_clock::now() >= deadline) return Stop::timeBudget;
        }
        const Op& op = ops_[applied_++];
        const StrokeInfo& stroke = strokes_[op.stroke];
        switch (op.kind) {
            case Kind::begin:
                renderer.beginStroke(stroke.id, op.point, stroke.tool, stroke.color, stroke.radius);
                break;
            case Kind::append:
                renderer.appendPoint(stroke.id, op.point);
                break;
            case Kind::end:
                renderer.endStroke(stroke.id);
                break;
        }
    }
    return Stop::caughtUp;
}

void InkJournal::push(Op op) {
    if (ops_.size() >= maxOps_) dropAppliedPrefix();
    ops_.push_back(op);
}

// A record that outgrows its cap loses its oldest quarter, as far as it has been painted:
// what is on screen stays, only a repaint after a context loss would miss it.
void InkJournal::dropAppliedPrefix() {
    const std::size_t drop = std::min(std::max<std::size_t>(maxOps_ / 4, 1), applied_);
    if (drop == 0) return;
    ops_.erase(ops_.begin(), ops_.begin() + static_cast<std::ptrdiff_t>(drop));
    applied_ -= drop;
    dropped_ += drop;
}

}  // namespace vellumora
