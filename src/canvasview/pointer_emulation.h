#pragma once
// A mouse (or a trackpad that only moves a pointer) as the touch sets the gesture machine reads:
// one virtual finger on a virtual pad the size of the view. The button held is one finger on
// the paper; the button up is two fingers, so the cursor moves without ink.

#include "canvas/gesture_state_machine.h"

#include <vector>

namespace vellumora {

class PointerEmulation {
  public:
    using TouchSet = std::vector<TouchSample>;

    // Button down: the empty set first (every finger lifted), then the one finger, so the pen
    // goes down even after a hover. Nothing when the button is already down.
    std::vector<TouchSet> press();
    // Button up: the pen lifts (two fingers). Nothing when the button was not down.
    std::vector<TouchSet> release();
    // Pointer motion as fractions of the view's width and height.
    TouchSet move(double dx, double dy);
    // Forgets the button; the fingers stay where they are.
    void reset() { buttonDown_ = false; }

    bool isButtonDown() const { return buttonDown_; }

  private:
    TouchSet current() const;

    bool buttonDown_ = false;
    // The finger on the virtual pad, top-left origin; it may leave [0, 1]: only motion counts.
    double x_ = 0.5;
    double y_ = 0.5;
};

}  // namespace vellumora
