#include "common/server_options.h"

#include <charconv>
#include <chrono>
#include <cstdint>
#include <optional>
#include <type_traits>

namespace vellumora::server {

namespace {

std::optional<std::uint64_t> parseCount(std::string_view text, std::uint64_t low, std::uint64_t high) {
    std::uint64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || value < low || value > high)
        return std::nullopt;
    return value;
}

template <class T>
struct IsDuration : std::false_type {};
template <class Rep, class Period>
struct IsDuration<std::chrono::duration<Rep, Period>> : std::true_type {};

// A whole number in [low, high], stored in `field` times 2^shift (MiB given, bytes kept).
template <class T>
OptionSpec number(std::string_view flag, std::string_view value, T ServerConfig::*field, std::uint64_t low,
                  std::uint64_t high, std::string_view help, unsigned shift = 0) {
    OptionSpec o{flag, value, help, std::to_string(low) + " to " + std::to_string(high), {}, {}};
    o.parse = [=](std::string_view text, ServerConfig& c) {
        const auto n = parseCount(text, low, high);
        if (!n) return false;
        if constexpr (IsDuration<T>::value) {
            c.*field = T(static_cast<typename T::rep>(*n));
        } else {
            c.*field = static_cast<T>(*n << shift);
        }
        return true;
    };
    o.show = [=](const ServerConfig& c) {
        if constexpr (IsDuration<T>::value) {
            return std::to_string((c.*field).count());
        } else {
            return std::to_string(static_cast<std::uint64_t>(c.*field) >> shift);
        }
    };
    return o;
}

OptionSpec text(std::string_view flag, std::string_view value, std::string ServerConfig::*field,
                std::string_view help, std::string_view unset = "none") {
    OptionSpec o{flag, value, help, {}, {}, {}};
    o.parse = [=](std::string_view t, ServerConfig& c) {
        c.*field = std::string(t);
        return !t.empty();
    };
    o.show = [=](const ServerConfig& c) { return (c.*field).empty() ? std::string(unset) : c.*field; };
    return o;
}

// "host:port"; the host may be an IPv6 literal in brackets.
bool parseListen(std::string_view text, ServerConfig& config) {
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos || colon == 0) return false;
    std::string_view host = text.substr(0, colon);
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']') return false;
        host = host.substr(1, host.size() - 2);
    }
    const auto port = parseCount(text.substr(colon + 1), 0, 65535);
    if (!port) return false;
    config.listenHost = std::string(host);
    config.listenPort = static_cast<std::uint16_t>(*port);
    return true;
}

std::string showListen(const ServerConfig& c) {
    const bool v6 = c.listenHost.find(':') != std::string::npos;
    return (v6 ? "[" + c.listenHost + "]" : c.listenHost) + ":" + std::to_string(c.listenPort);
}

// Repeatable, and each value a comma-separated list.
OptionSpec networks(std::string_view flag, std::string_view value, std::vector<Network> ServerConfig::*field,
                    std::string_view help) {
    OptionSpec o{flag, value, help, {}, {}, {}};
    o.parse = [=](std::string_view text, ServerConfig& c) {
        while (!text.empty()) {
            const auto comma = text.find(',');
            const auto network = Network::parse(text.substr(0, comma));
            if (!network) return false;
            (c.*field).push_back(*network);
            text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
        }
        return true;
    };
    o.show = [=](const ServerConfig& c) {
        std::string out;
        for (const Network& n : c.*field) out += (out.empty() ? "" : ",") + n.base.text() + "/" + std::to_string(n.prefix);
        return out.empty() ? std::string("none") : out;
    };
    return o;
}

