// Rooms over WebSocket against the real server: admission, room_state, relays, history.
#include <gtest/gtest.h>

#include <thread>

#include "support/server_process.h"
#include "test_client.h"

namespace vellumora::testing {
namespace {

template <class T>
T expectMessage(WsClient& client) {
    std::optional<ServerMessage> message = client.receiveMessage();
    if (!message) {
        ADD_FAILURE() << "no message";
        return T{};
    }
    if (!std::holds_alternative<T>(*message)) {
        ADD_FAILURE() << "unexpected " << typeName(*message);
        return T{};
    }
    return std::get<T>(*message);
}

class Rooms : public ::testing::Test {
  protected:
    // One I/O thread here (relays start their writes directly), the default elsewhere.
    static void SetUpTestSuite() {
        server_ = new ServerProcess({{"--auth-rate-limit", "0", "--threads", "1"}});
    }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override {
        static int n = 0;
        ++n;
        const std::string suffix = std::to_string(n) + "_" + std::to_string(::getpid() % 10000);
        alice_ = signUp(port(), "alice" + suffix);
        bob_ = signUp(port(), "bob" + suffix);
        carol_ = signUp(port(), "carol" + suffix);
        befriend(port(), alice_, bob_);
    }
    static std::uint16_t port() { return server_->port(); }

