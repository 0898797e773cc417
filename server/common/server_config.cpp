#include "common/server_config.h"

#include <sched.h>

#include <algorithm>
#include <charconv>
#include <optional>
#include <thread>

namespace vellumora::server {

unsigned usableCores() {
    // The cores this process may run on: a server pinned to one core gains nothing from a second
    // I/O thread but lock traffic and context switches.
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
    return std::max(1u, std::thread::hardware_concurrency());
}

namespace {

template <class T>
std::optional<T> parseNumber(std::string_view text, T low, T high) {
    T value{};
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || value < low || value > high)
        return std::nullopt;
    return value;
}

// "host:port"; the host may be an IPv6 literal in brackets.
bool parseListen(std::string_view text, ServerConfig& config) {
    auto colon = text.rfind(':');
    if (colon == std::string_view::npos || colon == 0) return false;
    std::string_view host = text.substr(0, colon);
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']') return false;
        host = host.substr(1, host.size() - 2);
    }
    auto port = parseNumber<unsigned>(text.substr(colon + 1), 0, 65535);
    if (!port) return false;
    config.listenHost = std::string(host);
    config.listenPort = static_cast<std::uint16_t>(*port);
    return true;
}

}  // namespace

std::string_view versionText() {
    return "vellumora-server 0.1.0";
}

std::string usageText() {
    return "usage: vellumora-server [options]\n"
           "  --listen HOST:PORT          address to serve on (default 127.0.0.1:8787; port 0 = any free)\n"
           "  --db PATH|URL               SQLite database file (default vellumora.db), or a\n"
           "                              postgresql://user@host/db URL shared by several instances\n"
           "  --tls-cert FILE --tls-key FILE  serve HTTPS/WSS with this PEM certificate and key\n"
           "  --threads N                 I/O threads (default: one per core)\n"
           "  --auth-rate-limit N         log-in and sign-up attempts per minute per address and per\n"
           "                              username (default 10; 0 disables)\n"
           "  --message-rate-limit N      room messages per second per connection (default 1000; 0 "
           "disables)\n"
           "  --idle-timeout S            close a room connection that answers no ping for S seconds "
           "(default 60)\n"
           "  --commit-interval-ms N      group-commit window of room history (default 5)\n"
           "  --max-room-connections N    connections per room (default 32, at most 256)\n"
           "  --max-unfinished-mib N      memory all room connections together may hold for messages\n"
           "                              still arriving (default 256); past it a connection is closed\n"
           "  --password-cost C           interactive (default) or minimal; minimal is for tests only\n"
           "  --help, --version\n";
}

CommandLine parseCommandLine(const std::vector<std::string>& args) {
    CommandLine result;
    ServerConfig& c = result.config;
    auto fail = [&](std::string message) {
        result.action = CommandLine::Action::error;
        result.message = std::move(message);
        return result;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& flag = args[i];
        if (flag == "--help" || flag == "-h") {
            result.action = CommandLine::Action::help;
            return result;
        }
        if (flag == "--version") {
            result.action = CommandLine::Action::version;
            return result;
        }
        if (i + 1 >= args.size()) return fail("missing value for " + flag);
        const std::string& value = args[++i];
        bool ok = true;
        if (flag == "--listen") {
            ok = parseListen(value, c);
        } else if (flag == "--db") {
            ok = !value.empty();
            c.dbPath = value;
        } else if (flag == "--tls-cert") {
            c.tlsCert = value;
        } else if (flag == "--tls-key") {
            c.tlsKey = value;
        } else if (flag == "--threads") {
            auto n = parseNumber<unsigned>(value, 1, 256);
            ok = n.has_value();
            if (ok) c.threads = *n;
        } else if (flag == "--auth-rate-limit") {
            auto n = parseNumber<unsigned>(value, 0, 1'000'000);
            ok = n.has_value();
            if (ok) c.authRateLimit = *n;
        } else if (flag == "--message-rate-limit") {
            auto n = parseNumber<unsigned>(value, 0, 1'000'000);
            ok = n.has_value();
            if (ok) c.messageRateLimit = *n;
        } else if (flag == "--idle-timeout") {
            auto n = parseNumber<unsigned>(value, 1, 86'400);
            ok = n.has_value();
            if (ok) c.idleTimeout = std::chrono::seconds(*n);
        } else if (flag == "--commit-interval-ms") {
            auto n = parseNumber<unsigned>(value, 1, 10'000);
            ok = n.has_value();
            if (ok) c.commitInterval = std::chrono::milliseconds(*n);
        } else if (flag == "--max-room-connections") {
            auto n = parseNumber<std::size_t>(value, 1, 256);
            ok = n.has_value();
            if (ok) c.maxRoomConnections = *n;
        } else if (flag == "--max-unfinished-mib") {
            auto n = parseNumber<std::size_t>(value, 8, 1 << 20);
            ok = n.has_value();
            if (ok) c.unfinishedMessageBytes = *n << 20;
        } else if (flag == "--password-cost") {
            if (value == "interactive") {
                c.passwordCost = PasswordCost::interactive;
            } else if (value == "minimal") {
                c.passwordCost = PasswordCost::minimal;
            } else {
                ok = false;
            }
        } else {
            return fail("unknown option " + flag);
        }
        if (!ok) return fail("invalid value for " + flag + ": " + value);
    }
    if (c.tlsCert.empty() != c.tlsKey.empty()) return fail("--tls-cert and --tls-key go together");
    if (c.threads == 0) c.threads = usableCores();
    return result;
}

}  // namespace vellumora::server
