// The session model over a real WebSocket connection to a scripted server: room switches,
// leaving while a reconnect is pending, and the model going away while connected.

#include <QTest>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <memory>

#include "support/qt_printers.h"
#include "support/scripted_server.h"
#include "session/session_model.h"
#include "session_log.h"

namespace vellumora {
namespace {

using testing::ScriptedServer;
using testing::SessionLog;

const QString kRoomState = QStringLiteral(
    R"({"type":"room_state","strokes":[],"peers":[{"userId":"B","name":"Bob","color":"#222222"}],)"
    R"("you":{"userId":"A"},"page":null})");

QUrl httpUrl(const ScriptedServer& server) {
    QUrl url = server.url();
    url.setScheme(QStringLiteral("http"));
    return url;
}

bool waitFor(const std::function<bool()>& condition) {
    return QTest::qWaitFor(condition, 10000);
}

TEST(SessionConnection, switchingRoomsNeverShowsTheOldConnectionAsFailed) {
    ScriptedServer server;
    server.setOnConnection([](QWebSocket& socket) { socket.sendTextMessage(kRoomState); });
    SessionModel model(httpUrl(server));
    SessionLog log(model);
    model.setCurrentToken(QStringLiteral("T"));

    model.switchRoom("solo:A", "Sketchbook");
    ASSERT_TRUE(waitFor([&] { return log.canvas.size() == 1; }));
    model.switchRoom("dm:A:B", "Bob");
    ASSERT_TRUE(waitFor([&] { return log.canvas.size() == 2; }));
    ASSERT_TRUE(waitFor([&] { return server.peer(0).closed; }));
    QTest::qWait(200);

    for (const ConnectionState& state : log.states) {
        EXPECT_FALSE(state.isFailed()) << state.reason().toStdString();
    }
    EXPECT_EQ(model.connectionState(), ConnectionState::connected());
    EXPECT_EQ(model.peerCount(), 1);
    EXPECT_EQ(QUrlQuery(server.last().requestUrl).queryItemValue("room"), "dm:A:B");
    EXPECT_EQ(QUrlQuery(server.last().requestUrl).queryItemValue("color", QUrl::FullyDecoded),
              model.userColorHex());
}

TEST(SessionConnection, clearAuthWhileAReconnectIsPendingStaysDisconnected) {
    ScriptedServer server;
    server.setOnConnection([](QWebSocket& socket) { socket.close(QWebSocketProtocol::CloseCodeGoingAway); });
    SessionModel model(httpUrl(server));
    model.setCurrentToken(QStringLiteral("T"));

    model.switchRoom("solo:A", "Sketchbook");
    ASSERT_TRUE(waitFor([&] { return model.connectionState().isFailed(); }));
    ASSERT_TRUE(model.network().isReconnectPending());
    model.clearAuth();
    QTest::qWait(int(NetworkClient::kReconnectDelay.count()) + 500);

    EXPECT_EQ(model.connectionState(), ConnectionState::disconnected());
    EXPECT_EQ(server.connectionCount(), 1);
}

TEST(SessionConnection, theModelMayGoAwayWhileConnected) {
    ScriptedServer server;
    server.setOnConnection([](QWebSocket& socket) { socket.sendTextMessage(kRoomState); });
    auto model = std::make_unique<SessionModel>(httpUrl(server));
    SessionLog log(*model);
    model->setCurrentToken(QStringLiteral("T"));
    model->switchRoom("solo:A", "Sketchbook");
    ASSERT_TRUE(waitFor([&] { return log.canvas.size() == 1; }));

    QPointer<QWebSocket> serverSide = server.last().socket;
    model.reset();
    if (serverSide) {
        serverSide->sendTextMessage(kRoomState);
    }
    EXPECT_TRUE(waitFor([&] { return server.last().closed; }));
    QTest::qWait(100);
    EXPECT_EQ(log.canvas.size(), 1U);
}

}  // namespace
}  // namespace vellumora