std::vector<OptionSpec> makeOptions() {
    std::vector<OptionSpec> all;
    all.push_back({"--listen", "HOST:PORT",
                   "Address to serve REST and room connections on; port 0 picks a free one (the log line "
                   "`listening on http://HOST:PORT` tells which).",
                   {}, parseListen, showListen});
    all.push_back(text("--db", "PATH|URL", &ServerConfig::dbPath,
                       "The SQLite database (WAL mode; `PATH-wal` and `PATH-shm` sit beside it), or a "
                       "`postgresql://` URL shared by several instances. Without this option the "
                       "environment variable `VELLUMORA_DB` is used when set."));
    all.push_back({"--metrics-listen", "HOST:PORT",
                   "Address of `/metrics` (Prometheus text), apart from the service so that no proxy in front "
                   "exposes it; port 0 picks a free one (the log line `metrics on http://HOST:PORT` tells "
                   "which).",
                   {},
                   [](std::string_view t, ServerConfig& c) {
                       ServerConfig parsed;
                       if (!parseListen(t, parsed)) return false;
                       c.metricsHost = parsed.listenHost;
                       c.metricsPort = parsed.listenPort;
                       return true;
                   },
                   [](const ServerConfig& c) {
                       ServerConfig shown;
                       shown.listenHost = c.metricsHost;
                       shown.listenPort = c.metricsPort;
                       return showListen(shown);
                   }});
    all.push_back(networks("--trusted-proxy", "CIDR[,CIDR...]", &ServerConfig::trustedProxies,
                           "Connections from these addresses (a proxy such as HAProxy with `send-proxy-v2`) "
                           "must begin with a PROXY v2 header, whose client address then counts for rate "
                           "limits and logs. May be given more than once."));
    all.push_back(text("--tls-cert", "FILE", &ServerConfig::tlsCert,
                       "Serve HTTPS and WSS with this PEM certificate chain; needs `--tls-key`."));
    all.push_back(text("--tls-key", "FILE", &ServerConfig::tlsKey, "The PEM private key of `--tls-cert`."));
    {
        OptionSpec threads = number("--threads", "N", &ServerConfig::threads, 1, 256,
                                    "I/O threads. Usable cores are those of the process's CPU affinity, so "
                                    "`taskset -c 0` means one.");
        threads.show = [](const ServerConfig& c) {
            return c.threads == 0 ? std::string("one per usable core") : std::to_string(c.threads);
        };
        all.push_back(std::move(threads));
    }
    all.push_back(number("--auth-rate-limit", "N", &ServerConfig::authRateLimit, 0, 1'000'000,
                         "Log-in and sign-up attempts per minute, per address and per username (0: off)."));
    all.push_back(number("--friend-request-rate-limit", "N", &ServerConfig::friendRequestRateLimit, 0, 100'000,
                         "Friend requests per hour per user; more are answered 429 (0: off)."));
    all.push_back(number("--max-pending-requests", "N", &ServerConfig::maxPendingRequests, 1, 100'000,
                         "Friend requests a user may have waiting, sent or to answer; past it a request is "
                         "answered 429."));
    all.push_back(number("--message-rate-limit", "N", &ServerConfig::messageRateLimit, 0, 1'000'000,
                         "Room messages per second per connection; more are dropped (0: off)."));
    all.push_back(number("--idle-timeout", "S", &ServerConfig::idleTimeout, 1, 86'400,
                         "A room connection silent for S/2 seconds gets a WebSocket ping; if nothing, not "
                         "even the pong, arrives in the next S/2 it is closed (so within 1.5 S of silence)."));
    all.push_back(number("--commit-interval-ms", "N", &ServerConfig::commitInterval, 1, 10'000,
                         "Group-commit window of room history, in milliseconds."));
    all.push_back(number("--max-room-connections", "N", &ServerConfig::maxRoomConnections, 1, 256,
                         "Connections per room; more are closed with `Room is full`."));
    all.push_back(number("--max-unfinished-mib", "N", &ServerConfig::unfinishedMessageBytes, 8, 1 << 20,
                         "Memory, in MiB, all room connections together may hold for messages still "
                         "arriving; the connection that would pass it is closed (1013).",
                         20));
    all.push_back(number("--max-unfinished-user-mib", "N", &ServerConfig::unfinishedUserBytes, 8, 1 << 20,
                         "One user's share, in MiB, of `--max-unfinished-mib`; the user's connection that "
                         "would pass it is closed (1013).",
                         20));
    all.push_back(number("--message-deadline", "S", &ServerConfig::messageDeadline, 1, 3600,
                         "A room message must arrive whole within S seconds of its first byte (checked every "
                         "half --idle-timeout); a connection that trickles one for longer is closed (1008)."));
    all.push_back(number("--max-user-connections", "N", &ServerConfig::maxUserConnections, 1, 4096,
                         "Room connections of one user on this instance, all rooms together; more are "
                         "closed with `Too many connections` (1013)."));
    all.push_back(number("--max-outgoing-mib", "N", &ServerConfig::outgoingBytes, 8, 1 << 20,
                         "Memory, in MiB, all room connections together may hold queued for sending; past "
                         "it a connection that has more than a little queued is closed as too slow.",
                         20));
    all.push_back(number("--write-timeout", "S", &ServerConfig::writeTimeout, 1, 3600,
                         "A room connection whose socket takes nothing of what is written to it for S "
                         "seconds is closed (checked every half --idle-timeout)."));
    all.push_back(number("--session-idle-timeout", "S", &ServerConfig::sessionIdleTimeout, 1, 10 * 365 * 86'400,
                         "A session (token) unused for S seconds ends: REST answers 401, its room "
                         "connections are closed with 4001 `Session expired`. Each use slides it on; "
                         "the default is 30 days."));
    {
        OptionSpec cost{"--password-cost", "C",
                        "Argon2id limits: `interactive`, or `minimal`, which is only for tests.", {}, {}, {}};
        cost.parse = [](std::string_view t, ServerConfig& c) {
            if (t == "interactive") c.passwordCost = PasswordCost::interactive;
            else if (t == "minimal") c.passwordCost = PasswordCost::minimal;
            else return false;
            return true;
        };
        cost.show = [](const ServerConfig& c) {
            return std::string(c.passwordCost == PasswordCost::minimal ? "minimal" : "interactive");
        };
        all.push_back(std::move(cost));
    }
    return all;
}

