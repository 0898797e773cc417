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
    if (m_buttonDown) return {};
    m_buttonDown = true;
    return {TouchSet{}, current()};
}

std::vector<PointerEmulation::TouchSet> PointerEmulation::release() {
    if (!m_buttonDown) return {};
    m_buttonDown = false;
    return {current()};
}

PointerEmulation::TouchSet PointerEmulation::move(double dx, double dy) {
    m_x += dx;
    m_y += dy;
    return current();
}

PointerEmulation::TouchSet PointerEmulation::current() const {
    if (m_buttonDown) return {finger(kPenFinger, m_x, m_y)};
    return {finger(kPenFinger, m_x, m_y), finger(kSecondFinger, m_x + kSecondFingerOffset, m_y)};
}

}  // namespace vellumora
