// Both stores: history round trips bit for bit, friendships follow their rules. PostgreSQL
// runs when the environment provides one (VELLUMORA_TEST_STORE=postgresql).
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <tuple>

#include "store/history_log_codec.h"
#include "store/sqlite_store.h"
#if VELLUMORA_WITH_POSTGRES
#include "postgres_instance.h"
#include "store/postgres_store.h"
#endif

namespace vellumora::server {
namespace {

enum class Kind { sqlite, postgresql };

class StoreTest : public ::testing::TestWithParam<Kind> {
  protected:
    void SetUp() override {
        // A parameterised test's name has a '/': one directory, not one inside another left behind.
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '-');
        dir_ = std::filesystem::temp_directory_path() / ("vellumora-store-" + std::to_string(::getpid()) + "-" + name);
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        if (GetParam() == Kind::postgresql) {
#if VELLUMORA_WITH_POSTGRES
            testing::PostgresInstance* pg = testing::PostgresInstance::shared();
            if (!pg) GTEST_SKIP() << "no PostgreSQL (VELLUMORA_TEST_STORE=postgresql starts one)";
            location_ = pg->createDatabase();
            return;
#else
            GTEST_SKIP() << "built without PostgreSQL";
#endif
        }
        location_ = (dir_ / "test.db").string();
    }
    void TearDown() override {
        std::filesystem::remove_all(dir_);
    }
    // The store at this test's location, as a server process would open it.
    std::unique_ptr<Store> open() {
#if VELLUMORA_WITH_POSTGRES
        if (GetParam() == Kind::postgresql) return std::make_unique<PostgresStore>(location_, presence_);
#endif
        return std::make_unique<SqliteStore>(location_);
    }
    static HistoryOp startOp(std::int64_t room, std::int64_t seq, const std::string& id,
                             StrokePoint first = {}) {
        return {room, HistoryOp::StartStroke{seq, {id, "u", Tool::pencil, {}, 3}, first}};
    }

