#pragma once
// Fingers on a touchscreen, as on a phone: one finger draws where it touches, two fingers move
// and zoom the page. Plain logic over the fingers in contact, in view pixels.
//
// A finger that lands does not ink until it has moved a little or lifts (a dot), so the first
// finger of a pinch leaves no mark; its stroke then starts where it landed. Once two fingers
// have touched, nothing draws until every finger has lifted.

#include <QPointF>

#include <cstdint>
#include <optional>
#include <vector>

namespace vellumora {

class TouchScreenGesture {
  public:
    struct Finger {
        std::int64_t id = 0;
        QPointF position;  // view pixels
    };

    struct Step {
        enum class Kind { penDown, penMove, penUp, panZoom };
        Kind kind = Kind::penMove;
        QPointF point;     // the pen; for panZoom, the fingers' centre now
        QPointF pan;       // panZoom: how far the centre moved
        double scale = 1;  // panZoom: the fingers' spread now over before
        bool operator==(const Step&) const = default;
    };

    // How far (view pixels) a single finger moves before it draws.
    static constexpr double kSlop = 6.0;

    // The fingers in contact now (an empty list: all lifted).
    std::vector<Step> update(const std::vector<Finger>& fingers);
    // The system took the touches away: an open stroke ends where it was.
    std::vector<Step> cancel();

  private:
    enum class State { idle, pending, drawing, twoFingers };

    void startTwoFingers(const std::vector<Finger>& fingers);

    State state_ = State::idle;
    std::int64_t pen_ = 0;  // the finger that draws (pending, drawing)
    QPointF landed_;        // where it touched down
    QPointF last_;          // where it was at the last event
    // The two fingers that pan and zoom, and their centre and spread at the last event.
    std::optional<std::pair<std::int64_t, std::int64_t>> pair_;
    QPointF centre_;
    double spread_ = 0;
};

}  // namespace vellumora
