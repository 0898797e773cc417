#include "store/postgres_store.h"

#include <chrono>

#include "common/log.h"

namespace vellumora::server {

namespace {

// Each entry moves the schema one version on; never edit one that has shipped.
constexpr const char* kMigrations[] = {
    R"sql(
CREATE TABLE users(
  id TEXT PRIMARY KEY,
  username TEXT NOT NULL,
  username_key TEXT NOT NULL UNIQUE,
  display_name TEXT NOT NULL,
  password_hash TEXT NOT NULL,
  created_at DOUBLE PRECISION NOT NULL);
CREATE TABLE tokens(
  hash BYTEA PRIMARY KEY,
  user_id TEXT NOT NULL REFERENCES users(id),
  created_at DOUBLE PRECISION NOT NULL);
CREATE TABLE friend_requests(
  requester_id TEXT NOT NULL REFERENCES users(id),
  target_id TEXT NOT NULL REFERENCES users(id),
  created_at DOUBLE PRECISION NOT NULL,
  PRIMARY KEY(target_id, requester_id));
CREATE TABLE friendships(
  user_id TEXT NOT NULL REFERENCES users(id),
  friend_id TEXT NOT NULL REFERENCES users(id),
  created_at DOUBLE PRECISION NOT NULL,
  PRIMARY KEY(user_id, friend_id));
CREATE TABLE rooms(
  room_key BIGSERIAL PRIMARY KEY,
  id TEXT NOT NULL UNIQUE,
  page_id TEXT, page_name TEXT, page_mime TEXT, page_image TEXT);
CREATE TABLE strokes(
  room_key BIGINT NOT NULL REFERENCES rooms(room_key),
  seq BIGINT NOT NULL,
  stroke_id TEXT NOT NULL,
  user_id TEXT NOT NULL,
  tool TEXT NOT NULL,
  r DOUBLE PRECISION NOT NULL, g DOUBLE PRECISION NOT NULL, b DOUBLE PRECISION NOT NULL,
  a DOUBLE PRECISION NOT NULL,
  brush_size DOUBLE PRECISION NOT NULL,
  complete BOOLEAN NOT NULL,
  PRIMARY KEY(room_key, seq));
CREATE TABLE points(
  room_key BIGINT NOT NULL,
  seq BIGINT NOT NULL,
  idx BIGINT NOT NULL,
  x DOUBLE PRECISION NOT NULL, y DOUBLE PRECISION NOT NULL,
  pressure DOUBLE PRECISION NOT NULL, t DOUBLE PRECISION NOT NULL,
  PRIMARY KEY(room_key, seq, idx));
CREATE SEQUENCE instance_ids AS INTEGER CYCLE;
CREATE TABLE presence(
  instance_id INTEGER NOT NULL,
  user_id TEXT NOT NULL,
  PRIMARY KEY(instance_id, user_id));
CREATE INDEX presence_by_user ON presence(user_id);
CREATE TABLE room_handovers(
  room_key BIGINT PRIMARY KEY,
  asked_at TIMESTAMPTZ NOT NULL);
)sql",
    // Sessions expire after a time unused; tokens from before count as used when they were made.
    R"sql(
ALTER TABLE tokens ADD COLUMN last_used DOUBLE PRECISION;
UPDATE tokens SET last_used = created_at;
ALTER TABLE tokens ALTER COLUMN last_used SET NOT NULL;
CREATE INDEX tokens_by_user ON tokens(user_id);
)sql",
    // A stroke's points in chunks (point_chunks.h); float8send() writes the bytes the server
    // reads. Doubles hardly compress: PostgreSQL need not try.
    R"sql(
CREATE TABLE stroke_chunks(
  room_key BIGINT NOT NULL,
  seq BIGINT NOT NULL,
  first_idx BIGINT NOT NULL,
  points BYTEA NOT NULL,
  PRIMARY KEY(room_key, seq, first_idx));
ALTER TABLE stroke_chunks ALTER COLUMN points SET STORAGE EXTERNAL;
INSERT INTO stroke_chunks(room_key, seq, first_idx, points)
  SELECT room_key, seq, min(idx),
         string_agg(float8send(x) || float8send(y) || float8send(pressure) || float8send(t), ''::bytea
                    ORDER BY idx)
  FROM points GROUP BY room_key, seq;
DROP TABLE points;
)sql",
    // Strokes their authors took back: kept, so a redo can put them back where they were.
    R"sql(
