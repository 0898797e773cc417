#include <gtest/gtest.h>

#include <QNetworkReply>
#include <QUuid>
#include <memory>
#include <optional>

#include "account/auth_model.h"
#include "account/token_store.h"
#include "support/qt_test_app.h"
#include "support/scripted_responder.h"

namespace vellumora {
namespace {

using namespace std::chrono_literals;
using testing::ScriptedAnswer;
using testing::ScriptedResponder;

const QByteArray kAnnJson = R"({"id":"u1","username":"ann","displayName":"Ann"})";
const QByteArray kBoJson = R"({"id":"u2","username":"bo","displayName":"Bo"})";
const AuthUser kAnn{"u1", "ann", "Ann"};

QByteArray authJson(const QByteArray& token) {
    return R"({"token":")" + token + R"(","user":)" + kAnnJson + "}";
}
QByteArray friendsJson(const QByteArray& id) {
    return R"({"friends":[{"id":")" + id + R"(","username":"f","displayName":"F","online":false}]})";
}
QByteArray pendingJson(const QByteArray& id) {
    return R"({"requests":[{"requesterId":")" + id +
           R"(","username":"r","displayName":"R","createdAt":1.5}]})";
}

enum class Seen { authenticated, unauthenticated, loading };

class AuthModelTest : public ::testing::Test {
  protected:
    AuthModelTest() {
        server.script("GET", "/friends", {ScriptedAnswer::json(200, friendsJson("f1"))});
        server.script("GET", "/friends/requests", {ScriptedAnswer::json(200, pendingJson("p1"))});
        server.script("POST", "/auth/login", {ScriptedAnswer::json(200, authJson("tok-login"))});
        server.script("POST", "/auth/signup", {ScriptedAnswer::json(201, authJson("tok-signup"))});
        server.script("GET", "/auth/me", {ScriptedAnswer::json(200, R"({"user":)" + kAnnJson + "}")});
        server.script("POST", "/auth/logout", {ScriptedAnswer::json(204, {})});
    }
    ~AuthModelTest() override {
        testing::await([this](auto done) { probe.deleteToken(done); });
    }

    std::unique_ptr<AuthModel> makeModel(QUrl base, std::chrono::milliseconds poll = 1h) {
        auto model = std::make_unique<AuthModel>(
            AuthModelConfig{std::move(base), service, TokenStore::defaultKey(), poll});
        QObject::connect(model.get(), &AuthModel::stateChanged,
                         [this, m = model.get()] { seen.push_back(static_cast<Seen>(m->state().index())); });
        return model;
    }
    AuthModel& model() {
        if (!m_model) {
            m_model = makeModel(server.baseUrl());
        }
        return *m_model;
    }
    std::optional<QString> stored() {
        std::optional<std::optional<QString>> token;
        probe.loadToken([&token](std::optional<QString> t) { token.emplace(std::move(t)); });
        EXPECT_TRUE(testing::runUntil([&] { return token.has_value(); }));
        return token.value_or(std::nullopt);
    }
    void store(const QString& token) {
        ASSERT_TRUE(testing::await([&](auto done) { probe.saveToken(token, done); }));
    }
    void run(const std::function<void(std::function<void()>)>& operation) {
        ASSERT_TRUE(testing::await(operation));
    }
    void signIn() {
        run([&](auto done) { model().login("ann", "pw", done); });
        ASSERT_NE(model().signedIn(), nullptr);
    }
    qsizetype count(const QByteArray& method, const QByteArray& path) const {
        return server.requestsTo(method, path).size();
    }

    testing::TestAppScope app;
    ScriptedResponder server;
    const QString service =
        QStringLiteral("com.vellumora.test.") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    TokenStore probe{service, TokenStore::defaultKey()};
    std::vector<Seen> seen;

  private:
    std::unique_ptr<AuthModel> m_model;
};

