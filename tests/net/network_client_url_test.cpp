#include <QUrlQuery>

#include <gtest/gtest.h>

#include "net/network_client.h"
#include "support/qt_printers.h"

namespace vellumora {
namespace {

using Args = NetworkClient::ConnectionArgs;

TEST(NetworkClientUrl, derivesTheWebSocketFormOfTheBaseUrl) {
    const struct {
        const char* base;
        const char* expected;
    } cases[] = {
        {"https://draw.example.org/", "wss://draw.example.org/"},
        {"http://127.0.0.1:8787", "ws://127.0.0.1:8787"},
        {"https://draw.example.org:9443/rooms/api", "wss://draw.example.org:9443/rooms/api"},
        {"http://h/p?x=1", "ws://h/p?x=1"},
        {"wss://already.example.org/", "wss://already.example.org/"},
        {"ftp://files.example.org/x", "ftp://files.example.org/x"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NetworkClient::webSocketUrl(QUrl(QString::fromLatin1(c.base))).toString(),
                  QString::fromLatin1(c.expected))
            << c.base;
    }
}

TEST(NetworkClientUrl, replacesTheQueryWithRoomTokenAndColour) {
    const struct {
        const char* server;
        Args args;
        const char* expected;
    } cases[] = {
        {"wss://h.example/",
         {"solo:u1", "T", "#12AB9F"},
         "wss://h.example/?room=solo:u1&token=T&color=%2312AB9F"},
        {"ws://127.0.0.1:8787",
         {"dm:a:b", "abc-_", "#000000"},
         "ws://127.0.0.1:8787?room=dm:a:b&token=abc-_&color=%23000000"},
        {"wss://h/base/path?old=1&room=x#frag",
         {"solo:u1", "T", "#12AB9F"},
         "wss://h/base/path?room=solo:u1&token=T&color=%2312AB9F#frag"},
    };
    for (const auto& c : cases) {
        const std::optional<QUrl> url =
            NetworkClient::connectionUrl(QUrl(QString::fromLatin1(c.server)), c.args);
        ASSERT_TRUE(url) << c.server;
        EXPECT_EQ(url->toString(QUrl::FullyEncoded), QString::fromLatin1(c.expected)) << c.server;
    }
}

TEST(NetworkClientUrl, valuesWithQueryDelimitersReachTheServerIntact) {
    const Args args{"solo:a&b=c", "to+ken/with?odd#chars", "#ABCDEF"};
    const std::optional<QUrl> url = NetworkClient::connectionUrl(QUrl("ws://h/"), args);
    ASSERT_TRUE(url);
    const QString query = url->query(QUrl::FullyEncoded);
    EXPECT_FALSE(query.contains(QLatin1Char('+'))) << query.toStdString();
    EXPECT_FALSE(query.contains(QLatin1Char('#'))) << query.toStdString();

    const QUrlQuery parsed(*url);
    EXPECT_EQ(parsed.queryItems(QUrl::FullyDecoded).size(), 3);
    EXPECT_EQ(parsed.queryItemValue("room", QUrl::FullyDecoded), args.room);
    EXPECT_EQ(parsed.queryItemValue("token", QUrl::FullyDecoded), args.token);
    EXPECT_EQ(parsed.queryItemValue("color", QUrl::FullyDecoded), args.color);
}

TEST(NetworkClientUrl, anUnusableServerUrlGivesNoConnectionUrl) {
    EXPECT_FALSE(NetworkClient::connectionUrl(QUrl(), {"r", "t", "#000000"}));
    EXPECT_FALSE(NetworkClient::connectionUrl(QUrl("ws:///nohost"), {"r", "t", "#000000"}));
}

TEST(NetworkClient, anIdleClientDropsMessagesAndPublishesNothing) {
    NetworkClient client(QUrl("ws://127.0.0.1:1/"));
    int published = 0;
    QObject::connect(&client, &NetworkClient::events, &client, [&](const NetworkEvent&) { ++published; });
    client.send(ClientMessage::cursor(0.5, 0.5));
    client.send(ClientMessage::clearCanvas());
    client.disconnect();
    EXPECT_EQ(published, 0);
    EXPECT_FALSE(client.shouldReconnect());
    EXPECT_FALSE(client.isReconnectPending());
    EXPECT_FALSE(client.connectionArgs());
}

TEST(NetworkClient, aServerUrlThatCannotCarryTheRoomOpensNothing) {
    NetworkClient client(QUrl("ws:///nohost"));
    int published = 0;
    QObject::connect(&client, &NetworkClient::events, &client, [&](const NetworkEvent&) { ++published; });
    client.connect("solo:u1", "T", "#12AB9F");
    EXPECT_EQ(published, 0);
    EXPECT_FALSE(client.isReconnectPending());
    EXPECT_EQ(client.connectionArgs(), (NetworkClient::ConnectionArgs{"solo:u1", "T", "#12AB9F"}));
}

}  // namespace
}  // namespace vellumora
