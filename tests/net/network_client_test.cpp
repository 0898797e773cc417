// The room connection against scripted servers: failures and the reconnect pause, hostile
// frames, the handshake queue and leaving.

#include <gtest/gtest.h>

#include <algorithm>

#include "net/network_client.h"
#include "support/manual_pause.h"
#include "support/qt_printers.h"
#include "support/qt_test_app.h"
#include "support/scripted_server.h"

namespace vellumora {
namespace {

using namespace testing;

QString cursorJson(double x) {
    return QStringLiteral(R"({"type":"cursor","userId":"u2","x":%1,"y":0.5})").arg(x, 0, 'g', 17);
}

// A client on a manual pause with every event it publishes.
struct Client {
    explicit Client(const QUrl& url) : client(url, std::unique_ptr<PauseTimer>(pause)) {
        QObject::connect(&client, &NetworkClient::events, &client,
                         [this](const NetworkEvent& event) { events.push_back(event); });
    }
    // One letter per event: o(pened), c(losed), r(oom state), x (cursor), k (cleared).
    std::string kinds() const {
        std::string text;
        for (const NetworkEvent& event : events) text += "crjlspexgko"[event.value.index()];
        return text;
    }
    double x(std::size_t i) const { return std::get<NetworkEvent::Cursor>(events.at(i).value).x; }

