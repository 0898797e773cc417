#pragma once
// The Store on one SQLite file in WAL mode. One connection behind a mutex: REST calls are
// short, and room history arrives in a few large group commits.

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "store/point_chunks.h"
#include "store/sqlite_db.h"
#include "store/sqlite_log_slots.h"
#include "store/store.h"

namespace vellumora::server {

class SqliteStore final : public Store {
  public:
    // Opens (creating when needed) and migrates the database; throws StoreError.
    explicit SqliteStore(const std::string& path);
    ~SqliteStore() override;

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

  private:
    struct Statements;
    void migrate();
    bool areFriendsLocked(const std::string& a, const std::string& b);
    void foldLogLocked();
    void applyOpLocked(const HistoryOp& op);
    void writeChunksLocked();
    // A second of drawing at the 5 ms default commit interval: each fold dirties a page or two
    // per drawing room and inserts a chunk row per drawing stroke however few points it brings,
    // so fewer, larger folds cost less per point; larger still and a fold holds the store long
    // enough to delay log-ins and room loads.
    static constexpr int kFoldEvery = 200;
    // A backlogged writer commits far larger batches: folding by count alone would then hold
    // (and fold) hundreds of megabytes at once.
    static constexpr std::size_t kFoldChanges = 50'000;
    int commitsUnfolded_ = 0;
    bool foldFailed_ = false;  // the last fold failed: the next waits for a fold period of commits
    // What the log holds, in order: what a previous run left in it, then every batch
    // this process logged. Folding from here spares reading and decoding the log again.
    std::vector<HistoryOp> unfolded_;
    // Reused per fold: each room's slot; per slot how many changes the room has, then where
    // its next one goes; each change's slot; the rooms by key; the changes in fold order.
    std::unordered_map<std::int64_t, std::size_t> foldRooms_;
    std::vector<std::size_t> foldCounts_;
    std::vector<std::size_t> foldSlots_;
    std::vector<std::pair<std::int64_t, std::size_t>> foldKeys_;
    std::vector<std::size_t> foldOrder_;
    std::string logBlob_;                                          // reused per commit
    PointChunker chunker_;  // the points of a fold
    void addFriendshipLocked(const std::string& a, const std::string& b);

    std::mutex mutex_;
    SqliteDatabase db_;
    std::unique_ptr<Statements> s_;
    std::optional<SqliteLogSlots> log_;
};

}  // namespace vellumora::server