CREATE TABLE undone_strokes(
  room_key BIGINT NOT NULL,
  seq BIGINT NOT NULL,
  PRIMARY KEY(room_key, seq));
)sql",
};

UserRecord userFrom(const PgResult& r, int row, int first) {
    return {std::string(r.text(row, first)), std::string(r.text(row, first + 1)),
            std::string(r.text(row, first + 2))};
}

std::optional<UserRecord> firstUser(const PgResult& r) {
    if (r.rows() == 0) return std::nullopt;
    return userFrom(r, 0, 0);
}

}  // namespace

std::span<const char* const> postgresMigrations() {
    return kMigrations;
}

PostgresStore::PostgresStore(const std::string& url, const Presence& presence)
    : url_(url), presence_(presence), pool_(std::make_unique<PgPool>(url)), owner_(url, pgSettings(true)) {
    migrate();
    {
        std::lock_guard lock(ownerMutex_);
        registerInstanceLocked();
    }
    logLine("PostgreSQL store ready; this is instance " + std::to_string(instanceId_.load()));
    keeper_ = std::thread([this] { keep(); });
}

PostgresStore::~PostgresStore() {
    {
        std::lock_guard lock(keeperMutex_);
        stopping_ = true;
    }
    keeperWake_.notify_all();
    keeper_.join();
    std::lock_guard lock(ownerMutex_);
    try {
        // A clean stop says goodbye at once; the session's end would drop the rest anyway.
        owner_.exec("DELETE FROM presence WHERE instance_id = $1", PgParams().add(instanceId_.load()));
    } catch (const StoreError&) {
    }
}

void PostgresStore::migrate() {
    std::lock_guard lock(ownerMutex_);
    PgTransaction tx(owner_);
    // Instances starting together migrate one after the other.
    owner_.exec("SELECT pg_advisory_xact_lock($1, 0)", PgParams().add(kLockSpace));
    owner_.script("CREATE TABLE IF NOT EXISTS schema_version(version INTEGER NOT NULL)");
    const PgResult current = owner_.exec("SELECT max(version) FROM schema_version");
    const std::int64_t version = current.isNull(0, 0) ? 0 : current.integer(0, 0);
    constexpr auto known = static_cast<std::int64_t>(std::size(kMigrations));
    if (version > known)
        throw StoreError("the database has schema version " + std::to_string(version) +
                         ", newer than this server knows (" + std::to_string(known) + ")");
    for (std::int64_t v = version; v < known; ++v) owner_.script(kMigrations[v]);
    if (version < known) {
        owner_.exec("DELETE FROM schema_version");
        owner_.exec("INSERT INTO schema_version(version) VALUES($1)", PgParams().add(known));
    }
    tx.commit();
}

void PostgresStore::registerInstanceLocked() {
    instanceId_ = owner_.exec("SELECT nextval('instance_ids')").integer(0, 0);
    owner_.exec("SELECT pg_advisory_lock($1, $2)", PgParams().add(kLockSpace).add(instanceId_.load()));
    // Rows of instances that are gone (their liveness lock with them) are dead weight.
    owner_.exec(
        "DELETE FROM presence p WHERE NOT EXISTS (SELECT 1 FROM pg_locks l WHERE l.locktype = 'advisory' "
        "AND l.granted AND l.objsubid = 2 AND l.classid = $1::oid AND l.objid::bigint = p.instance_id)",
        PgParams().add(kLockSpace));
    publishedPresence_ = ~std::uint64_t{0};
}

std::optional<UserRecord> PostgresStore::createUser(const UserRecord& user, const std::string& passwordHash) {
    return pool_->run([&](PgConnection& c) -> std::optional<UserRecord> {
        const PgResult r = c.exec(
            "INSERT INTO users(id, username, username_key, display_name, password_hash, created_at) "
            "VALUES($1, $2, $3, $4, $5, $6) ON CONFLICT DO NOTHING RETURNING id",
            PgParams()
                .add(user.id)
                .add(user.username)
                .add(usernameKey(user.username))
                .add(user.displayName)
                .add(passwordHash)
                .add(nowSeconds()));
        if (r.rows() == 0) return std::nullopt;
        return user;
    });
}

std::optional<LoginRecord> PostgresStore::loginRecord(const std::string& username) {
    return pool_->run([&](PgConnection& c) -> std::optional<LoginRecord> {
        const PgResult r =
            c.exec("SELECT id, username, display_name, password_hash FROM users WHERE username_key = $1",
                   PgParams().add(usernameKey(username)));
        if (r.rows() == 0) return std::nullopt;
        return LoginRecord{userFrom(r, 0, 0), std::string(r.text(0, 3))};
    });
}

