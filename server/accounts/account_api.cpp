#include "accounts/account_api.h"

#include <boost/asio/post.hpp>

#include <charconv>

#include "accounts/credentials.h"
#include "common/json_text.h"
#include "common/log.h"

namespace vellumora::server {

namespace {

ApiResponse error(unsigned status, std::string_view message) {
    return {status, errorBody(message)};
}

const ApiResponse& unauthorized() {
    static const ApiResponse response = error(401, "Not signed in");
    return response;
}

void appendUser(std::string& out, const UserRecord& user) {
    out += "{\"id\":";
    appendJsonString(out, user.id);
    out += ",\"username\":";
    appendJsonString(out, user.username);
    out += ",\"displayName\":";
    appendJsonString(out, user.displayName);
    out += '}';
}

std::string userJson(const UserRecord& user) {
    std::string out;
    appendUser(out, user);
    return out;
}

std::string authResponse(const std::string& token, const UserRecord& user) {
    return "{\"token\":" + jsonString(token) + ",\"user\":" + userJson(user) + "}";
}

void appendNumber(std::string& out, double value) {
    char buffer[32];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, ec == std::errc{} ? end : buffer);
}

}  // namespace

bool validUsername(std::string_view name) {
    if (name.size() < 3 || name.size() > 20) return false;
    for (char c : name) {
        const bool ok =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        if (!ok) return false;
    }
    return true;
}

bool validPassword(std::string_view password) {
    if (password.size() > 1024) return false;
    std::size_t codePoints = 0;
    for (char c : password) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++codePoints;
    }
    return codePoints >= 8;
}

std::string_view bearerToken(std::string_view authorization) {
    constexpr std::string_view scheme = "bearer ";
    if (authorization.size() <= scheme.size()) return {};
    for (std::size_t i = 0; i < scheme.size(); ++i) {
        char c = authorization[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != scheme[i]) return {};
    }
    std::string_view token = authorization.substr(scheme.size());
    while (!token.empty() && token.front() == ' ') token.remove_prefix(1);
    while (!token.empty() && token.back() == ' ') token.remove_suffix(1);
    return token;
}

AccountApi::AccountApi(Store& store, Presence& presence, Metrics& metrics, const ServerConfig& config,
                       boost::asio::thread_pool& hashing)
    : store_(store),
      presence_(presence),
      metrics_(metrics),
      config_(config),
      hashing_(hashing),
      attempts_(config.authRateLimit) {}

bool AccountApi::handles(std::string_view path) {
    return path == "/auth/signup" || path == "/auth/login" || path == "/auth/me" || path == "/auth/logout" ||
           path == "/friends" || path == "/friends/requests" || path == "/friends/request" ||
           path == "/friends/accept" || path == "/friends/decline";
}

std::optional<UserRecord> AccountApi::userForToken(std::string_view token) {
    if (token.empty() || token.size() > 256) return std::nullopt;
    return store_.userForToken(tokenHash(token));
}

bool AccountApi::allowAttempt(const ApiRequest& request, const std::string& username) {
    if (attempts_.tryAcquire({"addr:" + request.remoteAddress, "user:" + usernameKey(username)})) return true;
    metrics_.refusedLogins.fetch_add(1, std::memory_order_relaxed);
    logLine("rate limited authentication attempt from " + request.remoteAddress);
    return false;
}

std::string AccountApi::issueToken(const UserRecord& user) {
    std::string token = newToken();
    store_.addToken(tokenHash(token), user.id);
    return token;
}

void AccountApi::handle(ApiRequest request, std::function<void(ApiResponse)> done) {
    const std::string& path = request.path;
    const bool post = request.method == "POST";
    const bool get = request.method == "GET";
    const bool expectsPost = path == "/auth/signup" || path == "/auth/login" || path == "/auth/logout" ||
                             path == "/friends/request" || path == "/friends/accept" ||
                             path == "/friends/decline";
    if ((expectsPost && !post) || (!expectsPost && !get)) {
        done(error(405, "Method not allowed"));
        return;
    }
    try {
        if (path == "/auth/signup") return signup(std::move(request), std::move(done));
        if (path == "/auth/login") return login(std::move(request), std::move(done));
        done(authenticated(request));
    } catch (const StoreError& e) {
        logLine(std::string("database error: ") + e.what());
        done(error(500, "Internal server error"));
    }
}

void AccountApi::signup(ApiRequest request, std::function<void(ApiResponse)> done) {
    auto username = stringMember(request.body, "username");
    auto password = stringMember(request.body, "password");
    if (!username || !password) return done(error(400, "Expected a JSON object with username and password"));
    if (!allowAttempt(request, *username))
        return done(error(429, "Too many attempts, try again in a minute"));
    if (!validUsername(*username))
        return done(error(400, "Username must be 3 to 20 letters, digits or underscores"));
    if (!validPassword(*password)) return done(error(400, "Password must be 8 to 1024 characters"));
    if (store_.userByUsername(*username)) return done(error(409, "Username is already taken"));

    boost::asio::post(hashing_, [this, username = std::move(*username), password = std::move(*password),
                                 done = std::move(done)]() mutable {
        try {
            const std::string hash = hashPassword(password, config_.passwordCost);
            if (hash.empty()) return done(error(503, "Server is busy, try again"));
            UserRecord user{newUserId(), username, username};
            if (!store_.createUser(user, hash)) return done(error(409, "Username is already taken"));
            logLine("signed up " + user.username + " (" + user.id + ")");
            done({200, authResponse(issueToken(user), user)});
        } catch (const StoreError& e) {
            logLine(std::string("database error: ") + e.what());
            done(error(500, "Internal server error"));
        }
    });
}

