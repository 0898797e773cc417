// The account side against a real vellumora-server over loopback, with tokens in the real
// keyring of the test session.
#include <gtest/gtest.h>

#include <QUuid>
#include <memory>
#include <optional>

#include "account/auth_client.h"
#include "account/auth_model.h"
#include "account/token_store.h"
#include "support/qt_test_app.h"
#include "support/server_process.h"

namespace vellumora {
namespace {

using namespace std::chrono_literals;

QString uniqueName() {
    return "u" + QUuid::createUuid().toString(QUuid::Id128).left(12);
}

// One person on one machine: a model with a keychain item of its own.
struct Person {
    QString username = uniqueName();
    QString password = QStringLiteral("correct horse");
    QString service =
        QStringLiteral("com.vellumora.test.") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    std::unique_ptr<AuthModel> model;

    Person(const QUrl& base, std::chrono::milliseconds poll = 1h)
        : model(std::make_unique<AuthModel>(AuthModelConfig{base, service, TokenStore::defaultKey(), poll})) {
    }
    ~Person() {
        TokenStore store(service, TokenStore::defaultKey());
        testing::await([&](auto done) { store.deleteToken(done); });
    }

    const AuthModel::Authenticated& session() const { return *model->signedIn(); }
    QString id() const { return session().user.id; }
};

class AuthIntegrationTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        server = std::make_unique<vellumora::testing::ServerProcess>(
            vellumora::testing::ServerProcess::Options{{"--auth-rate-limit", "0"}, {}, 0});
    }
    static void TearDownTestSuite() { server.reset(); }

    static QUrl base() { return QUrl(QString::fromStdString(server->baseUrl())); }

    static void run(const std::function<void(std::function<void()>)>& operation) {
        ASSERT_TRUE(testing::await(operation));
    }
    static void signUp(Person& person) {
        run([&](auto done) { person.model->signup(person.username, person.password, done); });
        ASSERT_NE(person.model->signedIn(), nullptr)
            << person.model->errorMessage().value_or("").toStdString();
    }
    static QString send(Person& from, const Person& to) { return send(from, to.username); }
    static QString send(Person& from, const QString& username) {
        std::optional<QString> message;
        from.model->sendFriendRequest(username, [&](QString text) { message = std::move(text); });
        EXPECT_TRUE(testing::runUntil([&] { return message.has_value(); }));
        return message.value_or(QString());
    }
    static void refresh(Person& person) {
        run([&](auto done) { person.model->refreshFriends(done); });
    }
    static QStringList friendIds(const Person& person) {
        QStringList ids;
        for (const auto& f : person.model->friends()) {
            ids << f.id;
        }
        return ids;
    }
    static std::optional<QString> storedToken(const Person& person) {
        TokenStore store(person.service, TokenStore::defaultKey());
        std::optional<std::optional<QString>> token;
        store.loadToken([&](std::optional<QString> t) { token.emplace(std::move(t)); });
        EXPECT_TRUE(testing::runUntil([&] { return token.has_value(); }));
        return token.value_or(std::nullopt);
    }

    testing::TestAppScope app;
    static inline std::unique_ptr<vellumora::testing::ServerProcess> server;
};

TEST_F(AuthIntegrationTest, signUpThenLogInElsewhereAndRestoreAtLaunch) {
    Person ann(base());
    signUp(ann);
    EXPECT_EQ(ann.session().user.username, ann.username);
    EXPECT_EQ(ann.session().user.displayName, ann.username);
    EXPECT_EQ(storedToken(ann), ann.session().token);

    // The same person on a second machine.
    Person laptop(base());
    laptop.username = ann.username;
    run([&](auto done) { laptop.model->login(ann.username, ann.password, done); });
    ASSERT_NE(laptop.model->signedIn(), nullptr);
    EXPECT_EQ(laptop.session().user, ann.session().user);

    // A fresh launch on the first machine restores from the keychain.
    AuthModel relaunched(AuthModelConfig{base(), ann.service, TokenStore::defaultKey(), 1h});
    run([&](auto done) { relaunched.bootstrap(done); });
    ASSERT_NE(relaunched.signedIn(), nullptr);
    EXPECT_EQ(*relaunched.signedIn(), ann.session());

    Person wrong(base());
    run([&](auto done) { wrong.model->login(ann.username, "not the password", done); });
    EXPECT_EQ(wrong.model->signedIn(), nullptr);
    EXPECT_TRUE(wrong.model->errorMessage().has_value());
    EXPECT_FALSE(wrong.model->errorMessage()->startsWith("HTTP")) << "the service sends its own text";
}

