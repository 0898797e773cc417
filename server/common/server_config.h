#pragma once
// Everything the command line decides about one server process. The defaults here are the
// ones --help and the documentation show (common/server_options.h).

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/address.h"

namespace vellumora::server {

// Argon2id limits: `interactive` is libsodium's recommended minimum for logins; `minimal`
// exists only so sanitizer-instrumented test runs are not dominated by password hashing.
enum class PasswordCost { interactive, minimal };

struct ServerConfig {
    std::string listenHost = "127.0.0.1";
    std::uint16_t listenPort = 8787;
    std::string dbPath = "vellumora.db";
    std::string tlsCert;
    std::string tlsKey;
    // /metrics is served here only; port 0 picks a free one.
    std::string metricsHost = "127.0.0.1";
    std::uint16_t metricsPort = 0;
    // Connections from these addresses start with a PROXY v2 header naming the client.
    std::vector<Network> trustedProxies;
    unsigned threads = 0;              // 0: one per core
    unsigned authRateLimit = 10;       // attempts per minute per address and per username; 0 = off
    unsigned friendRequestRateLimit = 20;  // friend requests per hour per user; 0 = off
    std::size_t maxPendingRequests = 100;  // waiting requests a user may have sent, or have to answer
    unsigned messageRateLimit = 1000;  // room messages per second per connection; 0 = off
    PasswordCost passwordCost = PasswordCost::interactive;
    std::chrono::milliseconds commitInterval{5};
    std::chrono::seconds idleTimeout{60};
    std::size_t maxRoomConnections = 32;
    std::size_t maxUserConnections = 16;  // room connections of one user, all rooms together
    std::chrono::seconds sessionIdleTimeout{30 * 24 * 3600};
    std::chrono::seconds writeTimeout{30};
    std::size_t sendQueueMessages = 8192;
    std::size_t sendQueueBytes = 24 * 1024 * 1024;
    // What all room connections together may hold for messages still arriving, and queued to send.
    std::size_t unfinishedMessageBytes = std::size_t{256} << 20;
    std::size_t outgoingBytes = std::size_t{512} << 20;
    std::size_t unfinishedUserBytes = std::size_t{32} << 20;  // one user's share of the first
    std::chrono::seconds messageDeadline{120};                // for a message to arrive whole

    bool tls() const { return !tlsCert.empty(); }
};

struct CommandLine {
    enum class Action { run, help, version, error };
    Action action = Action::run;
    ServerConfig config;
    std::string message;  // the error for `error`
};

CommandLine parseCommandLine(const std::vector<std::string>& args);
// The cores this process may run on (its CPU affinity), at least 1.
unsigned usableCores();
// "vellumora-server" and the project's version.
std::string_view versionText();

}  // namespace vellumora::server
