#include "canvas/gesture_state_machine.h"

#include <algorithm>
#include <map>

namespace vellumora {

namespace {
// Keeps the cursor on the canvas even when the arithmetic produced NaN.
double clampUnit(double value, double fallback) {
    if (value != value) return fallback;
    return std::clamp(value, 0.0, 1.0);
}
}  // namespace

void GestureStateMachine::update(const std::vector<TouchSample>& touches) {
    // Keyed and ordered, so the smallest key is the first entry; a later duplicate wins.
    std::map<std::int64_t, CanvasPoint> positions;
    for (const TouchSample& touch : touches) {
        if (touch.kind != TouchKind::indirect) continue;
        positions[touch.identity] = {touch.normalizedPosition.x, 1.0 - touch.normalizedPosition.y};
    }

    if (m_primaryKey && !positions.contains(*m_primaryKey)) {
        m_primaryKey.reset();
        m_lastPrimaryPos.reset();
    }
    if (!m_primaryKey && !positions.empty()) {
        m_primaryKey = positions.begin()->first;
        m_lastPrimaryPos.reset();
    }

    m_didClampCursorThisEvent = false;
    m_didCursorMoveThisEvent = false;

    const auto primary = m_primaryKey ? positions.find(*m_primaryKey) : positions.end();
    if (primary != positions.end()) {
        const CanvasPoint p = primary->second;
        if (m_lastPrimaryPos) {
            const double dx = (p.x - m_lastPrimaryPos->x) * sensitivity;
            const double dy = (p.y - m_lastPrimaryPos->y) * sensitivity;
            if (dx != 0 || dy != 0) m_didCursorMoveThisEvent = true;
            const double nx = m_cursor.x + dx;
            const double ny = m_cursor.y + dy;
            if (nx > 1 || nx < 0 || ny > 1 || ny < 0) m_didClampCursorThisEvent = true;
            m_cursor = {clampUnit(nx, m_cursor.x), clampUnit(ny, m_cursor.y)};
        }
        // A new primary finger only records where it is: the cursor never jumps.
        m_lastPrimaryPos = p;
    } else {
        m_lastPrimaryPos.reset();
    }

    step(positions.size(), m_state);
    if (m_delegate) m_delegate->gestureDidUpdateCursor(m_cursor, m_state == State::drawing);
}

void GestureStateMachine::step(std::size_t fingers, State previous) {
    if (fingers == 0 || fingers >= 2) {
        m_state = fingers == 0 ? State::idle : State::hovering;
        if (previous == State::drawing && m_delegate) m_delegate->gestureDidEndStroke();
        return;
    }
    switch (previous) {
        case State::idle:
            m_state = State::pending;
            break;
        case State::pending:
            if (m_didCursorMoveThisEvent) {
                m_state = State::drawing;
                if (m_delegate) m_delegate->gestureDidStartStroke(m_cursor);
            }
            break;
        case State::drawing:
            if (m_delegate) m_delegate->gestureDidAppendPoint(m_cursor);
            break;
        case State::hovering:
            // Lifting all but one finger never puts the pen down: lift all and touch again.
            break;
    }
}

void GestureStateMachine::endStrokeIfDrawing() {
    if (m_state == State::drawing && m_delegate) m_delegate->gestureDidEndStroke();
}

void GestureStateMachine::setCursor(double x, double y) {
    endStrokeIfDrawing();
    m_cursor = {clampUnit(x, m_cursor.x), clampUnit(y, m_cursor.y)};
    m_lastPrimaryPos.reset();
    m_primaryKey.reset();
    m_state = State::idle;
    if (m_delegate) m_delegate->gestureDidUpdateCursor(m_cursor, false);
}

void GestureStateMachine::reset() {
    endStrokeIfDrawing();
    m_state = State::idle;
    m_primaryKey.reset();
    m_lastPrimaryPos.reset();
    m_didClampCursorThisEvent = false;
    m_didCursorMoveThisEvent = false;
}

}  // namespace vellumora
