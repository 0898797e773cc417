// Gathered log writes: whatever a transaction committed is in the log file at once, for other
// processes' connections and for a copy taken as a kill -9 leaves the files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <tuple>

#include "store/sqlite_db.h"

namespace vellumora::server {
namespace {

namespace fs = std::filesystem;

// Rows and bytes of `t`, read through SQLite's own VFS.
std::pair<std::int64_t, std::int64_t> tallyOf(const fs::path& path) {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    std::pair<std::int64_t, std::int64_t> tally{-1, -1};
    {
        SqliteStatement read(db, "SELECT count(*), total(length(v)) FROM t");
        if (read.step()) tally = {read.integer(0), static_cast<std::int64_t>(read.real(1))};
    }
    sqlite3_close(db);
    return tally;
}

TEST(SqliteWalWrites, shouldLeaveEveryCommitInTheLogForOtherConnectionsAndAfterACrash) {
    const fs::path dir = fs::temp_directory_path() / ("vellumora-wal-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "copy");
    const fs::path path = dir / "test.db";
    SqliteDatabase db(path.string());
    // As the store runs: no sync at a commit, which would put the writes out anyway.
    db.exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA wal_autocheckpoint=0");
    db.exec("CREATE TABLE t(k INTEGER PRIMARY KEY, v BLOB)");
    SqliteStatement insert(db.handle(), "INSERT INTO t(v) VALUES(zeroblob(?1))");
    std::int64_t rows = 0;
    std::int64_t bytes = 0;
    // A row, pages of overflow, and a transaction larger than the page cache, whose pages
    // are written to the log before the commit and rewritten in place by it.
    for (const auto& [count, size, cachePages] : {std::tuple{1, 10, 2000}, {1, 20'000, 2000}, {300, 3000, 10}}) {
        db.exec(("PRAGMA cache_size=" + std::to_string(cachePages)).c_str());
        SqliteTransaction tx(db);
        for (int i = 0; i < count; ++i) insert.bind(1, std::int64_t{size}).run();
        if (cachePages < count) db.exec("UPDATE t SET v = randomblob(length(v))");
        tx.commit();
        rows += count;
        bytes += std::int64_t{count} * size;
        EXPECT_EQ(tallyOf(path), std::pair(rows, bytes)) << size;
        for (const char* suffix : {"", "-wal"})
            fs::copy_file(dir / ("test.db" + std::string(suffix)), dir / "copy" / ("test.db" + std::string(suffix)),
                          fs::copy_options::overwrite_existing);
        EXPECT_EQ(tallyOf(dir / "copy" / "test.db"), std::pair(rows, bytes)) << size;
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace vellumora::server