std::optional<UserRecord> PostgresStore::userById(const std::string& id) {
    return pool_->run([&](PgConnection& c) {
        return firstUser(
            c.exec("SELECT id, username, display_name FROM users WHERE id = $1", PgParams().add(id)));
    });
}

std::optional<UserRecord> PostgresStore::userByUsername(const std::string& username) {
    std::optional<LoginRecord> login = loginRecord(username);
    if (!login) return std::nullopt;
    return std::move(login->user);
}

void PostgresStore::setPasswordHash(const std::string& userId, const std::string& passwordHash) {
    pool_->run([&](PgConnection& c) {
        return c.exec("UPDATE users SET password_hash = $2 WHERE id = $1",
                      PgParams().add(userId).add(passwordHash));
    });
}

bool PostgresStore::healthy() {
    {
        std::lock_guard lock(ownerMutex_);
        if (lost_) return false;
    }
    try {
        return pool_->run([](PgConnection& c) { return c.exec("SELECT 1").rows() == 1; });
    } catch (const StoreError&) {
        return false;
    }
}

void PostgresStore::addToken(const std::string& tokenHash, const std::string& userId) {
    pool_->run([&](PgConnection& c) {
        return c.exec("INSERT INTO tokens(hash, user_id, created_at, last_used) VALUES($1, $2, $3, $3)",
                      PgParams().addBytes(tokenHash).add(userId).add(nowSeconds()));
    });
}

std::optional<UserRecord> PostgresStore::userForToken(const std::string& tokenHash, double usedSince,
                                                      double touchBefore) {
    return pool_->run([&](PgConnection& c) -> std::optional<UserRecord> {
        const PgResult r = c.exec(
            "SELECT u.id, u.username, u.display_name, t.last_used FROM tokens t "
            "JOIN users u ON u.id = t.user_id WHERE t.hash = $1",
            PgParams().addBytes(tokenHash));
        if (r.rows() == 0 || r.real(0, 3) < usedSince) return std::nullopt;
        if (r.real(0, 3) < touchBefore)
            c.exec("UPDATE tokens SET last_used = $2 WHERE hash = $1",
                   PgParams().addBytes(tokenHash).add(nowSeconds()));
        return userFrom(r, 0, 0);
    });
}

void PostgresStore::revokeToken(const std::string& tokenHash) {
    pool_->run([&](PgConnection& c) {
        return c.exec("DELETE FROM tokens WHERE hash = $1", PgParams().addBytes(tokenHash));
    });
}

void PostgresStore::revokeTokensOf(const std::string& userId) {
    pool_->run([&](PgConnection& c) {
        return c.exec("DELETE FROM tokens WHERE user_id = $1", PgParams().add(userId));
    });
}

std::vector<std::pair<std::string, double>> PostgresStore::tokenUses(
    const std::vector<std::string>& tokenHashes) {
    if (tokenHashes.empty()) return {};
    PgArray hashes;
    for (const std::string& hash : tokenHashes) hashes.add(PgParams::byteaText(hash));
    return pool_->run([&](PgConnection& c) {
        const PgResult r = c.exec("SELECT hash, last_used FROM tokens WHERE hash = ANY($1::bytea[])",
                                  PgParams().add(hashes.take()));
        std::vector<std::pair<std::string, double>> uses;
        for (int i = 0; i < r.rows(); ++i) uses.emplace_back(PgResult::bytes(r.text(i, 0)), r.real(i, 1));
        return uses;
    });
}

std::vector<UserRecord> PostgresStore::friendsOf(const std::string& userId) {
    return pool_->run([&](PgConnection& c) {
        const PgResult r = c.exec(
            "SELECT u.id, u.username, u.display_name FROM friendships f JOIN users u ON u.id = f.friend_id "
            "WHERE f.user_id = $1 ORDER BY u.username_key",
            PgParams().add(userId));
        std::vector<UserRecord> friends;
        for (int i = 0; i < r.rows(); ++i) friends.push_back(userFrom(r, i, 0));
        return friends;
    });
}

bool PostgresStore::areFriendsOn(PgConnection& c, const std::string& a, const std::string& b) {
    return c.exec("SELECT 1 FROM friendships WHERE user_id = $1 AND friend_id = $2", PgParams().add(a).add(b))
               .rows() > 0;
}

