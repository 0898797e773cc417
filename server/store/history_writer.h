#pragma once
// Writes room history to the store in group commits: changes queue up in memory and a
// background thread stores everything queued, in order, in one transaction every
// `interval`. A crash of the process loses at most the changes of the last window; stop()
// stores everything before it returns.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "common/metrics.h"
#include "store/store.h"

namespace vellumora::server {

class HistoryWriter {
  public:
    HistoryWriter(Store& store, Metrics& metrics, std::chrono::milliseconds interval);
    ~HistoryWriter();
    HistoryWriter(const HistoryWriter&) = delete;
    HistoryWriter& operator=(const HistoryWriter&) = delete;

    // Never waits. Once kMaxQueued changes are pending the writer reports itself backlogged,
    // and room connections stop reading until it has caught up: TCP then pushes back on the
    // senders instead of memory growing, and nothing is dropped.
    void push(HistoryOp op);
    // Gives the room's lease back to the store once everything pushed before is stored.
    void release(std::int64_t roomKey, std::uint64_t lease);
    bool backlogged() const { return backlogged_.load(std::memory_order_relaxed); }
    // Runs `resume` once the writer is no longer backlogged: at once when it is not, else on the
    // writer's thread.
    void afterBacklog(std::function<void()> resume);
    static constexpr std::size_t kMaxQueued = 200'000;
    // Returns once everything pushed before the call is stored (or failed to store).
    void flush();
    // Runs (on the writer's thread) with the rooms whose changes could not be stored after
    // kAttempts tries, a few seconds apart: they must not go on being served from memory.
    void onLost(std::function<void(const std::vector<std::int64_t>&)> handler);
    static constexpr unsigned kAttempts = 6;
    static constexpr std::chrono::milliseconds kRetryFirst{50};
    static constexpr std::chrono::milliseconds kRetryLongest{1000};
    // Empty windows in a row after which the thread sleeps until something is queued.
    static constexpr unsigned kQuietWindows = 20;
    // Stores what is queued and ends the thread.
    void stop();

  private:
    void run();
    static std::vector<std::int64_t> roomsOf(const std::vector<HistoryOp>& ops);

    Store& store_;
    Metrics& metrics_;
    const std::chrono::milliseconds interval_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable stored_;
    std::vector<HistoryOp> queue_;
    std::vector<std::pair<std::int64_t, std::uint64_t>> releases_;
    std::uint64_t pushed_ = 0;
    std::uint64_t done_ = 0;
    bool flushWanted_ = false;
    bool stopping_ = false;
    bool stopped_ = false;  // the thread has stored its last batch
    bool idle_ = false;     // the thread sleeps until something is queued
    std::atomic<bool> backlogged_{false};
    std::vector<std::function<void()>> resumes_;
    std::function<void(const std::vector<std::int64_t>&)> lost_;
    std::thread thread_;
};

}  // namespace vellumora::server