// Help texts mark literal text with backticks; each output format renders them its own way.
std::string withMarks(std::string_view text, std::string_view open, std::string_view close) {
    std::string out;
    bool inside = false;
    for (char c : text) {
        if (c == '`') {
            out += inside ? close : open;
            inside = !inside;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

// Fills lines of at most `width` characters, each starting with `indent`.
std::string wrapped(std::string_view text, std::size_t width, std::string_view indent) {
    std::string out;
    std::size_t lineLength = 0;
    while (!text.empty()) {
        const auto space = text.find(' ');
        const std::string_view word = text.substr(0, space);
        text = space == std::string_view::npos ? std::string_view{} : text.substr(space + 1);
        if (lineLength > 0 && lineLength + 1 + word.size() > width) {
            out += '\n';
            lineLength = 0;
        }
        if (lineLength == 0) {
            out += indent;
            lineLength = indent.size();
        } else {
            out += ' ';
            ++lineLength;
        }
        out += word;
        lineLength += word.size();
    }
    return out + '\n';
}

std::string defaultAndRange(const OptionSpec& o) {
    std::string out = "Default: " + o.show(ServerConfig{}) + ".";
    if (!o.range.empty()) out += " Range: " + o.range + ".";
    return out;
}

// roff: a backslash escapes, a hyphen is a hyphen only when written \-, and a line must not
// begin with a dot or an apostrophe.
std::string roff(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\\') out += "\\e";
        else if (c == '-') out += "\\-";
        else out.push_back(c);
    }
    if (!out.empty() && (out.front() == '.' || out.front() == '\'')) out.insert(0, "\\&");
    return out;
}

}  // namespace

const std::vector<OptionSpec>& serverOptions() {
    static const std::vector<OptionSpec> all = makeOptions();
    return all;
}

const OptionSpec* findOption(std::string_view flag) {
    for (const OptionSpec& o : serverOptions())
        if (o.flag == flag) return &o;
    return nullptr;
}

std::string usageText() {
    std::string out = "usage: vellumora-server [options]\n";
    for (const OptionSpec& o : serverOptions()) {
        out += "  " + std::string(o.flag) + " " + std::string(o.value) + "\n";
        out += wrapped(withMarks(o.help, "", "") + " " + defaultAndRange(o), 96, "      ");
    }
    out += "  --help, --version\n";
    return out;
}

std::string optionsMarkdown() {
    std::string out = "| flag | default | meaning |\n|---|---|---|\n";
    const auto cell = [](std::string_view text) {
        std::string escaped;
        for (char c : text) {
            if (c == '|') escaped += '\\';
            escaped.push_back(c);
        }
        return escaped;
    };
    for (const OptionSpec& o : serverOptions()) {
        std::string help(o.help);
        if (!o.range.empty()) help += " " + std::string(o.value) + ": " + o.range + ".";
        out += "| `" + cell(std::string(o.flag) + " " + std::string(o.value)) + "` | " +
               cell(o.show(ServerConfig{})) + " | " + cell(help) + " |\n";
    }
    return out;
}

std::string manPage() {
    std::string out;
    out += ".TH VELLUMORA\\-SERVER 8 \"\" \"" + roff(versionText()) + "\" \"System Administration\"\n";
    out += ".SH NAME\nvellumora\\-server \\- account service and room server of Vellumora\n";
    out += ".SH SYNOPSIS\n.B vellumora\\-server\n[\\fIOPTION\\fR]...\n";
    out += ".SH DESCRIPTION\n"
           ".B vellumora\\-server\n"
           "serves the REST account service (sign-up, log-in, friends) and the room WebSocket of the "
           "Vellumora colouring app on one port, and keeps accounts, friendships and every room's "
           "drawing in one SQLite file, or in PostgreSQL when several instances share the load behind "
           "HAProxy.\n"
           ".PP\nIt logs one line per event to standard error, never passwords or tokens. "
           "\\fBGET /healthz\\fR answers \\fBok\\fR while the store is usable.\n";
    out += ".SH OPTIONS\n";
    for (const OptionSpec& o : serverOptions()) {
        out += ".TP\n.BI " + roff(o.flag) + " \" " + roff(o.value) + "\"\n";
        out += roff(withMarks(o.help, "\x01", "\x02")) + "\n" + roff(defaultAndRange(o)) + "\n";
    }
    out += ".TP\n.B \\-\\-help\nPrint the options and exit.\n";
    out += ".TP\n.B \\-\\-version\nPrint the version and exit.\n";
    out += ".SH ENVIRONMENT\n.TP\n.B VELLUMORA_DB\n"
           "The database when \\fB\\-\\-db\\fR is not given: a SQLite path or a postgresql:// URL, kept off "
           "the command line where other users could read a password in it.\n";
    out += ".SH FILES\n.TP\n.I PATH, PATH\\-wal, PATH\\-shm\n"
           "The SQLite database given by \\fB\\-\\-db\\fR, created readable by its owner only.\n";
    out += ".SH SIGNALS\n.TP\n.B SIGINT, SIGTERM\n"
           "Stop accepting, close every room connection with \"going away\", store every change "
           "received, and exit.\n"
           ".TP\n.B SIGHUP\nLoad the certificate and key of \\fB\\-\\-tls\\-cert\\fR and \\fB\\-\\-tls\\-key\\fR "
           "again: connections accepted from then on use them, open ones are kept.\n";
    out += ".SH SEE ALSO\n.BR haproxy (1),\n.BR systemd.exec (5)\n";
    // Literal text in bold, marked above so that the escaping could not touch the font changes.
    std::string marked;
    for (char c : out) {
        if (c == '\x01') marked += "\\fB";
        else if (c == '\x02') marked += "\\fR";
        else marked.push_back(c);
    }
    return marked;
}

}  // namespace vellumora::server
