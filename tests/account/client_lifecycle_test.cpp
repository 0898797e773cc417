// The whole client against a real vellumora-server over loopback, with tokens in the real
// keyring of the test session: two people sign up, become friends, colour together in their
// room, and sign out.

#include <QUuid>

#include <gtest/gtest.h>

#include "account/auth_client.h"
#include "account/auth_model.h"
#include "account/token_store.h"
#include "session/session_model.h"
#include "support/qt_printers.h"
#include "support/qt_test_app.h"
#include "support/server_process.h"

namespace vellumora {
namespace {

using namespace std::chrono_literals;
using testing::await;
using testing::runUntil;

// One person on one machine: the account with a keychain item of its own, and the session.
struct Person {
    explicit Person(const QUrl& base)
        : account(AuthModelConfig{base, service, TokenStore::defaultKey(), 1h}), session(base) {
        QObject::connect(&session, &SessionModel::canvasEvents, &session,
                         [this](const CanvasEvent& event) { canvas.push_back(event); });
    }
    ~Person() {
        TokenStore store(service, TokenStore::defaultKey());
        await([&](auto done) { store.deleteToken(done); });
    }
    QString id() const { return account.signedIn() ? account.signedIn()->user.id : QString(); }
    std::optional<QString> storedToken() const {
        TokenStore store(service, TokenStore::defaultKey());
        return testing::resultOf<std::optional<QString>>([&](auto done) { store.loadToken(done); })
            .value_or(std::nullopt);
    }
    void enter(const QString& room) {
        session.setCurrentUser(account.signedIn()->user);
        session.setCurrentToken(account.signedIn()->token);
        session.switchRoom(room, "Room");
    }
    long roomStates() const {
        return std::count_if(canvas.begin(), canvas.end(), [](const CanvasEvent& e) {
            return std::holds_alternative<CanvasEvent::RoomState>(e.value);
        });
    }

    const QString name = "u" + QUuid::createUuid().toString(QUuid::Id128).left(12);
    const QString service = "com.vellumora.test." + QUuid::createUuid().toString(QUuid::WithoutBraces);
    AuthModel account;
    SessionModel session;
    std::vector<CanvasEvent> canvas;
};

TEST(ClientLifecycle, signUpBefriendColourTogetherAndSignOut) {
    testing::ServerProcess server({{"--auth-rate-limit", "0"}, {}, 0});
    const QUrl base(QString::fromStdString(server.baseUrl()));
    Person ann(base);
    Person bo(base);
    for (Person* p : {&ann, &bo}) {
        ASSERT_TRUE(await([&](auto done) { p->account.signup(p->name, "correct horse", done); }));
        ASSERT_NE(p->account.signedIn(), nullptr) << p->account.errorMessage().value_or("").toStdString();
        EXPECT_EQ(p->storedToken(), p->account.signedIn()->token);
    }

    // A request, accepted on the other side, makes friends on both.
    std::optional<QString> sent;
    ann.account.sendFriendRequest(bo.name, [&](QString text) { sent = text; });
    ASSERT_TRUE(runUntil([&] { return sent.has_value(); }));
    EXPECT_EQ(*sent, "Request sent to " + bo.name + ".");
    ASSERT_TRUE(await([&](auto done) { bo.account.refreshFriends(done); }));
    ASSERT_EQ(bo.account.pendingRequests().size(), 1);
    EXPECT_EQ(bo.account.pendingRequests().front().requesterId, ann.id());
    ASSERT_TRUE(await([&](auto done) { bo.account.accept(ann.id(), done); }));
    ASSERT_TRUE(await([&](auto done) { ann.account.refreshFriends(done); }));
    ASSERT_EQ(ann.account.friends().size(), 1);
    EXPECT_EQ(ann.account.friends().front().id, bo.id());

    // Their room: each sees the other arrive with the colour announced, then a stroke.
    const QString room = "dm:" + std::min(ann.id(), bo.id()) + ":" + std::max(ann.id(), bo.id());
    ann.enter(room);
    ASSERT_TRUE(runUntil([&] { return ann.roomStates() == 1; }));
    bo.enter(room);
    ASSERT_TRUE(runUntil([&] { return bo.roomStates() == 1 && ann.session.peerCount() == 1; }));
    EXPECT_EQ(bo.session.peerColorById().value(ann.id()), ann.session.userColorHex());
    EXPECT_EQ(ann.session.peerColorById().value(bo.id()), bo.session.userColorHex());
    const StrokeStartPayload start{"S-1", ann.id().toStdString(), Tool::crayon, {0.86, 0.18, 0.18, 1},
                                   4.5,   {0.1, 0.2, 1, 1}};
    const StrokePoint point{0.11, 0.21, 1.0, 1.5};
    ann.session.network().send(ClientMessage::strokeStart(start));
    ann.session.network().send(ClientMessage::strokePoint(start.id, point));
    ann.session.network().send(ClientMessage::strokeEnd(start.id));
    ASSERT_TRUE(runUntil([&] { return bo.canvas.size() == 4; }));
    EXPECT_EQ(
        std::vector<CanvasEvent>(bo.canvas.begin() + 1, bo.canvas.end()),
        (std::vector<CanvasEvent>{{CanvasEvent::PeerStrokeStart{start.userId, start.header(), start.point}},
                                  {CanvasEvent::PeerStrokePoint{start.userId, start.id, point}},
                                  {CanvasEvent::PeerStrokeEnd{start.userId, start.id}}}));

    // A relaunch restores the sign-in from the keychain; signing out revokes the token everywhere.
    AuthModel relaunched(AuthModelConfig{base, ann.service, TokenStore::defaultKey(), 1h});
    ASSERT_TRUE(await([&](auto done) { relaunched.bootstrap(done); }));
    ASSERT_NE(relaunched.signedIn(), nullptr);
    EXPECT_EQ(*relaunched.signedIn(), *ann.account.signedIn());
    const QString token = ann.account.signedIn()->token;
    ann.session.clearAuth();
    EXPECT_TRUE(runUntil([&] { return bo.session.peerCount() == 0; }));
    ASSERT_TRUE(await([&](auto done) { ann.account.logout(done); }));
    EXPECT_EQ(ann.storedToken(), std::nullopt);
    const auto me =
        testing::resultOf<AuthResult<MeResponse>>([&](auto done) { relaunched.client().me(token, done); });
    ASSERT_TRUE(me && me->apiError());
    EXPECT_EQ(me->apiError()->statusCode, 401);
}

}  // namespace
}  // namespace vellumora
