#pragma once
// The wait before a reconnect: one single-shot callback at a time. Clients use a precise
// QTimer; tests substitute one they end by hand.

#include <chrono>
#include <functional>
#include <memory>

namespace vellumora {

class PauseTimer {
  public:
    virtual ~PauseTimer() = default;
    // Calls `then` once after `delay`, replacing any wait under way.
    virtual void start(std::chrono::milliseconds delay, std::function<void()> then) = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;

    // A precise single-shot QTimer of the calling thread.
    static std::unique_ptr<PauseTimer> precise();
};

}  // namespace vellumora
