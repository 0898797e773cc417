// The client against scripted servers that refuse, close, send garbage, binary frames and
// oversized messages.

#include <QTest>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "event_recorder.h"
#include "net/network_client.h"
#include "support/qt_printers.h"
#include "support/scripted_server.h"

namespace vellumora {
namespace {

using testing::closedPortUrl;
using testing::EventRecorder;
using testing::RefusingServer;
using testing::ScriptedServer;
using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kDelay = 150ms;
// PreciseTimer may still fire a millisecond early.
constexpr qint64 kTimerSlackMs = 2;

QString cursorJson(double x, double y = 0.5) {
    return QStringLiteral(R"({"type":"cursor","userId":"u2","x":%1,"y":%2})")
        .arg(x, 0, 'g', 17)
        .arg(y, 0, 'g', 17);
}

const QString kCleared = QStringLiteral(R"({"type":"canvas_cleared","userId":"u2"})");

double cursorX(const NetworkEvent& event) {
    return std::get<NetworkEvent::Cursor>(event.value).x;
}

// Kinds strictly alternate opened, closed, opened, ... and each reopening waits the delay.
void expectRetryRhythm(const EventRecorder& recorder, std::chrono::milliseconds delay) {
    const std::vector<std::string> kinds = recorder.kinds();
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        EXPECT_EQ(kinds[i], i % 2 == 0 ? "opened" : "closed") << "event " << i;
        if (i % 2 == 0 && i > 0) {
            EXPECT_GE(recorder.times[i] - recorder.times[i - 1], delay.count() - kTimerSlackMs)
                << "event " << i;
        }
    }
}

TEST(NetworkClientFaults, aPortNobodyListensOnIsRetriedAfterTheDelayOneAttemptAtATime) {
    NetworkClient client(closedPortUrl(), kDelay);
    EventRecorder recorder(client);

    client.connect("solo:u1", "T", "#12AB9F");
    ASSERT_EQ(recorder.kinds(), std::vector<std::string>{"opened"}) << "opened is published at once";

    ASSERT_TRUE(recorder.waitFor("closed", 4));
    expectRetryRhythm(recorder, kDelay);
    EXPECT_FALSE(std::get<NetworkEvent::Closed>(recorder.events[1].value).text.empty());
    EXPECT_TRUE(client.shouldReconnect());
}

TEST(NetworkClientFaults, aRefusedHandshakeIsReportedAndRetried) {
    RefusingServer server;
    NetworkClient client(server.url(), kDelay);
    EventRecorder recorder(client);

    client.connect("solo:u1", "bad-token", "#12AB9F");
    ASSERT_TRUE(recorder.waitFor("closed", 3));
    expectRetryRhythm(recorder, kDelay);
    EXPECT_GE(server.attempts(), 3);
    for (const NetworkEvent& event : recorder.events) {
        if (const auto* closed = std::get_if<NetworkEvent::Closed>(&event.value)) {
            EXPECT_NE(closed->text.find("401"), std::string::npos) << closed->text;
        }
    }
}

TEST(NetworkClientFaults, reconnectsOneAndAHalfSecondsAfterAFailureByDefault) {
    NetworkClient client(closedPortUrl());
    EventRecorder recorder(client);

    client.connect("solo:u1", "T", "#12AB9F");
    ASSERT_TRUE(recorder.waitFor("opened", 2, 6s));
    ASSERT_EQ(recorder.kinds(), (std::vector<std::string>{"opened", "closed", "opened"}));
    const qint64 pause = recorder.times[2] - recorder.times[1];
    EXPECT_GE(pause, 1500 - kTimerSlackMs);
    EXPECT_LT(pause, 4000);
}

TEST(NetworkClientFaults, aCloseByTheServerReopensTheSameRoom) {
    ScriptedServer server;
    server.setOnConnection([&](QWebSocket& socket) {
        if (server.connectionCount() == 1) {
            socket.close(QWebSocketProtocol::CloseCodeNormal, QStringLiteral("bye"));
        } else {
            socket.sendTextMessage(kCleared);
        }
    });
    NetworkClient client(server.url(), kDelay);
    EventRecorder recorder(client);

    client.connect("dm:a:b", "T", "#12AB9F");
    ASSERT_TRUE(recorder.waitFor("canvasCleared"));
    EXPECT_EQ(recorder.kinds(), (std::vector<std::string>{"opened", "closed", "opened", "canvasCleared"}));
    ASSERT_EQ(server.connectionCount(), 2);
    EXPECT_EQ(server.peer(1).requestUrl, server.peer(0).requestUrl);
    EXPECT_EQ(QUrlQuery(server.peer(1).requestUrl).queryItemValue("room"), "dm:a:b");
    EXPECT_EQ(QUrlQuery(server.peer(1).requestUrl).queryItemValue("color", QUrl::FullyDecoded), "#12AB9F");
}

TEST(NetworkClientFaults, garbageIsDroppedAndTheConnectionStaysOpen) {
    ScriptedServer server;
    server.setOnConnection([](QWebSocket& socket) {
        for (const char* junk : {"not json", "", "[]", "{}", R"({"type":42})", R"({"type":"ping"})",
                                 R"({"type":"Cursor","userId":"u2","x":0.1,"y":0.1})",
                                 R"({"type":"cursor","userId":"u2","x":"0.1","y":0.1})",
                                 R"({"type":"stroke_start","userId":"u2","stroke":{"id":"S","userId":"u2",)"
                                 R"("tool":"marker","color":{"r":0,"g":0,"b":0,"a":1},"brushSize":3,)"
                                 R"("point":{"x":0,"y":0,"pressure":1,"t":0}}})"}) {
            socket.sendTextMessage(QString::fromUtf8(junk));
        }
        socket.sendBinaryMessage(QByteArray("\xff\xfe\x00garbage", 10));
        socket.sendTextMessage(cursorJson(0.25));
        socket.sendTextMessage(kCleared);
    });
    NetworkClient client(server.url(), kDelay);
    EventRecorder recorder(client);

    client.connect("solo:u1", "T", "#12AB9F");
    ASSERT_TRUE(recorder.waitFor("canvasCleared"));
    QTest::qWait(int(kDelay.count()) * 2);
    EXPECT_EQ(recorder.kinds(), (std::vector<std::string>{"opened", "cursor", "canvasCleared"}));
    EXPECT_EQ(cursorX(recorder.events[1]), 0.25);
    EXPECT_FALSE(server.last().closed);
    EXPECT_EQ(server.connectionCount(), 1);
}

TEST(NetworkClientFaults, textAndBinaryFramesArePublishedInArrivalOrder) {
    constexpr int kCount = 200;
    ScriptedServer server;
    server.setOnConnection([](QWebSocket& socket) {
        for (int i = 0; i < kCount; ++i) {
            const QString json = cursorJson(i / double(kCount));
            if (i % 2 == 0) {
                socket.sendTextMessage(json);
            } else {
                socket.sendBinaryMessage(json.toUtf8());
            }
        }
    });
    NetworkClient client(server.url(), kDelay);
    EventRecorder recorder(client);

    client.connect("solo:u1", "T", "#12AB9F");
    ASSERT_TRUE(recorder.waitFor("cursor", kCount));
    ASSERT_EQ(recorder.events.size(), std::size_t(kCount + 1));
    for (int i = 0; i < kCount; ++i) {
        EXPECT_EQ(cursorX(recorder.events[std::size_t(i + 1)]), i / double(kCount)) << i;
    }
}

TEST(NetworkClientFaults, aMessageOverEightMebibytesEndsTheConnectionAndOneAtTheLimitDoesNot) {
    const auto padded = [](std::size_t size) {
        QByteArray json = cursorJson(0.75).toUtf8();
        json.append(QByteArray(qsizetype(size) - json.size(), ' '));
        return json;
    };
    ScriptedServer server;
    server.setOnConnection([&](QWebSocket& socket) {
        if (server.connectionCount() == 1) {
            socket.sendBinaryMessage(padded(kMaxMessageBytes));
            socket.sendTextMessage(QString::fromUtf8(padded(kMaxMessageBytes + 1)));
            socket.sendTextMessage(kCleared);
        }
    });
    NetworkClient client(server.url(), kDelay);
    EventRecorder recorder(client);

    client.connect("solo:u1", "T", "#12AB9F");
    ASSERT_TRUE(recorder.waitFor("opened", 2));
    EXPECT_EQ(recorder.kinds(), (std::vector<std::string>{"opened", "cursor", "closed", "opened"}));
    EXPECT_EQ(cursorX(recorder.events[1]), 0.75);
    EXPECT_FALSE(std::get<NetworkEvent::Closed>(recorder.events[2].value).text.empty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.connectionCount() == 2; }, 5000));
}