void AccountApi::login(ApiRequest request, std::function<void(ApiResponse)> done) {
    auto username = stringMember(request.body, "username");
    auto password = stringMember(request.body, "password");
    if (!username || !password) return done(error(400, "Expected a JSON object with username and password"));
    if (!allowAttempt(request, *username))
        return done(error(429, "Too many attempts, try again in a minute"));

    boost::asio::post(hashing_,
                      [this, username = std::move(*username), password = std::move(*password),
                       address = std::move(request.remoteAddress), done = std::move(done)]() mutable {
                          try {
                              std::optional<LoginRecord> record;
                              if (validUsername(username) && password.size() <= 1024)
                                  record = store_.loginRecord(username);
                              bool ok = false;
                              if (record) {
                                  ok = verifyPassword(record->passwordHash, password);
                              } else {
                                  verifyAgainstDummy(password, config_.passwordCost);
                              }
                              if (!ok) {
                                  metrics_.refusedLogins.fetch_add(1, std::memory_order_relaxed);
                                  logLine("refused log-in from " + address);
                                  return done(error(401, "Wrong username or password"));
                              }
                              done({200, authResponse(issueToken(record->user), record->user)});
                          } catch (const StoreError& e) {
                              logLine(std::string("database error: ") + e.what());
                              done(error(500, "Internal server error"));
                          }
                      });
}

ApiResponse AccountApi::authenticated(const ApiRequest& request) {
    const std::string_view token = bearerToken(request.authorization);
    const std::optional<UserRecord> me = userForToken(token);
    if (!me) return unauthorized();
    const std::string& path = request.path;

    if (path == "/auth/me") return {200, "{\"user\":" + userJson(*me) + "}"};
    if (path == "/auth/logout") {
        store_.revokeToken(tokenHash(token));
        return {200, "{}"};
    }
    if (path == "/friends") {
        std::string out = "{\"friends\":[";
        bool first = true;
        for (const UserRecord& f : store_.friendsOf(me->id)) {
            if (!first) out += ',';
            first = false;
            out += "{\"id\":";
            appendJsonString(out, f.id);
            out += ",\"username\":";
            appendJsonString(out, f.username);
            out += ",\"displayName\":";
            appendJsonString(out, f.displayName);
            out += presence_.online(f.id) ? ",\"online\":true}" : ",\"online\":false}";
        }
        out += "]}";
        return {200, std::move(out)};
    }
    if (path == "/friends/requests") {
        std::string out = "{\"requests\":[";
        bool first = true;
        for (const PendingRequestRecord& r : store_.pendingRequestsFor(me->id)) {
            if (!first) out += ',';
            first = false;
            out += "{\"requesterId\":";
            appendJsonString(out, r.requester.id);
            out += ",\"username\":";
            appendJsonString(out, r.requester.username);
            out += ",\"displayName\":";
            appendJsonString(out, r.requester.displayName);
            out += ",\"createdAt\":";
            appendNumber(out, r.createdAt);
            out += '}';
        }
        out += "]}";
        return {200, std::move(out)};
    }
    if (path == "/friends/request") return friendRequest(*me, request.body);
    if (path == "/friends/accept") return answerRequest(*me, request.body, true);
    return answerRequest(*me, request.body, false);
}

ApiResponse AccountApi::friendRequest(const UserRecord& me, const std::string& body) {
    auto username = stringMember(body, "username");
    if (!username) return error(400, "Expected a JSON object with username");
    if (!validUsername(*username)) return error(404, "No such user");
    auto target = store_.userByUsername(*username);
    if (!target) return error(404, "No such user");
    if (target->id == me.id) return error(400, "You cannot befriend yourself");
    const FriendRequestOutcome outcome = store_.requestFriendship(me.id, target->id);
    const char* status = outcome == FriendRequestOutcome::accepted ? "accepted" : "pending";
    return {200, std::string("{\"status\":\"") + status + "\",\"target\":" + userJson(*target) + "}"};
}

ApiResponse AccountApi::answerRequest(const UserRecord& me, const std::string& body, bool accept) {
    auto requesterId = stringMember(body, "requesterId");
    if (!requesterId) return error(400, "Expected a JSON object with requesterId");
    if (*requesterId == me.id) return error(400, "You cannot befriend yourself");
    const bool found =
        accept ? store_.acceptRequest(me.id, *requesterId) : store_.declineRequest(me.id, *requesterId);
    if (!found) return error(404, "No such friend request");
    return {200, "{}"};
}

}  // namespace vellumora::server
