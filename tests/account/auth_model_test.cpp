#include <gtest/gtest.h>

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
        return testing::resultOf<std::optional<QString>>([&](auto done) { probe.loadToken(done); })
            .value_or(QStringLiteral("no answer"));
    }
    void store(const QString& token) {
        ASSERT_TRUE(testing::await([&](auto done) { probe.saveToken(token, done); }));
    }
    void run(const std::function<void(std::function<void()>)>& operation) {
        ASSERT_TRUE(testing::await(operation));
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

TEST_F(AuthModelTest, logInShowsBusyThenTheUserAndTheListsOrTheReason) {
    const struct {
        const char* name;
        ScriptedAnswer answer;
        const char* error;  // none: signed in
    } cases[] = {
        {"refused", ScriptedAnswer::json(401, R"({"error":"Invalid username or password"})"),
         "Invalid username or password"},
        {"signed in", ScriptedAnswer::json(200, authJson("tok-login")), nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server.script("POST", "/auth/login", {c.answer});
        auto m = makeModel(server.baseUrl());
        m->setErrorMessage(QStringLiteral("old failure"));
        std::vector<std::string> order;
        QObject::connect(m.get(), &AuthModel::busyChanged,
                         [&] { order.push_back(m->busy() ? "busy" : "idle"); });
        QObject::connect(m.get(), &AuthModel::friendsChanged, [&] { order.push_back("friends"); });
        QObject::connect(m.get(), &AuthModel::pendingRequestsChanged, [&] { order.push_back("requests"); });
        m->login("ann", "pw");
        EXPECT_FALSE(m->errorMessage()) << "cleared when asked";
        ASSERT_TRUE(testing::runUntil([&] { return !m->busy() && (c.error || order.size() == 4); }));
        EXPECT_EQ(m->errorMessage().value_or(""), c.error ? c.error : "");
        EXPECT_EQ(stored(), c.error ? std::nullopt : std::optional<QString>("tok-login"));
        const std::vector<std::string> signedIn{"busy", "idle", "friends", "requests"};
        EXPECT_EQ(order,
                  c.error ? std::vector<std::string>(signedIn.begin(), signedIn.begin() + 2) : signedIn);
        EXPECT_EQ(m->isPolling(), !c.error);
    }
}

TEST_F(AuthModelTest, friendRequestsReportTheirOutcomeAfterTheListsAreFresh) {
    std::optional<QString> message;
    run([&](auto done) { model().login("ann", "pw", done); });
    const struct {
        ScriptedAnswer answer;
        QString expected;
        int refreshes;
    } cases[] = {
        {ScriptedAnswer::json(200, R"({"status":"accepted","target":)" + kAnnJson + "}"),
         "You're now friends with Ann.", 1},
        {ScriptedAnswer::json(200, R"({"status":"pending","target":)" + kAnnJson + "}"),
         "Request sent to Ann.", 1},
    };
    ASSERT_TRUE(testing::runUntil([&] { return !model().pendingRequests().isEmpty(); }));
    for (const auto& c : cases) {
        server.script("POST", "/friends/request", {c.answer});
        const qsizetype before = count("GET", "/friends/requests");
        message.reset();
        model().sendFriendRequest(" Ann", [&](QString text) {
            message = text;
            EXPECT_EQ(count("GET", "/friends/requests"), before + c.refreshes);
        });
        ASSERT_TRUE(testing::runUntil([&] { return message.has_value(); }));
        EXPECT_EQ(*message, c.expected);
    }
    EXPECT_EQ(server.requestsTo("POST", "/friends/request").back().body, R"({"username":" Ann"})");
}

TEST_F(AuthModelTest, pollsTheListsEveryIntervalUntilLogOut) {
    auto m = makeModel(server.baseUrl(), 40ms);
    run([&](auto done) { m->login("ann", "pw", done); });
    ASSERT_TRUE(testing::runUntil([&] { return count("GET", "/friends") >= 4; }));
    run([&](auto done) { m->logout(done); });
    const qsizetype afterLogout = count("GET", "/friends");
    testing::runFor(200ms);
    EXPECT_EQ(count("GET", "/friends"), afterLogout);
}

TEST_F(AuthModelTest, logOutWaitsForTheServiceAndSignsOutEvenWhenItFails) {
    ScriptedAnswer slowFailure = ScriptedAnswer::json(500, R"({"error":"down"})");
    slowFailure.delay = 300ms;
    server.script("POST", "/auth/logout", {slowFailure});
    run([&](auto done) { model().login("ann", "pw", done); });
    ASSERT_TRUE(testing::runUntil([&] { return !model().pendingRequests().isEmpty(); }));
    ScriptedAnswer slowFriends = ScriptedAnswer::json(200, friendsJson("late"));
    slowFriends.delay = 500ms;
    server.script("GET", "/friends", {slowFriends});
    server.script("GET", "/friends/requests", {ScriptedAnswer::json(200, pendingJson("late"))});
    bool refreshed = false;
    model().refreshFriends([&] { refreshed = true; });

    bool finished = false;
    model().logout([&] { finished = true; });
    EXPECT_NE(model().signedIn(), nullptr) << "signed out before the service answered";
    ASSERT_TRUE(testing::runUntil([&] { return finished && refreshed; }));
    EXPECT_EQ(model().state(), AuthModel::State(AuthModel::Unauthenticated{}));
    EXPECT_TRUE(model().friends().isEmpty() && model().pendingRequests().isEmpty())
        << "late lists are dropped";
    EXPECT_EQ(stored(), std::nullopt);
    EXPECT_FALSE(model().isPolling());
    EXPECT_EQ(server.requestsTo("POST", "/auth/logout").value(0).headerValues("authorization"),
              QList<QByteArray>{"Bearer tok-login"});
}

}  // namespace
}  // namespace vellumora