TEST(NetworkClientFaults, nothingIsPublishedOrReopenedAfterDisconnect) {
    ScriptedServer server;
    server.setOnConnection([](QWebSocket& socket) { socket.sendTextMessage(kCleared); });
    NetworkClient client(server.url(), kDelay);
    EventRecorder recorder(client);

    client.connect("solo:u1", "T", "#12AB9F");
    ASSERT_TRUE(recorder.waitFor("canvasCleared"));
    QWebSocket* serverSide = server.last().socket;
    client.disconnect();
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.last().closed; }, 5000));
    EXPECT_EQ(server.last().closeCode, int(QWebSocketProtocol::CloseCodeNormal));
    if (serverSide) {
        serverSide->sendTextMessage(cursorJson(0.5));
    }
    QTest::qWait(int(kDelay.count()) * 3);

    EXPECT_EQ(recorder.kinds(), (std::vector<std::string>{"opened", "canvasCleared"}));
    EXPECT_EQ(server.connectionCount(), 1);
    EXPECT_FALSE(client.shouldReconnect());
    EXPECT_TRUE(client.connectionArgs()) << "the last room is remembered";
}

TEST(NetworkClientFaults, disconnectCancelsAPendingReconnect) {
    NetworkClient client(closedPortUrl(), kDelay);
    EventRecorder recorder(client);

    client.connect("solo:u1", "T", "#12AB9F");
    ASSERT_TRUE(recorder.waitFor("closed"));
    EXPECT_TRUE(client.isReconnectPending());
    client.disconnect();
    EXPECT_FALSE(client.isReconnectPending());
    QTest::qWait(int(kDelay.count()) * 3);
    EXPECT_EQ(recorder.kinds(), (std::vector<std::string>{"opened", "closed"}));
}

