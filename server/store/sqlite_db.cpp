#include "store/sqlite_db.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/log.h"
#include "store/sqlite_wal_writes.h"
#include "store/store.h"

namespace vellumora::server {

namespace {
[[noreturn]] void fail(sqlite3* db, std::string_view what) {
    throw StoreError(std::string(what) + ": " + sqlite3_errmsg(db));
}
}  // namespace

SqliteStatement::SqliteStatement(sqlite3* db, std::string_view sql) : db_(db) {
    if (sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &stmt_,
                           nullptr) != SQLITE_OK)
        fail(db, "prepare");
}

SqliteStatement::~SqliteStatement() {
    sqlite3_finalize(stmt_);
}

SqliteStatement& SqliteStatement::bind(int index, std::string_view text) {
    if (sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT) !=
        SQLITE_OK)
        fail(db_, "bind");
    return *this;
}

SqliteStatement& SqliteStatement::bindBlobInPlace(int index, std::string_view bytes) {
    if (sqlite3_bind_blob(stmt_, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_STATIC) !=
        SQLITE_OK)
        fail(db_, "bind");
    return *this;
}

SqliteStatement& SqliteStatement::bindBlob(int index, std::string_view bytes) {
    if (sqlite3_bind_blob(stmt_, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT) !=
        SQLITE_OK)
        fail(db_, "bind");
    return *this;
}

SqliteStatement& SqliteStatement::bind(int index, double value) {
    if (sqlite3_bind_double(stmt_, index, value) != SQLITE_OK) fail(db_, "bind");
    return *this;
}

SqliteStatement& SqliteStatement::bind(int index, std::int64_t value) {
    if (sqlite3_bind_int64(stmt_, index, value) != SQLITE_OK) fail(db_, "bind");
    return *this;
}

SqliteStatement& SqliteStatement::bindNull(int index) {
    if (sqlite3_bind_null(stmt_, index) != SQLITE_OK) fail(db_, "bind");
    return *this;
}

bool SqliteStatement::step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    sqlite3_reset(stmt_);
    fail(db_, "step");
}

void SqliteStatement::run() {
    while (step()) {
    }
    reset();
}

void SqliteStatement::reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

std::string SqliteStatement::text(int column) const {
    const auto* p = sqlite3_column_text(stmt_, column);
    const int n = sqlite3_column_bytes(stmt_, column);
    return p ? std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n)) : std::string();
}

std::string SqliteStatement::blob(int column) const {
    return std::string(blobView(column));
}

std::string_view SqliteStatement::blobView(int column) const {
    const auto* p = static_cast<const char*>(sqlite3_column_blob(stmt_, column));
    const int n = sqlite3_column_bytes(stmt_, column);
    return p ? std::string_view(p, static_cast<std::size_t>(n)) : std::string_view();
}

double SqliteStatement::real(int column) const {
    return sqlite3_column_double(stmt_, column);
}

std::int64_t SqliteStatement::integer(int column) const {
    return sqlite3_column_int64(stmt_, column);
}

bool SqliteStatement::isNull(int column) const {
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

SqliteDatabase::SqliteDatabase(const std::string& path) {
    // It holds password hashes: readable by the server's own user alone. SQLite gives the
    // -wal and -shm files it makes the mode of the database file.
    if (const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600); fd >= 0) {
        struct stat st {};
        if (::fstat(fd, &st) == 0 && (st.st_mode & 077) != 0)
            logLine("warning: " + path + " is readable by other users than the server's");
        ::close(fd);
    }
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.c_str(), &db_, flags, gatheredWalVfs()) != SQLITE_OK) {
        std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        throw StoreError("cannot open " + path + ": " + message);
    }
    sqlite3_busy_timeout(db_, 5000);
}

SqliteDatabase::~SqliteDatabase() {
    begin_.reset();
    commit_.reset();
    sqlite3_close_v2(db_);
}

SqliteStatement& SqliteDatabase::prepared(std::optional<SqliteStatement>& statement, std::string_view sql) {
    if (!statement) statement.emplace(db_, sql);
    return *statement;
}

void SqliteDatabase::begin() {
    prepared(begin_, "BEGIN IMMEDIATE").run();
}

void SqliteDatabase::commit() {
    prepared(commit_, "COMMIT").run();
}

void SqliteDatabase::exec(const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        std::string message = error ? error : "unknown error";
        sqlite3_free(error);
        throw StoreError(message);
    }
}

std::int64_t SqliteDatabase::changes() const {
    return sqlite3_changes64(db_);
}

SqliteTransaction::SqliteTransaction(SqliteDatabase& db) : db_(db) {
    db_.begin();
}

SqliteTransaction::~SqliteTransaction() {
    if (!done_) {
        try {
            db_.exec("ROLLBACK");
        } catch (const StoreError&) {
            // Nothing left to undo: SQLite already rolled back on the error that got us here.
        }
    }
}

void SqliteTransaction::commit() {
    db_.commit();
    done_ = true;
}

}  // namespace vellumora::server
