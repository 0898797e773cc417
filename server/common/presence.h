#pragma once
// Who has at least one open room connection here (the `online` of the friends list; with a
// shared store, other instances add theirs).

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace vellumora::server {

class Presence {
  public:
    void connected(const std::string& userId) {
        std::lock_guard lock(mutex_);
        if (++open_[userId] == 1) ++version_;
    }
    // Counts a connection unless the user has `max` already.
    bool tryConnect(const std::string& userId, std::size_t max) {
        std::lock_guard lock(mutex_);
        int& open = open_[userId];
        if (static_cast<std::size_t>(open) >= max) return false;
        if (++open == 1) ++version_;
        return true;
    }
    void disconnected(const std::string& userId) {
        std::lock_guard lock(mutex_);
        auto it = open_.find(userId);
        if (it != open_.end() && --it->second == 0) {
            open_.erase(it);
            ++version_;
        }
    }
    bool online(const std::string& userId) const {
        std::lock_guard lock(mutex_);
        return open_.contains(userId);
    }
    // Counts every change of who is online.
    std::uint64_t version() const {
        std::lock_guard lock(mutex_);
        return version_;
    }
    // Who is online, and the version that list is of.
    std::vector<std::string> snapshot(std::uint64_t& version) const {
        std::lock_guard lock(mutex_);
        version = version_;
        std::vector<std::string> users;
        users.reserve(open_.size());
        for (const auto& entry : open_) users.push_back(entry.first);
        return users;
    }

  private:
    mutable std::mutex mutex_;
    std::unordered_map<std::string, int> open_;
    std::uint64_t version_ = 0;
};

}  // namespace vellumora::server
