// Invalid and hostile room traffic: dropped or disconnected without affecting anyone else.
#include <gtest/gtest.h>

#include "support/server_process.h"
#include "test_client.h"

namespace vellumora::testing {
namespace {

bool isRelayed(const std::optional<std::string>& text, std::string_view type) {
    return text && text->find("\"type\":\"" + std::string(type) + "\"") != std::string::npos;
}

class HostileTraffic : public ::testing::Test {
  protected:
    void SetUp() override {
        alice_ = signUp(server_.port(), "alice");
        bob_ = signUp(server_.port(), "bob");
        befriend(server_.port(), alice_, bob_);
        room_ = dmRoom(alice_, bob_);
    }
    std::uint16_t port() const { return server_.port(); }

    ServerProcess server_{{.extraArgs = {"--auth-rate-limit", "0", "--message-rate-limit", "0"}}};
    Account alice_, bob_;
    std::string room_;
};

TEST_F(HostileTraffic, shouldDropInvalidMessagesAndKeepRelayingTheValidOnes) {
    WsClient a(port(), room_, alice_.token);
    a.receive();  // room_state
    WsClient b(port(), room_, bob_.token);
    b.receive();
    a.receive();  // peer_joined
    b.send(strokeStart("BOB-STROKE"));
    ASSERT_TRUE(isRelayed(a.receive(), "stroke_start"));
    a.send(strokeStart("ALICE-ENDED"));
    a.send(ClientMessage::strokeEnd("ALICE-ENDED"));
    ASSERT_TRUE(isRelayed(b.receive(), "stroke_start"));
    ASSERT_TRUE(isRelayed(b.receive(), "stroke_end"));

    const std::string validStart =
        R"({"type":"stroke_start","stroke":{"id":"NEW","userId":"x","tool":"pencil","color":{"r":1,"g":0,"b":0,"a":1},"brushSize":3,"point":{"x":0.5,"y":0.5,"pressure":1,"t":1}}})";
    auto replace = [&](std::string_view from, std::string_view to) {
        std::string s = validStart;
        s.replace(s.find(from), from.size(), to);
        return s;
    };
    struct Case {
        const char* what;
        std::string text;
    };
    const std::vector<Case> cases{
        {"not json", "hello"},
        {"not an object", "[1,2,3]"},
        {"no type", R"({"x":0.5,"y":0.5})"},
        {"type not a string", R"({"type":7,"x":0.5,"y":0.5})"},
        {"unknown type", R"({"type":"wave","x":0.5,"y":0.5})"},
        {"wrong case", R"({"type":"Cursor","x":0.5,"y":0.5})"},
        {"server type", R"({"type":"canvas_cleared","userId":"x"})"},
        {"server room_state", R"({"type":"room_state","strokes":[],"peers":[],"you":{"userId":"x"}})"},
        {"cursor x a string", R"({"type":"cursor","x":"0.5","y":0.5})"},
        {"cursor missing y", R"({"type":"cursor","x":0.5})"},
        {"huge cursor", R"({"type":"cursor","x":1e300,"y":0.5})"},
        {"overflowing number", R"({"type":"cursor","x":1e999,"y":0.5})"},
        {"NaN literal", R"({"type":"cursor","x":NaN,"y":0.5})"},
        {"unknown tool", replace("\"pencil\"", "\"marker\"")},
        {"huge brush", replace("\"brushSize\":3", "\"brushSize\":1e200")},
        {"huge point", replace("\"x\":0.5", "\"x\":-1e300")},
        {"color out of range", replace("\"r\":1", "\"r\":255")},
        {"empty stroke id", replace("\"id\":\"NEW\"", "\"id\":\"\"")},
        {"stroke id of 1000 bytes", replace("\"id\":\"NEW\"", "\"id\":\"" + std::string(1000, 'A') + "\"")},
        {"reused stroke id", replace("\"id\":\"NEW\"", "\"id\":\"BOB-STROKE\"")},
        {"point for someone else's stroke",
         R"({"type":"stroke_point","strokeId":"BOB-STROKE","point":{"x":0.5,"y":0.5,"pressure":1,"t":2}})"},
        {"end of someone else's stroke", R"({"type":"stroke_end","strokeId":"BOB-STROKE"})"},
        {"point for an ended stroke",
         R"({"type":"stroke_point","strokeId":"ALICE-ENDED","point":{"x":0.5,"y":0.5,"pressure":1,"t":2}})"},
        {"point for an unknown stroke",
         R"({"type":"stroke_point","strokeId":"NOPE","point":{"x":0.5,"y":0.5,"pressure":1,"t":2}})"},
        {"set_page without page", R"({"type":"set_page"})"},
        {"set_page with a number", R"({"type":"set_page","page":5})"},
        {"page that fits a frame but not a room_state",
         R"({"type":"set_page","page":{"pageId":"p","displayName":"x","mimeType":"image/png","imageBase64":")" +
             std::string(kMaxMessageBytes - 2048, 'A') + "\"}}"},
        {"page with control characters",
         R"({"type":"set_page","page":{"pageId":"a\nb","displayName":"x","mimeType":"image/png","imageBase64":""}})"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(a.send(c.text));
        // The connection stays open and the next valid message is the very next one relayed.
        ASSERT_TRUE(a.send(ClientMessage::cursor(0.25, 0.75)));
        const auto next = b.receiveMessage();
        ASSERT_TRUE(next && std::holds_alternative<CursorMessage>(*next))
            << (next ? typeName(*next) : "nothing");
    }
    // Invalid UTF-8 in a binary frame is not JSON either.
    ASSERT_TRUE(a.sendBinary("{\"type\":\"cursor\",\"x\":0.5,\"y\":0.5,\"z\":\"\xff\xfe\"}"));
    ASSERT_TRUE(a.sendBinary(R"({"type":"cursor","x":0.5,"y":0.5})"));
    const auto binary = b.receiveMessage();
    ASSERT_TRUE(binary && std::holds_alternative<CursorMessage>(*binary));
    EXPECT_TRUE(a.open());

    // Nothing invalid reached the history either.
    WsClient late(port(), room_, alice_.token);
    const auto state = late.receiveMessage();
    ASSERT_TRUE(state && std::holds_alternative<RoomStateMessage>(*state));
    const auto& strokes = std::get<RoomStateMessage>(*state).strokes;
    ASSERT_EQ(strokes.size(), 2u);
    EXPECT_EQ(strokes[0].points.size(), 1u);
    EXPECT_EQ(strokes[1].points.size(), 1u);
    EXPECT_FALSE(std::get<RoomStateMessage>(*state).page);
}

TEST_F(HostileTraffic, shouldCloseTheSenderOfAFrameOver8MiBAndNobodyElse) {
    WsClient a(port(), room_, alice_.token);
    ASSERT_TRUE(a.waitFor("room_state"));
    WsClient b(port(), room_, bob_.token);
    ASSERT_TRUE(b.waitFor("room_state"));
    WsClient c(port(), room_, bob_.token);
    ASSERT_TRUE(c.waitFor("room_state"));
    ASSERT_TRUE(a.waitFor("peer_joined", 2));
    ASSERT_TRUE(b.waitFor("peer_joined"));
    const std::string huge =
        R"({"type":"cursor","x":0.5,"y":0.5,"pad":")" + std::string(9 * 1024 * 1024, 'x') + "\"}";
    a.send(huge);
    EXPECT_TRUE(a.waitClosed(std::chrono::seconds(10)));
    EXPECT_TRUE(isRelayed(b.receive(), "peer_left"));
    c.send(ClientMessage::cursor(0.5, 0.5));
    EXPECT_TRUE(isRelayed(b.receive(), "cursor"));
}

TEST_F(HostileTraffic, shouldCloseTheSenderOfInvalidUtf8TextAndNobodyElse) {
    WsClient a(port(), room_, alice_.token);
    ASSERT_TRUE(a.waitFor("room_state"));
    WsClient b(port(), room_, bob_.token);
    ASSERT_TRUE(b.waitFor("room_state"));
    ASSERT_TRUE(a.waitFor("peer_joined"));
    a.send("{\"type\":\"cursor\",\"x\":0.5,\"y\":0.5,\"z\":\"\xc3\x28\"}");
    EXPECT_TRUE(a.waitClosed(std::chrono::seconds(10)));
    EXPECT_TRUE(isRelayed(b.receive(), "peer_left"));
    WsClient again(port(), room_, alice_.token);
    again.drain();
    again.send(ClientMessage::cursor(0.5, 0.5));
    EXPECT_TRUE(isRelayed(b.receive(), "peer_joined"));
    EXPECT_TRUE(isRelayed(b.receive(), "cursor"));
}

TEST_F(HostileTraffic, shouldCloseASlowConsumerWhileTheOthersKeepReceiving) {
    WsClient sender(port(), room_, alice_.token);
    ASSERT_TRUE(sender.waitFor("room_state"));
    WsClient reader(port(), room_, bob_.token);
    ASSERT_TRUE(reader.waitFor("room_state"));
    ASSERT_TRUE(sender.waitFor("peer_joined"));
    {
        WsClient stalled(port(), room_, bob_.token);  // never reads again
        ASSERT_EQ(stalled.handshakeStatus(), 101u);
        sender.drain();
        EXPECT_TRUE(isRelayed(reader.receive(), "peer_joined"));

        // 4 MiB pages: a handful outgrow the stalled reader's socket buffers and queue.
        const std::string image(4 * 1024 * 1024, 'A');
        bool stalledLeft = false;
        for (int i = 0; i < 24 && !stalledLeft; ++i) {
            ASSERT_TRUE(sender.send(
                ClientMessage::setPage(WirePage{"p" + std::to_string(i), "P", "image/png", image})));
            auto got = reader.receive();
            while (isRelayed(got, "peer_left")) {
                stalledLeft = true;
                got = reader.receive();
            }
            ASSERT_TRUE(isRelayed(got, "page_changed")) << i;
            sender.drain(std::chrono::milliseconds(1));
        }
        EXPECT_TRUE(stalledLeft);
    }
    sender.send(ClientMessage::cursor(0.5, 0.5));
    EXPECT_TRUE(isRelayed(reader.receive(), "cursor"));
    EXPECT_NE(httpRequest(port(), "GET", "/metrics").body.find("vellumora_slow_consumers_closed_total 1"),
              std::string::npos);
}

TEST(RoomLimits, shouldCloseOnlyConnectionsThatAnswerNoPing) {
    ServerProcess server({.extraArgs = {"--idle-timeout", "2"}});
    const Account alice = signUp(server.port(), "alice");
    WsClient watcher(server.port(), soloRoom(alice), alice.token);
    watcher.receive();
    {
        WsClient silent(server.port(), soloRoom(alice), alice.token);  // never reads: never answers a ping
        ASSERT_EQ(silent.handshakeStatus(), 101u);
        EXPECT_TRUE(isRelayed(watcher.receive(), "peer_joined"));
        // The watcher sends nothing yet stays; the silent one is closed after the timeout.
        EXPECT_TRUE(isRelayed(watcher.receive(std::chrono::seconds(10)), "peer_left"));
    }
    EXPECT_FALSE(watcher.receive(std::chrono::seconds(3)));
    EXPECT_TRUE(watcher.open());
}

TEST(RoomLimits, shouldDropMessagesOverTheRateLimit) {
    ServerProcess server({.extraArgs = {"--message-rate-limit", "20"}});
    const Account alice = signUp(server.port(), "alice");
    WsClient a(server.port(), soloRoom(alice), alice.token);
    ASSERT_TRUE(a.waitFor("room_state"));
    WsClient b(server.port(), soloRoom(alice), alice.token);
    ASSERT_TRUE(b.waitFor("room_state"));
    for (int i = 0; i < 200; ++i) a.send(ClientMessage::cursor(0.5, 0.5));
    const auto relayed = b.drain(std::chrono::milliseconds(500)).size();
    // A burst of 20, then 20 per second for however long the sending took.
    EXPECT_GE(relayed, 20u);
    EXPECT_LT(relayed, 120u);
    EXPECT_TRUE(a.open());
}

TEST(RoomLimits, shouldRefuseConnectionsBeyondTheRoomCapacity) {
    ServerProcess server({.extraArgs = {"--max-room-connections", "2"}});
    const Account alice = signUp(server.port(), "alice");
    WsClient a(server.port(), soloRoom(alice), alice.token);
    a.receive();
    WsClient b(server.port(), soloRoom(alice), alice.token);
    b.receive();
    WsClient c(server.port(), soloRoom(alice), alice.token);
    EXPECT_FALSE(c.receive(std::chrono::seconds(2)));
    EXPECT_TRUE(c.waitClosed(std::chrono::seconds(5)));
    EXPECT_TRUE(isRelayed(a.receive(), "peer_joined"));  // b only
    EXPECT_FALSE(a.receive(std::chrono::milliseconds(300)));
}

}  // namespace
}  // namespace vellumora::testing
