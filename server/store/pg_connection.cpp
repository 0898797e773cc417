#include "store/pg_connection.h"

#include <charconv>
#include <cstring>

#include "store/store.h"

namespace vellumora::server {

namespace {

std::string numberText(double value) {
    char buffer[32];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    return std::string(buffer, end);
}

std::string connectionError(PGconn* conn) {
    std::string text = conn ? PQerrorMessage(conn) : "out of memory";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}
}  // namespace

std::string_view PgResult::text(int row, int column) const {
    return {PQgetvalue(result_.get(), row, column),
            static_cast<std::size_t>(PQgetlength(result_.get(), row, column))};
}

std::int64_t PgResult::integer(int row, int column) const {
    const std::string_view t = text(row, column);
    std::int64_t value = 0;
    if (std::from_chars(t.data(), t.data() + t.size(), value).ec != std::errc{})
        throw StoreError("not an integer: " + std::string(t));
    return value;
}

double PgResult::real(int row, int column) const {
    const std::string_view t = text(row, column);
    double value = 0;
    if (std::from_chars(t.data(), t.data() + t.size(), value).ec != std::errc{})
        throw StoreError("not a number: " + std::string(t));
    return value;
}

PgParams& PgParams::add(std::string value) {
    values_.emplace_back(std::move(value));
    return *this;
}

PgParams& PgParams::add(std::int64_t value) {
    return add(std::to_string(value));
}

PgParams& PgParams::add(double value) {
    return add(numberText(value));
}

PgParams& PgParams::addNull() {
    values_.emplace_back(std::nullopt);
    return *this;
}

std::string PgParams::byteaText(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text = "\\x";
    text.reserve(2 + bytes.size() * 2);
    for (unsigned char c : bytes) {
        text.push_back(kHex[c >> 4]);
        text.push_back(kHex[c & 15]);
    }
    return text;
}

PgParams& PgParams::addBytes(std::string_view bytes) {
    return add(byteaText(bytes));
}

std::string PgResult::bytes(std::string_view hexText) {
    const auto nibble = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    std::string out;
    for (std::size_t i = 2; i + 1 < hexText.size(); i += 2)
        out.push_back(static_cast<char>(nibble(hexText[i]) << 4 | nibble(hexText[i + 1])));
    return out;
}

std::vector<const char*> PgParams::pointers() const {
    std::vector<const char*> out;
    out.reserve(values_.size());
    for (const auto& v : values_) out.push_back(v ? v->c_str() : nullptr);
    return out;
}

void PgArray::add(std::int64_t value) {
    if (text_.size() > 1) text_.push_back(',');
    text_ += std::to_string(value);
}

void PgArray::add(double value) {
    if (text_.size() > 1) text_.push_back(',');
    text_ += numberText(value);
}

void PgArray::add(std::string_view text) {
    if (text_.size() > 1) text_.push_back(',');
    text_.push_back('"');
    for (char c : text) {
        if (c == '"' || c == '\\') text_.push_back('\\');
        text_.push_back(c);
    }
    text_.push_back('"');
}

std::string PgArray::take() {
    text_.push_back('}');
    std::string out = std::move(text_);
    // Not `text_ = "{"`: on a moved-from string GCC 12 at -O2 warns of an overlapping copy.
    text_.assign(1, '{');
    return out;
}

namespace {
PGconn* connect(const std::string& url, const PgConnection::Settings& settings) {
    std::vector<const char*> keys;
    std::vector<const char*> values;
    for (const auto& [key, value] : settings) {
        keys.push_back(key);
        values.push_back(value.c_str());
    }
    keys.push_back("dbname");  // expanded from the URL, whose parameters override the settings
    values.push_back(url.c_str());
    keys.push_back(nullptr);
    values.push_back(nullptr);
    return PQconnectdbParams(keys.data(), values.data(), 1);
}
}  // namespace

PgConnection::PgConnection(const std::string& url, const Settings& settings)
    : conn_(connect(url, settings), &PQfinish) {
    if (!conn_ || PQstatus(conn_.get()) != CONNECTION_OK)
        throw StoreError("cannot connect to PostgreSQL: " + connectionError(conn_.get()));
    // Notices (say, "relation already exists, skipping") are not errors and not worth a log line.
    PQsetNoticeProcessor(
        conn_.get(), [](void*, const char*) {}, nullptr);
}

PgResult PgConnection::exec(const char* sql, const PgParams& params) {
    const std::vector<const char*> values = params.pointers();
    return checked(
        PQexecParams(conn_.get(), sql, params.size(), nullptr, values.data(), nullptr, nullptr, 0));
}

void PgConnection::script(const char* sql) {
    checked(PQexec(conn_.get(), sql));
}

PgResult PgConnection::checked(PGresult* raw) {
    PgResult result(raw);
    const ExecStatusType status = raw ? PQresultStatus(raw) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return result;
    std::string why = raw ? PQresultErrorMessage(raw) : "";
    if (why.empty()) why = connectionError(conn_.get());
    while (!why.empty() && (why.back() == '\n' || why.back() == ' ')) why.pop_back();
    throw StoreError("PostgreSQL: " + why);
}

std::string PgConnection::literal(std::string_view text) {
    std::unique_ptr<char, decltype(&PQfreemem)> quoted(PQescapeLiteral(conn_.get(), text.data(), text.size()),
                                                       &PQfreemem);
    if (!quoted) throw StoreError("PostgreSQL: " + connectionError(conn_.get()));
    return quoted.get();
}

void PgScript::add(std::string_view sql, const PgParams& params) {
    for (std::size_t i = 0; i < sql.size(); ++i) {
        if (sql[i] != '$' || i + 1 >= sql.size() || sql[i + 1] < '0' || sql[i + 1] > '9') {
            text_.push_back(sql[i]);
            continue;
        }
        int index = 0;
        while (i + 1 < sql.size() && sql[i + 1] >= '0' && sql[i + 1] <= '9')
            index = index * 10 + (sql[++i] - '0');
        if (index < 1 || index > params.size()) throw StoreError("no parameter $" + std::to_string(index));
        const auto& value = params.value(index - 1);
        text_ += value ? connection_.literal(*value) : "NULL";
    }
    text_.push_back(';');
}

void PgScript::run() {
    if (!text_.empty()) connection_.script(text_.c_str());
}

void PgConnection::reconnect() {
    PQreset(conn_.get());
    if (PQstatus(conn_.get()) != CONNECTION_OK)
        throw StoreError("cannot reconnect to PostgreSQL: " + connectionError(conn_.get()));
}

PgTransaction::PgTransaction(PgConnection& connection) : connection_(connection) {
    connection_.exec("BEGIN");
}

PgTransaction::~PgTransaction() {
    if (done_ || connection_.broken()) return;
    try {
        connection_.exec("ROLLBACK");
    } catch (const StoreError&) {
        // The connection is gone; so is the transaction.
    }
}

void PgTransaction::commit() {
    connection_.exec("COMMIT");
    done_ = true;
}

}  // namespace vellumora::server