TEST_F(AuthIntegrationTest, aStoredTokenTheServiceRejectsIsDeletedAtLaunch) {
    Person ann(base());
    TokenStore store(ann.service, TokenStore::defaultKey());
    ASSERT_TRUE(testing::await([&](auto done) { store.saveToken("not-a-real-token", done); }));
    run([&](auto done) { ann.model->bootstrap(done); });
    EXPECT_EQ(ann.model->state(), AuthModel::State(AuthModel::Unauthenticated{}));
    EXPECT_EQ(storedToken(ann), std::nullopt);
    EXPECT_EQ(ann.model->errorMessage(), std::nullopt);
}

TEST_F(AuthIntegrationTest, requestPendingAcceptedThenFriendsOnBothSides) {
    Person ann(base());
    Person bo(base());
    signUp(ann);
    signUp(bo);

    EXPECT_EQ(send(ann, bo), "Request sent to " + bo.username + ".");
    refresh(bo);
    ASSERT_EQ(bo.model->pendingRequests().size(), 1);
    const PendingRequestDTO request = bo.model->pendingRequests().front();
    EXPECT_EQ(request.requesterId, ann.id());
    EXPECT_EQ(request.username, ann.username);
    EXPECT_GT(request.createdAt, 0);

    run([&](auto done) { bo.model->accept(request.requesterId, done); });
    EXPECT_TRUE(bo.model->pendingRequests().isEmpty());
    EXPECT_EQ(friendIds(bo), QStringList{ann.id()});
    refresh(ann);
    EXPECT_EQ(friendIds(ann), QStringList{bo.id()});
}

TEST_F(AuthIntegrationTest, askingSomeoneWhoAlreadyAskedMakesFriendsAtOnce) {
    Person ann(base());
    Person bo(base());
    signUp(ann);
    signUp(bo);
    EXPECT_EQ(send(ann, bo), "Request sent to " + bo.username + ".");
    // The service matches usernames without regard to case; the message names the account.
    EXPECT_EQ(send(bo, ann.username.toUpper()), "You're now friends with " + ann.username + ".");
    EXPECT_EQ(friendIds(bo), QStringList{ann.id()});
    refresh(ann);
    EXPECT_EQ(friendIds(ann), QStringList{bo.id()});
}

TEST_F(AuthIntegrationTest, aDeclinedRequestLeavesNoFriendship) {
    Person ann(base());
    Person cy(base());
    signUp(ann);
    signUp(cy);
    send(ann, cy);
    refresh(cy);
    ASSERT_EQ(cy.model->pendingRequests().size(), 1);
    run([&](auto done) { cy.model->decline(ann.id(), done); });
    EXPECT_TRUE(cy.model->pendingRequests().isEmpty());
    EXPECT_TRUE(cy.model->friends().isEmpty());
    refresh(ann);
    EXPECT_TRUE(ann.model->friends().isEmpty());
}

TEST_F(AuthIntegrationTest, logOutRevokesTheToken) {
    Person ann(base());
    signUp(ann);
    const QString token = ann.session().token;
    run([&](auto done) { ann.model->logout(done); });
    EXPECT_EQ(ann.model->state(), AuthModel::State(AuthModel::Unauthenticated{}));
    EXPECT_EQ(storedToken(ann), std::nullopt);

    std::optional<AuthResult<MeResponse>> me;
    ann.model->client().me(token, [&](AuthResult<MeResponse> result) { me.emplace(std::move(result)); });
    ASSERT_TRUE(testing::runUntil([&] { return me.has_value(); }));
    ASSERT_FALSE(me->ok());
    ASSERT_NE(me->apiError(), nullptr);
    EXPECT_EQ(me->apiError()->statusCode, 401);
}

TEST_F(AuthIntegrationTest, pollingPicksUpAnotherClientsChangeWithinFiveSeconds) {
    Person ann(base(), AuthModelConfig{}.pollInterval);
    Person bo(base());
    signUp(ann);
    signUp(bo);
    // Let the first pass (right after sign-up) go by, so only the loop can see the change.
    ASSERT_TRUE(testing::runUntil([&] { return !ann.model->busy(); }));
    testing::runFor(300ms);
    ASSERT_TRUE(ann.model->pendingRequests().isEmpty());

    send(bo, ann);
    EXPECT_TRUE(testing::runUntil([&] { return ann.model->pendingRequests().size() == 1; }, 6s));
    EXPECT_EQ(ann.model->pendingRequests().front().requesterId, bo.id());
}

}  // namespace
}  // namespace vellumora