TEST(NetworkClientFaults, connectCancelsAPendingReconnectSoOnlyTheNewConnectionOpens) {
    ScriptedServer server;
    server.setOnConnection([&](QWebSocket& socket) {
        if (server.connectionCount() == 1) {
            socket.close();
        }
    });
    NetworkClient client(server.url(), kDelay);
    EventRecorder recorder(client);

    client.connect("solo:u1", "T", "#12AB9F");
    ASSERT_TRUE(recorder.waitFor("closed"));
    ASSERT_TRUE(client.isReconnectPending());
    client.connect("dm:u1:u2", "T", "#12AB9F");
    QTest::qWait(int(kDelay.count()) * 4);

    EXPECT_EQ(recorder.kinds(), (std::vector<std::string>{"opened", "closed", "opened"}));
    ASSERT_EQ(server.connectionCount(), 2);
    EXPECT_EQ(QUrlQuery(server.last().requestUrl).queryItemValue("room"), "dm:u1:u2");
    EXPECT_FALSE(server.last().closed);
}

TEST(NetworkClientFaults, switchingRoomsPublishesNothingForTheConnectionLeftBehind) {
    ScriptedServer server;
    server.setOnConnection([](QWebSocket& socket) { socket.sendTextMessage(kCleared); });
    NetworkClient client(server.url(), kDelay);
    EventRecorder recorder(client);

    client.connect("solo:u1", "T", "#12AB9F");
    ASSERT_TRUE(recorder.waitFor("canvasCleared"));
    client.connect("dm:u1:u2", "T", "#12AB9F");
    ASSERT_TRUE(recorder.waitFor("canvasCleared", 2));
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.peer(0).closed; }, 5000));
    QTest::qWait(int(kDelay.count()) * 3);

    EXPECT_EQ(recorder.kinds(),
              (std::vector<std::string>{"opened", "canvasCleared", "opened", "canvasCleared"}));
    EXPECT_EQ(server.peer(0).closeCode, int(QWebSocketProtocol::CloseCodeNormal));
    EXPECT_EQ(server.connectionCount(), 2);
}

