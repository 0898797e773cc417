#pragma once
// Bytes all room connections together may hold, one budget for what they are receiving and one
// for what they are sending. Incoming: read buffers beyond the first few KiB and the fragments
// of messages being assembled. Outgoing: queued frames, a payload shared by several queues
// counted once per queue (an upper bound of the memory held). A connection that would take
// more than is left is closed rather than let a crowd of large, slow or never-finished messages,
// or of readers that never read, take the process down. Thread-safe.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

namespace vellumora::server {

class ByteBudget {
  public:
    // `held` is the counter, shared with /metrics.
    ByteBudget(std::size_t limit, std::atomic<std::int64_t>& held) : limit_(limit), held_(held) {}

    // False, and nothing taken, when `bytes` more would pass the limit.
    bool take(std::size_t bytes) {
        const auto want = static_cast<std::int64_t>(bytes);
        std::int64_t now = held_.load(std::memory_order_relaxed);
        do {
            if (want > static_cast<std::int64_t>(limit_) - now) return false;
        } while (!held_.compare_exchange_weak(now, now + want, std::memory_order_relaxed));
        return true;
    }
    // Past the limit if need be: for a connection that holds next to nothing, which must not be
    // blamed for the others.
    void force(std::size_t bytes) { held_.fetch_add(static_cast<std::int64_t>(bytes), std::memory_order_relaxed); }
    void give(std::size_t bytes) {
        held_.fetch_sub(static_cast<std::int64_t>(bytes), std::memory_order_relaxed);
    }

  private:
    const std::size_t limit_;
    std::atomic<std::int64_t>& held_;
};

// Each user's share of a budget: a few connections of one account trickling large messages
// must leave room for everyone else's.
class UserShares {
  public:
    explicit UserShares(std::size_t perUser) : perUser_(perUser) {}
    bool take(const std::string& user, std::size_t bytes) {
        std::lock_guard lock(mutex_);
        std::size_t& held = held_[user];
        if (bytes > perUser_ - held) {
            if (held == 0) held_.erase(user);
            return false;
        }
        held += bytes;
        return true;
    }
    void give(const std::string& user, std::size_t bytes) {
        if (bytes == 0) return;
        std::lock_guard lock(mutex_);
        auto it = held_.find(user);
        if (it == held_.end()) return;
        it->second -= std::min(bytes, it->second);
        if (it->second == 0) held_.erase(it);
    }

  private:
    const std::size_t perUser_;
    std::mutex mutex_;
    std::unordered_map<std::string, std::size_t> held_;
};

}  // namespace vellumora::server
