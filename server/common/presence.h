#pragma once
// Who has at least one open room connection (the `online` of the friends list).

#include <mutex>
#include <string>
#include <unordered_map>

namespace vellumora::server {

class Presence {
  public:
    void connected(const std::string& userId) {
        std::lock_guard lock(mutex_);
        ++open_[userId];
    }
    void disconnected(const std::string& userId) {
        std::lock_guard lock(mutex_);
        auto it = open_.find(userId);
        if (it != open_.end() && --it->second == 0) open_.erase(it);
    }
    bool online(const std::string& userId) const {
        std::lock_guard lock(mutex_);
        return open_.contains(userId);
    }

  private:
    mutable std::mutex mutex_;
    std::unordered_map<std::string, int> open_;
};

}  // namespace vellumora::server
