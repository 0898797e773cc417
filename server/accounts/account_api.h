#pragma once
// The REST endpoints of accounts and friends, free of any HTTP library: a request in, a
// status and JSON body out. Password hashing runs on a separate small pool so a burst of
// log-ins never stalls the rooms served by the I/O threads.

#include <boost/asio/thread_pool.hpp>

#include <functional>
#include <optional>
#include <string>

#include "common/metrics.h"
#include "common/presence.h"
#include "accounts/rate_limiter.h"
#include "common/server_config.h"
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
    AccountApi(Store& store, Presence& presence, Metrics& metrics, const ServerConfig& config,
               boost::asio::thread_pool& hashing);

    // True for the paths this class answers.
    static bool handles(std::string_view path);
    // `done` runs exactly once, possibly on another thread.
    void handle(ApiRequest request, std::function<void(ApiResponse)> done);

    // The user a bearer token belongs to.
    std::optional<UserRecord> userForToken(std::string_view token);

  private:
    void signup(ApiRequest request, std::function<void(ApiResponse)> done);
    void login(ApiRequest request, std::function<void(ApiResponse)> done);
    ApiResponse authenticated(const ApiRequest& request);
    ApiResponse friendRequest(const UserRecord& me, const std::string& body);
    ApiResponse answerRequest(const UserRecord& me, const std::string& body, bool accept);
    bool allowAttempt(const ApiRequest& request, const std::string& username);
    std::string issueToken(const UserRecord& user);

    Store& store_;
    Presence& presence_;
    Metrics& metrics_;
    const ServerConfig& config_;
    boost::asio::thread_pool& hashing_;
    RateLimiter attempts_;
};

// 3 to 20 characters of [A-Za-z0-9_].
bool validUsername(std::string_view name);
// At least 8 characters (code points) and at most 1024 bytes.
bool validPassword(std::string_view password);
// The token of an "Authorization: Bearer ..." header; empty when there is none.
std::string_view bearerToken(std::string_view authorization);

}  // namespace vellumora::server
