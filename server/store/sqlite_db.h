#pragma once
// Thin RAII over the SQLite C API: one connection, prepared statements, transactions.
// Not thread-safe by itself; SqliteStore serialises access.

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vellumora::server {

class SqliteStatement {
  public:
    SqliteStatement(sqlite3* db, std::string_view sql);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    // Binds by 1-based position; returns *this so calls chain.
    SqliteStatement& bind(int index, std::string_view text);
    SqliteStatement& bindBlob(int index, std::string_view bytes);
    // Without a copy: `bytes` must stay as they are until the statement has run.
    SqliteStatement& bindBlobInPlace(int index, std::string_view bytes);
    SqliteStatement& bind(int index, double value);
    SqliteStatement& bind(int index, std::int64_t value);
    SqliteStatement& bindNull(int index);

    // True while a row is available.
    bool step();
    // Runs to completion (for statements without rows) and resets.
    void run();
    void reset();

    std::string text(int column) const;
    std::string blob(int column) const;
    // Valid until the statement steps on or is reset.
    std::string_view blobView(int column) const;
    double real(int column) const;
    std::int64_t integer(int column) const;
    bool isNull(int column) const;

  private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

class SqliteDatabase {
  public:
    explicit SqliteDatabase(const std::string& path);
    ~SqliteDatabase();
    SqliteDatabase(const SqliteDatabase&) = delete;
    SqliteDatabase& operator=(const SqliteDatabase&) = delete;

    void exec(const char* sql);
    sqlite3* handle() const { return db_; }
    std::int64_t changes() const;
    // BEGIN IMMEDIATE and COMMIT, parsed once: a group commit every few milliseconds spent a
    // fifth of its instructions parsing them again.
    void begin();
    void commit();

  private:
    SqliteStatement& prepared(std::optional<SqliteStatement>& statement, std::string_view sql);

    sqlite3* db_ = nullptr;
    std::optional<SqliteStatement> begin_;
    std::optional<SqliteStatement> commit_;
};

// Rolls back unless committed.
class SqliteTransaction {
  public:
    explicit SqliteTransaction(SqliteDatabase& db);
    ~SqliteTransaction();
    void commit();

  private:
    SqliteDatabase& db_;
    bool done_ = false;
};

}  // namespace vellumora::server
