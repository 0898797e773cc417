#pragma once
// The REST endpoints of accounts and friends, free of any HTTP library: a request in, a
// status and JSON body out. Nothing here runs on the caller's thread beyond parsing and
// rate limits: store calls go to the disk pool and password hashes to the hashing pool, each
// answering 503 when its queue is full.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "accounts/rate_limiter.h"
#include "common/metrics.h"
#include "common/presence.h"
#include "common/server_config.h"
#include "common/work_pool.h"
#include "store/store.h"

namespace vellumora::server {

struct ApiRequest {
    std::string method;  // "GET", "POST", ...
    std::string path;    // without the query
    std::string body;
    std::string authorization;  // the Authorization header, may be empty
    std::string remoteAddress;
};

struct ApiResponse {
    unsigned status = 200;
    std::string body;  // JSON
};

class AccountApi {
  public:
    using Done = std::function<void(ApiResponse)>;

    AccountApi(Store& store, Presence& presence, Metrics& metrics, const ServerConfig& config, WorkPool& disk,
               WorkPool& hashing);

    // True for the paths this class answers.
    static bool handles(std::string_view path);
    // `done` runs exactly once, usually on a pool thread.
    void handle(ApiRequest request, Done done);

    // The user a bearer token belongs to while its session lasts; touches the store.
    std::optional<UserRecord> userForToken(std::string_view token);

    // Sessions ended by log-out: one token (`tokenHash`), or every token of `userId`.
    struct SessionsEnded {
        std::string tokenHash;
        std::string userId;
    };
    // Runs on the thread that ended them, once the store has forgotten them. Set before serving.
    void onSessionsEnded(std::function<void(const SessionsEnded&)> handler);

  private:
    // One request on its way: `me` is set before a route that needs a token runs.
    struct Call {
        ApiRequest request;
        std::optional<UserRecord> me;
        Done done;
    };
    enum class Pool { inline_, disk };
    struct Route {
        std::string_view method;
        std::string_view path;
        Pool pool;
        bool needsAuth;
        void (AccountApi::*handler)(Call& call);
    };
    static const std::vector<Route>& routes();
    static const Route* routeFor(std::string_view path);

    void signup(Call& call);
    void login(Call& call);
    void me(Call& call);
    void logout(Call& call);
    void logoutEverywhere(Call& call);
    void friends(Call& call);
    void pendingRequests(Call& call);
    void friendRequest(Call& call);
    void acceptRequest(Call& call);
    void declineRequest(Call& call);
    ApiResponse requestFriendship(const UserRecord& me, const std::string& body);
    ApiResponse answerRequest(const UserRecord& me, const std::string& body, bool accept);
    bool allowAttempt(const ApiRequest& request, const std::string& username);
    static std::string failureKey(const std::string& username, const std::string& address);
    std::string issueToken(const UserRecord& user);
    // Runs `work(done)` on `pool`, or answers 503 when the pool is full.
    void offload(WorkPool& pool, std::function<void(Done)> work, Done done);

    Store& store_;
    Presence& presence_;
    Metrics& metrics_;
    const ServerConfig& config_;
    WorkPool& disk_;
    WorkPool& hashing_;
    RateLimiter attempts_;
    RateLimiter friendRequests_;
    std::function<void(const SessionsEnded&)> sessionsEnded_;
};

// 3 to 20 characters of [A-Za-z0-9_].
bool validUsername(std::string_view name);
// At least 8 characters (code points) and at most 1024 bytes.
bool validPassword(std::string_view password);
// The token of an "Authorization: Bearer ..." header; empty when there is none.
std::string_view bearerToken(std::string_view authorization);

}  // namespace vellumora::server
