#include "canvasview/touch_screen_gesture.h"

#include <QLineF>

#include <algorithm>

namespace vellumora {

namespace {

const TouchScreenGesture::Finger* find(const std::vector<TouchScreenGesture::Finger>& fingers,
                                       std::int64_t id) {
    const auto it = std::find_if(fingers.begin(), fingers.end(), [id](const auto& f) { return f.id == id; });
    return it == fingers.end() ? nullptr : &*it;
}

using Kind = TouchScreenGesture::Step::Kind;

TouchScreenGesture::Step pen(Kind kind, QPointF point) {
    return {kind, point, {}, 1};
}

}  // namespace

std::vector<TouchScreenGesture::Step> TouchScreenGesture::update(const std::vector<Finger>& fingers) {
    std::vector<Step> steps;
    const Finger* penFinger = find(fingers, pen_);
    switch (state_) {
        case State::idle:
        case State::pending:
            if (fingers.size() >= 2) {
                startTwoFingers(fingers);
            } else if (state_ == State::pending && !penFinger) {
                // Lifted without moving: a dot where it touched.
                steps.push_back(pen(Kind::penDown, landed_));
                steps.push_back(pen(Kind::penUp, landed_));
                state_ = State::idle;
            } else if (state_ == State::idle && fingers.size() == 1) {
                state_ = State::pending;
                pen_ = fingers.front().id;
                landed_ = last_ = fingers.front().position;
            } else if (penFinger && QLineF(landed_, penFinger->position).length() > kSlop) {
                steps.push_back(pen(Kind::penDown, landed_));
                steps.push_back(pen(Kind::penMove, penFinger->position));
                last_ = penFinger->position;
                state_ = State::drawing;
            }
            break;
        case State::drawing:
            if (fingers.size() == 1 && penFinger) {
                if (penFinger->position != last_) steps.push_back(pen(Kind::penMove, penFinger->position));
                last_ = penFinger->position;
                break;
            }
            steps.push_back(pen(Kind::penUp, last_));
            if (fingers.empty()) {
                state_ = State::idle;
            } else {
                startTwoFingers(fingers);
            }
            break;
        case State::twoFingers: {
            if (fingers.empty()) {
                state_ = State::idle;
                pair_.reset();
                break;
            }
            const Finger* a = pair_ ? find(fingers, pair_->first) : nullptr;
            const Finger* b = pair_ ? find(fingers, pair_->second) : nullptr;
            if (!a || !b) {
                // One of the pair lifted: the others take over from where they are, without a jump.
                startTwoFingers(fingers);
                break;
            }
            const QPointF centre = (a->position + b->position) / 2;
            const double spread = QLineF(a->position, b->position).length();
            Step step{Kind::panZoom, centre, centre - centre_,
                      spread_ > 1 && spread > 1 ? spread / spread_ : 1};
            if (!step.pan.isNull() || step.scale != 1) steps.push_back(step);
            centre_ = centre;
            spread_ = spread;
            break;
        }
    }
    return steps;
}

std::vector<TouchScreenGesture::Step> TouchScreenGesture::cancel() {
    std::vector<Step> steps;
    if (state_ == State::drawing) steps.push_back(pen(Kind::penUp, last_));
    state_ = State::idle;
    pair_.reset();
    return steps;
}

void TouchScreenGesture::startTwoFingers(const std::vector<Finger>& fingers) {
    state_ = State::twoFingers;
    pair_.reset();
    if (fingers.size() < 2) return;
    // The two that touched first (ids grow as fingers land) pan and zoom; others ride along.
    std::vector<Finger> sorted = fingers;
    std::sort(sorted.begin(), sorted.end(), [](const Finger& l, const Finger& r) { return l.id < r.id; });
    pair_ = {sorted[0].id, sorted[1].id};
    centre_ = (sorted[0].position + sorted[1].position) / 2;
    spread_ = QLineF(sorted[0].position, sorted[1].position).length();
}

}  // namespace vellumora
