#pragma once
// The Store in PostgreSQL, shared by several server instances. Accounts, friendships and
// history live in the database; each room is served by one instance at a time.
//
// Each instance keeps one session of its own (the owner session) for everything that must
// not outlive it: a session-level advisory lock per room it serves (the room's lease), one
// on its instance id (its liveness, which presence rows are read through), and every
// history write. A history write can thus only succeed while the leases it relies on are
// held: when the session ends, PostgreSQL drops the locks and this instance can no longer
// write. Other calls run on a small pool of further connections.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "common/presence.h"
#include "store/pg_pool.h"
#include "store/store.h"

namespace vellumora::server {

// The scripts that move the schema one version on, oldest first: version N has run the first N.
std::span<const char* const> postgresMigrations();

class PostgresStore final : public Store {
  public:
    // Connects, creates or migrates the schema, and registers this instance; throws StoreError.
    PostgresStore(const std::string& url, const Presence& presence);
    ~PostgresStore() override;

    std::optional<UserRecord> createUser(const UserRecord& user, const std::string& passwordHash) override;
    std::optional<LoginRecord> loginRecord(const std::string& username) override;
    std::optional<UserRecord> userById(const std::string& id) override;
    std::optional<UserRecord> userByUsername(const std::string& username) override;
    void setPasswordHash(const std::string& userId, const std::string& passwordHash) override;

    void addToken(const std::string& tokenHash, const std::string& userId) override;
    std::optional<UserRecord> userForToken(const std::string& tokenHash, double usedSince,
                                           double touchBefore) override;
    void revokeToken(const std::string& tokenHash) override;
    void revokeTokensOf(const std::string& userId) override;
    std::vector<std::pair<std::string, double>> tokenUses(const std::vector<std::string>& tokenHashes) override;

    std::vector<UserRecord> friendsOf(const std::string& userId) override;
    bool areFriends(const std::string& a, const std::string& b) override;
    std::vector<PendingRequestRecord> pendingRequestsFor(const std::string& userId) override;
    FriendRequestOutcome requestFriendship(const std::string& from, const std::string& to,
                                           std::size_t maxPending) override;
    bool acceptRequest(const std::string& userId, const std::string& requesterId) override;
    bool declineRequest(const std::string& userId, const std::string& requesterId) override;

    bool healthy() override;
    StoredRoom loadRoom(const std::string& roomId) override;
    void applyHistory(const std::vector<HistoryOp>& ops) override;
    void releaseRoom(std::int64_t roomKey, std::uint64_t lease) override;
    bool holdsRoom(std::int64_t roomKey, std::uint64_t lease) override;
    std::vector<std::string> onlineElsewhere(const std::vector<std::string>& userIds) override;

    // Runs (on the store's own thread) when the owner session was lost with every lease on it:
    // the rooms in memory must close, their clients reconnect to whichever instance takes them.
    void onLeasesLost(std::function<void()> handler);

    // Runs (on the store's own thread) with rooms this instance holds that another instance
    // was asked for: the proxy now sends their people there, so they must move.
    void onRoomsWanted(std::function<void(const std::vector<std::int64_t>&)> handler);

    // How often presence changes are published, and how often the owner session is checked
    // (and rooms wanted elsewhere are looked for).
    static constexpr auto kPresenceEvery = std::chrono::milliseconds(100);
    static constexpr auto kCheckEvery = std::chrono::seconds(1);

  private:
    // The first key of this server's two-key advisory locks on instance ids (0 serialises
    // migrations); room leases use one bigint key.
    static constexpr std::int64_t kLockSpace = 0x766c;

    template <class F>
    auto owned(F&& work);

    void migrate();
    void registerInstanceLocked();
    void publishPresenceLocked(const std::vector<std::string>& users);
    void keep();
    // After a failure on the owner session: when it is gone, so is every lease on it.
    void checkOwnerLocked();
    bool areFriendsOn(PgConnection& c, const std::string& a, const std::string& b);
    void addFriendshipOn(PgConnection& c, const std::string& a, const std::string& b);
    void readHistory(PgConnection& c, StoredRoom& room);
    void writeOps(const std::vector<HistoryOp>& ops);

    const std::string url_;
    const Presence& presence_;
    std::unique_ptr<PgPool> pool_;

    std::mutex ownerMutex_;
    PgConnection owner_;
    // Taken anew with every owner session: an old session PostgreSQL has not yet noticed is
    // dead may still hold the previous one. Read without the lock by presence queries.
    std::atomic<std::int64_t> instanceId_{0};
    // Of the owner session; leases of an earlier one are gone. Read without the lock, so that
    // I/O threads never wait for a commit.
    std::atomic<std::uint64_t> generation_{1};
    std::unordered_map<std::int64_t, int> held_;  // room key -> loads holding its lease
    bool lost_ = false;                           // the owner session needs reconnecting
    std::uint64_t publishedPresence_ = ~std::uint64_t{0};
    std::function<void()> leasesLost_;
    std::function<void(const std::vector<std::int64_t>&)> roomsWanted_;

    std::mutex keeperMutex_;
    std::condition_variable keeperWake_;
    bool stopping_ = false;
    std::thread keeper_;
};

}  // namespace vellumora::server
