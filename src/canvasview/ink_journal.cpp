#include "canvasview/ink_journal.h"

#include "canvas/renderer.h"

#include <algorithm>
#include <cmath>

namespace vellumora {

namespace {
// The clock is read once per this many operations: cheap, and a few hundred operations take
// well under a millisecond.
constexpr std::size_t kOpsPerClockRead = 256;
// 1 would space checkpoints evenly on a logarithmic scale back from the end, leaving the older
// half of a full room without any; 0.7 keeps recent ones about as dense and reaches back to
// the first fifth.
constexpr double kThinningExponent = 0.7;
}  // namespace

void InkJournal::restart() {
    strokes_.clear();
    open_.clear();
    byId_.clear();
    ops_.clear();
    applied_ = 0;
    dropped_ = 0;
    checkpoints_.clear();
    stampsSinceCheckpoint_ = 0;
    opsApplied_ = 0;
    stampsApplied_ = 0;
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

std::optional<std::size_t> InkJournal::setUndone(const std::string& id, bool undone) {
    const auto it = byId_.find(id);
    if (it == byId_.end() || strokes_[it->second].undone == undone) return std::nullopt;
    strokes_[it->second].undone = undone;
    // Only ink already painted (or skipped) makes the picture wrong. From the end, so a recent
    // stroke is found at once; its begin is its first operation unless it was forgotten.
    std::optional<std::size_t> first;
    for (std::size_t i = applied_; i-- > 0;) {
        if (ops_[i].stroke != it->second) continue;
        first = i;
        if (ops_[i].kind == Kind::begin) break;
    }
    if (first) invalidateFrom(*first);
    return first;
}

void InkJournal::opsOf(const Stroke& stroke, std::uint32_t index, std::vector<Op>& out) {
    out.push_back({index, Kind::begin, {stroke.points.front().x, stroke.points.front().y}});
    for (std::size_t i = 1; i < stroke.points.size(); ++i)
        out.push_back({index, Kind::append, {stroke.points[i].x, stroke.points[i].y}});
    if (stroke.complete) out.push_back({index, Kind::end, {}});
}

std::optional<std::size_t> InkJournal::insertStroke(const Stroke& stroke, const std::string& after) {
    if (knows(stroke.id)) return setUndone(stroke.id, false);
    if (stroke.points.empty()) return std::nullopt;
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
        return invalidateFrom(at);
    }
    return std::nullopt;
}

std::size_t InkJournal::invalidateFrom(std::size_t from) {
    while (!checkpoints_.empty() && checkpoints_.back().at > from) checkpoints_.pop_back();
    return from;
}

void InkJournal::rewindTo(Renderer& renderer, std::size_t from) {
    invalidateFrom(from);
    if (checkpoints_.empty()) {
        renderer.resetCanvas();
        applied_ = 0;
    } else {
        renderer.restoreInk(checkpoints_.back().slot);
        applied_ = checkpoints_.back().at;
    }
    stampsSinceCheckpoint_ = 0;
}

std::vector<std::size_t> InkJournal::checkpointPositions() const {
    std::vector<std::size_t> positions;
    for (const Checkpoint& c : checkpoints_) positions.push_back(c.at);
    return positions;
}

bool InkJournal::checkpointDue() const {
    if (maxCheckpoints_ == 0) return false;
    // Far behind (a backlog), one every half of what remains: most would be thinned out by the
    // end anyway, and each costs a copy of the whole ink.
    const double stampsPerOp = opsApplied_ > 0 ? double(stampsApplied_) / double(opsApplied_) : 0;
    const auto halfAhead = static_cast<std::size_t>(double(ops_.size() - applied_) * stampsPerOp / 2);
    return stampsSinceCheckpoint_ >= std::max(checkpointStamps_, halfAhead);
}

void InkJournal::takeCheckpoint(Renderer& renderer) {
    stampsSinceCheckpoint_ = 0;
    if (maxCheckpoints_ == 0 || (checkpoints_.size() >= maxCheckpoints_ && !thinCheckpoints())) return;
    std::size_t slot = 0;
    while (std::any_of(checkpoints_.begin(), checkpoints_.end(),
                       [slot](const Checkpoint& c) { return c.slot == slot; }))
        ++slot;
    checkpoints_.push_back({applied_, slot});
    renderer.saveInk(slot);
}

bool InkJournal::thinCheckpoints() {
    // One at the start after a forgotten prefix holds the forgotten ink: it stays.
    const std::size_t first = dropped_ > 0 && checkpoints_.front().at == 0 ? 1 : 0;
    std::optional<std::size_t> best;
    double bestCost = 0;
    for (std::size_t i = first; i + 1 < checkpoints_.size(); ++i) {
        const std::size_t before = i > 0 ? checkpoints_[i - 1].at : 0;
        // Against a power of the distance below one, so the oldest ones still reach far back.
        const double cost =
            double(checkpoints_[i + 1].at - before) / std::pow(double(applied_ - before), kThinningExponent);
        if (!best || cost < bestCost) {
            best = i;
            bestCost = cost;
        }
    }
    if (!best) return false;
    checkpoints_.erase(checkpoints_.begin() + static_cast<std::ptrdiff_t>(*best));
    return true;
}

InkJournal::Stop InkJournal::applyTo(Renderer& renderer, std::size_t maxPendingStamps,
                                     std::chrono::steady_clock::time_point deadline) {
    std::size_t stamps = renderer.stamper().pendingStamps().size();
    // Only where everything before has gone to the GPU: a software rasteriser makes the copy
    // wait for all painting of the ink queued before it, which would hold the caller.
    if (checkpointDue() && stamps == 0) takeCheckpoint(renderer);
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
        const std::size_t queued = renderer.stamper().pendingStamps().size();
        stampsSinceCheckpoint_ += queued - stamps;
        stampsApplied_ += queued - stamps;
        ++opsApplied_;
        stamps = queued;
    }
    return Stop::caughtUp;
}

void InkJournal::push(Op op) {
    if (ops_.size() >= maxOps_) dropAppliedPrefix();
    ops_.push_back(op);
}

// A record that outgrows its cap loses its oldest quarter, as far as it has been painted:
// what is on screen stays, only a repaint after a context loss would miss it. It goes up to a
// checkpoint where one is near: that one then holds the forgotten ink for every later repaint.
void InkJournal::dropAppliedPrefix() {
    const std::size_t quarter = std::min(std::max<std::size_t>(maxOps_ / 4, 1), applied_);
    if (quarter == 0) return;
    const auto base = std::find_if(checkpoints_.begin(), checkpoints_.end(),
                                   [quarter](const Checkpoint& c) { return c.at >= quarter; });
    const std::size_t drop = base != checkpoints_.end() && base->at <= 2 * quarter ? base->at : quarter;
    ops_.erase(ops_.begin(), ops_.begin() + static_cast<std::ptrdiff_t>(drop));
    applied_ -= drop;
    dropped_ += drop;
    std::erase_if(checkpoints_, [drop](const Checkpoint& c) { return c.at < drop; });
    for (Checkpoint& c : checkpoints_) c.at -= drop;
}

}  // namespace vellumora
