#pragma once
// The room connections of each session (token), so that a session that ends (log-out here or
// on another device, log-out everywhere, expiry, or a revocation seen through a shared store)
// takes its connections with it at once. Thread-safe; nothing here touches the store.

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "rooms/room.h"

namespace vellumora::server {

class OpenSessions {
  public:
    // `tokenHash` as the store keeps it.
    void add(const std::string& tokenHash, const std::string& userId, const std::shared_ptr<RoomMember>& member);
    void remove(const std::string& tokenHash, const RoomMember& member);

    // Closes the connections of one session, or of every session of a user.
    void endToken(const std::string& tokenHash, const char* reason);
    void endUser(const std::string& userId, const char* reason);

    // Ends the sessions the store no longer has (signed out through another instance) and those
    // unused since before `usedSince` (seconds since 1970). Reads the store: not on I/O threads.
    void checkWith(Store& store, double usedSince);

    // The sessions with open connections.
    std::vector<std::string> tokens() const;

  private:
    struct Session {
        std::string userId;
        std::vector<std::weak_ptr<RoomMember>> members;
    };
    static void end(std::vector<std::weak_ptr<RoomMember>>& members, const char* reason);

    mutable std::mutex mutex_;
    std::unordered_map<std::string, Session> sessions_;
};

}  // namespace vellumora::server
