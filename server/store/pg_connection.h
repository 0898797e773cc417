#pragma once
// Thin RAII over libpq: one connection, statements with text parameters, results read as
// text. Not thread-safe by itself; PostgresStore serialises access to each connection.

#include <libpq-fe.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vellumora::server {

class PgResult {
  public:
    explicit PgResult(PGresult* result) : result_(result, &PQclear) {}
    int rows() const { return PQntuples(result_.get()); }
    bool isNull(int row, int column) const { return PQgetisnull(result_.get(), row, column) != 0; }
    std::string_view text(int row, int column) const;
    std::int64_t integer(int row, int column) const;
    double real(int row, int column) const;
    bool boolean(int row, int column) const { return text(row, column) == "t"; }
    // The bytes of a bytea value in PostgreSQL's hex output ("\\x0a1b...").
    static std::string bytes(std::string_view hexText);

  private:
    std::unique_ptr<PGresult, decltype(&PQclear)> result_;
};

// Parameters of one statement, all sent as text; none is SQL NULL.
class PgParams {
  public:
    PgParams& add(std::string value);
    PgParams& add(std::int64_t value);
    PgParams& add(double value);
    PgParams& addNull();
    // A bytea parameter.
    PgParams& addBytes(std::string_view bytes);
    // `bytes` as bytea input text.
    static std::string byteaText(std::string_view bytes);

    int size() const { return static_cast<int>(values_.size()); }
    const std::optional<std::string>& value(int index) const {
        return values_[static_cast<std::size_t>(index)];
    }
    std::vector<const char*> pointers() const;

  private:
    std::vector<std::optional<std::string>> values_;
};

// Array literals for `unnest`-style bulk statements ("{1,2,3}").
class PgArray {
  public:
    void add(std::int64_t value);
    void add(double value);
    void add(std::string_view text);  // quoted and escaped
    std::string take();

  private:
    std::string text_ = "{";
};

class PgConnection {
  public:
    using Settings = std::vector<std::pair<const char*, std::string>>;
    // Connects to a postgresql:// URL; `settings` are libpq keywords the URL may override.
    // Throws StoreError with libpq's reason when it cannot.
    explicit PgConnection(const std::string& url, const Settings& settings = {});
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    // Runs one statement; throws StoreError unless it succeeded.
    PgResult exec(const char* sql, const PgParams& params = {});
    // Runs several statements without parameters.
    void script(const char* sql);
    // `text` as a quoted SQL literal, escaped for this connection.
    std::string literal(std::string_view text);
    // Whether the server end is still there (after a failed call it may not be).
    bool broken() const { return PQstatus(conn_.get()) != CONNECTION_OK; }
    // Reconnects with the same parameters; throws StoreError when it cannot.
    void reconnect();

  private:
    PgResult checked(PGresult* raw);
    std::unique_ptr<PGconn, decltype(&PQfinish)> conn_;
};

// Rolls back unless committed.
class PgTransaction {
  public:
    explicit PgTransaction(PgConnection& connection);
    ~PgTransaction();
    void commit();

  private:
    PgConnection& connection_;
    bool done_ = false;
};

// Statements sent in one round trip and run in one transaction: the group commit of a busy
// server should not wait for the database once per statement. Parameters ($1, $2, ...) are
// written into the text as literals escaped by libpq.
class PgScript {
  public:
    explicit PgScript(PgConnection& connection) : connection_(connection) {}
    void add(std::string_view sql, const PgParams& params = {});
    // Throws StoreError; nothing of the script is stored then.
    void run();

  private:
    PgConnection& connection_;
    // Without BEGIN and COMMIT: statements of one query message are one transaction, rolled
    // back whole by the server when any of them fails.
    std::string text_;
};

}  // namespace vellumora::server
