#pragma once
// A few threads for work that waits on the disk or burns CPU (SQLite, password hashes), so
// the I/O threads never do. The queue is bounded: post() refuses work once `maxQueued` tasks
// wait, and the caller answers "busy" at once rather than letting a burst pile up behind the
// disk. stop() runs what is queued and joins.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace vellumora::server {

class WorkPool {
  public:
    WorkPool(unsigned threads, std::size_t maxQueued);
    ~WorkPool();
    WorkPool(const WorkPool&) = delete;
    WorkPool& operator=(const WorkPool&) = delete;

    // False, and `task` dropped, when the queue is full or the pool stopped.
    [[nodiscard]] bool post(std::function<void()> task);
    void stop();

  private:
    void run();

    const std::size_t maxQueued_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace vellumora::server
