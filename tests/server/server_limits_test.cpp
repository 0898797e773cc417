// What the server does at its limits: silent peers, floods, full rooms, memory for messages
// still arriving, and running out of descriptors.
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include <filesystem>
#include <fstream>

#include "support/server_process.h"
#include "test_client.h"

namespace vellumora::testing {
namespace {

std::int64_t residentBytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stoll(line.substr(6)) * 1024;
    return -1;
}

std::size_t count(const std::string& text, std::string_view what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// One masked frame of a valid message `pad` bytes long or a little more.
std::string paddedFrame(std::size_t pad) {
    const std::string message = R"({"type":"cursor","x":0.5,"y":0.5,"pad":")" + std::string(pad, 'x') + "\"}";
    return maskedFrameHeader(message.size()) + message;
}

// A server of its own with Alice signed up; join() opens one more connection to her sketchbook
// and waits for its room_state.
struct Alone {
    explicit Alone(std::vector<std::string> flags) : server({.extraArgs = std::move(flags)}) {}
    std::uint16_t port() const { return server.port(); }
    std::unique_ptr<WsClient> join() const {
        auto client = std::make_unique<WsClient>(port(), soloRoom(alice), alice.token);
        EXPECT_TRUE(client->waitFor("room_state"));
        return client;
    }

    ServerProcess server;
    Account alice = signUp(server.port(), "alice");
};

TEST(ServerLimits, shouldCloseOnlyConnectionsThatAnswerNoPing) {
    const Alone s({"--idle-timeout", "1"});
    const auto watcher = s.join();
    {
        const auto silent = s.join();  // never reads again: never answers a ping
        EXPECT_TRUE(isA(watcher->receive(), "peer_joined"));
        EXPECT_TRUE(isA(watcher->receive(), "peer_left"));
    }
    // The watcher sends nothing, answers pings while it reads, and stays.
    EXPECT_FALSE(watcher->receive(std::chrono::seconds(2)));
    EXPECT_TRUE(watcher->open());
}

TEST(ServerLimits, shouldDropMessagesOverTheRateLimitAndRefuseAFullRoom) {
    const Alone s({"--message-rate-limit", "20", "--max-room-connections", "2", "--max-user-connections", "3"});
    const auto a = s.join();
    const auto b = s.join();
    for (int i = 0; i < 200; ++i) a->send(ClientMessage::cursor(0.5, 0.5));
    const auto relayed = b->drain(std::chrono::milliseconds(500)).size();
    EXPECT_GE(relayed, 20u);  // a burst of 20, then 20 per second for however long the sending took
    EXPECT_LT(relayed, 120u);
    EXPECT_TRUE(a->open());

    WsClient third(s.port(), soloRoom(s.alice), s.alice.token);
    EXPECT_TRUE(third.waitClosed(std::chrono::seconds(5)));
    EXPECT_EQ(third.closeCode(), 1013u);
    EXPECT_EQ(a->drain(std::chrono::milliseconds(300)).size(), 1u);  // b's arrival only

    // Three connections of one user in all rooms together: a fourth anywhere is refused.
    const Account bob = signUp(s.port(), "bob");
    befriend(s.port(), s.alice, bob);
    WsClient withBob(s.port(), dmRoom(s.alice, bob), s.alice.token);
    ASSERT_TRUE(withBob.waitFor("room_state"));
    WsClient fourth(s.port(), dmRoom(s.alice, bob), s.alice.token);
    EXPECT_TRUE(fourth.waitClosed(std::chrono::seconds(5)));
    EXPECT_EQ(fourth.closeReason(), "Too many connections");
}

TEST(ServerLimits, shouldCloseAPeerThatFloodsPingsAndOneWhoseSocketTakesNothing) {
    // Pinged every 5 s: the test's clients read only now and then.
    const Alone s({"--idle-timeout", "10", "--write-timeout", "1", "--message-rate-limit", "0"});
    const auto reader = s.join();
    {
        const auto flooder = s.join();
        ASSERT_TRUE(reader->waitFor("peer_joined"));
        std::string pings;
        for (int i = 0; i < 200; ++i) pings += std::string("\x89\x80\0\0\0\0", 6);  // masked, empty
        ASSERT_TRUE(flooder->sendRaw(pings));
        EXPECT_TRUE(flooder->waitClosed(std::chrono::seconds(5)));
        EXPECT_EQ(flooder->closeCode(), 1008u);
        EXPECT_TRUE(reader->waitFor("peer_left"));
    }
    // Twelve MiB fits its queue, not its socket: it is closed for taking nothing, not for its queue.
    const auto stalled = s.join();
    const auto sender = s.join();
    ASSERT_TRUE(reader->waitFor("peer_joined", 2));
    const std::string image(4 << 20, 'A');
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(sender->send(ClientMessage::setPage(WirePage{"p", "P", "image/png", image})));
        ASSERT_TRUE(reader->waitFor("page_changed"));
    }
    EXPECT_TRUE(reader->waitFor("peer_left", 1, std::chrono::seconds(20)));
    EXPECT_EQ(metric(s.server.metricsPort(), "vellumora_slow_consumers_closed_total"), 0);
    EXPECT_TRUE(eventually([&] { return metric(s.server.metricsPort(), "vellumora_outgoing_bytes") == 0; }));
}