    static ServerProcess* server_;
    Account alice_, bob_, carol_;
};
ServerProcess* Rooms::server_ = nullptr;

TEST_F(Rooms, shouldSendAnEmptyRoomStateToTheFirstConnection) {
    WsClient a(port(), soloRoom(alice_), alice_.token);
    ASSERT_EQ(a.handshakeStatus(), 101u);
    const auto text = a.receive();
    ASSERT_TRUE(text);
    // The page member is present and null, as the client's decoder accepts both.
    EXPECT_NE(text->find("\"type\":\"room_state\""), std::string::npos) << *text;
    const auto state = decodeServerMessage(*text);
    ASSERT_TRUE(state && std::holds_alternative<RoomStateMessage>(*state));
    const auto& rs = std::get<RoomStateMessage>(*state);
    EXPECT_TRUE(rs.strokes.empty());
    EXPECT_TRUE(rs.peers.empty());
    EXPECT_FALSE(rs.page);
    EXPECT_EQ(rs.you.userId, alice_.id);
}

TEST_F(Rooms, shouldRefuseHandshakesThatMayNotEnter) {
    struct Case {
        const char* what;
        std::string room;
        std::string token;
        unsigned status;
    };
    const std::string dmAB = dmRoom(alice_, bob_);
    const std::string dmAC = dmRoom(alice_, carol_);
    const std::string& lo = alice_.id < bob_.id ? alice_.id : bob_.id;
    const std::string& hi = alice_.id < bob_.id ? bob_.id : alice_.id;
    const std::vector<Case> cases{
        {"bad token", soloRoom(alice_), "not-a-token", 401},
        {"no token", soloRoom(alice_), "", 401},
        {"someone else's sketchbook", soloRoom(bob_), alice_.token, 403},
        {"dm with a non-friend", dmAC, alice_.token, 403},
        {"dm of two others", dmAB, carol_.token, 403},
        {"descending dm ids", "dm:" + hi + ":" + lo, alice_.token, 400},
        {"dm with oneself", "dm:" + alice_.id + ":" + alice_.id, alice_.token, 400},
        {"unknown prefix", "group:" + alice_.id, alice_.token, 400},
        {"empty room", "", alice_.token, 400},
        {"three ids", dmAB + ":" + carol_.id, alice_.token, 400},
        {"solo without id", "solo:", alice_.token, 400},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WsClient client(port(), c.room, c.token);
        EXPECT_EQ(client.handshakeStatus(), c.status);
        EXPECT_NE(client.refusalBody().find("\"error\""), std::string::npos) << client.refusalBody();
    }
}

TEST_F(Rooms, shouldAnnouncePeersAndRelayToTheOtherConnectionOnly) {
    const std::string room = dmRoom(alice_, bob_);
    WsClient a(port(), room, alice_.token, "#12AB34");
    expectMessage<RoomStateMessage>(a);
    WsClient b(port(), room, bob_.token, "not a colour");
    const auto stateB = expectMessage<RoomStateMessage>(b);
    ASSERT_EQ(stateB.peers.size(), 1u);
    EXPECT_EQ(stateB.peers[0], (WirePeer{alice_.id, alice_.username, "#12AB34"}));
    EXPECT_EQ(stateB.you.userId, bob_.id);
    EXPECT_EQ(expectMessage<PeerJoinedMessage>(a).peer, (WirePeer{bob_.id, bob_.username, "#888888"}));

    // The author's id is the connection's, whatever the client wrote.
    ASSERT_TRUE(a.send(strokeStart("S1", 0.25, 0.5)));
    const auto start = expectMessage<StrokeStartMessage>(b);
    EXPECT_EQ(start.userId, alice_.id);
    EXPECT_EQ(start.stroke.userId, alice_.id);
    EXPECT_EQ(start.stroke.id, "S1");
    EXPECT_EQ(start.stroke.tool, Tool::pencil);
    EXPECT_EQ(start.stroke.point, (StrokePoint{0.25, 0.5, 0.75, 1.0}));

    a.send(strokePoint("S1", 0.3, 0.6, 2.0));
    EXPECT_EQ(expectMessage<StrokePointMessage>(b),
              (StrokePointMessage{alice_.id, "S1", {0.3, 0.6, 1.0, 2.0}}));
    a.send(ClientMessage::strokeEnd("S1"));
    EXPECT_EQ(expectMessage<StrokeEndMessage>(b), (StrokeEndMessage{alice_.id, "S1"}));
    b.send(ClientMessage::cursor(0.125, 0.875));
    EXPECT_EQ(expectMessage<CursorMessage>(a), (CursorMessage{bob_.id, 0.125, 0.875}));

    const WirePage page{"builtin-garden", "Garden", "image/png", "iVBORw0KGgo="};
    b.send(ClientMessage::setPage(page));
    EXPECT_EQ(expectMessage<PageChangedMessage>(a), (PageChangedMessage{bob_.id, page}));
    b.send(ClientMessage::setPage(std::nullopt));
    EXPECT_EQ(expectMessage<PageChangedMessage>(a), (PageChangedMessage{bob_.id, std::nullopt}));
    a.send(ClientMessage::clearCanvas());
    EXPECT_EQ(expectMessage<CanvasClearedMessage>(b), (CanvasClearedMessage{alice_.id}));

    // Nothing ever came back to its sender.
    EXPECT_TRUE(a.drain().empty());
    EXPECT_TRUE(b.drain().empty());
}

TEST_F(Rooms, shouldKeepOrderInBurstsAndAnswerPingsAndCloses) {
    const std::string room = soloRoom(alice_);
    WsClient a(port(), room, alice_.token);
    expectMessage<RoomStateMessage>(a);
    WsClient b(port(), room, alice_.token);
    expectMessage<RoomStateMessage>(b);
    expectMessage<PeerJoinedMessage>(a);

    EXPECT_TRUE(a.pingAnswered("are you there"));
    // Frames queued while a write is in flight go out together; each must arrive whole and in
    // order. (A burst within the per-connection rate limit of 1000.)
    constexpr int kBurst = 900;
    for (int i = 0; i < kBurst; ++i) ASSERT_TRUE(a.send(ClientMessage::cursor(i / double(kBurst), 0.5)));
    for (int i = 0; i < kBurst; ++i) {
        const auto cursor = expectMessage<CursorMessage>(b);
        ASSERT_EQ(cursor.x, i / double(kBurst)) << i;
    }
    a.close();
    EXPECT_EQ(a.closeCode(), 1000u);  // the server answered the close
    EXPECT_EQ(expectMessage<PeerLeftMessage>(b).userId, alice_.id);
}

TEST_F(Rooms, shouldKeepRelayingWhenAPeerVanishesInTheMiddleOfAStream) {
    const std::string room = soloRoom(alice_);
    WsClient a(port(), room, alice_.token);
    expectMessage<RoomStateMessage>(a);
    WsClient c(port(), room, alice_.token);
    expectMessage<RoomStateMessage>(c);
    a.drain(std::chrono::milliseconds(50));
    // Relays to the vanished peer fail while the server is still working through the burst.
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE(round);
        WsClient b(port(), room, alice_.token);
        expectMessage<RoomStateMessage>(b);
        ASSERT_TRUE(c.waitFor("peer_joined"));
        for (int i = 0; i < 100; ++i) ASSERT_TRUE(a.send(ClientMessage::cursor(0.5, i / 100.0)));
        b.abort();
        ASSERT_TRUE(c.waitFor("peer_left", 1, std::chrono::seconds(10)));
        a.drain(std::chrono::milliseconds(20));
        std::this_thread::sleep_for(std::chrono::milliseconds(150));  // the rate limit refills
    }
    c.drain(std::chrono::milliseconds(100));
    ASSERT_TRUE(a.send(ClientMessage::cursor(0.25, 0.25)));
    EXPECT_EQ(expectMessage<CursorMessage>(c), (CursorMessage{alice_.id, 0.25, 0.25}));
}

TEST_F(Rooms, shouldRelayToEveryOtherOfThreeConnectionsAndAnnounceDepartures) {
    const std::string room = soloRoom(alice_);
    WsClient a(port(), room, alice_.token);
    expectMessage<RoomStateMessage>(a);
    WsClient b(port(), room, alice_.token, "#00FF00");
    EXPECT_EQ(expectMessage<RoomStateMessage>(b).peers.size(), 1u);
    expectMessage<PeerJoinedMessage>(a);
    auto c = std::make_unique<WsClient>(port(), room, alice_.token, "#0000FF");
    EXPECT_EQ(expectMessage<RoomStateMessage>(*c).peers.size(), 2u);
    expectMessage<PeerJoinedMessage>(a);
    expectMessage<PeerJoinedMessage>(b);

    b.send(ClientMessage::cursor(0.5, 0.5));
    EXPECT_EQ(expectMessage<CursorMessage>(a).x, 0.5);
    EXPECT_EQ(expectMessage<CursorMessage>(*c).x, 0.5);
    EXPECT_TRUE(b.drain().empty());

    c->close();
    c.reset();
    EXPECT_EQ(expectMessage<PeerLeftMessage>(a).userId, alice_.id);
    EXPECT_EQ(expectMessage<PeerLeftMessage>(b).userId, alice_.id);
}

TEST_F(Rooms, shouldReplayHistoryToALateJoinerIncludingAnIncompleteStroke) {
    const std::string room = dmRoom(alice_, bob_);
    WsClient a(port(), room, alice_.token);
    expectMessage<RoomStateMessage>(a);
    WsClient b(port(), room, bob_.token);
    expectMessage<RoomStateMessage>(b);
    expectMessage<PeerJoinedMessage>(a);
    // Each waits for the other's message to arrive, so the server's order is known.
    a.send(strokeStart("A1", 0.1, 0.1, Tool::watercolor));
    a.send(strokePoint("A1", 0.2, 0.2, 2));
    expectMessage<StrokeStartMessage>(b);
    expectMessage<StrokePointMessage>(b);
    b.send(strokeStart("B1", 0.9, 0.9, Tool::crayon));
    expectMessage<StrokeStartMessage>(a);
    a.send(strokePoint("A1", 0.3, 0.3, 3));
    a.send(ClientMessage::strokeEnd("A1"));
    b.send(strokePoint("B1", 0.8, 0.8, 5));
    b.send(ClientMessage::setPage(WirePage{"p", "Page", "image/png", ""}));
    expectMessage<StrokePointMessage>(a);
    expectMessage<PageChangedMessage>(a);
    expectMessage<StrokePointMessage>(b);
    expectMessage<StrokeEndMessage>(b);

    WsClient late(port(), room, alice_.token);
    const auto state = expectMessage<RoomStateMessage>(late);
    ASSERT_EQ(state.strokes.size(), 2u);
    const WireStroke& a1 = state.strokes[0];
    EXPECT_EQ(a1.id, "A1");
    EXPECT_EQ(a1.userId, alice_.id);
    EXPECT_EQ(a1.tool, Tool::watercolor);
    EXPECT_TRUE(a1.complete);
    ASSERT_EQ(a1.points.size(), 3u);
    EXPECT_EQ(a1.points[0], (StrokePoint{0.1, 0.1, 0.75, 1.0}));
    EXPECT_EQ(a1.points[2], (StrokePoint{0.3, 0.3, 1.0, 3}));
    const WireStroke& b1 = state.strokes[1];
    EXPECT_EQ(b1.id, "B1");
    EXPECT_EQ(b1.userId, bob_.id);
    EXPECT_FALSE(b1.complete);
    EXPECT_EQ(b1.points.size(), 2u);
    EXPECT_EQ(state.page, (WirePage{"p", "Page", "image/png", ""}));
    ASSERT_EQ(state.peers.size(), 2u);
    EXPECT_EQ(state.peers[0].userId, alice_.id);
    EXPECT_EQ(state.peers[1].userId, bob_.id);
}

TEST_F(Rooms, shouldLetTheAuthorExtendItsOpenStrokeAfterReconnecting) {
    const std::string room = dmRoom(alice_, bob_);
    WsClient b(port(), room, bob_.token);
    expectMessage<RoomStateMessage>(b);
    {
        WsClient a(port(), room, alice_.token);
        expectMessage<RoomStateMessage>(a);
        a.send(strokeStart("R1"));
        expectMessage<PeerJoinedMessage>(b);
        expectMessage<StrokeStartMessage>(b);
    }
    expectMessage<PeerLeftMessage>(b);
    WsClient again(port(), room, alice_.token);
    expectMessage<RoomStateMessage>(again);
    expectMessage<PeerJoinedMessage>(b);
    again.send(strokePoint("R1", 0.6, 0.6));
    EXPECT_EQ(expectMessage<StrokePointMessage>(b).strokeId, "R1");
}

TEST_F(Rooms, shouldEmptyHistoryOnClearAndKeepThePage) {
    const std::string room = soloRoom(bob_);
    {
        WsClient a(port(), room, bob_.token);
        expectMessage<RoomStateMessage>(a);
        WsClient observer(port(), room, bob_.token);
        expectMessage<RoomStateMessage>(observer);
        a.send(ClientMessage::setPage(WirePage{"x", "X", "image/png", "AAAA"}));
        a.send(strokeStart("C1"));
        a.send(ClientMessage::clearCanvas());
        a.send(strokePoint("C1", 0.2, 0.2));  // the clear removed it
        a.send(strokeStart("C2"));
        ASSERT_TRUE(observer.waitFor("stroke_start", 2));
    }
    WsClient late(port(), room, bob_.token);
    const auto state = expectMessage<RoomStateMessage>(late);
    ASSERT_EQ(state.strokes.size(), 1u);
    EXPECT_EQ(state.strokes[0].id, "C2");
    EXPECT_EQ(state.strokes[0].points.size(), 1u);
    ASSERT_TRUE(state.page);
    EXPECT_EQ(state.page->pageId, "x");
}

TEST_F(Rooms, shouldReportFriendsOnlineWhileTheyHaveARoomConnection) {
    auto friendsOfBob = [&] { return httpRequest(port(), "GET", "/friends", {}, bob_.token).body; };
    EXPECT_NE(friendsOfBob().find("\"online\":false"), std::string::npos);
    {
        WsClient a(port(), soloRoom(alice_), alice_.token);
        expectMessage<RoomStateMessage>(a);
        EXPECT_NE(friendsOfBob().find("\"online\":true"), std::string::npos);
    }
    // The departure is processed asynchronously; give it a moment.
    for (int i = 0; i < 100 && friendsOfBob().find("\"online\":false") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_NE(friendsOfBob().find("\"online\":false"), std::string::npos);
}

}  // namespace
}  // namespace vellumora::testing
