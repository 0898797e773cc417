// Two sessions in one room of a real vellumora-server over loopback.

#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTest>
#include <QUuid>

#include <gtest/gtest.h>

#include <memory>

#include "support/qt_printers.h"
#include "session/session_model.h"
#include "session_log.h"
#include "support/server_process.h"

namespace vellumora {
namespace {

using testing::SessionLog;

bool waitFor(const std::function<bool()>& condition, int timeoutMs = 10000) {
    return QTest::qWaitFor(condition, timeoutMs);
}

// Accounts and friendships over the server's REST API.
class Rest {
  public:
    explicit Rest(QUrl baseUrl) : baseUrl_(std::move(baseUrl)) {}

    struct Account {
        AuthUser user;
        QString token;
    };

    Account signUp(const QString& username) {
        const QJsonObject answer =
            post("/auth/signup", {{"username", username}, {"password", "correct horse"}}, {});
        const QJsonObject user = answer.value("user").toObject();
        return {AuthUser{user.value("id").toString(), user.value("username").toString(),
                         user.value("displayName").toString()},
                answer.value("token").toString()};
    }

    void befriend(const Account& from, const Account& to) {
        post("/friends/request", {{"username", to.user.username}}, from.token);
        post("/friends/accept", {{"requesterId", from.user.id}}, to.token);
    }

  private:
    QJsonObject post(const QString& path, const QJsonObject& body, const QString& token) {
        QUrl url = baseUrl_;
        url.setPath(path);
        QNetworkRequest request(url);
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
        if (!token.isEmpty()) {
            request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
        }
        std::unique_ptr<QNetworkReply> reply(manager_.post(request, QJsonDocument(body).toJson()));
        QEventLoop loop;
        QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        const QByteArray answer = reply->readAll();
        EXPECT_EQ(reply->error(), QNetworkReply::NoError)
            << path.toStdString() << ": " << answer.toStdString();
        return QJsonDocument::fromJson(answer).object();
    }

    QUrl baseUrl_;
    QNetworkAccessManager manager_;
};

// One participant: a session model signed in and watched.
struct Participant {
    Participant(const QUrl& baseUrl, const Rest::Account& account)
        : model(std::make_unique<SessionModel>(baseUrl)), log(*model) {
        model->setCurrentUser(account.user);
        model->setCurrentToken(account.token);
    }
    QString id() const { return model->currentUserId(); }
    int roomStates() const {
        int n = 0;
        for (const CanvasEvent& event : log.canvas) {
            n += std::holds_alternative<CanvasEvent::RoomState>(event.value) ? 1 : 0;
        }
        return n;
    }

    std::unique_ptr<SessionModel> model;
    SessionLog log;
};

class SessionRoomTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Rest rest(baseUrl);
        const Rest::Account ann = rest.signUp("ann_" + suffix());
        const Rest::Account bob = rest.signUp("bob_" + suffix());
        ASSERT_FALSE(ann.token.isEmpty());
        ASSERT_FALSE(bob.token.isEmpty());
        rest.befriend(ann, bob);
        room = QStringLiteral("dm:%1:%2")
                   .arg(std::min(ann.user.id, bob.user.id), std::max(ann.user.id, bob.user.id));
        a = std::make_unique<Participant>(baseUrl, ann);
        b = std::make_unique<Participant>(baseUrl, bob);
    }

    // Both in the room, each having seen the other arrive.
    void enterBoth() {
        a->model->switchRoom(room, "Bob");
        ASSERT_TRUE(waitFor([&] { return a->roomStates() == 1; }));
        b->model->switchRoom(room, "Ann");
        ASSERT_TRUE(waitFor([&] { return b->roomStates() == 1 && a->model->peerCount() == 1; }));
    }

    static QString suffix() { return QUuid::createUuid().toString(QUuid::Id128).left(8); }

    vellumora::testing::ServerProcess server{{{"--auth-rate-limit", "0"}, {}, 0}};
    QUrl baseUrl{QString::fromStdString(server.baseUrl())};
    QString room;
    std::unique_ptr<Participant> a;
    std::unique_ptr<Participant> b;
};

StrokeStartPayload strokeBy(const QString& userId) {
    return {QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString(),
            userId.toStdString(),
            Tool::crayon,
            WireColor{0.86, 0.18, 0.18, 1.0},
            4.5,
            StrokePoint{0.1, 0.2, 1.0, 1733400000.25}};
}

