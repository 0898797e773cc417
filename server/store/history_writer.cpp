#include "store/history_writer.h"

#include <sys/resource.h>
#include <unistd.h>

#include "common/log.h"

namespace vellumora::server {

HistoryWriter::HistoryWriter(Store& store, Metrics& metrics, std::chrono::milliseconds interval)
    : store_(store), metrics_(metrics), interval_(interval), thread_([this] { run(); }) {}

HistoryWriter::~HistoryWriter() {
    stop();
}

void HistoryWriter::push(HistoryOp op) {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(op));
    ++pushed_;
    if (pushed_ - done_ >= kMaxQueued && !backlogged_.load(std::memory_order_relaxed)) {
        backlogged_.store(true, std::memory_order_relaxed);
        flushWanted_ = true;
        wake_.notify_one();
    }
}

void HistoryWriter::flush() {
    std::unique_lock lock(mutex_);
    const std::uint64_t target = pushed_;
    if (done_ >= target || stopped_) return;
    flushWanted_ = true;
    wake_.notify_one();
    stored_.wait(lock, [&] { return done_ >= target; });
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
    // Sharing a core with the I/O threads, storing must yield to relaying: a commit that is a
    // few milliseconds late costs nothing, a relay that is late is visible.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 5);
    std::vector<HistoryOp> batch;
    std::unique_lock lock(mutex_);
    while (true) {
        wake_.wait_for(lock, interval_, [&] { return stopping_ || flushWanted_; });
        flushWanted_ = false;
        batch.swap(queue_);
        const std::uint64_t upTo = pushed_;
        const bool last = stopping_;
        lock.unlock();
        if (!batch.empty()) {
            try {
                store_.applyHistory(batch);
                metrics_.historyCommits.fetch_add(1, std::memory_order_relaxed);
            } catch (const StoreError& e) {
                logLine("lost " + std::to_string(batch.size()) + " history changes: " + e.what());
            }
            batch.clear();
        }
        lock.lock();
        done_ = upTo;
        backlogged_.store(pushed_ - done_ >= kMaxQueued, std::memory_order_relaxed);
        stored_.notify_all();
        if (last && queue_.empty()) {
            stopped_ = true;
            return;
        }
    }
}

}  // namespace vellumora::server