    Presence presence_;
    std::filesystem::path dir_;
    std::string location_;
};

std::string kindName(const ::testing::TestParamInfo<Kind>& info) {
    return info.param == Kind::sqlite ? "sqlite" : "postgresql";
}
INSTANTIATE_TEST_SUITE_P(Stores, StoreTest, ::testing::Values(Kind::sqlite, Kind::postgresql), kindName);

// SQLite's own: group commits go to a log that is folded into the tables in batches.
using SqliteStoreTest = StoreTest;
INSTANTIATE_TEST_SUITE_P(Stores, SqliteStoreTest, ::testing::Values(Kind::sqlite), kindName);

// Undone strokes stay marked until redone, removed or cleared.
TEST_P(StoreTest, shouldRoundTripHistoryAndUndoneMarksExactlyAcrossReopening) {
    const StrokePoint odd{0.1 + 0.2, std::nextafter(1.0, 0.0), std::numeric_limits<double>::denorm_min(),
                          1733400000.123456789};
    const WirePage page{"id", "Name ü \"q\"", "image/png", "AAAA"};
    std::int64_t key = 0;
    {
        const auto store = open();
        key = store->loadRoom("solo:x").key;
        store->applyHistory({
            {key,
             HistoryOp::StartStroke{1, {"S1", "u", Tool::watercolor, {0.5, 0.25, 1.0 / 3.0, 1}, 7.5}, odd}},
            {key, HistoryOp::AppendPoint{1, 1, {0.5, 0.5, 1, 2}}},
            startOp(key, 2, "S2"),
            {key, HistoryOp::EndStroke{1}},
            startOp(key, 3, "S3"),
            {key, HistoryOp::SetUndone{1, true}},
            {key, HistoryOp::SetUndone{2, true}},
            {key, HistoryOp::SetUndone{3, true}},
            {key, HistoryOp::SetUndone{3, false}},
            {key, HistoryOp::RemoveStroke{2}},
            startOp(key, 4, "S4"),
            {key, HistoryOp::SetPage{std::make_shared<const WirePage>(page)}},
        });
    }
    const auto store = open();
    const StoredRoom room = store->loadRoom("solo:x");
    const auto undone = [&] {
        std::string out;
        for (const StoredStroke& s : store->loadRoom("solo:x").strokes)
            out += s.stroke.id + (s.undone ? "-" : "+");
        return out;
    };
    EXPECT_EQ(room.key, key);
    ASSERT_EQ(room.strokes.size(), 3u);
    EXPECT_EQ(
        room.strokes[0].stroke,
        (WireStroke{
            "S1", "u", Tool::watercolor, {0.5, 0.25, 1.0 / 3.0, 1}, 7.5, {odd, {0.5, 0.5, 1, 2}}, true}));
    EXPECT_EQ(room.strokes[1].seq, 3);
    EXPECT_FALSE(room.strokes[1].stroke.complete);
    EXPECT_EQ(undone(), "S1-S3+S4+");
    EXPECT_EQ(room.page, page);

    store->applyHistory(
        {{key, HistoryOp::Clear{}}, {key, HistoryOp::SetPage{nullptr}}, startOp(key, 1, "E")});
    EXPECT_EQ(undone(), "E+");  // a new stroke at a cleared sequence number is not undone
    EXPECT_FALSE(store->loadRoom("solo:x").page);
    EXPECT_NE(store->loadRoom("solo:y").key, key);
}

// A log left behind by a stop or crash is replayed in the older database's test below.
TEST_P(SqliteStoreTest, shouldFoldManyCommitsOfInterleavedRoomsEachInItsOwnOrder) {
    SqliteStore store(location_);
    const std::int64_t key = store.loadRoom("solo:z").key;
    store.applyHistory({startOp(key, 1, "A"), {key, HistoryOp::Clear{}}, startOp(key, 2, "B"),
                        {key, HistoryOp::AppendPoint{2, 1, {0.2, 0.2, 1, 2}}}});
    // Two rooms interleaved over many folds: each keeps its own order, a clear included. The
    // first folds fail (as on a full disk): what they leave to a later fold comes back once.
    const std::int64_t other = store.loadRoom("solo:w").key;
    store.applyHistory({startOp(other, 1, "GONE"), {other, HistoryOp::Clear{}}, startOp(other, 2, "W")});
    SqliteDatabase saboteur(location_);
    saboteur.exec("CREATE TRIGGER full BEFORE INSERT ON stroke_chunks BEGIN SELECT RAISE(ABORT, 'full'); END");
    for (int i = 2; i <= 1000; ++i) {
        if (i == 500) saboteur.exec("DROP TRIGGER full");
        const StrokePoint p{0.5, 0.5, 1, static_cast<double>(i)};
        store.applyHistory(
            {{key, HistoryOp::AppendPoint{2, i, p}}, {other, HistoryOp::AppendPoint{2, i - 1, p}}});
    }
    for (const auto& [id, atTwo] : {std::pair{"solo:z", 2}, std::pair{"solo:w", 1}}) {  // where t = 2 is
        const StoredRoom room = store.loadRoom(id);
        ASSERT_EQ(room.strokes.size(), 1u) << id;
        const auto& points = room.strokes[0].stroke.points;
        ASSERT_EQ(points.size(), static_cast<std::size_t>(999 + atTwo)) << id;
        for (int i = 2; i <= 1000; ++i) ASSERT_EQ(points[static_cast<std::size_t>(i - 2 + atTwo)].t, i) << id;
    }
}

// Puts data/history_v1.db where open() finds it, in the layout of its time: for SQLite the file
// itself; for PostgreSQL its rows, in a database of that schema version, and the changes still
// in the file's log come back for a server to store once it holds the rooms.
std::vector<HistoryOp> placeOlderHistory(Kind kind, const std::filesystem::path& dir,
                                         const std::string& location) {
    std::filesystem::copy_file(VELLUMORA_SERVER_TEST_DATA "/history_v1.db", dir / "older.db");
    if (kind == Kind::sqlite) {
        std::filesystem::rename(dir / "older.db", location);
        return {};
    }
    std::vector<HistoryOp> logged;
#if VELLUMORA_WITH_POSTGRES
    SqliteDatabase older((dir / "older.db").string());
    for (const char* script : postgresMigrations().first(2))
        testing::PostgresInstance::execute(location, script);
    testing::PostgresInstance::execute(
        location,
        "CREATE TABLE schema_version(version INTEGER NOT NULL); INSERT INTO schema_version VALUES(2)");
    // Each value a literal PostgreSQL reads into its column's type; doubles (`reals`) in full.
    for (const auto& [table, columns, reals] :
         {std::tuple{"rooms", "room_key, id, page_id, page_name, page_mime, page_image", "------"},
          {"strokes", "room_key, seq, stroke_id, user_id, tool, r, g, b, a, brush_size, complete",
           "-----rrrrr-"},
          {"points", "room_key, seq, idx, x, y, pressure, t", "---rrrr"}}) {
        SqliteStatement read(older.handle(), std::string("SELECT ") + columns + " FROM " + table);
        std::string sql = std::string("INSERT INTO ") + table + "(" + columns + ") VALUES";
        for (char row = ' '; read.step(); row = ',') {
            sql += row + std::string("(");
            for (int j = 0; reals[j]; ++j) {
                char exact[32];
                std::string value =
                    reals[j] == 'r' ? std::string(exact, std::to_chars(exact, exact + 32, read.real(j)).ptr)
                                    : read.text(j);
                for (std::size_t q = value.find('\''); q != std::string::npos; q = value.find('\'', q + 2))
                    value.insert(q, 1, '\'');
                sql += (j ? "," : "") + (read.isNull(j) ? "NULL" : "'" + value + "'");
            }
            sql += ")";
        }
        testing::PostgresInstance::execute(location, sql);
    }
    for (SqliteStatement log(older.handle(), "SELECT ops FROM history_log ORDER BY id"); log.step();) {
        const std::vector<HistoryOp> ops = decodeHistoryOps(log.blobView(0));
        logged.insert(logged.end(), ops.begin(), ops.end());
    }
#endif
    return logged;
}

// A database an earlier layout wrote (bench/server_load/make_history_db.cpp drove that server):
// part of its history folded into rows, part still in the log, as a stop or crash leaves it. It
// is converted in place, and every room comes back as that server sent it, byte for byte in
// JSON (a -0 or a last bit would show), right after the conversion and from the converted file.
TEST_P(StoreTest, shouldConvertAnOlderDatabaseAndReloadEveryRoomAsItsServerSentIt) {
    const std::vector<HistoryOp> logged = placeOlderHistory(GetParam(), dir_, location_);
    std::ifstream rooms(VELLUMORA_SERVER_TEST_DATA "/history_v1_rooms.txt");
    std::vector<std::pair<std::string, std::string>> sent;  // room id, its room_state
    for (std::string room, state; rooms >> room && std::getline(rooms >> std::ws, state);)
        sent.emplace_back(room, state);
    ASSERT_EQ(sent.size(), 2u);
    for (int pass = 0; pass < 2; ++pass) {
        const auto store = open();
        for (const auto& [room, state] : sent) store->loadRoom(room);
        if (pass == 0) store->applyHistory(logged);
        for (const auto& [room, state] : sent) {
            auto message = decodeServerMessage(state);
            ASSERT_TRUE(message && std::holds_alternative<RoomStateMessage>(*message)) << room;
            auto& expected = std::get<RoomStateMessage>(*message);
            const StoredRoom stored = store->loadRoom(room);
            expected.strokes.clear();
            for (const StoredStroke& s : stored.strokes) expected.strokes.push_back(s.stroke);
            expected.page = stored.page;
            EXPECT_EQ(encode(*message), state) << room << " pass " << pass;
        }
    }
}

// A server never writes into a schema a newer one has made.
TEST_P(StoreTest, shouldMigrateOnceAndRefuseASchemaNewerThanItKnows) {
    open().reset();
    EXPECT_NO_THROW(open().reset());  // already migrated: nothing to do
    if (GetParam() == Kind::sqlite) {
        SqliteDatabase db(location_);
        SqliteStatement version(db.handle(), "PRAGMA user_version");
        ASSERT_TRUE(version.step());
        db.exec(("PRAGMA user_version = " + std::to_string(version.integer(0) + 1)).c_str());
    } else {
#if VELLUMORA_WITH_POSTGRES
        testing::PostgresInstance::execute(location_, "UPDATE schema_version SET version = version + 1");
#endif
    }
    EXPECT_THROW(open(), StoreError);
}

TEST_P(StoreTest, shouldFollowTheFriendRequestRules) {
    const auto owned = open();
    Store& store = *owned;
    std::vector<UserRecord> u;
    for (const char* name : {"a", "b", "c", "d"}) u.push_back(*store.createUser({name, name, name}, "hash"));
    const auto &a = u[0].id, &b = u[1].id, &c = u[2].id, &d = u[3].id;
    EXPECT_EQ(store.requestFriendship(a, b, 2), FriendRequestOutcome::pending);
    EXPECT_EQ(store.requestFriendship(a, b, 2), FriendRequestOutcome::pending);
    EXPECT_EQ(store.pendingRequestsFor(b).size(), 1u);
    EXPECT_TRUE(store.pendingRequestsFor(a).empty());
    EXPECT_FALSE(store.acceptRequest(a, b));  // only the target accepts
    EXPECT_TRUE(store.acceptRequest(b, a));
    EXPECT_TRUE(store.areFriends(a, b) && store.areFriends(b, a));
    EXPECT_FALSE(store.acceptRequest(b, a));  // nothing left to accept
    EXPECT_EQ(store.requestFriendship(b, a, 2), FriendRequestOutcome::accepted);

    EXPECT_EQ(store.requestFriendship(c, a, 2), FriendRequestOutcome::pending);
    EXPECT_EQ(store.requestFriendship(a, c, 2), FriendRequestOutcome::accepted);  // crossing requests
    EXPECT_TRUE(store.pendingRequestsFor(a).empty());
    EXPECT_EQ(store.friendsOf(a), (std::vector<UserRecord>{u[1], u[2]}));

    // Two waiting requests at most, sent or to answer; asking again is no new request.
    EXPECT_EQ(store.requestFriendship(d, a, 2), FriendRequestOutcome::pending);
    EXPECT_EQ(store.requestFriendship(d, b, 2), FriendRequestOutcome::pending);
    EXPECT_EQ(store.requestFriendship(d, b, 2), FriendRequestOutcome::pending);
    EXPECT_EQ(store.requestFriendship(d, c, 2), FriendRequestOutcome::tooMany);
    EXPECT_EQ(store.requestFriendship(c, b, 1), FriendRequestOutcome::tooMany);  // b has one to answer
    EXPECT_TRUE(store.declineRequest(a, d));
    EXPECT_FALSE(store.declineRequest(a, d));
    EXPECT_FALSE(store.areFriends(a, d));
}

}  // namespace
}  // namespace vellumora::server
