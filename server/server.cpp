#include "server.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <atomic>
#include <functional>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "accounts/account_api.h"
#include "common/log.h"
#include "common/thread_slice.h"
#include "common/work_pool.h"
#include "http/listener.h"
#include "rooms/room_registry.h"
#include "store/history_writer.h"
#include "store/sqlite_store.h"
#if VELLUMORA_WITH_POSTGRES
#include "store/postgres_store.h"
#endif
#include "websocket/byte_budget.h"

namespace vellumora::server {

namespace asio = boost::asio;

namespace {
// SQLite takes one writer at a time; a second thread lets a quick read go on while a slow
// call waits, and CPU work between calls overlap. 1024 waiting calls are some seconds of
// disk; past them REST answers 503 and handshakes are refused the same way.
constexpr unsigned kDiskThreads = 2;
constexpr std::size_t kDiskQueue = 1024;
// Argon2id at interactive cost holds 64 MiB per hash in progress.
constexpr unsigned kHashingThreads = 2;
constexpr std::size_t kHashingQueue = 256;
std::string addressText(const asio::ip::tcp::endpoint& endpoint) {
    const std::string host = endpoint.address().to_string();
    return (endpoint.address().is_v6() ? "[" + host + "]" : host) + ":" + std::to_string(endpoint.port());
}

// TLS 1.3 where the client has it; TLS 1.2 only with ephemeral key exchange and AEAD ciphers,
// so that a key stolen later opens no recorded session.
std::shared_ptr<asio::ssl::context> tlsContext(const ServerConfig& config) {
    auto tls = std::make_shared<asio::ssl::context>(asio::ssl::context::tls_server);
    tls->set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                     asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 | asio::ssl::context::no_tlsv1_1 |
                     asio::ssl::context::single_dh_use);
    SSL_CTX_set_options(tls->native_handle(), SSL_OP_CIPHER_SERVER_PREFERENCE | SSL_OP_NO_RENEGOTIATION);
    if (SSL_CTX_set_cipher_list(tls->native_handle(),
                                "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
                                "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
                                "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305") != 1)
        throw std::runtime_error("no usable TLS 1.2 cipher suite");
    tls->use_certificate_chain_file(config.tlsCert);
    tls->use_private_key_file(config.tlsKey, asio::ssl::context::pem);
    if (SSL_CTX_check_private_key(tls->native_handle()) != 1)
        throw std::runtime_error("the key does not belong to the certificate");
    return tls;
}

std::unique_ptr<Store> openStore(const ServerConfig& config, const Presence& presence) {
    if (isPostgresUrl(config.dbPath)) {
#if VELLUMORA_WITH_POSTGRES
        return std::make_unique<PostgresStore>(config.dbPath, presence);
#else
        (void)presence;
        throw StoreError("this vellumora-server was built without PostgreSQL (VELLUMORA_WITH_POSTGRES=OFF); "
                         "give --db a SQLite file");
#endif
    }
    return std::make_unique<SqliteStore>(config.dbPath);
}
}  // namespace

// Declaration order is teardown order in reverse: the I/O context (and with it every
// connection) goes first, the store last.
struct Server::Parts {
    explicit Parts(const ServerConfig& config)
        : store(openStore(config, presence)),
          writer(*store, metrics, config.commitInterval),
          disk(kDiskThreads, kDiskQueue),
          hashing(kHashingThreads, kHashingQueue),
          input(config.unfinishedMessageBytes, metrics.unfinishedBytes),
          inputShares(config.unfinishedUserBytes),
          output(config.outgoingBytes, metrics.outgoingBytes),
          accounts(*store, presence, metrics, config, disk, hashing),
          rooms(config, *store, metrics, writer, disk),
          context{config, *store, presence, metrics, accounts, rooms, writer, disk, input, inputShares, output,
                  sessions},
          // With one I/O thread every socket operation runs on it (the pools and the writer only
          // post to it), so the reactor's lock per descriptor, two a message, guards nothing.
          ioc(config.threads == 1 ? BOOST_ASIO_CONCURRENCY_HINT_UNSAFE_IO : static_cast<int>(config.threads)) {
        writer.onLost([this](const std::vector<std::int64_t>& keys) { rooms.sendAway(keys, "Storage failed"); });
        accounts.onSessionsEnded([this](const AccountApi::SessionsEnded& ended) {
            if (!ended.tokenHash.empty()) sessions.endToken(ended.tokenHash, "Signed out");
            if (!ended.userId.empty()) sessions.endUser(ended.userId, "Signed out");
        });
#if VELLUMORA_WITH_POSTGRES
        // Their clients come back through the proxy to whichever instance takes the room.
        if (auto* shared = dynamic_cast<PostgresStore*>(store.get())) {
            shared->onLeasesLost([this] { rooms.closeAll(); });
            shared->onRoomsWanted([this](const std::vector<std::int64_t>& keys) {
                rooms.sendAway(keys, "Room moves to another server");
            });
        }
#endif
    }