// Neither payloads announced and not yet arrived nor a room sent to joins that do not read take
// memory of their own.
TEST(ServerLimits, shouldHoldNoMemoryForPayloadsToComeAndShareOneCopyOfTheRoomAmongJoins) {
    const Alone s({"--max-room-connections", "64", "--max-user-connections", "64"});
    std::vector<std::unique_ptr<WsClient>> clients;
    for (int i = 0; i < 40; ++i) clients.push_back(s.join());
    std::int64_t rss = residentBytes(s.server.pid());
    const std::int64_t read = metric(s.server.metricsPort(), "vellumora_room_read_bytes_total");
    for (auto& c : clients) ASSERT_TRUE(c->sendRaw(maskedFrameHeader(8'000'000)));  // 14 bytes
    ASSERT_TRUE(
        eventually([&] { return metric(s.server.metricsPort(), "vellumora_room_read_bytes_total") >= read + 40 * 14; }));
    EXPECT_LT(residentBytes(s.server.pid()) - rss, 16 << 20);  // 40 x 8 MB announced
    EXPECT_LE(metric(s.server.metricsPort(), "vellumora_unfinished_message_bytes"), 40 * 4096);
    clients.clear();
    ASSERT_TRUE(eventually([&] { return metric(s.server.metricsPort(), "vellumora_connections") == 0; }));

    const auto owner = s.join();
    const std::int64_t commits = metric(s.server.metricsPort(), "vellumora_history_commits_total");
    ASSERT_TRUE(owner->send(ClientMessage::setPage(WirePage{"p", "P", "image/png", std::string(6 << 20, 'A')})));
    // Measured from once the page is stored: storing takes copies of it that are not the joins'.
    // The writer yields to everything else, so on a busy machine that may take a while.
    ASSERT_TRUE(eventually(
        [&] { return metric(s.server.metricsPort(), "vellumora_history_commits_total") > commits; }, 120s));
    s.join();
    rss = residentBytes(s.server.pid());
    for (int i = 0; i < 30; ++i) clients.push_back(std::make_unique<WsClient>(s.port(), soloRoom(s.alice), s.alice.token));
    ASSERT_TRUE(owner->waitFor("peer_joined", 31));
    // 30 x 6 MiB and more without sharing; the sanitizers' own bookkeeping takes some of the rest.
    EXPECT_LT(residentBytes(s.server.pid()) - rss, 96 << 20);
}

TEST(ServerLimits, shouldCloseTheConnectionThatWouldPassTheBoundOnUnfinishedMessages) {
    const Alone s({"--max-unfinished-mib", "20", "--message-rate-limit", "0"});
    const auto watcher = s.join();
    const std::string frame = paddedFrame(7 << 20);
    std::vector<std::unique_ptr<WsClient>> senders;
    for (int i = 0; i < 3; ++i) senders.push_back(s.join());
    // Two messages of 7 MiB fit under 20 MiB while they arrive; a third does not.
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(senders[i]->sendRaw(frame.substr(0, frame.size() - 1)));
        ASSERT_TRUE(eventually([&] {
            return metric(s.server.metricsPort(), "vellumora_unfinished_message_bytes") >= (7 << 20) * (i + 1) - (1 << 20);
        }));
    }
    senders[2]->sendRaw(frame);
    EXPECT_TRUE(senders[2]->waitClosed(std::chrono::seconds(10)));
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(senders[i]->sendRaw(frame.substr(frame.size() - 1)));
    EXPECT_TRUE(watcher->waitFor("cursor", 2));
    EXPECT_TRUE(eventually([&] { return metric(s.server.metricsPort(), "vellumora_unfinished_message_bytes") == 0; }));
}

