// Two instances on one PostgreSQL behind the shipped HAProxy configuration: a room meets on
// one instance, moves to the other when that one is killed, and keeps what was drawn;
// friends' online flags hold across instances.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <thread>

#include "postgres_instance.h"
#include "support/server_process.h"
#include "test_client.h"

namespace vellumora::testing {
namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kProxySource = "127.0.0.2";

// HAProxy on deploy/haproxy.cfg, with the addresses of this test's processes put in.
class Proxy {
  public:
    Proxy(std::uint16_t port, std::uint16_t first, std::uint16_t second)
        : dir_(std::filesystem::temp_directory_path() / ("vellumora-proxy-" + std::to_string(::getpid()))) {
        std::filesystem::create_directories(dir_);
        std::string cfg = readFile(VELLUMORA_DEPLOY_DIR "/haproxy.cfg");
        const auto swap = [&](const std::string& from, std::uint16_t to) {
            for (auto at = cfg.find(from); at != std::string::npos; at = cfg.find(from, at))
                cfg.replace(at, from.size(), "127.0.0.1:" + std::to_string(to));
        };
        swap("127.0.0.1:8787", port);
        swap("127.0.0.1:8701", first);
        swap("127.0.0.1:8702", second);
        // The instances trust the proxy's own address alone, so the test may reach them directly.
        const std::string proxied = "send-proxy-v2";
        cfg.replace(cfg.find(proxied), proxied.size(), proxied + " source " + kProxySource);
        std::ofstream(dir_ / "haproxy.cfg") << cfg;
        pid_ = spawnLogged({"/usr/sbin/haproxy", "-db", "-f", (dir_ / "haproxy.cfg").string()},
                           (dir_ / "haproxy.log").string());
    }
    ~Proxy() {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        std::filesystem::remove_all(dir_);
    }

    std::string log() const { return readFile((dir_ / "haproxy.log").string()); }

  private:
    std::filesystem::path dir_;
    pid_t pid_ = -1;
};

// As the app does: a new attempt 1.5 s after a failed or refused one, until admitted.
std::unique_ptr<WsClient> reconnect(std::uint16_t port, const std::string& room, const Account& who) {
    const auto deadline = Clock::now() + 30s;
    while (Clock::now() < deadline) {
        std::this_thread::sleep_for(1500ms);
        auto client = std::make_unique<WsClient>(port, room, who.token);
        if (client->handshakeStatus() == 101 && client->waitFor("room_state", 1, 5s)) return client;
    }
    return nullptr;
}

TEST(Cluster, shouldMoveARoomToTheOtherInstanceWhenItsInstanceIsKilled) {
    const std::string db = PostgresInstance::shared()->createDatabase();
    const std::vector<std::string> flags{"--auth-rate-limit", "0", "--message-rate-limit", "0", "--trusted-proxy",
                                         kProxySource};
    const std::uint16_t proxyPort = ServerProcess().port();  // free once that server has stopped
    ServerProcess one({.extraArgs = flags, .dbPath = db});
    ServerProcess two({.extraArgs = flags, .dbPath = db});
    Proxy proxy(proxyPort, one.port(), two.port());
    ASSERT_TRUE(eventually([&] { return httpRequest(proxyPort, "GET", "/healthz").status == 200; }, 30s))
        << proxy.log();

    const Account alice = signUp(proxyPort, "alice");
    const Account bob = signUp(proxyPort, "bob");
    const Account carol = signUp(proxyPort, "carol");
    const Account dave = signUp(proxyPort, "dave");
    for (const Account* other : {&bob, &carol, &dave}) befriend(proxyPort, alice, *other);
    const std::string room = dmRoom(alice, bob);

    auto a = std::make_unique<WsClient>(proxyPort, room, alice.token);
    auto b = std::make_unique<WsClient>(proxyPort, room, bob.token);
    ASSERT_TRUE(a->waitFor("room_state") && b->waitFor("room_state"));
    ASSERT_TRUE(eventually([&] {
        return metric(one.metricsPort(), "vellumora_connections") + metric(two.metricsPort(), "vellumora_connections") == 2;
    }));
    const bool onOne = metric(one.metricsPort(), "vellumora_connections") == 2;
    ASSERT_TRUE(onOne || metric(two.metricsPort(), "vellumora_connections") == 2) << "the room's people were split";
    ServerProcess& holder = onOne ? one : two;
    ServerProcess& other = onOne ? two : one;

    // The other instance refuses the room while it is held, in a way the app retries.
    WsClient intruder(other.port(), room, alice.token);
    EXPECT_TRUE(intruder.waitClosed(10s));
    EXPECT_EQ(intruder.closeCode(), 1013u);

    // Carol on the other instance, Dave on the holder: each side sees the other's.
    WsClient carolHere(other.port(), soloRoom(carol), carol.token);
    WsClient daveThere(holder.port(), soloRoom(dave), dave.token);
    ASSERT_TRUE(carolHere.waitFor("room_state") && daveThere.waitFor("room_state"));
    EXPECT_TRUE(eventually([&] {
        return seesOnline(holder.port(), alice, carol) && seesOnline(other.port(), alice, dave) &&
               seesOnline(other.port(), alice, bob);
    }));

    // What Bob saw half a second before the kill is outside any commit window.
    const Drawing drawn = drawSteadily(*a, *b, "S", 1500ms, 500ms);
    holder.stop(SIGKILL);
    const auto killed = Clock::now();

    // Both come back through the proxy (side by side, as their apps would), to the room as stored.
    const auto bothBack = [&] {
        auto alicesTurn = std::async(std::launch::async, [&] { return reconnect(proxyPort, room, alice); });
        b = reconnect(proxyPort, room, bob);
        a = alicesTurn.get();
        return a && b;
    };
    ASSERT_TRUE(bothBack());
    EXPECT_EQ(metric(other.metricsPort(), "vellumora_connections"), 3);  // with Carol
    const RoomStateMessage state =
        expectMessage<RoomStateMessage>(*std::make_unique<WsClient>(other.port(), room, bob.token));
    ASSERT_EQ(state.strokes.size(), 1u);
    expectStoredPrefix(state.strokes[0], drawn);
    a->send(strokeStart("T"));
    ASSERT_TRUE(b->waitFor("stroke_start"));
    const auto back = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - killed);