    Metrics metrics;
    Presence presence;
    std::unique_ptr<Store> store;
    HistoryWriter writer;
    WorkPool disk;
    WorkPool hashing;
    ByteBudget input;
    UserShares inputShares;
    ByteBudget output;
    OpenSessions sessions;
    AccountApi accounts;
    RoomRegistry rooms;
    ServerContext context;
    // Every context ever loaded: a connection's TLS state refers to the one it was accepted with.
    std::vector<std::shared_ptr<asio::ssl::context>> tls;
    asio::io_context ioc;
};

Server::Server(ServerConfig config) : config_(std::move(config)), parts_(std::make_unique<Parts>(config_)) {}

Server::~Server() = default;

int Server::run() {
    Parts& p = *parts_;
    const asio::ip::tcp::endpoint endpoint(asio::ip::make_address(config_.listenHost), config_.listenPort);
    // Throws (and the process reports "cannot start") when the files are unusable.
    if (config_.tls()) p.tls.push_back(tlsContext(config_));
    auto listener = std::make_shared<Listener>(p.ioc, endpoint, p.context, config_.tls() ? p.tls.back() : nullptr);
    listener->run();
    logLine(std::string("listening on ") + (config_.tls() ? "https://" : "http://") +
            addressText(listener->localEndpoint()));
    const asio::ip::tcp::endpoint metricsEndpoint(asio::ip::make_address(config_.metricsHost), config_.metricsPort);
    auto metrics = std::make_shared<Listener>(p.ioc, metricsEndpoint, p.context, nullptr, ListenerRole::metrics);
    metrics->run();
    logLine("metrics on http://" + addressText(metrics->localEndpoint()));

    // A renewed certificate is taken without dropping anyone: connections accepted from now on
    // use it, those open keep theirs.
    asio::signal_set hangup(p.ioc, SIGHUP);
    std::function<void()> awaitHangup = [&] {
        hangup.async_wait([&](boost::system::error_code ec, int) {
            if (ec) return;
            if (!config_.tls()) {
                logLine("SIGHUP: no certificate to reload");
            } else {
                try {
                    p.tls.push_back(tlsContext(config_));
                    listener->setTls(p.tls.back());
                    logLine("SIGHUP: reloaded the certificate and key");
                } catch (const std::exception& e) {
                    logLine(std::string("SIGHUP: kept the certificate in use: ") + e.what());
                }
            }
            awaitHangup();
        });
    };
    awaitHangup();

    // Sessions that expired, or ended through another instance, close their room connections.
    asio::steady_timer sessionCheck(p.ioc);
    std::atomic<bool> checking = false;
    std::function<void()> checkSessions = [&] {
        sessionCheck.expires_after(std::chrono::seconds(1));
        sessionCheck.async_wait([&](boost::system::error_code ec) {
            if (ec) return;
            if (!checking.exchange(true)) {
                const bool posted = p.disk.post([&] {
                    try {
                        const auto idle = static_cast<double>(config_.sessionIdleTimeout.count());
                        p.sessions.checkWith(*p.store, nowSeconds() - idle);
                    } catch (const StoreError& e) {
                        logLine(std::string("database error: ") + e.what());
                    }
                    checking = false;
                });
                if (!posted) checking = false;
            }
            checkSessions();
        });
    };
    checkSessions();

    asio::signal_set signals(p.ioc, SIGINT, SIGTERM);
    asio::steady_timer grace(p.ioc);
    signals.async_wait([&](boost::system::error_code ec, int signal) {
        if (ec) return;
        logLine("stopping on signal " + std::to_string(signal));
        listener->stop();
        metrics->stop();
        hangup.cancel();
        sessionCheck.cancel();
        p.rooms.closeAll();
        // A moment for the close frames; a peer that does not read gets none.
        grace.expires_after(std::chrono::milliseconds(300));
        grace.async_wait([&](boost::system::error_code) { p.ioc.stop(); });
    });

    const auto runIo = [&] {
        useShortTimeSlices();
        p.ioc.run();
    };
    std::vector<std::thread> threads;
    for (unsigned i = 1; i < config_.threads; ++i) threads.emplace_back(runIo);
    runIo();
    for (std::thread& t : threads) t.join();

    // Room loads and REST calls already queued finish (their answers have nobody to go to),
    // then the last history changes are stored.
    p.disk.stop();
    p.hashing.stop();
    p.writer.stop();
    logLine("stopped; everything received is stored");
    return 0;
}

}  // namespace vellumora::server
