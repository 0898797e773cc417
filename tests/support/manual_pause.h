#pragma once
// A reconnect pause that lasts until the test ends it, so the pause a client asks for is
// checked exactly and nobody waits it out.

#include <chrono>
#include <functional>
#include <optional>
#include <utility>

#include "net/pause_timer.h"

namespace vellumora::testing {

class ManualPause : public PauseTimer {
  public:
    void start(std::chrono::milliseconds delay, std::function<void()> then) override {
        requested = delay;
        then_ = std::move(then);
    }
    void stop() override { then_ = nullptr; }
    bool isActive() const override { return bool(then_); }

    // Ends the pause as if its time had come.
    void elapse() {
        if (auto then = std::exchange(then_, nullptr)) then();
    }

    std::optional<std::chrono::milliseconds> requested;

  private:
    std::function<void()> then_;
};

}  // namespace vellumora::testing