bool PostgresStore::areFriends(const std::string& a, const std::string& b) {
    return pool_->run([&](PgConnection& c) { return areFriendsOn(c, a, b); });
}

std::vector<PendingRequestRecord> PostgresStore::pendingRequestsFor(const std::string& userId) {
    return pool_->run([&](PgConnection& c) {
        const PgResult r = c.exec(
            "SELECT u.id, u.username, u.display_name, r.created_at FROM friend_requests r "
            "JOIN users u ON u.id = r.requester_id WHERE r.target_id = $1 ORDER BY r.created_at, "
            "u.username_key",
            PgParams().add(userId));
        std::vector<PendingRequestRecord> requests;
        for (int i = 0; i < r.rows(); ++i) requests.push_back({userFrom(r, i, 0), r.real(i, 3)});
        return requests;
    });
}

namespace {
constexpr std::int64_t kPairLockSpace = 0x766d;  // the advisory locks' first key for friendships

// Serialises the transactions of one pair of users across instances: two requests crossing
// each other must end as one friendship, not as two pending requests.
void lockPair(PgConnection& c, const std::string& a, const std::string& b) {
    c.exec("SELECT pg_advisory_xact_lock($1, hashtext($2))",
           PgParams().add(kPairLockSpace).add(a < b ? a + ":" + b : b + ":" + a));
}
}  // namespace

void PostgresStore::addFriendshipOn(PgConnection& c, const std::string& a, const std::string& b) {
    const double now = nowSeconds();
    c.exec(
        "INSERT INTO friendships(user_id, friend_id, created_at) VALUES($1, $2, $3), ($2, $1, $3) "
        "ON CONFLICT DO NOTHING",
        PgParams().add(a).add(b).add(now));
    c.exec(
        "DELETE FROM friend_requests WHERE (requester_id = $1 AND target_id = $2) OR "
        "(requester_id = $2 AND target_id = $1)",
        PgParams().add(a).add(b));
}

FriendRequestOutcome PostgresStore::requestFriendship(const std::string& from, const std::string& to,
                                                      std::size_t maxPending) {
    return pool_->run([&](PgConnection& c) {
        PgTransaction tx(c);
        lockPair(c, from, to);
        if (areFriendsOn(c, from, to)) return FriendRequestOutcome::accepted;
        const bool theyAsked =
            c.exec("SELECT 1 FROM friend_requests WHERE requester_id = $1 AND target_id = $2",
                   PgParams().add(to).add(from))
                .rows() > 0;
        if (theyAsked) {
            addFriendshipOn(c, from, to);
            tx.commit();
            return FriendRequestOutcome::accepted;
        }
        if (c.exec("SELECT 1 FROM friend_requests WHERE requester_id = $1 AND target_id = $2",
                   PgParams().add(from).add(to))
                .rows() > 0)
            return FriendRequestOutcome::pending;
        const PgResult counts = c.exec(
            "SELECT (SELECT count(*) FROM friend_requests WHERE requester_id = $1), "
            "(SELECT count(*) FROM friend_requests WHERE target_id = $2)",
            PgParams().add(from).add(to));
        const auto max = static_cast<std::int64_t>(maxPending);
        if (counts.integer(0, 0) >= max || counts.integer(0, 1) >= max) return FriendRequestOutcome::tooMany;
        c.exec(
            "INSERT INTO friend_requests(requester_id, target_id, created_at) VALUES($1, $2, $3) "
            "ON CONFLICT DO NOTHING",
            PgParams().add(from).add(to).add(nowSeconds()));
        tx.commit();
        return FriendRequestOutcome::pending;
    });
}

bool PostgresStore::acceptRequest(const std::string& userId, const std::string& requesterId) {
    return pool_->run([&](PgConnection& c) {
        PgTransaction tx(c);
        lockPair(c, userId, requesterId);
        const bool exists = c.exec("SELECT 1 FROM friend_requests WHERE requester_id = $1 AND target_id = $2",
                                   PgParams().add(requesterId).add(userId))
                                .rows() > 0;
        if (!exists) return false;
        addFriendshipOn(c, userId, requesterId);
        tx.commit();
        return true;
    });
}

bool PostgresStore::declineRequest(const std::string& userId, const std::string& requesterId) {
    return pool_->run([&](PgConnection& c) {
        return c.exec("DELETE FROM friend_requests WHERE requester_id = $1 AND target_id = $2 RETURNING 1",
                      PgParams().add(requesterId).add(userId))
                   .rows() > 0;
    });
}

}  // namespace vellumora::server