TEST_F(AuthModelTest, startsSignedOutWithEmptyListsAndFetchesNothing) {
    EXPECT_EQ(model().state(), AuthModel::State(AuthModel::Unauthenticated{}));
    EXPECT_TRUE(model().friends().isEmpty());
    EXPECT_TRUE(model().pendingRequests().isEmpty());
    EXPECT_EQ(model().errorMessage(), std::nullopt);
    EXPECT_FALSE(model().busy());
    testing::runFor(50ms);
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST_F(AuthModelTest, stateEqualityComparesCaseUserAndToken) {
    using S = AuthModel::State;
    EXPECT_EQ(S(AuthModel::Authenticated{kAnn, "t"}), S(AuthModel::Authenticated{kAnn, "t"}));
    EXPECT_NE(S(AuthModel::Authenticated{kAnn, "t"}), S(AuthModel::Authenticated{kAnn, "u"}));
    EXPECT_NE(S(AuthModel::Authenticated{kAnn, "t"}),
              S(AuthModel::Authenticated{{"u1", "ann", "Annie"}, "t"}));
    EXPECT_NE(S(AuthModel::Loading{}), S(AuthModel::Unauthenticated{}));
}

TEST_F(AuthModelTest, bootstrapWithoutAStoredTokenStaysSignedOutAndSendsNothing) {
    run([&](auto done) { model().bootstrap(done); });
    EXPECT_EQ(model().state(), AuthModel::State(AuthModel::Unauthenticated{}));
    EXPECT_TRUE(seen.empty());
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST_F(AuthModelTest, bootstrapRestoresAStoredTokenAndStartsPolling) {
    store("tok-stored");
    run([&](auto done) { model().bootstrap(done); });
    EXPECT_EQ(model().state(), AuthModel::State(AuthModel::Authenticated{kAnn, "tok-stored"}));
    EXPECT_EQ(seen, (std::vector<Seen>{Seen::loading, Seen::authenticated}));
    const auto me = server.requestsTo("GET", "/auth/me");
    ASSERT_EQ(me.size(), 1);
    EXPECT_EQ(me.front().headerValues("authorization"), QList<QByteArray>{"Bearer tok-stored"});
    EXPECT_TRUE(model().isPolling());
    ASSERT_TRUE(testing::runUntil([&] { return !model().pendingRequests().isEmpty(); }));
    EXPECT_EQ(model().friends().front().id, "f1");

    // A second call while signed in does nothing.
    run([&](auto done) { model().bootstrap(done); });
    EXPECT_EQ(count("GET", "/auth/me"), 1);
}

TEST_F(AuthModelTest, bootstrapForgetsOnlyATokenTheServiceRejects) {
    struct Case {
        const char* name;
        std::optional<ScriptedAnswer> answer;  // none: the service is unreachable
        bool forgets;
        const char* messageStart;  // the message shown instead; none when the token is rejected
    };
    const Case cases[] = {
        {"401", ScriptedAnswer::json(401, R"({"error":"Invalid token"})"), true, nullptr},
        {"server error", ScriptedAnswer::json(500, R"({"error":"Database is down"})"), false,
         "The server could not restore your session (Database is down)"},
        {"bad record", ScriptedAnswer::json(200, R"({"user":{"id":"u1"}})"), false,
         "The server could not restore your session"},
        {"unreachable", std::nullopt, false, "Could not reach the server ("},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        seen.clear();
        store("tok-old");
        if (c.answer) {
            server.script("GET", "/auth/me", {*c.answer});
        }
        auto restoring = makeModel(c.answer ? server.baseUrl() : testing::unreachableUrl());
        restoring->setErrorMessage(QStringLiteral("kept"));
        run([&](auto done) { restoring->bootstrap(done); });
        EXPECT_EQ(seen, (std::vector<Seen>{Seen::loading, Seen::unauthenticated}));
        EXPECT_EQ(stored(), c.forgets ? std::nullopt : std::optional<QString>("tok-old"));
        if (c.messageStart) {
            EXPECT_TRUE(restoring->errorMessage().value_or("").startsWith(c.messageStart))
                << restoring->errorMessage().value_or("(none)").toStdString();
        } else {
            EXPECT_EQ(restoring->errorMessage(), "kept");
        }
        EXPECT_FALSE(restoring->isPolling());
    }
}

TEST_F(AuthModelTest, logInStoresTheTokenSignsInAndFillsTheListsAtOnce) {
    std::vector<bool> busy;
    QObject::connect(&model(), &AuthModel::busyChanged, [&] { busy.push_back(model().busy()); });
    model().setErrorMessage(QStringLiteral("old failure"));
    bool clearedAtStart = false;
    model().login("ann", "pw", {});
    clearedAtStart = model().busy() && !model().errorMessage().has_value();
    EXPECT_TRUE(clearedAtStart);
    ASSERT_TRUE(testing::runUntil([&] { return !model().busy(); }));

    EXPECT_EQ(busy, (std::vector<bool>{true, false}));
    EXPECT_EQ(model().state(), AuthModel::State(AuthModel::Authenticated{kAnn, "tok-login"}));
    EXPECT_EQ(stored(), "tok-login");
    ASSERT_TRUE(testing::runUntil(
        [&] { return !model().friends().isEmpty() && !model().pendingRequests().isEmpty(); }));
    EXPECT_EQ(model().friends(), (QList<FriendDTO>{{"f1", "f", "F", false}}));
    EXPECT_EQ(model().pendingRequests(), (QList<PendingRequestDTO>{{"p1", "r", "R", 1.5}}));

    run([&](auto done) { model().signup("ann", "pw", done); });
    EXPECT_EQ(model().signedIn()->token, "tok-signup");
    EXPECT_EQ(stored(), "tok-signup");
}

TEST_F(AuthModelTest, failedLogInShowsTheReasonAndKeepsTheState) {
    struct Case {
        const char* name;
        std::optional<ScriptedAnswer> answer;  // none: the service is unreachable
        QString expected;                      // empty: the network stack's description
    };
    const Case cases[] = {
        {"envelope", ScriptedAnswer::json(401, R"({"error":"Invalid username or password"})"),
         "Invalid username or password"},
        {"html page", ScriptedAnswer::raw(500, "<html><body>Oops</body></html>", "text/html"), "HTTP 500"},
        {"not a record", ScriptedAnswer::json(200, R"({"token":"t"})"), {}},
        {"unreachable", std::nullopt, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.answer) {
            server.script("POST", "/auth/login", {*c.answer});
        }
        auto failing = makeModel(c.answer ? server.baseUrl() : testing::unreachableUrl());
        seen.clear();
        run([&](auto done) { failing->login("ann", "pw", done); });
        EXPECT_EQ(failing->state(), AuthModel::State(AuthModel::Unauthenticated{}));
        EXPECT_TRUE(seen.empty());
        EXPECT_FALSE(failing->busy());
        ASSERT_TRUE(failing->errorMessage().has_value());
        if (!c.expected.isEmpty()) {
            EXPECT_EQ(*failing->errorMessage(), c.expected);
        } else {
            EXPECT_FALSE(failing->errorMessage()->isEmpty());
        }
        EXPECT_EQ(stored(), std::nullopt);
    }
}

TEST_F(AuthModelTest, aFailedListKeepsItsContentsWhileTheOtherIsReplaced) {
    server.script("GET", "/friends",
                  {ScriptedAnswer::json(200, friendsJson("f1")), ScriptedAnswer::json(500, {})});
    server.script(
        "GET", "/friends/requests",
        {ScriptedAnswer::json(200, pendingJson("p1")), ScriptedAnswer::json(200, pendingJson("p2"))});
    signIn();
    ASSERT_TRUE(testing::runUntil([&] { return !model().pendingRequests().isEmpty(); }));
    run([&](auto done) { model().refreshFriends(done); });
    EXPECT_EQ(model().friends().front().id, "f1");
    EXPECT_EQ(model().pendingRequests().front().requesterId, "p2");
}

TEST_F(AuthModelTest, friendsAreAppliedBeforeRequestsWhateverArrivesFirst) {
    ScriptedAnswer slowFriends = ScriptedAnswer::json(200, friendsJson("f1"));
    slowFriends.delay = 300ms;
    server.script("GET", "/friends", {slowFriends});
    std::vector<std::string> order;
    QObject::connect(&model(), &AuthModel::friendsChanged, [&] { order.push_back("friends"); });
    QObject::connect(&model(), &AuthModel::pendingRequestsChanged, [&] { order.push_back("requests"); });
    signIn();
    ASSERT_TRUE(testing::runUntil([&] { return order.size() == 2; }));
    EXPECT_EQ(order, (std::vector<std::string>{"friends", "requests"}));
}

TEST_F(AuthModelTest, pollingRepeatsIsReplacedNotDoubledAndStopsAtLogOut) {
    auto polled = makeModel(server.baseUrl(), 250ms);
    run([&](auto done) { polled->login("ann", "pw", done); });
    ASSERT_TRUE(testing::runUntil([&] { return count("GET", "/friends") >= 3; }, 3s));

    // Logging in again replaces the loop.
    run([&](auto done) { polled->login("ann", "pw", done); });
    run([&](auto done) { polled->signup("ann", "pw", done); });
    const qsizetype before = count("GET", "/friends");
    testing::runFor(1250ms);
    const qsizetype passes = count("GET", "/friends") - before;
    // One loop makes about five passes in this time; two loops would make about ten.
    EXPECT_GE(passes, 2);
    EXPECT_LE(passes, 7);
    EXPECT_EQ(count("GET", "/friends"), count("GET", "/friends/requests"));

    run([&](auto done) { polled->logout(done); });
    EXPECT_FALSE(polled->isPolling());
    const qsizetype atLogOut = count("GET", "/friends");
    testing::runFor(700ms);
    EXPECT_EQ(count("GET", "/friends"), atLogOut);
}

TEST_F(AuthModelTest, sendingARequestRefreshesThenReportsTheOutcome) {
    struct Case {
        QByteArray status;
        QString expected;
    };
    const Case cases[] = {
        {"accepted", "You're now friends with Bo."},
        {"pending", "Request sent to Bo."},
        {"something-new", "Request sent to Bo."},
    };
    signIn();
    ASSERT_TRUE(testing::runUntil([&] { return count("GET", "/friends/requests") == 1; }));
    for (const auto& c : cases) {
        server.script(
            "POST", "/friends/request",
            {ScriptedAnswer::json(200, R"({"status":")" + c.status + R"(","target":)" + kBoJson + "}")});
        const qsizetype refreshes = count("GET", "/friends/requests");
        std::optional<QString> message;
        qsizetype refreshesAtMessage = 0;
        model().sendFriendRequest(" Bo", [&](QString text) {
            message = std::move(text);
            refreshesAtMessage = count("GET", "/friends/requests");
        });
        ASSERT_TRUE(testing::runUntil([&] { return message.has_value(); }));
        EXPECT_EQ(*message, c.expected);
        EXPECT_EQ(refreshesAtMessage, refreshes + 1);
        EXPECT_EQ(server.requestsTo("POST", "/friends/request").back().body, R"({"username":" Bo"})");
    }
}

TEST_F(AuthModelTest, aFailedSendReportsTheReasonWithoutRefreshing) {
    server.script("POST", "/friends/request", {ScriptedAnswer::json(404, R"({"error":"No such user"})")});
    signIn();
    ASSERT_TRUE(testing::runUntil([&] { return count("GET", "/friends/requests") == 1; }));
    std::optional<QString> message;
    model().sendFriendRequest("nobody", [&](QString text) { message = std::move(text); });
    ASSERT_TRUE(testing::runUntil([&] { return message.has_value(); }));
    EXPECT_EQ(*message, "No such user");
    testing::runFor(100ms);
    EXPECT_EQ(count("GET", "/friends/requests"), 1);
}

TEST_F(AuthModelTest, signedOutActionsSendNothing) {
    std::optional<QString> message;
    model().sendFriendRequest("bo", [&](QString text) { message = std::move(text); });
    ASSERT_TRUE(testing::runUntil([&] { return message.has_value(); }));
    EXPECT_EQ(*message, "Not signed in.");
    run([&](auto done) { model().accept("r", done); });
    run([&](auto done) { model().decline("r", done); });
    run([&](auto done) { model().refreshFriends(done); });
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST_F(AuthModelTest, acceptAndDeclineRefreshEvenWhenTheyFail) {
    server.script("POST", "/friends/accept", {ScriptedAnswer::json(500, {})});
    server.script("POST", "/friends/decline", {ScriptedAnswer::json(204, {})});
    signIn();
    ASSERT_TRUE(testing::runUntil([&] { return count("GET", "/friends/requests") == 1; }));
    run([&](auto done) { model().accept("p1", done); });
    EXPECT_EQ(count("GET", "/friends/requests"), 2);
    EXPECT_EQ(server.requestsTo("POST", "/friends/accept").front().body, R"({"requesterId":"p1"})");
    run([&](auto done) { model().decline("p1", done); });
    EXPECT_EQ(count("GET", "/friends/requests"), 3);
    EXPECT_EQ(server.requestsTo("POST", "/friends/decline").front().body, R"({"requesterId":"p1"})");
}

TEST_F(AuthModelTest, logOutWaitsForTheServiceThenSignsOutEvenWhenItFails) {
    ScriptedAnswer slowFailure = ScriptedAnswer::json(500, R"({"error":"down"})");
    slowFailure.delay = 300ms;
    server.script("POST", "/auth/logout", {slowFailure});
    signIn();
    ASSERT_TRUE(testing::runUntil([&] { return !model().pendingRequests().isEmpty(); }));
    model().setErrorMessage(QStringLiteral("kept"));

    bool finished = false;
    model().logout([&] { finished = true; });
    testing::runFor(100ms);
    EXPECT_NE(model().signedIn(), nullptr) << "signed out before the service answered";
    ASSERT_TRUE(testing::runUntil([&] { return finished; }));

    EXPECT_EQ(model().state(), AuthModel::State(AuthModel::Unauthenticated{}));
    EXPECT_TRUE(model().friends().isEmpty());
    EXPECT_TRUE(model().pendingRequests().isEmpty());
    EXPECT_EQ(stored(), std::nullopt);
    EXPECT_EQ(model().errorMessage(), "kept");
    const auto sent = server.requestsTo("POST", "/auth/logout");
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(sent.front().headerValues("authorization"), QList<QByteArray>{"Bearer tok-login"});
}

TEST_F(AuthModelTest, logOutWhenSignedOutStillClearsEverything) {
    store("tok-leftover");
    run([&](auto done) { model().logout(done); });
    EXPECT_EQ(stored(), std::nullopt);
    EXPECT_EQ(seen, (std::vector<Seen>{Seen::unauthenticated}));
    EXPECT_TRUE(server.requestsTo("POST", "/auth/logout").isEmpty());
}

TEST_F(AuthModelTest, listsArrivingAfterLogOutAreDropped) {
    signIn();
    ASSERT_TRUE(testing::runUntil([&] { return !model().pendingRequests().isEmpty(); }));
    ScriptedAnswer slowFriends = ScriptedAnswer::json(200, friendsJson("late"));
    slowFriends.delay = 300ms;
    server.script("GET", "/friends", {slowFriends});
    model().refreshFriends();
    run([&](auto done) { model().logout(done); });
    testing::runFor(500ms);
    EXPECT_TRUE(model().friends().isEmpty());
    EXPECT_TRUE(model().pendingRequests().isEmpty());
}

TEST_F(AuthModelTest, aRestoreOvertakenByLogOutNeitherSignsInNorForgetsLater) {
    store("tok-stored");
    ScriptedAnswer slowMe = ScriptedAnswer::json(200, R"({"user":)" + kAnnJson + "}");
    slowMe.delay = 300ms;
    server.script("GET", "/auth/me", {slowMe});
    bool restored = false;
    model().bootstrap([&] { restored = true; });
    ASSERT_TRUE(
        testing::runUntil([&] { return std::holds_alternative<AuthModel::Loading>(model().state()); }));
    run([&](auto done) { model().logout(done); });
    ASSERT_TRUE(testing::runUntil([&] { return restored; }));
    EXPECT_EQ(model().state(), AuthModel::State(AuthModel::Unauthenticated{}));
    EXPECT_FALSE(model().isPolling());
}

}  // namespace
}  // namespace vellumora
