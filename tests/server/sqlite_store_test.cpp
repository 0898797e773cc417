// The SQLite store: history round trips bit for bit, friendships follow their rules.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>

#include "store/sqlite_store.h"

namespace vellumora::server {
namespace {

class SqliteStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("vellumora-store-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string path() const { return (dir_ / "test.db").string(); }
    UserRecord user(SqliteStore& store, const std::string& name) {
        return *store.createUser({"id-" + name, name, name}, "hash");
    }

    std::filesystem::path dir_;
};

TEST_F(SqliteStoreTest, shouldRoundTripHistoryExactlyAcrossReopening) {
    const StrokePoint odd{0.1 + 0.2, std::nextafter(1.0, 0.0), std::numeric_limits<double>::denorm_min(),
                          1733400000.123456789};
    std::int64_t key = 0;
    {
        SqliteStore store(path());
        key = store.loadRoom("solo:x").key;
        const auto page =
            std::make_shared<const WirePage>(WirePage{"id", "Name ü \"q\"", "image/png", "AAAA"});
        store.applyHistory({
            {key,
             HistoryOp::StartStroke{1, {"S1", "u", Tool::watercolor, {0.5, 0.25, 1.0 / 3.0, 1}, 7.5}, odd}},
            {key, HistoryOp::AppendPoint{1, 1, {0.5, 0.5, 1, 2}}},
            {key, HistoryOp::StartStroke{2, {"S2", "v", Tool::pastel, {}, 1}, {0, 0, 0, 0}}},
            {key, HistoryOp::EndStroke{1}},
            {key, HistoryOp::StartStroke{3, {"S3", "v", Tool::crayon, {}, 1}, {0, 0, 0, 0}}},
            {key, HistoryOp::RemoveStroke{2}},
            {key, HistoryOp::AppendPoint{3, 1, {1, 1, 1, 1}}},
            {key, HistoryOp::SetPage{page}},
        });
    }
    SqliteStore store(path());
    const StoredRoom room = store.loadRoom("solo:x");
    EXPECT_EQ(room.key, key);
    ASSERT_EQ(room.strokes.size(), 2u);
    EXPECT_EQ(room.strokes[0].seq, 1);
    EXPECT_EQ(
        room.strokes[0].stroke,
        (WireStroke{
            "S1", "u", Tool::watercolor, {0.5, 0.25, 1.0 / 3.0, 1}, 7.5, {odd, {0.5, 0.5, 1, 2}}, true}));
    EXPECT_EQ(room.strokes[1].stroke.id, "S3");
    EXPECT_FALSE(room.strokes[1].stroke.complete);
    EXPECT_EQ(room.strokes[1].stroke.points.size(), 2u);
    EXPECT_EQ(room.page, (WirePage{"id", "Name ü \"q\"", "image/png", "AAAA"}));

    store.applyHistory({{key, HistoryOp::Clear{}}, {key, HistoryOp::SetPage{nullptr}}});
    const StoredRoom cleared = store.loadRoom("solo:x");
    EXPECT_TRUE(cleared.strokes.empty());
    EXPECT_FALSE(cleared.page);
    EXPECT_NE(store.loadRoom("solo:y").key, key);
}

TEST_F(SqliteStoreTest, shouldReplayCommitsThatWereNeverFoldedAfterACrash) {
    std::int64_t key = 0;
    {
        SqliteStore store(path());
        key = store.loadRoom("solo:z").key;
        // Well under the fold threshold: these stay in the log when the store goes away.
        store.applyHistory(
            {{key, HistoryOp::StartStroke{1, {"A", "u", Tool::pencil, {}, 3}, {0.5, 0.5, 1, 1}}}});
        store.applyHistory({{key, HistoryOp::AppendPoint{1, 1, {0.25, 0.5, 1, 2}}}});
        store.applyHistory({{key, HistoryOp::Clear{}}});
        store.applyHistory(
            {{key, HistoryOp::StartStroke{2, {"B", "u", Tool::pencil, {}, 3}, {0.1, 0.1, 1, 1}}},
             {key, HistoryOp::AppendPoint{2, 1, {0.2, 0.2, 1, 2}}}});
    }
    SqliteStore reopened(path());
    const StoredRoom room = reopened.loadRoom("solo:z");
    ASSERT_EQ(room.strokes.size(), 1u);
    EXPECT_EQ(room.strokes[0].stroke.id, "B");
    EXPECT_EQ(room.strokes[0].stroke.points.size(), 2u);
}

TEST_F(SqliteStoreTest, shouldFoldManyCommitsInOrder) {
    SqliteStore store(path());
    const std::int64_t key = store.loadRoom("solo:f").key;
    store.applyHistory({{key, HistoryOp::StartStroke{1, {"L", "u", Tool::pencil, {}, 3}, {0, 0, 1, 0}}}});
    for (int i = 1; i <= 1000; ++i) {
        store.applyHistory(
            {{key, HistoryOp::AppendPoint{1, i, {i / 1000.0, 0.5, 1, static_cast<double>(i)}}}});
    }
    const StoredRoom room = store.loadRoom("solo:f");
    ASSERT_EQ(room.strokes.size(), 1u);
    ASSERT_EQ(room.strokes[0].stroke.points.size(), 1001u);
    for (int i = 0; i <= 1000; ++i)
        ASSERT_EQ(room.strokes[0].stroke.points[static_cast<std::size_t>(i)].t, i);
}

TEST_F(SqliteStoreTest, shouldKeepUsernamesUniqueWithoutRegardToCase) {
    SqliteStore store(path());
    ASSERT_TRUE(store.createUser({"1", "Alice", "Alice"}, "h"));
    EXPECT_FALSE(store.createUser({"2", "aLICE", "aLICE"}, "h"));
    EXPECT_EQ(store.loginRecord("ALICE")->user.id, "1");
    EXPECT_EQ(store.userByUsername("alice")->username, "Alice");
    EXPECT_FALSE(store.userByUsername("bob"));
}

TEST_F(SqliteStoreTest, shouldRevokeTokensOneByOne) {
    SqliteStore store(path());
    const UserRecord a = user(store, "a");
    store.addToken("h1", a.id);
    store.addToken("h2", a.id);
    store.revokeToken("h1");
    EXPECT_FALSE(store.userForToken("h1"));
    EXPECT_EQ(store.userForToken("h2"), a);
}

TEST_F(SqliteStoreTest, shouldFollowTheFriendRequestRules) {
    SqliteStore store(path());
    const UserRecord a = user(store, "a"), b = user(store, "b"), c = user(store, "c");
    EXPECT_EQ(store.requestFriendship(a.id, b.id), FriendRequestOutcome::pending);
    EXPECT_EQ(store.requestFriendship(a.id, b.id), FriendRequestOutcome::pending);
    EXPECT_EQ(store.pendingRequestsFor(b.id).size(), 1u);
    EXPECT_TRUE(store.pendingRequestsFor(a.id).empty());
    EXPECT_FALSE(store.acceptRequest(a.id, b.id));  // only the target accepts
    EXPECT_TRUE(store.acceptRequest(b.id, a.id));
    EXPECT_TRUE(store.areFriends(a.id, b.id));
    EXPECT_TRUE(store.areFriends(b.id, a.id));
    EXPECT_FALSE(store.acceptRequest(b.id, a.id));  // nothing left to accept
    EXPECT_EQ(store.requestFriendship(b.id, a.id), FriendRequestOutcome::accepted);

    EXPECT_EQ(store.requestFriendship(c.id, a.id), FriendRequestOutcome::pending);
    EXPECT_EQ(store.requestFriendship(a.id, c.id), FriendRequestOutcome::accepted);  // crossing requests
    EXPECT_TRUE(store.pendingRequestsFor(a.id).empty());
    EXPECT_EQ(store.friendsOf(a.id), (std::vector<UserRecord>{b, c}));

    const UserRecord d = user(store, "d");
    store.requestFriendship(d.id, a.id);
    EXPECT_TRUE(store.declineRequest(a.id, d.id));
    EXPECT_FALSE(store.declineRequest(a.id, d.id));
    EXPECT_FALSE(store.areFriends(a.id, d.id));
}

}  // namespace
}  // namespace vellumora::server
