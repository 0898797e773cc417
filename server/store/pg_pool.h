#pragma once
// A few PostgreSQL connections shared by the threads that call a store.

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "store/pg_connection.h"
#include "store/store.h"

namespace vellumora::server {

// Both connection kinds notice a vanished server within seconds rather than at the next
// write the kernel gives up on.
inline PgConnection::Settings pgSettings(bool owner) {
    PgConnection::Settings s{{"application_name", "vellumora-server"},
                             {"connect_timeout", "5"},
                             {"keepalives", "1"},
                             {"keepalives_idle", "3"},
                             {"keepalives_interval", "1"},
                             {"keepalives_count", "3"},
                             {"tcp_user_timeout", "6000"}};
    // No statement waits for ever: a stuck lock or a slow query fails the call (and a REST
    // request gets its 500) instead of holding a thread. The server side of the owner session:
    // PostgreSQL ends it, and drops its leases, within about six seconds of this instance's host
    // going silent.
    std::string options = "-c statement_timeout=10000 -c lock_timeout=5000";
    if (owner)
        options += " -c tcp_keepalives_idle=3 -c tcp_keepalives_interval=1 -c tcp_keepalives_count=3 "
                   "-c tcp_user_timeout=6000";
    s.emplace_back("options", std::move(options));
    return s;
}

class PgPool {
  public:
    // Runs `work` on a connection of the pool (waiting for one when all are in use).
    template <class F>
    auto run(F&& work);

    explicit PgPool(std::string url) : url_(std::move(url)) {}

    std::unique_ptr<PgConnection> take() {
        std::unique_lock lock(mutex_);
        if (!freed_.wait_for(lock, kMaxWait, [&] { return !idle_.empty() || open_ < kSize; }))
            throw StoreBusy("no database connection became free within " + std::to_string(kMaxWait.count()) +
                            " ms");
        if (!idle_.empty()) {
            auto c = std::move(idle_.back());
            idle_.pop_back();
            return c;
        }
        ++open_;
        lock.unlock();
        try {
            return std::make_unique<PgConnection>(url_, pgSettings(false));
        } catch (...) {
            give(nullptr);
            throw;
        }
    }

    // Null (or a broken connection) frees its place for a new one.
    void give(std::unique_ptr<PgConnection> c) {
        {
            std::lock_guard lock(mutex_);
            if (c && !c->broken()) {
                idle_.push_back(std::move(c));
            } else {
                --open_;
            }
        }
        freed_.notify_one();
    }

  private:
    // As many as the threads that call the store at once: the disk pool, the history writer,
    // room loads and the presence queries of REST calls.
    static constexpr std::size_t kSize = 4;
    static constexpr std::chrono::milliseconds kMaxWait{2000};
    const std::string url_;
    std::mutex mutex_;
    std::condition_variable freed_;
    std::vector<std::unique_ptr<PgConnection>> idle_;
    std::size_t open_ = 0;
};

template <class F>
auto PgPool::run(F&& work) {
    std::unique_ptr<PgConnection> c = take();
    try {
        auto result = work(*c);
        give(std::move(c));
        return result;
    } catch (...) {
        give(std::move(c));
        throw;
    }
}

}  // namespace vellumora::server
