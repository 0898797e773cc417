#pragma once
// Everything the server keeps: accounts, tokens, friendships and room history, in SQLite (one
// instance) or PostgreSQL (several instances sharing it). Every method is safe to call from
// any thread. Failures of the database throw StoreError.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "model/protocol.h"

namespace vellumora::server {

// Wall-clock time as the stores keep it (tokens, requests, rooms' last use).
inline double nowSeconds() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

struct StoreError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// No database connection became free in time; the caller may answer "busy".
struct StoreBusy : StoreError {
    using StoreError::StoreError;
};

// Another instance serves the room now; the caller may try again shortly.
struct RoomElsewhere : StoreError {
    using StoreError::StoreError;
};

struct UserRecord {
    std::string id;
    std::string username;
    std::string displayName;
    bool operator==(const UserRecord&) const = default;
};

struct LoginRecord {
    UserRecord user;
    std::string passwordHash;
};

struct PendingRequestRecord {
    UserRecord requester;
    double createdAt = 0;  // seconds since 1970
};

enum class FriendRequestOutcome { pending, accepted, tooMany };

// A stroke of a room's history with its position in start order.
struct StoredStroke {
    std::int64_t seq = 0;
    WireStroke stroke;
    bool undone = false;  // taken out by its author; a redo puts it back in its place
};

struct StoredRoom {
    std::int64_t key = 0;               // the store's handle for the room in later HistoryOps
    std::vector<StoredStroke> strokes;  // in start order
    std::optional<WirePage> page;
    std::uint64_t lease = 0;  // which lease of a shared store this load holds
};

// One change to a room's history, applied in the order the room made them.
struct HistoryOp {
    struct StartStroke {
        std::int64_t seq;
        StrokeHeader header;
        StrokePoint first;
    };
    struct AppendPoint {
        std::int64_t seq;
        std::int64_t index;  // 0 is the start point
        StrokePoint point;
    };
    struct EndStroke {
        std::int64_t seq;
    };
    struct RemoveStroke {
        std::int64_t seq;
    };
    struct Clear {};
    // Kept apart from the strokes themselves: the stroke stays stored, only marked.
    struct SetUndone {
        std::int64_t seq;
        bool undone;
    };
    struct SetPage {
        std::shared_ptr<const WirePage> page;  // null removes the page
    };

    std::int64_t roomKey = 0;
    std::variant<StartStroke, AppendPoint, EndStroke, RemoveStroke, Clear, SetPage, SetUndone> change;
};

// Whether a --db value names a PostgreSQL database rather than a SQLite file.
inline bool isPostgresUrl(std::string_view db) {
    return db.starts_with("postgresql://") || db.starts_with("postgres://");
}

// Usernames are unique without regard to case; this is the key they are compared by.
std::string usernameKey(std::string_view username);

class Store {
  public:
    virtual ~Store() = default;

    // None when the username is taken (compared without regard to case).
    virtual std::optional<UserRecord> createUser(const UserRecord& user, const std::string& passwordHash) = 0;
    virtual std::optional<LoginRecord> loginRecord(const std::string& username) = 0;
    virtual std::optional<UserRecord> userById(const std::string& id) = 0;
    virtual std::optional<UserRecord> userByUsername(const std::string& username) = 0;
    virtual void setPasswordHash(const std::string& userId, const std::string& passwordHash) = 0;

    virtual void addToken(const std::string& tokenHash, const std::string& userId) = 0;
    // The user of a token used since `usedSince` (seconds since 1970). A token last used before
    // `touchBefore` is marked used now: sessions slide on in coarse steps, so that a client
    // polling every few seconds does not write every time.
    virtual std::optional<UserRecord> userForToken(const std::string& tokenHash, double usedSince,
                                                   double touchBefore) = 0;
    virtual void revokeToken(const std::string& tokenHash) = 0;
    virtual void revokeTokensOf(const std::string& userId) = 0;
    // When each of these tokens was last used; tokens that no longer exist are left out.
    virtual std::vector<std::pair<std::string, double>> tokenUses(
        const std::vector<std::string>& tokenHashes) = 0;

    virtual std::vector<UserRecord> friendsOf(const std::string& userId) = 0;
    virtual bool areFriends(const std::string& a, const std::string& b) = 0;
    virtual std::vector<PendingRequestRecord> pendingRequestsFor(const std::string& userId) = 0;
    // Accepted when `to` had already asked `from`, or they are friends; else a pending request,
    // unless `from` has `maxPending` requests waiting already, or `to` has that many to answer.
    virtual FriendRequestOutcome requestFriendship(const std::string& from, const std::string& to,
                                                   std::size_t maxPending) = 0;
    // False when `requesterId` has no pending request to `userId`.
    virtual bool acceptRequest(const std::string& userId, const std::string& requesterId) = 0;
    virtual bool declineRequest(const std::string& userId, const std::string& requesterId) = 0;

    // The room as last stored (created empty when new). A shared store also takes this
    // instance's lease on the room, and throws RoomElsewhere while another instance holds it;
    // every load is matched by one releaseRoom() once the room's last change is stored.
    virtual StoredRoom loadRoom(const std::string& roomId) = 0;
    // All in one transaction: either every change is stored or none. A shared store drops the
    // changes of rooms whose lease it no longer holds.
    virtual void applyHistory(const std::vector<HistoryOp>& ops) = 0;

    // Whether the store answers a small query now (and, when shared, still holds its session).
    virtual bool healthy() = 0;

    virtual void releaseRoom(std::int64_t /*roomKey*/, std::uint64_t /*lease*/) {}
    // False once the lease of that load is lost (the instance's database session ended).
    // Never waits for the database: I/O threads ask.
    virtual bool holdsRoom(std::int64_t /*roomKey*/, std::uint64_t /*lease*/) { return true; }
    // Those of `userIds` with an open room connection on another instance.
    virtual std::vector<std::string> onlineElsewhere(const std::vector<std::string>& /*userIds*/) {
        return {};
    }
};

}  // namespace vellumora::server
