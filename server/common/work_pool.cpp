#include "common/work_pool.h"

namespace vellumora::server {

WorkPool::WorkPool(unsigned threads, std::size_t maxQueued) : maxQueued_(maxQueued) {
    for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { run(); });
}

WorkPool::~WorkPool() {
    stop();
}

bool WorkPool::post(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_ || queue_.size() >= maxQueued_) return false;
        queue_.push_back(std::move(task));
    }
    wake_.notify_one();
    return true;
}

void WorkPool::stop() {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
}

void WorkPool::run() {
    std::unique_lock lock(mutex_);
    while (true) {
        wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;
        std::function<void()> task = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        task();
        lock.lock();
    }
}

}  // namespace vellumora::server
