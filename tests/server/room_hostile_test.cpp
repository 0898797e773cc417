// Invalid and hostile room traffic: dropped, or its sender disconnected, without affecting
// anyone else; with one I/O thread (no strands, writes started where a read is handled) and
// with several.
#include <gtest/gtest.h>

#include "support/server_process.h"
#include "test_client.h"

namespace vellumora::testing {
namespace {

class HostileTraffic : public ::testing::TestWithParam<const char*> {
  protected:
    void SetUp() override {
        alice_ = signUp(server_.port(), "alice");
        bob_ = signUp(server_.port(), "bob");
        befriend(server_.port(), alice_, bob_);
        room_ = dmRoom(alice_, bob_);
    }
    std::uint16_t port() const { return server_.port(); }
    // A connection that has received its room_state and every announcement before it.
    std::unique_ptr<WsClient> join(const Account& who, int peersBefore) {
        auto client = std::make_unique<WsClient>(port(), room_, who.token);
        EXPECT_TRUE(client->waitFor("room_state"));
        for (WsClient* other : joined_) EXPECT_TRUE(other->waitFor("peer_joined"));
        EXPECT_EQ(static_cast<int>(joined_.size()), peersBefore);
        joined_.push_back(client.get());
        return client;
    }

    ServerProcess server_{
        {.extraArgs = {"--auth-rate-limit", "0", "--message-rate-limit", "0", "--threads", GetParam()}}};
    Account alice_, bob_;
    std::string room_;
    std::vector<WsClient*> joined_;
};

TEST_P(HostileTraffic, shouldDropInvalidMessagesAndKeepRelayingTheValidOnes) {
    auto a = join(alice_, 0);
    auto b = join(bob_, 1);
    b->send(strokeStart("BOB-STROKE"));
    ASSERT_TRUE(a->waitFor("stroke_start"));

    const std::string validStart =
        R"({"type":"stroke_start","stroke":{"id":"NEW","userId":"x","tool":"pencil","color":{"r":1,"g":0,"b":0,"a":1},"brushSize":3,"point":{"x":0.5,"y":0.5,"pressure":1,"t":1}}})";
    auto replace = [&](std::string_view from, std::string_view to) {
        std::string s = validStart;
        return s.replace(s.find(from), from.size(), to);
    };
    // One of each way to be wrong; the rules behind them are tested one by one with the history.
    const struct {
        const char* what;
        std::string text;
    } cases[] = {
        {"not json", "hello"},
        {"server type", R"({"type":"room_state","strokes":[],"peers":[],"you":{"userId":"x"}})"},
        {"cursor x a string", R"({"type":"cursor","x":"0.5","y":0.5})"},
        {"overflowing number", R"({"type":"cursor","x":1e999,"y":0.5})"},
        {"unknown tool", replace("\"pencil\"", "\"marker\"")},
        {"reused stroke id", replace("\"id\":\"NEW\"", "\"id\":\"BOB-STROKE\"")},
        {"point for someone else's stroke",
         R"({"type":"stroke_point","strokeId":"BOB-STROKE","point":{"x":0.5,"y":0.5,"pressure":1,"t":2}})"},
        {"page image with a NUL",
         R"({"type":"set_page","page":{"pageId":"p","displayName":"x","mimeType":"image/png","imageBase64":"AA\u0000A"}})"},
        {"page image not in Base64",
         R"({"type":"set_page","page":{"pageId":"p","displayName":"x","mimeType":"image/png","imageBase64":"AB*D"}})"},
        {"page that fits a frame but not a room_state",
         R"({"type":"set_page","page":{"pageId":"p","displayName":"x","mimeType":"image/png","imageBase64":")" +
             std::string(kMaxMessageBytes - 2048, 'A') + "\"}}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(a->send(c.text));
        // The connection stays open and the next valid message is the very next one relayed.
        ASSERT_TRUE(a->send(ClientMessage::cursor(0.25, 0.75)));
        ASSERT_TRUE(isA(b->receive(), "cursor"));
    }
    // Invalid UTF-8 in a binary frame is not JSON either; valid JSON in one is relayed.
    ASSERT_TRUE(a->send("{\"type\":\"cursor\",\"x\":0.5,\"y\":0.5,\"z\":\"\xff\xfe\"}", true));
    ASSERT_TRUE(a->send(R"({"type":"cursor","x":0.5,"y":0.5})", true));
    ASSERT_TRUE(isA(b->receive(), "cursor"));

    // Nothing invalid reached the history either.
    WsClient late(port(), room_, alice_.token);
    const RoomStateMessage state = expectMessage<RoomStateMessage>(late);
    ASSERT_EQ(state.strokes.size(), 1u);
    EXPECT_EQ(state.strokes[0].points.size(), 1u);
    EXPECT_FALSE(state.page);
}

TEST_P(HostileTraffic, shouldCloseTheSenderOfABrokenFrameOrASlowConsumerAndNobodyElse) {
    const struct {
        const char* what;
        std::string text;
        unsigned code;  // 0: the close may be lost, the sender is still writing when it is reset
    } cases[] = {
        {"message over 8 MiB", R"({"type":"cursor","pad":")" + std::string(9 << 20, 'x') + "\"}", 0},
        {"invalid UTF-8 text", "{\"type\":\"cursor\",\"x\":0.5,\"y\":0.5,\"z\":\"\xc3\x28\"}", 1007},
    };
    auto b = join(bob_, 0);
    auto c = join(bob_, 1);
    for (const auto& x : cases) {
        SCOPED_TRACE(x.what);
        joined_ = {b.get(), c.get()};
        auto a = join(alice_, 2);
        a->send(x.text);
        EXPECT_TRUE(a->waitClosed(std::chrono::seconds(10)));
        if (x.code) {
            EXPECT_EQ(a->closeCode(), x.code);
        }
        EXPECT_TRUE(isA(b->receive(), "peer_left"));
        EXPECT_TRUE(isA(c->receive(), "peer_left"));
        c->send(ClientMessage::cursor(0.5, 0.5));
        EXPECT_TRUE(isA(b->receive(), "cursor"));
    }

    // A slow consumer (c, which never reads again) is closed while the others keep receiving.
    joined_ = {b.get(), c.get()};
    auto sender = join(alice_, 2);
    // 4 MiB pages: a handful outgrow the stalled reader's socket buffers and queue.
    const std::string image(4 << 20, 'A');
    bool stalledLeft = false;
    for (int i = 0; i < 24 && !stalledLeft; ++i) {
        ASSERT_TRUE(
            sender->send(ClientMessage::setPage(WirePage{"p" + std::to_string(i), "P", "image/png", image})));
        auto got = b->receive();
        for (; isA(got, "peer_left"); got = b->receive()) stalledLeft = true;
        ASSERT_TRUE(isA(got, "page_changed")) << i;
        sender->drain(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(stalledLeft);
    sender->send(ClientMessage::cursor(0.5, 0.5));
    EXPECT_TRUE(isA(b->receive(), "cursor"));
    EXPECT_EQ(metric(server_.metricsPort(), "vellumora_slow_consumers_closed_total"), 1);
}

INSTANTIATE_TEST_SUITE_P(IoThreads, HostileTraffic, ::testing::Values("1", "2"));

}  // namespace
}  // namespace vellumora::testing