TEST(ServerLimits, shouldGiveEachUserAShareOfTheUnfinishedBudgetAndEachMessageADeadline) {
    // The deadline comes before the keep-alive would drop these non-reading clients.
    const Alone s({"--max-unfinished-mib", "64", "--max-unfinished-user-mib", "8", "--idle-timeout", "4",
                   "--message-deadline", "1", "--message-rate-limit", "0"});
    const Account bob = signUp(s.port(), "bob");
    const auto watcher = s.join();
    const std::string frame = paddedFrame(6 << 20);
    // Short of more than the pongs the client answers the server's pings with could fill.
    const std::string unfinished = frame.substr(0, frame.size() - 1000);
    const auto first = s.join();
    const auto second = s.join();
    ASSERT_TRUE(first->sendRaw(unfinished));
    ASSERT_TRUE(eventually([&] { return metric(s.server.metricsPort(), "vellumora_unfinished_message_bytes") > (5 << 20); }));
    second->sendRaw(unfinished);  // Alice's second 6 MiB passes her share
    EXPECT_TRUE(second->waitClosed(std::chrono::seconds(10)));
    // Bob reads nothing either, so he comes only now: on a busy machine the keep-alive could
    // otherwise drop him before he sends.
    WsClient bobs(s.port(), soloRoom(bob), bob.token);
    ASSERT_TRUE(bobs.waitFor("room_state"));
    ASSERT_TRUE(bobs.sendRaw(unfinished));  // Bob's own share is untouched
    ASSERT_TRUE(bobs.sendRaw(frame.substr(frame.size() - 1000)));
    EXPECT_TRUE(bobs.open());
    // Alice's first never finishes: closed at its deadline. Its close reply lands inside the
    // unfinished frame, so the socket goes only two keep-alive ticks later.
    EXPECT_TRUE(first->waitClosed(std::chrono::seconds(10)));
    EXPECT_EQ(first->closeCode(), 1008u);
    EXPECT_TRUE(eventually([&] { return metric(s.server.metricsPort(), "vellumora_unfinished_message_bytes") == 0; }));
}

TEST(ServerLimits, shouldPauseAcceptingWhenOutOfDescriptorsAndKeepServing) {
    const Alone s({"--message-rate-limit", "0"});
    const ServerProcess& server = s.server;
    const auto a = s.join();
    const auto b = s.join();

    // UBSan's first check of an object's type probes memory through a pipe, which needs
    // descriptors: run the relay path once while there are some.
    ASSERT_TRUE(a->send(ClientMessage::cursor(0.5, 0.5)));
    ASSERT_TRUE(b->waitFor("cursor"));
    // Three descriptors to spare, then ten connections: seven wait in the backlog.
    const auto open =
        std::distance(std::filesystem::directory_iterator("/proc/" + std::to_string(server.pid()) + "/fd"),
                      std::filesystem::directory_iterator{});
    const rlimit limit{static_cast<rlim_t>(open + 3), static_cast<rlim_t>(open + 3)};
    ASSERT_EQ(prlimit(server.pid(), RLIMIT_NOFILE, &limit, nullptr), 0);
    boost::asio::io_context ioc;
    std::vector<boost::asio::ip::tcp::socket> extra;
    for (int i = 0; i < 10; ++i) {
        extra.emplace_back(ioc).connect({boost::asio::ip::make_address("127.0.0.1"), server.port()});
    }
    ASSERT_TRUE(eventually([&] { return server.log().find("accept failed") != std::string::npos; }));

    for (int i = 0; i < 500; ++i) ASSERT_TRUE(a->send(ClientMessage::cursor(0.5, i / 500.0)));
    EXPECT_TRUE(b->waitFor("cursor", 500)) << server.log();
    EXPECT_LE(count(server.log(), "accept failed"), 2u);  // once per period, not once per retry

    // Descriptors free again: the connections waiting in the backlog are served.
    for (int i = 0; i < 3; ++i) extra[static_cast<std::size_t>(i)].close();
    const std::string request = "GET /healthz HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
    boost::asio::write(extra[3], boost::asio::buffer(request));
    std::string answer(12, '\0');
    boost::asio::async_read(extra[3], boost::asio::buffer(answer),
                            [](boost::system::error_code, std::size_t) {});
    ioc.run_for(std::chrono::seconds(10));
    EXPECT_EQ(answer, "HTTP/1.1 200");
}

}  // namespace
}  // namespace vellumora::testing
