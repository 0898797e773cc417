#include "accounts/account_api.h"

#include <algorithm>

#include "accounts/credentials.h"
#include "common/address.h"
#include "common/json_text.h"
#include "common/log.h"
#include "model/json_writer.h"

namespace vellumora::server {

namespace {

ApiResponse error(unsigned status, std::string_view message) {
    return {status, errorBody(message)};
}

ApiResponse busy() {
    return error(503, "Server is busy, try again");
}

ApiResponse internalError(const StoreError& e) {
    logLine(std::string("database error: ") + e.what());
    if (dynamic_cast<const StoreBusy*>(&e)) return busy();
    return error(500, "Internal server error");
}

void writeUserMembers(json::Writer& w, const UserRecord& user) {
    w.member("id", user.id);
    w.member("username", user.username);
    w.member("displayName", user.displayName);
}

void writeUser(json::Writer& w, const UserRecord& user) {
    w.beginObject();
    writeUserMembers(w, user);
    w.endObject();
}

// {"<key>": <user>} and, with a token, {"token": ..., "user": <user>}.
std::string userBody(std::string_view key, const UserRecord& user, std::string_view token = {}) {
    std::string out;
    json::Writer w(out);
    w.beginObject();
    if (!token.empty()) w.member("token", token);
    w.key(key);
    writeUser(w, user);
    w.endObject();
    return out;
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
                       WorkPool& disk, WorkPool& hashing)
    : store_(store),
      presence_(presence),
      metrics_(metrics),
      config_(config),
      disk_(disk),
      hashing_(hashing),
      attempts_(config.authRateLimit),
      friendRequests_(config.friendRequestRateLimit, std::chrono::hours(1)) {}

std::optional<UserRecord> AccountApi::userForToken(std::string_view token) {
    if (token.empty() || token.size() > 256) return std::nullopt;
    const double idle = static_cast<double>(config_.sessionIdleTimeout.count());
    const double now = nowSeconds();
    // A use is written down at most once per 1/16 of the idle time (and per hour).
    return store_.userForToken(tokenHash(token), now - idle, now - std::min(idle / 16, 3600.0));
}

void AccountApi::onSessionsEnded(std::function<void(const SessionsEnded&)> handler) {
    sessionsEnded_ = std::move(handler);
}

std::string AccountApi::failureKey(const std::string& username, const std::string& address) {
    return "failed:" + usernameKey(username) + "@" + rateKey(address);
}

bool AccountApi::allowAttempt(const ApiRequest& request, const std::string& username) {
    // Every attempt counts for the address; for a username only the failures from the same
    // address do, so that nobody can lock another person out of their account.
    if (attempts_.available(failureKey(username, request.remoteAddress)) &&
        attempts_.tryAcquire({"addr:" + rateKey(request.remoteAddress)}))
        return true;
    metrics_.refusedLogins.fetch_add(1, std::memory_order_relaxed);
    logLine("rate limited authentication attempt from " + request.remoteAddress);
    return false;
}

std::string AccountApi::issueToken(const UserRecord& user) {
    std::string token = newToken();
    store_.addToken(tokenHash(token), user.id);
    return token;
}

void AccountApi::offload(WorkPool& pool, std::function<void(Done)> work, Done done) {
    auto answer = std::make_shared<Done>(std::move(done));
    if (!pool.post([work = std::move(work), answer] { work(std::move(*answer)); })) (*answer)(busy());
}

// Every endpoint once. Routes on the disk pool run there whole (with the token checked first
// when they need one); `inline` routes run on the caller's thread and offload themselves.
const std::vector<AccountApi::Route>& AccountApi::routes() {
    static const std::vector<Route> all{
        {"POST", "/auth/signup", Pool::disk, false, &AccountApi::signup},
        {"POST", "/auth/login", Pool::inline_, false, &AccountApi::login},
        {"GET", "/auth/me", Pool::disk, true, &AccountApi::me},
        {"POST", "/auth/logout", Pool::disk, true, &AccountApi::logout},
        {"POST", "/auth/logout-all", Pool::disk, true, &AccountApi::logoutEverywhere},
        {"GET", "/friends", Pool::disk, true, &AccountApi::friends},
        {"GET", "/friends/requests", Pool::disk, true, &AccountApi::pendingRequests},
        {"POST", "/friends/request", Pool::disk, true, &AccountApi::friendRequest},
        {"POST", "/friends/accept", Pool::disk, true, &AccountApi::acceptRequest},
        {"POST", "/friends/decline", Pool::disk, true, &AccountApi::declineRequest},
    };
    return all;
}

const AccountApi::Route* AccountApi::routeFor(std::string_view path) {
    for (const Route& r : routes())
        if (r.path == path) return &r;
    return nullptr;
}

bool AccountApi::handles(std::string_view path) {
    return routeFor(path) != nullptr;
}

void AccountApi::handle(ApiRequest request, Done done) {
    const Route* route = routeFor(request.path);
    if (!route) return done(error(404, "Not found"));
    if (request.method != route->method) return done(error(405, "Method not allowed"));
    Call call{std::move(request), {}, std::move(done)};
    if (route->pool == Pool::inline_) return (this->*route->handler)(call);
    auto shared = std::make_shared<Call>(std::move(call));
    if (!disk_.post([this, route, shared] {
            Call& c = *shared;
            try {
                if (route->needsAuth) {
                    c.me = userForToken(bearerToken(c.request.authorization));
                    if (!c.me) return c.done(error(401, "Not signed in"));
                }
                (this->*route->handler)(c);
            } catch (const StoreError& e) {
                c.done(internalError(e));
            }
        }))
        shared->done(busy());
}

void AccountApi::signup(Call& call) {
    const ApiRequest& request = call.request;
    Done& done = call.done;
    auto username = stringMember(request.body, "username");
    auto password = stringMember(request.body, "password");
    if (!username || !password) return done(error(400, "Expected a JSON object with username and password"));
    if (!allowAttempt(request, *username))
        return done(error(429, "Too many attempts, try again in a minute"));
    if (!validUsername(*username))
        return done(error(400, "Username must be 3 to 20 letters, digits or underscores"));
    if (!validPassword(*password)) return done(error(400, "Password must be 8 to 1024 characters"));
    if (store_.userByUsername(*username)) return done(error(409, "Username is already taken"));

    offload(
        hashing_,
        [this, username = std::move(*username), password = std::move(*password)](Done answer) {
            try {
                const std::string hash = hashPassword(password, config_.passwordCost);
                if (hash.empty()) return answer(busy());
                UserRecord user{newUserId(), username, username};
                if (!store_.createUser(user, hash)) return answer(error(409, "Username is already taken"));
                logLine("signed up " + user.username + " (" + user.id + ")");
                answer({200, userBody("user", user, issueToken(user))});
            } catch (const StoreError& e) {
                answer(internalError(e));
            }
        },
        std::move(done));
}

void AccountApi::login(Call& call) {
    ApiRequest& request = call.request;
    Done& done = call.done;
    auto username = stringMember(request.body, "username");
    auto password = stringMember(request.body, "password");
    if (!username || !password) return done(error(400, "Expected a JSON object with username and password"));
    if (!allowAttempt(request, *username))
        return done(error(429, "Too many attempts, try again in a minute"));

    offload(
        hashing_,
        [this, username = std::move(*username), password = std::move(*password),
         address = std::move(request.remoteAddress)](Done answer) {
            try {
                std::optional<LoginRecord> record;
                if (validUsername(username) && password.size() <= 1024) record = store_.loginRecord(username);
                bool ok = false;
                if (record) {
                    ok = verifyPassword(record->passwordHash, password);
                } else {
                    verifyAgainstDummy(password, config_.passwordCost);
                }
                if (!ok) {
                    attempts_.spend(failureKey(username, address));
                    metrics_.refusedLogins.fetch_add(1, std::memory_order_relaxed);
                    logLine("refused log-in from " + address);
                    return answer(error(401, "Wrong username or password"));
                }
                // Hashes made with weaker limits than today's are made again while the password is here.
                if (weakerThan(record->passwordHash, config_.passwordCost)) {
                    if (const std::string stronger = hashPassword(password, config_.passwordCost); !stronger.empty())
                        store_.setPasswordHash(record->user.id, stronger);
                }
                answer({200, userBody("user", record->user, issueToken(record->user))});
            } catch (const StoreError& e) {
                answer(internalError(e));
            }
        },
        std::move(done));
}

void AccountApi::me(Call& call) {
    call.done({200, userBody("user", *call.me)});
}

void AccountApi::logout(Call& call) {
    const std::string hash = tokenHash(bearerToken(call.request.authorization));
    store_.revokeToken(hash);
    if (sessionsEnded_) sessionsEnded_({hash, {}});
    call.done({200, "{}"});
}

void AccountApi::logoutEverywhere(Call& call) {
    store_.revokeTokensOf(call.me->id);
    if (sessionsEnded_) sessionsEnded_({{}, call.me->id});
    logLine("signed out every session of " + call.me->id);
    call.done({200, "{}"});
}

void AccountApi::friends(Call& call) {
    const std::vector<UserRecord> friends = store_.friendsOf(call.me->id);
    std::vector<std::string> notHere;
    for (const UserRecord& f : friends) {
        if (!presence_.online(f.id)) notHere.push_back(f.id);
    }
    const std::vector<std::string> elsewhere = store_.onlineElsewhere(notHere);
    std::string out;
    json::Writer w(out);
    w.beginObject();
    w.key("friends");
    w.beginArray();
    for (const UserRecord& f : friends) {
        w.beginObject();
        writeUserMembers(w, f);
        w.key("online");
        w.boolean(presence_.online(f.id) || std::ranges::find(elsewhere, f.id) != elsewhere.end());
        w.endObject();
    }
    w.endArray();
    w.endObject();
    call.done({200, std::move(out)});
}

void AccountApi::pendingRequests(Call& call) {
    std::string out;
    json::Writer w(out);
    w.beginObject();
    w.key("requests");
    w.beginArray();
    for (const PendingRequestRecord& r : store_.pendingRequestsFor(call.me->id)) {
        w.beginObject();
        w.member("requesterId", r.requester.id);
        w.member("username", r.requester.username);
        w.member("displayName", r.requester.displayName);
        w.member("createdAt", r.createdAt);
        w.endObject();
    }
    w.endArray();
    w.endObject();
    call.done({200, std::move(out)});
}

void AccountApi::friendRequest(Call& call) {
    call.done(requestFriendship(*call.me, call.request.body));
}

void AccountApi::acceptRequest(Call& call) {
    call.done(answerRequest(*call.me, call.request.body, true));
}

void AccountApi::declineRequest(Call& call) {
    call.done(answerRequest(*call.me, call.request.body, false));
}

ApiResponse AccountApi::requestFriendship(const UserRecord& me, const std::string& body) {
    auto username = stringMember(body, "username");
    if (!username) return error(400, "Expected a JSON object with username");
    if (!validUsername(*username)) return error(404, "No such user");
    auto target = store_.userByUsername(*username);
    if (!target) return error(404, "No such user");
    if (target->id == me.id) return error(400, "You cannot befriend yourself");
    if (!friendRequests_.tryAcquire({me.id})) return error(429, "Too many friend requests, try again later");
    const FriendRequestOutcome outcome = store_.requestFriendship(me.id, target->id, config_.maxPendingRequests);
    if (outcome == FriendRequestOutcome::tooMany) return error(429, "Too many friend requests are waiting");
    std::string out;
    json::Writer w(out);
    w.beginObject();
    const std::string_view status = outcome == FriendRequestOutcome::accepted ? "accepted" : "pending";
    w.member("status", status);
    w.key("target");
    writeUser(w, *target);
    w.endObject();
    return {200, std::move(out)};
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
