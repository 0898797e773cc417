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

    if (primaryKey_ && !positions.contains(*primaryKey_)) {
        primaryKey_.reset();
        lastPrimaryPos_.reset();
    }
    if (!primaryKey_ && !positions.empty()) {
        primaryKey_ = positions.begin()->first;
        lastPrimaryPos_.reset();
    }

    didClampCursorThisEvent_ = false;
    didCursorMoveThisEvent_ = false;

    const auto primary = primaryKey_ ? positions.find(*primaryKey_) : positions.end();
    if (primary != positions.end()) {
        const CanvasPoint p = primary->second;
        if (lastPrimaryPos_) {
            const double dx = (p.x - lastPrimaryPos_->x) * sensitivity;
            const double dy = (p.y - lastPrimaryPos_->y) * sensitivity;
            if (dx != 0 || dy != 0) didCursorMoveThisEvent_ = true;
            const double nx = cursor_.x + dx;
            const double ny = cursor_.y + dy;
            if (nx > 1 || nx < 0 || ny > 1 || ny < 0) didClampCursorThisEvent_ = true;
            cursor_ = {clampUnit(nx, cursor_.x), clampUnit(ny, cursor_.y)};
        }
        // A new primary finger only records where it is: the cursor never jumps.
        lastPrimaryPos_ = p;
    } else {
        lastPrimaryPos_.reset();
    }

    step(positions.size(), state_);
    if (delegate_) delegate_->gestureDidUpdateCursor(cursor_, state_ == State::drawing);
}

void GestureStateMachine::step(std::size_t fingers, State previous) {
    if (fingers == 0 || fingers >= 2) {
        state_ = fingers == 0 ? State::idle : State::hovering;
        if (previous == State::drawing && delegate_) delegate_->gestureDidEndStroke();
        return;
    }
    switch (previous) {
        case State::idle:
            state_ = State::pending;
            break;
        case State::pending:
            if (didCursorMoveThisEvent_) {
                state_ = State::drawing;
                if (delegate_) delegate_->gestureDidStartStroke(cursor_);
            }
            break;
        case State::drawing:
            if (delegate_) delegate_->gestureDidAppendPoint(cursor_);
            break;
        case State::hovering:
            // Lifting all but one finger never puts the pen down: lift all and touch again.
            break;
    }
}

void GestureStateMachine::endStrokeIfDrawing() {
    if (state_ == State::drawing && delegate_) delegate_->gestureDidEndStroke();
}

void GestureStateMachine::setCursor(double x, double y) {
    endStrokeIfDrawing();
    cursor_ = {clampUnit(x, cursor_.x), clampUnit(y, cursor_.y)};
    lastPrimaryPos_.reset();
    primaryKey_.reset();
    state_ = State::idle;
    if (delegate_) delegate_->gestureDidUpdateCursor(cursor_, false);
}

void GestureStateMachine::reset() {
    endStrokeIfDrawing();
    state_ = State::idle;
    primaryKey_.reset();
    lastPrimaryPos_.reset();
    didClampCursorThisEvent_ = false;
    didCursorMoveThisEvent_ = false;
}

}  // namespace vellumora
