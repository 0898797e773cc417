#pragma once
// Turns the set of fingers on the trackpad into a relative canvas cursor and a pen that is
// either on the paper or lifted. Plain logic: no window system, no strokes, no network.

#include "canvas/canvas_types.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace vellumora {

enum class TouchKind { direct, indirect };

// One finger as the input view hands it over. `identity` stays the same for one finger from
// touch-down to lift-off and differs between fingers; it is the finger's key.
// `normalizedPosition` runs over the pad in [0, 1] with the origin at the BOTTOM-left.
struct TouchSample {
    TouchKind kind = TouchKind::indirect;
    std::int64_t identity = 0;
    CanvasPoint normalizedPosition;
};

class GestureDelegate {
  public:
    virtual ~GestureDelegate() = default;
    virtual void gestureDidStartStroke(CanvasPoint at) = 0;
    virtual void gestureDidAppendPoint(CanvasPoint point) = 0;
    virtual void gestureDidEndStroke() = 0;
    virtual void gestureDidUpdateCursor(CanvasPoint point, bool isDrawing) = 0;
};

class GestureStateMachine {
  public:
    enum class State { idle, pending, drawing, hovering };

    // Factor applied to finger motion before it moves the cursor (1 / zoom).
    double sensitivity = 1.0;

    // Not owned. The owner of both clears it before the delegate goes away; without a
    // delegate the machine still changes state but calls nobody.
    void setDelegate(GestureDelegate* delegate) { delegate_ = delegate; }
    GestureDelegate* delegate() const { return delegate_; }

    // The fingers currently in contact, or the empty set when the platform cancels them.
    void update(const std::vector<TouchSample>& touches);
    // Teleports the cursor (clamped to the canvas) and ends any gesture.
    void setCursor(double x, double y);
    // Aborts the gesture under way; the cursor stays where it is.
    void reset();

    State state() const { return state_; }
    CanvasPoint cursor() const { return cursor_; }
    bool didClampCursorThisEvent() const { return didClampCursorThisEvent_; }
    bool didCursorMoveThisEvent() const { return didCursorMoveThisEvent_; }
    std::optional<std::int64_t> primaryKey() const { return primaryKey_; }
    std::optional<CanvasPoint> lastPrimaryPos() const { return lastPrimaryPos_; }

  private:
    void endStrokeIfDrawing();
    void step(std::size_t fingers, State previous);

    GestureDelegate* delegate_ = nullptr;
    State state_ = State::idle;
    CanvasPoint cursor_{0.5, 0.5};
    bool didClampCursorThisEvent_ = false;
    bool didCursorMoveThisEvent_ = false;
    std::optional<std::int64_t> primaryKey_;
    std::optional<CanvasPoint> lastPrimaryPos_;
};

}  // namespace vellumora
