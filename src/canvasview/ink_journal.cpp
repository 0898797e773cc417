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
    byId_.clear();
    ops_.clear();
    applied_ = 0;
    dropped_ = 0;
}

void InkJournal::beginStroke(const std::string& id, CanvasPoint at, Tool tool, Color4f color, float radius) {
    const auto index = static_cast<std::uint32_t>(strokes_.size());
    strokes_.push_back({id, tool, color, radius});
    open_.insert_or_assign(id, index);
    byId_.insert_or_assign(id, index);
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

bool InkJournal::setUndone(const std::string& id, bool undone) {
    const auto it = byId_.find(id);
    if (it == byId_.end() || strokes_[it->second].undone == undone) return false;
    strokes_[it->second].undone = undone;
    // Only ink already painted (or skipped) makes the picture wrong.
    for (std::size_t i = 0; i < applied_; ++i) {
        if (ops_[i].stroke == it->second) return true;
    }
    return false;
}

void InkJournal::opsOf(const Stroke& stroke, std::uint32_t index, std::vector<Op>& out) {
    out.push_back({index, Kind::begin, {stroke.points.front().x, stroke.points.front().y}});
    for (std::size_t i = 1; i < stroke.points.size(); ++i)
        out.push_back({index, Kind::append, {stroke.points[i].x, stroke.points[i].y}});
    if (stroke.complete) out.push_back({index, Kind::end, {}});
}

bool InkJournal::insertStroke(const Stroke& stroke, const std::string& after) {
    if (knows(stroke.id)) return setUndone(stroke.id, false);
    if (stroke.points.empty()) return false;
    // The stroke's place: before the first stroke to begin after `after` began.
    std::size_t at = 0;
    if (const auto it = byId_.find(after); !after.empty() && it != byId_.end()) {
        while (at < ops_.size() && !(ops_[at].stroke == it->second && ops_[at].kind == Kind::begin)) ++at;
        if (at < ops_.size()) ++at;
    }
    while (at < ops_.size() && ops_[at].kind != Kind::begin) ++at;
    const auto index = static_cast<std::uint32_t>(strokes_.size());
    const WireColor& c = stroke.color;
    strokes_.push_back(
        {stroke.id,
         stroke.tool,
         {static_cast<float>(c.r), static_cast<float>(c.g), static_cast<float>(c.b), static_cast<float>(c.a)},
         strokeRadius(stroke.brushSize)});
    byId_.insert_or_assign(stroke.id, index);
    if (!stroke.complete) open_.insert_or_assign(stroke.id, index);
    std::vector<Op> ops;
    opsOf(stroke, index, ops);
    ops_.insert(ops_.begin() + static_cast<std::ptrdiff_t>(at), ops.begin(), ops.end());
    if (at < applied_) {
        applied_ += ops.size();
        return true;
    }
    return false;
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
        if (stroke.undone) continue;
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
