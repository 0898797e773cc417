#include "rooms/open_sessions.h"

#include <algorithm>

namespace vellumora::server {

void OpenSessions::add(const std::string& tokenHash, const std::string& userId,
                       const std::shared_ptr<RoomMember>& member) {
    std::lock_guard lock(mutex_);
    Session& s = sessions_[tokenHash];
    s.userId = userId;
    s.members.push_back(member);
}

void OpenSessions::remove(const std::string& tokenHash, const RoomMember& member) {
    std::lock_guard lock(mutex_);
    auto it = sessions_.find(tokenHash);
    if (it == sessions_.end()) return;
    std::erase_if(it->second.members, [&](const std::weak_ptr<RoomMember>& m) {
        const auto alive = m.lock();
        return !alive || alive.get() == &member;
    });
    if (it->second.members.empty()) sessions_.erase(it);
}

void OpenSessions::end(std::vector<std::weak_ptr<RoomMember>>& members, const char* reason) {
    for (const auto& weak : members)
        if (auto m = weak.lock()) m->endSession(reason);
}

void OpenSessions::endToken(const std::string& tokenHash, const char* reason) {
    std::vector<std::weak_ptr<RoomMember>> ending;
    {
        std::lock_guard lock(mutex_);
        auto it = sessions_.find(tokenHash);
        if (it == sessions_.end()) return;
        ending = std::move(it->second.members);
        sessions_.erase(it);
    }
    end(ending, reason);
}

void OpenSessions::endUser(const std::string& userId, const char* reason) {
    std::vector<std::weak_ptr<RoomMember>> ending;
    {
        std::lock_guard lock(mutex_);
        for (auto it = sessions_.begin(); it != sessions_.end();) {
            if (it->second.userId != userId) {
                ++it;
                continue;
            }
            std::ranges::move(it->second.members, std::back_inserter(ending));
            it = sessions_.erase(it);
        }
    }
    end(ending, reason);
}

void OpenSessions::checkWith(Store& store, double usedSince) {
    const std::vector<std::string> open = tokens();
    if (open.empty()) return;
    std::unordered_map<std::string, double> lastUsed;
    for (auto& [token, used] : store.tokenUses(open)) lastUsed.emplace(std::move(token), used);
    for (const std::string& token : open) {
        const auto use = lastUsed.find(token);
        if (use == lastUsed.end()) {
            endToken(token, "Signed out");
        } else if (use->second < usedSince) {
            endToken(token, "Session expired");
        }
    }
}

std::vector<std::string> OpenSessions::tokens() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    out.reserve(sessions_.size());
    for (const auto& entry : sessions_) out.push_back(entry.first);
    return out;
}

}  // namespace vellumora::server
