#include "store/history_writer.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>

#include "common/log.h"

namespace vellumora::server {

HistoryWriter::HistoryWriter(Store& store, Metrics& metrics, std::chrono::milliseconds interval)
    : store_(store), metrics_(metrics), interval_(interval), thread_([this] { run(); }) {}

HistoryWriter::~HistoryWriter() {
    stop();
}

void HistoryWriter::push(HistoryOp op) {
    std::lock_guard lock(mutex_);
    // The writer sleeps without a deadline only while nothing is queued: one wake-up per burst.
    if (queue_.empty() && idle_) wake_.notify_one();
    queue_.push_back(std::move(op));
    ++pushed_;
    if (pushed_ - done_ >= kMaxQueued && !backlogged_.load(std::memory_order_relaxed)) {
        backlogged_.store(true, std::memory_order_relaxed);
        flushWanted_ = true;
        wake_.notify_one();
    }
}

void HistoryWriter::release(std::int64_t roomKey, std::uint64_t lease) {
    std::lock_guard lock(mutex_);
    // After the last batch the store's session ends soon, and every lease with it.
    if (stopped_) return;
    if (idle_) wake_.notify_one();
    releases_.emplace_back(roomKey, lease);
}

void HistoryWriter::afterBacklog(std::function<void()> resume) {
    {
        std::lock_guard lock(mutex_);
        if (backlogged_.load(std::memory_order_relaxed) && !stopped_)
            return resumes_.push_back(std::move(resume));
    }
    resume();
}

void HistoryWriter::flush() {
    std::unique_lock lock(mutex_);
    const std::uint64_t target = pushed_;
    if (done_ >= target || stopped_) return;
    flushWanted_ = true;
    wake_.notify_one();
    stored_.wait(lock, [&] { return done_ >= target; });
}

void HistoryWriter::onLost(std::function<void(const std::vector<std::int64_t>&)> handler) {
    std::lock_guard lock(mutex_);
    lost_ = std::move(handler);
}

std::vector<std::int64_t> HistoryWriter::roomsOf(const std::vector<HistoryOp>& ops) {
    std::vector<std::int64_t> rooms;
    for (const HistoryOp& op : ops)
        if (std::ranges::find(rooms, op.roomKey) == rooms.end()) rooms.push_back(op.roomKey);
    return rooms;
}

void HistoryWriter::stop() {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void HistoryWriter::run() {
    // Storing must yield to relaying: a commit a few milliseconds late costs nothing, a relay
    // that waits for it is visible. Niced, and behind I/O threads with shorter time slices
    // (common/thread_slice.h), it gives the core back as soon as one wakes, yet storing keeps
    // a share when the rooms are busy (at the lowest priority it fell seconds behind on a
    // shared machine, which a crash would lose).
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
    // Named, so that top -H and perf show its share of the core apart from the I/O threads'.
    pthread_setname_np(pthread_self(), "history-writer");
    std::vector<HistoryOp> batch;
    std::vector<std::pair<std::int64_t, std::uint64_t>> releases;
    unsigned failures = 0;
    unsigned quiet = 0;  // windows in a row that brought nothing
    std::unique_lock lock(mutex_);
    while (true) {
        // After a failure the batch is kept and tried again, later each time.
        const auto wait = failures == 0 ? interval_ : std::min(kRetryFirst * (1 << (failures - 1)), kRetryLongest);
        const auto due = [&] { return (stopping_ && failures == 0) || flushWanted_; };
        // After kQuietWindows windows that brought nothing, sleep until something comes instead
        // of ticking. The first change then still waits one window for the rest of its group.
        // (Sleeping after any empty window costs more wake-ups than ticking when messages come
        // a few windows apart.)
        if (quiet >= kQuietWindows && failures == 0 && queue_.empty() && releases_.empty()) {
            idle_ = true;
            wake_.wait(lock, [&] { return due() || !queue_.empty() || !releases_.empty(); });
            idle_ = false;
        }
        wake_.wait_for(lock, wait, due);
        quiet = queue_.empty() && releases_.empty() ? quiet + 1 : 0;
        flushWanted_ = false;
        if (batch.empty()) {
            batch.swap(queue_);  // the usual case: no copy, and the two buffers keep their capacity
        } else {
            std::ranges::move(queue_, std::back_inserter(batch));
            queue_.clear();
        }
        releases.insert(releases.end(), releases_.begin(), releases_.end());
        releases_.clear();
        const std::uint64_t upTo = pushed_;
        const bool last = stopping_;
        lock.unlock();
        bool stored = true;
        if (!batch.empty()) {
            try {
                store_.applyHistory(batch);
                metrics_.historyCommits.fetch_add(1, std::memory_order_relaxed);
                failures = 0;
            } catch (const StoreError& e) {
                stored = false;
                if (++failures < kAttempts && !last) {
                    logLine("storing " + std::to_string(batch.size()) + " history changes failed, trying again: " +
                            e.what());
                } else {
                    // Served from memory, these rooms would show what no restart brings back.
                    logLine("lost " + std::to_string(batch.size()) + " history changes: " + e.what() +
                            "; closing their rooms");
                    failures = 0;
                    stored = true;
                    if (lost_) lost_(roomsOf(batch));
                }
            }
            if (stored) batch.clear();
        }
        if (!stored) {
            lock.lock();
            continue;
        }
        for (const auto& [room, lease] : releases) store_.releaseRoom(room, lease);
        releases.clear();
        lock.lock();
        done_ = upTo;
        backlogged_.store(pushed_ - done_ >= kMaxQueued, std::memory_order_relaxed);
        stored_.notify_all();
        if (last && queue_.empty()) stopped_ = true;
        if (!backlogged_.load(std::memory_order_relaxed) || stopped_) {
            std::vector<std::function<void()>> resumes;
            resumes.swap(resumes_);
            lock.unlock();
            for (auto& resume : resumes) resume();
            lock.lock();
        }
        if (stopped_) return;
    }
}

}  // namespace vellumora::server
