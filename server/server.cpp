#include "server.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <optional>
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
#include "websocket/input_budget.h"

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
          accounts(*store, presence, metrics, config, disk, hashing),
          rooms(config, *store, metrics, writer, disk),
          context{config, *store, presence, metrics, accounts, rooms, writer, disk, input},
          ioc(static_cast<int>(config.threads)) {
#if VELLUMORA_WITH_POSTGRES
        // Their clients come back through the proxy to whichever instance takes the room.
        if (auto* shared = dynamic_cast<PostgresStore*>(store.get())) {
            shared->onLeasesLost([this] { rooms.closeAll(); });
            shared->onRoomsWanted([this](const std::vector<std::int64_t>& keys) { rooms.handOver(keys); });
        }
#endif
    }

    Metrics metrics;
    Presence presence;
    std::unique_ptr<Store> store;
    HistoryWriter writer;
    WorkPool disk;
    WorkPool hashing;
    InputBudget input;
    AccountApi accounts;
    RoomRegistry rooms;
    ServerContext context;
    std::optional<asio::ssl::context> tls;
    asio::io_context ioc;
};

Server::Server(ServerConfig config) : config_(std::move(config)), parts_(std::make_unique<Parts>(config_)) {}

Server::~Server() = default;

int Server::run() {
    Parts& p = *parts_;
    const asio::ip::tcp::endpoint endpoint(asio::ip::make_address(config_.listenHost), config_.listenPort);
    if (config_.tls()) {
        // Throws (and the process reports "cannot start") when the files are unusable.
        p.tls.emplace(asio::ssl::context::tls_server);
        p.tls->set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                           asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 |
                           asio::ssl::context::no_tlsv1_1);
        p.tls->use_certificate_chain_file(config_.tlsCert);
        p.tls->use_private_key_file(config_.tlsKey, asio::ssl::context::pem);
    }
    auto listener = std::make_shared<Listener>(p.ioc, endpoint, p.context, p.tls ? &*p.tls : nullptr);
    listener->run();

    const auto bound = listener->localEndpoint();
    std::string host = bound.address().to_string();
    if (bound.address().is_v6()) host = "[" + host + "]";
    logLine(std::string("listening on ") + (config_.tls() ? "https://" : "http://") + host + ":" +
            std::to_string(bound.port()));

    asio::signal_set signals(p.ioc, SIGINT, SIGTERM);
    asio::steady_timer grace(p.ioc);
    signals.async_wait([&](boost::system::error_code ec, int signal) {
        if (ec) return;
        logLine("stopping on signal " + std::to_string(signal));
        listener->stop();
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
