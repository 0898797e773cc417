#include "store/sqlite_store.h"

#include <chrono>
#include <iterator>

#include "store/history_log_codec.h"
#include "store/point_chunks.h"
#include "store/sqlite_store_statements.h"

namespace vellumora::server {

namespace {

// The layout of the first release, which counted no versions: a database from then is at
// version 0 with these tables in place, a new one is at 0 without them.
constexpr const char* kFirstTables = R"sql(
CREATE TABLE IF NOT EXISTS users(
  id TEXT PRIMARY KEY,
  username TEXT NOT NULL,
  username_key TEXT NOT NULL UNIQUE,
  display_name TEXT NOT NULL,
  password_hash TEXT NOT NULL,
  created_at REAL NOT NULL);
CREATE TABLE IF NOT EXISTS tokens(
  hash BLOB PRIMARY KEY,
  user_id TEXT NOT NULL REFERENCES users(id),
  created_at REAL NOT NULL,
  last_used REAL NOT NULL);
CREATE TABLE IF NOT EXISTS friend_requests(
  requester_id TEXT NOT NULL REFERENCES users(id),
  target_id TEXT NOT NULL REFERENCES users(id),
  created_at REAL NOT NULL,
  PRIMARY KEY(target_id, requester_id));
CREATE TABLE IF NOT EXISTS friendships(
  user_id TEXT NOT NULL REFERENCES users(id),
  friend_id TEXT NOT NULL REFERENCES users(id),
  created_at REAL NOT NULL,
  PRIMARY KEY(user_id, friend_id));
CREATE TABLE IF NOT EXISTS rooms(
  room_key INTEGER PRIMARY KEY,
  id TEXT NOT NULL UNIQUE,
  page_id TEXT, page_name TEXT, page_mime TEXT, page_image TEXT);
CREATE TABLE IF NOT EXISTS strokes(
  room_key INTEGER NOT NULL REFERENCES rooms(room_key),
  seq INTEGER NOT NULL,
  stroke_id TEXT NOT NULL,
  user_id TEXT NOT NULL,
  tool TEXT NOT NULL,
  r REAL NOT NULL, g REAL NOT NULL, b REAL NOT NULL, a REAL NOT NULL,
  brush_size REAL NOT NULL,
  complete INTEGER NOT NULL,
  PRIMARY KEY(room_key, seq)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS points(
  room_key INTEGER NOT NULL,
  seq INTEGER NOT NULL,
  idx INTEGER NOT NULL,
  x REAL NOT NULL, y REAL NOT NULL, pressure REAL NOT NULL, t REAL NOT NULL,
  PRIMARY KEY(room_key, seq, idx)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS history_log(
  id INTEGER PRIMARY KEY,
  ops BLOB NOT NULL);
)sql";

void firstTables(SqliteDatabase& db) {
    db.exec(kFirstTables);
    // Tokens of a database from before sessions expired count as used when they were made.
    sqlite3_stmt* probe = nullptr;
    const bool hasLastUsed =
        sqlite3_prepare_v2(db.handle(), "SELECT last_used FROM tokens", -1, &probe, nullptr) == SQLITE_OK;
    sqlite3_finalize(probe);
    if (!hasLastUsed) {
        db.exec("ALTER TABLE tokens ADD COLUMN last_used REAL NOT NULL DEFAULT 0");
        db.exec("UPDATE tokens SET last_used = created_at");
    }
    db.exec("CREATE INDEX IF NOT EXISTS tokens_by_user ON tokens(user_id)");
}

// A stroke's points in chunks instead of a row each (see point_chunks.h). Rows, not WITHOUT
// ROWID: a chunk is larger than such a table keeps inside its page.
void chunkedPoints(SqliteDatabase& db) {
    db.exec(
        "CREATE TABLE stroke_chunks(room_key INTEGER NOT NULL, seq INTEGER NOT NULL, "
        "first_idx INTEGER NOT NULL, points BLOB NOT NULL, UNIQUE(room_key, seq, first_idx))");
    {
        SqliteStatement read(
            db.handle(), "SELECT room_key, seq, idx, x, y, pressure, t FROM points ORDER BY room_key, seq, idx");
        SqliteStatement write(
            db.handle(), "INSERT INTO stroke_chunks(room_key, seq, first_idx, points) VALUES(?1, ?2, ?3, ?4)");
        PointChunker chunker;
        const auto writeAll = [&] {
            for (const PointChunk& c : chunker.chunks())
                write.bind(1, c.room).bind(2, c.seq).bind(3, c.first).bindBlobInPlace(4, c.points).run();
            chunker.clear();
        };
        while (read.step()) {
            chunker.add(read.integer(0), read.integer(1), read.integer(2),
                        {read.real(3), read.real(4), read.real(5), read.real(6)});
            if (chunker.chunks().size() >= 1024) writeAll();
        }
        read.reset();
        writeAll();
    }
    db.exec("DROP TABLE points");
    // A server from before counted versions would make an empty `points` again and serve every
    // stroke without its points; on this view it fails to start instead.
    db.exec("CREATE VIEW points AS SELECT 'moved to stroke_chunks' AS note WHERE 0");
}

// Strokes their authors took back: kept, so a redo can put them back where they were.
void undoneStrokes(SqliteDatabase& db) {
    db.exec("CREATE TABLE undone_strokes(room_key INTEGER NOT NULL, seq INTEGER NOT NULL, "
            "PRIMARY KEY(room_key, seq)) WITHOUT ROWID");
}

// The log's points are packed from here on (history_log_codec.cpp), which a server before
// could not read back: it now refuses the file as newer instead.
void packedLogPoints(SqliteDatabase&) {}

// Group commits go to slots rewritten in place (sqlite_log_slots.h). What an older server left
// unfolded in history_log moves there in its order: the log is one stream of batches.
void logSlots(SqliteDatabase& db) {
    db.exec("CREATE TABLE history_slots(slot INTEGER PRIMARY KEY, bytes BLOB NOT NULL)");
    SqliteLogSlots slots(db.handle());
    for (SqliteStatement read(db.handle(), "SELECT ops FROM history_log ORDER BY id"); read.step();)
        slots.append(read.blobView(0));
    db.exec("DELETE FROM history_log");
}

// Each step moves the schema one version on (PRAGMA user_version); never edit one that has
// shipped, add another.
constexpr void (*kSteps[])(SqliteDatabase&) = {firstTables, chunkedPoints, undoneStrokes, packedLogPoints,
                                               logSlots};

UserRecord userFrom(const SqliteStatement& s, int first) {
    return {s.text(first), s.text(first + 1), s.text(first + 2)};
}

}  // namespace

std::string usernameKey(std::string_view username) {
    std::string key(username);
    for (char& c : key) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return key;
}

namespace {
// Accounts and friendships are few and precious: their commits reach the disk before they are
// answered (history keeps NORMAL, whose commits a power cut may take back).
class DurableWrite {
  public:
    explicit DurableWrite(SqliteDatabase& db) : db_(db) { db_.exec("PRAGMA synchronous=FULL"); }
    ~DurableWrite() {
        try {
            db_.exec("PRAGMA synchronous=NORMAL");
        } catch (const StoreError&) {
            // Left at FULL: slower history commits, nothing lost.
        }
    }
    DurableWrite(const DurableWrite&) = delete;
    DurableWrite& operator=(const DurableWrite&) = delete;

