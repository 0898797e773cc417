// Rooms over WebSocket against the real server: admission, room_state, relays, history.
#include <gtest/gtest.h>

#include "support/server_process.h"
#include "test_client.h"

namespace vellumora::testing {
namespace {

class Rooms : public SharedServer {
  protected:
    void SetUp() override {
        static int n = 0;
        const std::string suffix = std::to_string(++n) + "_" + std::to_string(::getpid() % 10000);
        alice_ = signUp(port(), "alice" + suffix);
        bob_ = signUp(port(), "bob" + suffix);
        carol_ = signUp(port(), "carol" + suffix);
        befriend(port(), alice_, bob_);
    }
    Account alice_, bob_, carol_;
};

TEST_F(Rooms, shouldRefuseHandshakesThatMayNotEnter) {
    const std::string dmAB = dmRoom(alice_, bob_);
    const auto [lo, hi] = std::minmax(alice_.id, bob_.id);
    const struct {
        const char* what;
        std::string room;
        std::string token;
        unsigned status;
    } cases[] = {
        {"bad token", soloRoom(alice_), "not-a-token", 401},
        {"no token", soloRoom(alice_), "", 401},
        {"someone else's sketchbook", soloRoom(bob_), alice_.token, 403},
        {"dm with a non-friend", dmRoom(alice_, carol_), alice_.token, 403},
        {"dm of two others", dmAB, carol_.token, 403},
        {"descending dm ids", "dm:" + hi + ":" + lo, alice_.token, 400},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WsClient client(port(), c.room, c.token);
        EXPECT_EQ(client.handshakeStatus(), c.status);
        EXPECT_FALSE(jsonString(client.refusalBody(), "error").empty()) << client.refusalBody();
    }
}

TEST_F(Rooms, shouldAnnouncePeersAndRelayEveryMessageToTheOthersOnly) {
    const std::string room = dmRoom(alice_, bob_);
    EXPECT_FALSE(seesOnline(port(), bob_, alice_));
    WsClient a(port(), room, alice_.token, "#12AB34");
    EXPECT_EQ(expectMessage<RoomStateMessage>(a), (RoomStateMessage{{}, {}, {alice_.id}, std::nullopt}));
    EXPECT_TRUE(seesOnline(port(), bob_, alice_));  // friends are online while they have a room connection
    WsClient b(port(), room, bob_.token, "not a colour");
    const auto stateB = expectMessage<RoomStateMessage>(b);
    EXPECT_EQ(stateB.peers, (std::vector<WirePeer>{{alice_.id, alice_.username, "#12AB34"}}));
    EXPECT_EQ(stateB.you.userId, bob_.id);
    EXPECT_EQ(expectMessage<PeerJoinedMessage>(a).peer, (WirePeer{bob_.id, bob_.username, "#888888"}));
    auto c = std::make_unique<WsClient>(port(), room, alice_.token);
    EXPECT_EQ(expectMessage<RoomStateMessage>(*c).peers.size(), 2u);
    expectMessage<PeerJoinedMessage>(a);
    expectMessage<PeerJoinedMessage>(b);

    // The author's id is the connection's, whatever the client wrote.
    StrokeStartPayload start{"S1", "forged", Tool::pencil, {0.9, 0.2, 0.1, 1.0}, 4.5, {0.25, 0.5, 0.75, 1.0}};
    const WirePage page{"builtin-garden", "Garden", "image/png", "iVBORw0KGgo="};
    StrokeStartMessage relayedStart{alice_.id, start};
    relayedStart.stroke.userId = alice_.id;
    const std::vector<std::pair<ClientMessage, ServerMessage>> relays{
        {ClientMessage::strokeStart(start), relayedStart},
        {ClientMessage::strokePoint("S1", {0.3, 0.6, 1.0, 2.0}),
         StrokePointMessage{alice_.id, "S1", {0.3, 0.6, 1.0, 2.0}}},
        {ClientMessage::strokeEnd("S1"), StrokeEndMessage{alice_.id, "S1"}},
        {ClientMessage::cursor(0.125, 0.875), CursorMessage{alice_.id, 0.125, 0.875}},
        {ClientMessage::setPage(page), PageChangedMessage{alice_.id, page}},
        {ClientMessage::setPage(std::nullopt), PageChangedMessage{alice_.id, std::nullopt}},
        {ClientMessage::clearCanvas(), CanvasClearedMessage{alice_.id}},
    };
    for (const auto& [sent, relayed] : relays) {
        SCOPED_TRACE(typeName(relayed));
        ASSERT_TRUE(a.send(sent));
        EXPECT_EQ(b.receiveMessage(), relayed);
        EXPECT_EQ(c->receiveMessage(), relayed);
    }
    // Relays on each side of the bounds of the frame length encodings: 7, 16 and 64 bits.
    for (const std::size_t size : {125u, 126u, 127u}) {
        const std::string id(size - encode(ServerMessage{StrokeEndMessage{alice_.id, ""}})->size(), 'x');
        ASSERT_TRUE(a.send(strokeStart(id)) && a.send(ClientMessage::strokeEnd(id)));
        ASSERT_TRUE(b.waitFor("stroke_start"));
        EXPECT_EQ(b.receiveMessage(), (ServerMessage{StrokeEndMessage{alice_.id, id}})) << size;
    }
    for (const std::size_t size : {65535u, 65536u, 65537u}) {
        WirePage sized{"p", "P", "image/png", ""};
        const std::size_t fill = size - encode(ServerMessage{PageChangedMessage{alice_.id, sized}})->size();
        sized.imageBase64.assign(fill - fill % 4, 'A');  // Base64 comes in fours
        sized.displayName.append(fill % 4, 'P');
        ASSERT_TRUE(a.send(ClientMessage::setPage(sized)));
        EXPECT_EQ(b.receiveMessage(), (ServerMessage{PageChangedMessage{alice_.id, sized}})) << size;
    }
    // Frames queued while a write is in flight go out together; each must arrive whole and in order.
    constexpr int kBurst = 2000;
    const auto counted = [&](const char* name) { return metric(server()->metricsPort(), name); };
    const std::int64_t in = counted("vellumora_messages_in_total");
    const std::int64_t out = counted("vellumora_messages_out_total");
    for (int i = 0; i < kBurst; ++i) ASSERT_TRUE(a.send(ClientMessage::cursor(i / double(kBurst), 0.5)));
    for (int i = 0; i < kBurst; ++i) ASSERT_EQ(expectMessage<CursorMessage>(b).x, i / double(kBurst)) << i;
    ASSERT_TRUE(c->waitFor("cursor", kBurst));
    EXPECT_EQ(counted("vellumora_messages_in_total") - in, kBurst);
    EXPECT_TRUE(eventually([&] { return counted("vellumora_messages_out_total") - out == 2 * kBurst; }));
    c->close();
    EXPECT_EQ(c->closeCode(), 1000u);  // the server answered the close
    c.reset();
    EXPECT_EQ(expectMessage<PeerLeftMessage>(b).userId, alice_.id);
    EXPECT_EQ(expectMessage<PeerLeftMessage>(a).userId, alice_.id);
    EXPECT_TRUE(a.drain().empty());  // nothing ever came back to its sender
    a.close();
    EXPECT_TRUE(eventually([&] { return !seesOnline(port(), bob_, alice_); }));  // noticed asynchronously
}

TEST_F(Rooms, shouldKeepRelayingWhenAPeerVanishesInTheMiddleOfAStream) {
    const std::string room = soloRoom(alice_);
    WsClient a(port(), room, alice_.token);
    expectMessage<RoomStateMessage>(a);
    WsClient c(port(), room, alice_.token);
    expectMessage<RoomStateMessage>(c);
    // Relays to the vanished peer fail while the server is still working through the burst.
    for (int round = 0; round < 8; ++round) {
        WsClient b(port(), room, alice_.token);
        ASSERT_TRUE(c.waitFor("peer_joined")) << round;
        for (int i = 0; i < 100; ++i) ASSERT_TRUE(a.send(ClientMessage::cursor(0.5, i / 100.0)));
        b.abort();
        ASSERT_TRUE(c.waitFor("peer_left")) << round;
    }
    a.drain(std::chrono::milliseconds(50));
    c.drain(std::chrono::milliseconds(50));
    ASSERT_TRUE(a.send(ClientMessage::cursor(0.25, 0.25)));
    EXPECT_EQ(expectMessage<CursorMessage>(c), (CursorMessage{alice_.id, 0.25, 0.25}));
}

}  // namespace
}  // namespace vellumora::testing