    ManualPause* pause = new ManualPause;
    NetworkClient client;
    std::vector<NetworkEvent> events;
};

TEST(NetworkClient, carriesRoomAndColourIntactInTheUrlAndTheTokenAsBearer) {
    EXPECT_EQ(NetworkClient::webSocketUrl(QUrl("https://h.example:9443/a?x=1")),
              QUrl("wss://h.example:9443/a?x=1"));
    EXPECT_EQ(NetworkClient::webSocketUrl(QUrl("http://127.0.0.1:8787")), QUrl("ws://127.0.0.1:8787"));
    const NetworkClient::ConnectionArgs args{"dm:a&b=c", "to+ken/?#", "#12AB9F"};
    const auto request = NetworkClient::connectionRequest(QUrl("wss://h/p?room=old#frag"), args);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->url().toString(QUrl::FullyEncoded),
              "wss://h/p?room=dm:a%26b%3Dc&color=%2312AB9F#frag");
    EXPECT_EQ(request->rawHeader("Authorization"), "Bearer to+ken/?#");
    EXPECT_FALSE(NetworkClient::connectionRequest(QUrl("ws:///nohost"), args));
    EXPECT_FALSE(NetworkClient::connectionRequest(QUrl("wss://h/"), {"r", "T\r\nX-Other: 1", "#12AB9F"}))
        << "a token that would end its header";
}

TEST(NetworkClient, failuresAreReportedAndRetriedAfterASpreadPauseUnlessTheSessionEndedOrTheRoomWasRefused) {
    // Spread over 1.2-1.8 s, so that the clients of a server that went away do not all come
    // back at one instant.
    NetworkClient spread(QUrl("ws://127.0.0.1:9"));
    std::vector<long> waits;
    for (int i = 0; i < 500; ++i) waits.push_back(spread.nextReconnectDelay().count());
    const auto [shortest, longest] = std::minmax_element(waits.begin(), waits.end());
    EXPECT_TRUE(*shortest >= 1200 && *shortest < 1250 && *longest > 1750 && *longest <= 1800)
        << *shortest << " " << *longest;

    using Outcome = NetworkEvent::Closed::Outcome;
    ScriptedResponder notFound, unauthorized, forbidden;  // answer the handshake with an HTTP error
    unauthorized.script("GET", "/", {ScriptedAnswer::json(401, R"({"error":"Not signed in"})")});
    forbidden.script("GET", "/", {ScriptedAnswer::json(403, R"({"error":"Only friends share a room"})")});
    ScriptedServer closing, signingOut;
    closing.setOnConnection(
        [](QWebSocket& socket) { socket.close(QWebSocketProtocol::CloseCodeGoingAway, "bye"); });
    signingOut.setOnConnection([](QWebSocket& socket) {
        socket.close(QWebSocketProtocol::CloseCode(kSessionEndedCloseCode), "Signed out");
    });
    const auto root = [](const ScriptedResponder& r) {
        return NetworkClient::webSocketUrl(r.baseUrl()).resolved(QUrl("/"));
    };
    const struct {
        const char *name, *text;  // text: in the reason reported
        QUrl url;
        Outcome outcome;
    } cases[] = {{"nobody listens", "", unreachableUrl("ws"), Outcome::retrying},
                 {"refused", "404", NetworkClient::webSocketUrl(notFound.baseUrl()), Outcome::retrying},
                 {"closed", "bye", closing.url(), Outcome::retrying},
                 {"token refused", "401", root(unauthorized), Outcome::sessionEnded},
                 {"room refused", "403", root(forbidden), Outcome::refused},
                 {"signed out", "Signed out", signingOut.url(), Outcome::sessionEnded}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Client t(c.url);
        t.client.connect("dm:a:b", "T", "#12AB9F");
        EXPECT_EQ(t.kinds(), "o") << "published before the handshake";
        ASSERT_TRUE(runUntil([&] { return t.kinds() == "oc"; }));
        const auto& closed = std::get<NetworkEvent::Closed>(t.events.at(1).value);
        EXPECT_TRUE(!closed.text.empty() && closed.text.find(c.text) != std::string::npos) << closed.text;
        EXPECT_EQ(closed.outcome, c.outcome);
        if (c.outcome != Outcome::retrying) {
            runFor(std::chrono::milliseconds(50));
            EXPECT_FALSE(t.pause->isActive() || t.client.shouldReconnect()) << "it would fail the same way";
            continue;
        }
        ASSERT_TRUE(t.pause->isActive());
        EXPECT_TRUE(*t.pause->requested >= std::chrono::milliseconds(1200) &&
                    *t.pause->requested <= std::chrono::milliseconds(1800));
        t.pause->elapse();
        ASSERT_TRUE(runUntil([&] { return t.pause->isActive(); }));
        EXPECT_EQ(t.kinds(), "ococ");
        t.client.disconnect();
        EXPECT_FALSE(t.pause->isActive());
    }
    ASSERT_EQ(closing.connectionCount(), 2);
    EXPECT_EQ(closing.peer(1).requestUrl, closing.peer(0).requestUrl);
    EXPECT_EQ(closing.peer(0).authorization, "Bearer T");
}

TEST(NetworkClient, dropsWhatItCannotReadKeepsTheOrderAndEndsAConnectionOverTheLimit) {
    const auto padded = [](double x, std::size_t size) {
        QByteArray json = cursorJson(x).toUtf8();
        return json + QByteArray(qsizetype(size) - json.size(), ' ');
    };
    ScriptedServer server;
    server.setOnConnection([&](QWebSocket& socket) {
        for (const char* junk : {"not json", R"({"type":"ping"})"})
            socket.sendTextMessage(QString::fromUtf8(junk));
        socket.sendBinaryMessage(QByteArray("\xff\xfe\x00garbage", 10));
        for (int i = 0; i < 20; ++i) {
            i % 2 ? socket.sendBinaryMessage(cursorJson(i / 20.0).toUtf8())
                  : socket.sendTextMessage(cursorJson(i / 20.0));
        }
        // Decoded on a worker: the small one after it must still come second.
        socket.sendBinaryMessage(padded(0.75, kMaxMessageBytes));
        socket.sendTextMessage(cursorJson(0.25));
        socket.sendTextMessage(QString::fromUtf8(padded(0.5, kMaxMessageBytes + 1)));
        socket.sendTextMessage(R"({"type":"canvas_cleared","userId":"u2"})");
    });
    Client t(server.url());
    std::vector<std::pair<bool, std::size_t>> pending;  // and how many events had come by then
    QObject::connect(&t.client, &NetworkClient::largeMessagePending,
                     [&](bool on) { pending.emplace_back(on, t.events.size()); });
    t.client.connect("solo:u1", "T", "#12AB9F");
    // Two messages of 8 MiB take a while under the sanitizers on a busy machine.
    ASSERT_TRUE(runUntil([&] { return t.kinds().back() == 'c'; }, std::chrono::minutes(2)));
    EXPECT_EQ(t.kinds(), "o" + std::string(22, 'x') + "c");
    for (std::size_t i = 1; i <= 20; ++i) EXPECT_EQ(t.x(i), (i - 1) / 20.0) << i;
    EXPECT_EQ(std::pair(t.x(21), t.x(22)), std::pair(0.75, 0.25));
    // Pending from the large one's arrival until it and all queued behind it are out, once (the
    // clear may come before or after the decode ends).
    ASSERT_EQ(pending.size(), 2u);
    EXPECT_EQ(pending[0], std::pair(true, std::size_t{21}));
    EXPECT_EQ(pending[1].first, false);
    EXPECT_GE(pending[1].second, 23u);
}

TEST(NetworkClient, sendsWhatWasQueuedDuringTheHandshakeInOrderConfirmsAndClosesNormallyOnLeaving) {
    ScriptedServer server;
    Client t(server.url());
    t.client.connect("solo:u1", "T", "#12AB9F");
    const std::vector<ClientMessage> sent{ClientMessage::cursor(0.1, 0.2), ClientMessage::strokeEnd("S-1"),
                                          ClientMessage::setPage(std::nullopt), ClientMessage::clearCanvas()};
    // A cursor at NaN cannot be encoded and is dropped.
    for (const auto& message : {sent[0], sent[1], ClientMessage::cursor(std::nan(""), 0), sent[2], sent[3]})
        t.client.send(message);
    ASSERT_TRUE(
        runUntil([&] { return server.connectionCount() == 1 && server.peer(0).received.size() == 4; }));
    for (std::size_t i = 0; i < sent.size(); ++i) {
        const QByteArray bytes = server.peer(0).received.at(qsizetype(i)).toUtf8();
        EXPECT_EQ(decodeClientMessage(std::string_view(bytes.constData(), std::size_t(bytes.size()))),
                  sent[i])
            << i;
    }
    // The server confirms it has read everything sent before the request.
    std::vector<quint64> receipts;
    QObject::connect(&t.client, &NetworkClient::receipt, [&](quint64 id) { receipts.push_back(id); });
    t.client.requestReceipt(7);
    EXPECT_TRUE(runUntil([&] { return receipts == std::vector<quint64>{7}; }));

    // Switching rooms and leaving close normally; nothing of a closed connection is published.
    t.client.connect("dm:u1:u2", "T", "#12AB9F");
    ASSERT_TRUE(runUntil([&] { return server.connectionCount() == 2 && server.peer(0).closed; }));
    t.client.disconnect();
    ASSERT_TRUE(runUntil([&] { return server.peer(1).closed; }));
    EXPECT_EQ(server.peer(0).closeCode, QWebSocketProtocol::CloseCodeNormal);
    EXPECT_EQ(server.peer(1).closeCode, QWebSocketProtocol::CloseCodeNormal);
    EXPECT_EQ(t.kinds(), "oo");
    EXPECT_FALSE(t.pause->isActive());
}

}  // namespace
}  // namespace vellumora