  private:
    SqliteDatabase& db_;
};
}  // namespace

SqliteStore::SqliteStore(const std::string& path) : db_(path) {
    db_.exec("PRAGMA journal_mode=WAL");
    // NORMAL in WAL mode survives a crash of the process; only a power cut can lose the last commits.
    db_.exec("PRAGMA synchronous=NORMAL");
    db_.exec("PRAGMA foreign_keys=ON");
    db_.exec("PRAGMA cache_size=-16384");
    // A longer WAL between checkpoints: the pages every drawing room dirties are copied back once, not per
    // fold.
    db_.exec("PRAGMA wal_autocheckpoint=8192");
    migrate();
    s_ = std::make_unique<Statements>(db_.handle());
    log_.emplace(db_.handle());
    // Group commits of a previous run that were not folded yet (after a crash, say).
    unfolded_ = decodeHistoryOps(log_->read());
    foldLogLocked();
}

SqliteStore::~SqliteStore() = default;

void SqliteStore::migrate() {
    SqliteStatement read(db_.handle(), "PRAGMA user_version");
    read.step();
    const std::int64_t version = read.integer(0);
    read.reset();
    constexpr auto known = static_cast<std::int64_t>(std::size(kSteps));
    if (version > known)
        throw StoreError("the database has schema version " + std::to_string(version) +
                         ", newer than this server knows (" + std::to_string(known) + ")");
    for (std::int64_t v = version; v < known; ++v) {
        SqliteTransaction tx(db_);
        kSteps[v](db_);
        db_.exec(("PRAGMA user_version = " + std::to_string(v + 1)).c_str());
        tx.commit();
    }
}

std::optional<UserRecord> SqliteStore::createUser(const UserRecord& user, const std::string& passwordHash) {
    std::lock_guard lock(mutex_);
    DurableWrite durable(db_);
    auto& s = s_->insertUser;
    s.bind(1, user.id).bind(2, user.username).bind(3, usernameKey(user.username)).bind(4, user.displayName);
    s.bind(5, passwordHash).bind(6, nowSeconds());
    s.run();
    if (db_.changes() == 0) return std::nullopt;
    return user;
}

std::optional<LoginRecord> SqliteStore::loginRecord(const std::string& username) {
    std::lock_guard lock(mutex_);
    auto& s = s_->loginByKey;
    s.bind(1, usernameKey(username));
    std::optional<LoginRecord> found;
    if (s.step()) found = LoginRecord{userFrom(s, 0), s.text(3)};
    s.reset();
    return found;
}

std::optional<UserRecord> SqliteStore::userById(const std::string& id) {
    std::lock_guard lock(mutex_);
    auto& s = s_->userById;
    s.bind(1, id);
    std::optional<UserRecord> found;
    if (s.step()) found = userFrom(s, 0);
    s.reset();
    return found;
}

std::optional<UserRecord> SqliteStore::userByUsername(const std::string& username) {
    // The row a log-in reads; its hash goes no further.
    std::optional<LoginRecord> login = loginRecord(username);
    if (!login) return std::nullopt;
    return std::move(login->user);
}

void SqliteStore::setPasswordHash(const std::string& userId, const std::string& passwordHash) {
    std::lock_guard lock(mutex_);
    DurableWrite durable(db_);
    s_->setPasswordHash.bind(1, userId).bind(2, passwordHash).run();
}

bool SqliteStore::healthy() {
    std::lock_guard lock(mutex_);
    // A database file deleted or replaced under a running server would take every later write
    // with it, unseen.
    int moved = 0;
    if (sqlite3_file_control(db_.handle(), "main", SQLITE_FCNTL_HAS_MOVED, &moved) != SQLITE_OK || moved)
        return false;
    auto& s = s_->userById;
    s.bind(1, std::string_view{});
    s.step();
    s.reset();
    return true;
}

void SqliteStore::addToken(const std::string& tokenHash, const std::string& userId) {
    std::lock_guard lock(mutex_);
    DurableWrite durable(db_);
    s_->insertToken.bindBlob(1, tokenHash).bind(2, userId).bind(3, nowSeconds()).run();
}

std::optional<UserRecord> SqliteStore::userForToken(const std::string& tokenHash, double usedSince,
                                                    double touchBefore) {
    std::lock_guard lock(mutex_);
    auto& s = s_->userByToken;
    s.bindBlob(1, tokenHash);
    std::optional<UserRecord> found;
    double lastUsed = 0;
    if (s.step()) {
        found = userFrom(s, 0);
        lastUsed = s.real(3);
    }
    s.reset();
    if (!found || lastUsed < usedSince) return std::nullopt;
    if (lastUsed < touchBefore) s_->touchToken.bindBlob(1, tokenHash).bind(2, nowSeconds()).run();
    return found;
}

void SqliteStore::revokeToken(const std::string& tokenHash) {
    std::lock_guard lock(mutex_);
    DurableWrite durable(db_);
    s_->deleteToken.bindBlob(1, tokenHash).run();
}

void SqliteStore::revokeTokensOf(const std::string& userId) {
    std::lock_guard lock(mutex_);
    DurableWrite durable(db_);
    s_->deleteTokensOf.bind(1, userId).run();
}

std::vector<std::pair<std::string, double>> SqliteStore::tokenUses(
    const std::vector<std::string>& tokenHashes) {
    std::lock_guard lock(mutex_);
    std::vector<std::pair<std::string, double>> uses;
    auto& s = s_->tokenUse;
    for (const std::string& hash : tokenHashes) {
        s.bindBlob(1, hash);
        if (s.step()) uses.emplace_back(hash, s.real(0));
        s.reset();
    }
    return uses;
}

std::vector<UserRecord> SqliteStore::friendsOf(const std::string& userId) {
    std::lock_guard lock(mutex_);
    auto& s = s_->friendsOf;
    s.bind(1, userId);
    std::vector<UserRecord> friends;
    while (s.step()) friends.push_back(userFrom(s, 0));
    s.reset();
    return friends;
}

bool SqliteStore::areFriendsLocked(const std::string& a, const std::string& b) {
    auto& s = s_->isFriend;
    s.bind(1, a).bind(2, b);
    const bool found = s.step();
    s.reset();
    return found;
}

bool SqliteStore::areFriends(const std::string& a, const std::string& b) {
    std::lock_guard lock(mutex_);
    return areFriendsLocked(a, b);
}

std::vector<PendingRequestRecord> SqliteStore::pendingRequestsFor(const std::string& userId) {
    std::lock_guard lock(mutex_);
    auto& s = s_->pendingFor;
    s.bind(1, userId);
    std::vector<PendingRequestRecord> requests;
    while (s.step()) requests.push_back({userFrom(s, 0), s.real(3)});
    s.reset();
    return requests;
}

void SqliteStore::addFriendshipLocked(const std::string& a, const std::string& b) {
    const double now = nowSeconds();
    s_->insertFriendship.bind(1, a).bind(2, b).bind(3, now).run();
    s_->insertFriendship.bind(1, b).bind(2, a).bind(3, now).run();
    s_->deleteRequest.bind(1, a).bind(2, b).run();
    s_->deleteRequest.bind(1, b).bind(2, a).run();
}

FriendRequestOutcome SqliteStore::requestFriendship(const std::string& from, const std::string& to,
                                                    std::size_t maxPending) {
    std::lock_guard lock(mutex_);
    DurableWrite durable(db_);
    SqliteTransaction tx(db_);
    if (areFriendsLocked(from, to)) return FriendRequestOutcome::accepted;
    auto& pending = s_->requestExists;
    pending.bind(1, to).bind(2, from);  // did `to` already ask `from`?
    const bool theyAsked = pending.step();
    pending.reset();
    if (theyAsked) {
        addFriendshipLocked(from, to);
        tx.commit();
        return FriendRequestOutcome::accepted;
    }
    pending.bind(1, from).bind(2, to);  // asked before?
    const bool askedBefore = pending.step();
    pending.reset();
    if (askedBefore) return FriendRequestOutcome::pending;
    auto& counts = s_->pendingCounts;
    counts.bind(1, from).bind(2, to);
    counts.step();
    const auto max = static_cast<std::int64_t>(maxPending);
    const bool full = counts.integer(0) >= max || counts.integer(1) >= max;
    counts.reset();
    if (full) return FriendRequestOutcome::tooMany;
    s_->insertRequest.bind(1, from).bind(2, to).bind(3, nowSeconds()).run();
    tx.commit();
    return FriendRequestOutcome::pending;
}

bool SqliteStore::acceptRequest(const std::string& userId, const std::string& requesterId) {
    std::lock_guard lock(mutex_);
    DurableWrite durable(db_);
    SqliteTransaction tx(db_);
    auto& pending = s_->requestExists;
    pending.bind(1, requesterId).bind(2, userId);
    const bool exists = pending.step();
    pending.reset();
    if (!exists) return false;
    addFriendshipLocked(userId, requesterId);
    tx.commit();
    return true;
}

bool SqliteStore::declineRequest(const std::string& userId, const std::string& requesterId) {
    std::lock_guard lock(mutex_);
    DurableWrite durable(db_);
    s_->deleteRequest.bind(1, requesterId).bind(2, userId).run();
    return db_.changes() > 0;
}

}  // namespace vellumora::server
