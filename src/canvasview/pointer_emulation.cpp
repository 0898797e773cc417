#include "canvasview/pointer_emulation.h"

namespace vellumora {

namespace {
constexpr std::int64_t kPenFinger = 1;
constexpr std::int64_t kSecondFinger = 2;
// Where the resting second finger sits beside the first; it never drives the cursor.
constexpr double kSecondFingerOffset = 0.05;

TouchSample finger(std::int64_t key, double x, double y) {
    // Touch positions run bottom-up.
    return {TouchKind::indirect, key, {x, 1.0 - y}};
}
}  // namespace

std::vector<PointerEmulation::TouchSet> PointerEmulation::press() {
    if (buttonDown_) return {};
    buttonDown_ = true;
    return {TouchSet{}, current()};
}

std::vector<PointerEmulation::TouchSet> PointerEmulation::release() {
    if (!buttonDown_) return {};
    buttonDown_ = false;
    return {current()};
}

PointerEmulation::TouchSet PointerEmulation::move(double dx, double dy) {
    x_ += dx;
    y_ += dy;
    return current();
}

PointerEmulation::TouchSet PointerEmulation::current() const {
    if (buttonDown_) return {finger(kPenFinger, x_, y_)};
    return {finger(kPenFinger, x_, y_), finger(kSecondFinger, x_ + kSecondFingerOffset, y_)};
}

}  // namespace vellumora
