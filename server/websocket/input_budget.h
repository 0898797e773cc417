#pragma once
// What all room connections together may hold for messages still arriving: their read
// buffers beyond the first few KiB and the fragments of messages being assembled. A
// connection that would take more than is left is closed rather than let a crowd of large,
// slow or never-finished messages take the process down. Thread-safe.

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace vellumora::server {

class InputBudget {
  public:
    // `held` is the counter, shared with /metrics.
    InputBudget(std::size_t limit, std::atomic<std::int64_t>& held) : limit_(limit), held_(held) {}

    // False, and nothing taken, when `bytes` more would pass the limit.
    bool take(std::size_t bytes) {
        const auto want = static_cast<std::int64_t>(bytes);
        std::int64_t now = held_.load(std::memory_order_relaxed);
        do {
            if (want > static_cast<std::int64_t>(limit_) - now) return false;
        } while (!held_.compare_exchange_weak(now, now + want, std::memory_order_relaxed));
        return true;
    }
    void give(std::size_t bytes) {
        held_.fetch_sub(static_cast<std::int64_t>(bytes), std::memory_order_relaxed);
    }

  private:
    const std::size_t limit_;
    std::atomic<std::int64_t>& held_;
};

}  // namespace vellumora::server