TEST(NetworkClientFaults, messagesSentDuringTheHandshakeArriveInOrderOnceItIsOpen) {
    ScriptedServer server;
    NetworkClient client(server.url(), kDelay);

    client.connect("solo:u1", "T", "#12AB9F");
    const std::vector<ClientMessage> sent{ClientMessage::cursor(0.1, 0.2), ClientMessage::strokeEnd("S-1"),
                                          ClientMessage::setPage(std::nullopt), ClientMessage::clearCanvas()};
    client.send(sent[0]);
    client.send(sent[1]);
    client.send(ClientMessage::cursor(std::numeric_limits<double>::quiet_NaN(), 0));
    client.send(sent[2]);
    client.send(sent[3]);

    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return server.connectionCount() == 1 && server.last().received.size() >= 4; }, 5000));
    QTest::qWait(50);
    ASSERT_EQ(server.last().received.size(), 4) << "the unencodable message is dropped";
    for (std::size_t i = 0; i < sent.size(); ++i) {
        const QByteArray bytes = server.last().received.at(qsizetype(i)).toUtf8();
        EXPECT_EQ(decodeClientMessage(std::string_view(bytes.constData(), std::size_t(bytes.size()))),
                  sent[i])
            << i;
    }

    client.send(ClientMessage::cursor(0.9, 0.9));
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.last().received.size() == 5; }, 5000));
}

TEST(NetworkClientFaults, messagesSentWhileTheConnectionIsDownAreLostNotReplayed) {
    ScriptedServer server;
    server.setOnConnection([&](QWebSocket& socket) {
        if (server.connectionCount() == 1) {
            socket.close();
        } else {
            socket.sendTextMessage(kCleared);
        }
    });
    NetworkClient client(server.url(), kDelay);
    EventRecorder recorder(client);

    client.connect("solo:u1", "T", "#12AB9F");
    ASSERT_TRUE(recorder.waitFor("closed"));
    client.send(ClientMessage::cursor(0.1, 0.1));
    ASSERT_TRUE(recorder.waitFor("canvasCleared"));
    client.send(ClientMessage::cursor(0.2, 0.2));

    ASSERT_TRUE(QTest::qWaitFor([&] { return server.last().received.size() == 1; }, 5000));
    QTest::qWait(50);
    EXPECT_EQ(server.connectionCount(), 2);
    EXPECT_TRUE(server.peer(0).received.isEmpty());
    ASSERT_EQ(server.last().received.size(), 1);
    const QByteArray bytes = server.last().received.first().toUtf8();
    EXPECT_EQ(decodeClientMessage(std::string_view(bytes.constData(), std::size_t(bytes.size()))),
              ClientMessage::cursor(0.2, 0.2));
}

TEST(NetworkClientFaults, aSubscriberThatLeavesOnOpenedStopsTheConnection) {
    ScriptedServer server;
    NetworkClient client(server.url(), kDelay);
    EventRecorder recorder(client);
    QObject context;
    QObject::connect(&client, &NetworkClient::events, &context, [&](const NetworkEvent& event) {
        if (std::holds_alternative<NetworkEvent::Opened>(event.value)) {
            client.disconnect();
        }
    });

    client.connect("solo:u1", "T", "#12AB9F");
    QTest::qWait(int(kDelay.count()) * 3);
    EXPECT_EQ(recorder.kinds(), std::vector<std::string>{"opened"});
    EXPECT_EQ(server.connectionCount(), 0);
}

}  // namespace
}  // namespace vellumora