TEST_F(SessionRoomTest, participantsSeeEachOthersArrivalColoursStrokesCursorsPagesAndClears) {
    enterBoth();
    EXPECT_EQ(a->model->connectionState(), ConnectionState::connected());
    EXPECT_EQ(b->model->peerCount(), 1);
    EXPECT_EQ(b->model->peerColorById().value(a->id()), a->model->userColorHex());
    EXPECT_EQ(a->model->peerColorById().value(b->id()), b->model->userColorHex());

    // A stroke travels as canvas events, point by point, in order.
    const StrokeStartPayload start = strokeBy(a->id());
    const std::vector<StrokePoint> points{{0.11, 0.21, 1.0, 1733400000.3}, {0.12, 0.22, 1.0, 1733400000.35}};
    a->model->network().send(ClientMessage::strokeStart(start));
    for (const StrokePoint& point : points) {
        a->model->network().send(ClientMessage::strokePoint(start.id, point));
    }
    a->model->network().send(ClientMessage::strokeEnd(start.id));
    ASSERT_TRUE(waitFor([&] { return b->log.canvas.size() == 5; }));
    const std::vector<CanvasEvent> expected{
        {CanvasEvent::PeerStrokeStart{start.userId, start.header(), start.point}},
        {CanvasEvent::PeerStrokePoint{start.userId, start.id, points[0]}},
        {CanvasEvent::PeerStrokePoint{start.userId, start.id, points[1]}},
        {CanvasEvent::PeerStrokeEnd{start.userId, start.id}},
    };
    EXPECT_EQ(std::vector<CanvasEvent>(b->log.canvas.begin() + 1, b->log.canvas.end()), expected);

    // Cursors carry the colour each participant announced.
    a->model->network().send(ClientMessage::cursor(0.3, 0.4));
    b->model->network().send(ClientMessage::cursor(0.6, 0.7));
    ASSERT_TRUE(waitFor([&] {
        return b->model->peerCursors().contains(a->id()) && a->model->peerCursors().contains(b->id());
    }));
    EXPECT_EQ(b->model->peerCursors().value(a->id()),
              (PeerCursor{a->id(), 0.3, 0.4, a->model->userColorHex()}));
    EXPECT_EQ(a->model->peerCursors().value(b->id()),
              (PeerCursor{b->id(), 0.6, 0.7, b->model->userColorHex()}));

    // A page set by one is adopted by the other, image bytes and all.
    const CurrentPage page{"import-" + QUuid::createUuid().toString(QUuid::WithoutBraces), "Fox",
                           QByteArray("\x89PNG\r\n\x1a\n fake image bytes", 25)};
    a->model->setCurrentPage(page);
    a->model->network().send(ClientMessage::setPage(toWirePage(page)));
    ASSERT_TRUE(waitFor([&] { return b->model->currentPage().has_value(); }));
    EXPECT_EQ(b->model->currentPage(), page);
    EXPECT_EQ(b->log.canvas.back(), CanvasEvent{CanvasEvent::PageChanged{toWirePage(page)}});

    // A clear reaches the other side; nobody sees their own messages again.
    b->model->network().send(ClientMessage::clearCanvas());
    ASSERT_TRUE(waitFor([&] { return a->log.canvas.size() == 2; }));
    EXPECT_EQ(a->log.canvas.back(), CanvasEvent{CanvasEvent::CanvasCleared{}});
    QTest::qWait(200);
    EXPECT_EQ(a->log.canvas.size(), 2U);
    EXPECT_EQ(b->log.canvas.size(), 6U);

    // Leaving is announced.
    b->model->clearAuth();
    ASSERT_TRUE(waitFor([&] { return a->model->peerCount() == 0; }));
    EXPECT_FALSE(a->model->peerColorById().contains(b->id()));
    EXPECT_FALSE(a->model->peerCursors().contains(b->id()));
}

TEST_F(SessionRoomTest, aRestartedServerIsRejoinedWithAFreshRoomStateAndNothingDuplicated) {
    enterBoth();
    const StrokeStartPayload start = strokeBy(a->id());
    a->model->network().send(ClientMessage::strokeStart(start));
    a->model->network().send(ClientMessage::strokePoint(start.id, StrokePoint{0.5, 0.5, 1.0, 1733400001}));
    a->model->network().send(ClientMessage::strokeEnd(start.id));
    ASSERT_TRUE(waitFor([&] { return b->log.canvas.size() == 4; }));

    server.stop();
    ASSERT_TRUE(waitFor(
        [&] { return a->model->connectionState().isFailed() && b->model->connectionState().isFailed(); }));
    EXPECT_FALSE(a->model->connectionState().reason().isEmpty());
    EXPECT_EQ(a->model->peerCount(), 0);
    EXPECT_TRUE(a->model->peerColorById().contains(b->id())) << "peer colours outlive the failure";

    server.start();
    QElapsedTimer sinceRestart;
    sinceRestart.start();
    ASSERT_TRUE(waitFor([&] { return a->roomStates() == 2 && b->roomStates() == 2; }, 8000));
    const qint64 rejoinMs = sinceRestart.elapsed();
    std::cout << "[ measure  ] both rejoined " << rejoinMs << " ms after the server accepted again\n";
    EXPECT_LE(rejoinMs, NetworkClient::kReconnectDelay.count() + 1000);
    ASSERT_TRUE(waitFor([&] { return a->model->peerCount() == 1 && b->model->peerCount() == 1; }));

    EXPECT_EQ(a->model->connectionState(), ConnectionState::connected());
    EXPECT_EQ(b->model->connectionState(), ConnectionState::connected());
    const auto& fresh = std::get<CanvasEvent::RoomState>(b->log.canvas.back().value);
    ASSERT_EQ(fresh.strokes.size(), 1U) << "the stroke comes back once";
    EXPECT_EQ(fresh.strokes[0].id, start.id);
    EXPECT_EQ(fresh.strokes[0].points.size(), 2U);
    EXPECT_TRUE(fresh.strokes[0].complete);

    // Still one connection each: a message arrives once.
    QTest::qWait(int(NetworkClient::kReconnectDelay.count()));
    const std::size_t canvasBefore = b->log.canvas.size();
    a->model->network().send(ClientMessage::clearCanvas());
    ASSERT_TRUE(waitFor([&] { return b->log.canvas.size() == canvasBefore + 1; }));
    QTest::qWait(200);
    EXPECT_EQ(b->log.canvas.size(), canvasBefore + 1);
    EXPECT_EQ(a->model->peerCount(), 1);
}

}  // namespace
}  // namespace vellumora
