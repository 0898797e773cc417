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
    m_strokes.clear();
    m_open.clear();
    m_ops.clear();
    m_applied = 0;
    m_dropped = 0;
}

void InkJournal::beginStroke(const std::string& id, CanvasPoint at, Tool tool, Color4f color, float radius) {
    const auto index = static_cast<std::uint32_t>(m_strokes.size());
    m_strokes.push_back({id, tool, color, radius});
    m_open.insert_or_assign(id, index);
    push({index, Kind::begin, at});
}

void InkJournal::appendPoint(const std::string& id, CanvasPoint point) {
    const auto it = m_open.find(id);
    if (it == m_open.end()) return;
    push({it->second, Kind::append, point});
}

void InkJournal::endStroke(const std::string& id) {
    const auto it = m_open.find(id);
    if (it == m_open.end()) return;
    push({it->second, Kind::end, {}});
    m_open.erase(it);
}

void InkJournal::addStrokes(const std::vector<Stroke>& strokes) {
    std::size_t points = 0;
    for (const Stroke& stroke : strokes) points += stroke.points.size() + 1;
    m_ops.reserve(m_ops.size() + std::min(points, m_maxOps));
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
    while (m_applied < m_ops.size()) {
        if (renderer.stamper().pendingStamps().size() >= maxPendingStamps) return Stop::stampBudget;
        if (++sinceClockRead == kOpsPerClockRead) {
            sinceClockRead = 0;
            if (std::chrono::steady_clock::now() >= deadline) return Stop::timeBudget;
        }
        const Op& op = m_ops[m_applied++];
        const StrokeInfo& stroke = m_strokes[op.stroke];
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
    if (m_ops.size() >= m_maxOps) dropAppliedPrefix();
    m_ops.push_back(op);
}

// A record that outgrows its cap loses its oldest quarter, as far as it has been painted:
// what is on screen stays, only a repaint after a context loss would miss it.
void InkJournal::dropAppliedPrefix() {
    const std::size_t drop = std::min(std::max<std::size_t>(m_maxOps / 4, 1), m_applied);
    if (drop == 0) return;
    m_ops.erase(m_ops.begin(), m_ops.begin() + static_cast<std::ptrdiff_t>(drop));
    m_applied -= drop;
    m_dropped += drop;
}

}  // namespace vellumora
