#include "accounts/rate_limiter.h"

#include <algorithm>

namespace vellumora::server {

RateLimiter::RateLimiter(unsigned perPeriod, std::chrono::seconds period)
    : capacity_(perPeriod), periodSeconds_(static_cast<double>(period.count())) {}

double RateLimiter::refill(Bucket& bucket, Clock::time_point now) const {
    const double periods = std::chrono::duration<double>(now - bucket.last).count() / periodSeconds_;
    bucket.tokens = std::min(capacity_, bucket.tokens + periods * capacity_);
    bucket.last = now;
    return bucket.tokens;
}

void RateLimiter::prune(Clock::time_point now) {
    if (now - lastPrune_ < std::chrono::seconds(10)) return;
    lastPrune_ = now;
    for (auto it = buckets_.begin(); it != buckets_.end();) {
        it = refill(it->second, now) >= capacity_ ? buckets_.erase(it) : std::next(it);
    }
}

bool RateLimiter::tryAcquire(std::initializer_list<std::string> keys, Clock::time_point now) {
    if (capacity_ == 0) return true;
    std::lock_guard lock(mutex_);
    prune(now);
    for (const std::string& key : keys) {
        auto it = buckets_.find(key);
        if (it != buckets_.end() && refill(it->second, now) < 1.0) return false;
    }
    for (const std::string& key : keys) {
        auto [it, inserted] = buckets_.try_emplace(key, Bucket{capacity_, now});
        if (!inserted) refill(it->second, now);
        it->second.tokens -= 1.0;
    }
    return true;
}

bool RateLimiter::available(const std::string& key, Clock::time_point now) {
    if (capacity_ == 0) return true;
    std::lock_guard lock(mutex_);
    auto it = buckets_.find(key);
    return it == buckets_.end() || refill(it->second, now) >= 1.0;
}

void RateLimiter::spend(const std::string& key, Clock::time_point now) {
    if (capacity_ == 0) return;
    std::lock_guard lock(mutex_);
    prune(now);
    auto [it, inserted] = buckets_.try_emplace(key, Bucket{capacity_, now});
    if (!inserted) refill(it->second, now);
    it->second.tokens = std::max(0.0, it->second.tokens - 1.0);
}

std::size_t RateLimiter::trackedKeys() const {
    std::lock_guard lock(mutex_);
    return buckets_.size();
}

bool MessageRate::tryAcquire(Clock::time_point now) {
    if (capacity_ == 0) return true;
    const double seconds = std::chrono::duration<double>(now - last_).count();
    last_ = now;
    tokens_ = std::min(capacity_, tokens_ + seconds * capacity_);
    if (tokens_ < 1.0) return false;
    tokens_ -= 1.0;
    return true;
}

}  // namespace vellumora::server