    // Dave's only connection died with its instance; nobody announced it.
    EXPECT_TRUE(eventually([&] {
        return !seesOnline(proxyPort, alice, dave) && seesOnline(proxyPort, alice, bob) &&
               seesOnline(proxyPort, alice, carol);
    }));
    // The survivor loses its database session, and its leases with it: it closes the room, and
    // both people come back to it once it has a new session and takes the room again.
    PostgresInstance::execute(
        db,
        "SELECT pg_terminate_backend(pid) FROM pg_locks WHERE locktype = 'advisory' AND "
        "objsubid = 1 AND granted");
    EXPECT_TRUE(a->waitClosed(10s) && b->waitClosed(10s));
    ASSERT_TRUE(bothBack());
    a->send(strokeStart("U"));
    EXPECT_TRUE(b->waitFor("stroke_start"));
    const RoomStateMessage after =
        expectMessage<RoomStateMessage>(*std::make_unique<WsClient>(other.port(), room, bob.token));
    EXPECT_EQ(after.strokes.size(), 3u);

    // The killed instance comes back and the proxy sends the room to it again: the survivor
    // hands the room over instead of keeping its people apart from newcomers.
    holder.start();
    EXPECT_TRUE(eventually(
        [&] {
            WsClient probe(proxyPort, room, alice.token);
            return probe.waitClosed(3s) && probe.closeCode() == 1013u;
        },
        30s));
    EXPECT_TRUE(a->waitClosed(10s) && b->waitClosed(10s));
    ASSERT_TRUE(bothBack());
    EXPECT_EQ(metric(holder.metricsPort(), "vellumora_connections"), 2);
    a->send(strokeStart("V"));
    EXPECT_TRUE(b->waitFor("stroke_start"));

    std::printf("cluster: %d points sent, %zu stored; drawing again %lld ms after the kill\n", drawn.sent,
                state.strokes[0].points.size() - 1, static_cast<long long>(back.count()));
}

}  // namespace
}  // namespace vellumora::testing
