#pragma once
// Attempts per period (a minute unless told) per key (an address, a username), as a token
// bucket that refills continuously. Thread-safe. Forgets keys whose bucket is full again, so
// memory stays bounded by the keys seen within the last period.

#include <chrono>
#include <mutex>
#include <string>
#include <unordered_map>

namespace vellumora::server {

class RateLimiter {
  public:
    using Clock = std::chrono::steady_clock;

    // 0 attempts disables the limit.
    explicit RateLimiter(unsigned perPeriod, std::chrono::seconds period = std::chrono::minutes(1));

    // Takes one attempt for every key; false (and nothing taken) when any key is exhausted.
    bool tryAcquire(std::initializer_list<std::string> keys, Clock::time_point now = Clock::now());
    // Whether `key` has an attempt left, without taking it.
    bool available(const std::string& key, Clock::time_point now = Clock::now());
    // Takes an attempt of `key` whatever is left: for failures counted after the fact.
    void spend(const std::string& key, Clock::time_point now = Clock::now());

    std::size_t trackedKeys() const;

  private:
    struct Bucket {
        double tokens;
        Clock::time_point last;
    };
    double refill(Bucket& bucket, Clock::time_point now) const;
    void prune(Clock::time_point now);

    const double capacity_;
    const double periodSeconds_;
    mutable std::mutex mutex_;
    std::unordered_map<std::string, Bucket> buckets_;
    Clock::time_point lastPrune_{};
};

// Per connection, per second; owned by one connection so not locked.
class MessageRate {
  public:
    using Clock = std::chrono::steady_clock;
    explicit MessageRate(unsigned perSecond) : capacity_(perSecond), tokens_(perSecond) {}
    bool tryAcquire(Clock::time_point now = Clock::now());

  private:
    double capacity_;
    double tokens_;
    Clock::time_point last_ = Clock::now();
};

}  // namespace vellumora::server
