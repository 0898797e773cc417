// The account client and model against a scripted HTTP responder: the service's records as the
// client reads and writes them, its requests and how it takes the answers; the sign-in token in
// the real Secret Service of the test session, and the model over it.

#include <gtest/gtest.h>

#include <qt6keychain/keychain.h>
#include <QDir>
#include <QNetworkReply>
#include <QTemporaryDir>
#include <memory>
#include <optional>

#include "account/auth_client.h"
#include "account/auth_json.h"
#include "account/auth_model.h"
#include "account/token_store.h"
#include "support/qt_test_app.h"
#include "support/scripted_server.h"
#include "support/test_accounts.h"

namespace vellumora {
namespace {

using namespace std::chrono_literals;
using testing::ScriptedAnswer;
using testing::ScriptedResponder;

const QByteArray kAnnJson = R"({"id":"u1","username":"ann","displayName":"Ann"})";

QByteArray friendsJson(const QByteArray& id) {
    return R"({"friends":[{"id":")" + id + R"(","username":"f","displayName":"F","online":false}]})";
}
QByteArray pendingJson(const QByteArray& id) {
    return R"({"requests":[{"requesterId":")" + id +
           R"(","username":"r","displayName":"R","createdAt":1.5}]})";
}

TEST(AuthJson, refusesMissingKeysWrongTypesAndMalformedBodiesNamingTheField) {
    const struct {
        const char* body;
        const char* field;  // named in the message; empty when the body is not JSON
    } cases[] = {
        {R"({"token":"t","user":{"id":"u","username":"n"}})", "user.displayName"},
        {R"({"token":"t","user":{"id":"u","username":"n","displayName":null}})", "user.displayName"},
        {R"({"token":5,"user":{"id":"u","username":"n","displayName":"N"}})", "token"},
        {R"({"token":"t","user":"u"})", "user"},
        {"<html>oops</html>", ""},
        {R"({"token":"t","user":{"id":"u")", ""},
        {"{\"token\":\"\xff\",\"user\":{\"id\":\"u\",\"username\":\"n\",\"displayName\":\"N\"}}", ""},
    };
    for (const auto& c : cases) {
        const auto result = decodeRecord<AuthResponse>(QByteArrayView(c.body));
        ASSERT_FALSE(result.ok()) << c.body;
        EXPECT_TRUE(std::holds_alternative<CodingError>(result.failure()));
        EXPECT_TRUE(userMessage(result.failure()).contains(c.field))
            << userMessage(result.failure()).toStdString();
    }
    const auto list = decodeRecord<FriendsResponse>(
        R"({"friends":[{"id":"a","username":"a","displayName":"A",)"
        R"("online":true},{"id":"b","username":"b","displayName":"B","online":"yes"}]})");
    ASSERT_FALSE(list.ok()) << "one bad friend spoils the list";
    EXPECT_TRUE(userMessage(list.failure()).contains("friends[1].online"));
    EXPECT_FALSE(encodeStringMap({{"password", "pass" + QString(QChar(0xD800))}}).ok()) << "a lone surrogate";
}

TEST(AuthJson, onlyA2xxAnswerSucceedsFailuresCarryTheServicesTextAndEndpointsHangOffTheBase) {
    const struct {
        std::optional<int> status;
        QByteArray body;
        std::optional<APIError> expected;
    } cases[] = {
        {200, "", std::nullopt},
        {299, "whatever", std::nullopt},
        {199, "", APIError{"HTTP 199", 199}},
        {300, "", APIError{"HTTP 300", 300}},
        {401, R"({"error":"Invalid token"})", APIError{"Invalid token", 401}},
        {500, "<html><h1>Internal Server Error</h1></html>", APIError{"HTTP 500", 500}},
        {404, R"({"error":17})", APIError{"HTTP 404", 404}},
        {std::nullopt, R"({"error":"ignored"})", APIError{"Bad server response", -1}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(checkResponse(c.status, c.body), c.expected) << c.status.value_or(-1);

    // Endpoints hang off the base path, escaped.
    EXPECT_EQ(endpointUrl(QUrl("http://127.0.0.1:8787"), u"//friends"),
              QUrl("http://127.0.0.1:8787/friends"));
    EXPECT_EQ(endpointUrl(QUrl("https://example.org/api/"), u"/auth/me"),
              QUrl("https://example.org/api/auth/me"));
    EXPECT_EQ(endpointUrl(QUrl("https://example.org/api"), u"a b?c#d").toString(QUrl::FullyEncoded),
              "https://example.org/api/a%20b%3Fc%23d");
}

template <class T, class Start>
AuthResult<T> finish(Start&& start) {
    return testing::resultOf<AuthResult<T>>(std::forward<Start>(start))
        .value_or(AuthFailure(TransportError{-1, "no answer within the test's time"}));
}

enum class Seen { authenticated, unauthenticated, loading };

class AuthTest : public ::testing::Test {
  protected:
    AuthTest() {
        server.script("GET", "/friends", {ScriptedAnswer::json(200, friendsJson("f1"))});
        server.script("GET", "/friends/requests", {ScriptedAnswer::json(200, pendingJson("p1"))});
        server.script("POST", "/auth/login",
                      {ScriptedAnswer::json(200, R"({"token":"tok-login","user":)" + kAnnJson + "}")});
        server.script("POST", "/auth/logout", {ScriptedAnswer::json(204, {})});
    }

    std::unique_ptr<AuthModel> makeModel(QUrl base) {
        AuthModelConfig config = keychain.config;
        config.base = std::move(base);
        auto model = std::make_unique<AuthModel>(config);
        QObject::connect(model.get(), &AuthModel::stateChanged,
                         [this, m = model.get()] { seen.push_back(static_cast<Seen>(m->state().index())); });
        return model;
    }

    ScriptedResponder server;
    testing::TestKeychainItem keychain{testing::isolatedConfig(server.baseUrl())};
    std::vector<Seen> seen;
    std::unique_ptr<AuthModel> m = makeModel(server.baseUrl());
    AuthClient client{server.baseUrl()};
};

TEST_F(AuthTest, theTokenGoesOnlyInItsHeaderToItsOriginAndADestroyedClientNeverCallsBack) {
    EXPECT_FALSE(finish<FriendsResponse>([&](auto d) { client.friends("tok\rX-Injected: 1", d); }).ok());
    testing::ScriptedResponder elsewhere;
    server.script("GET", "/friends",
                  {{.status = 302, .headers = {{"Location", elsewhere.baseUrl().toEncoded() + "/friends"}}},
                   {.status = 307, .headers = {{"Location", "/v2/friends"}}}});
    server.script("GET", "/v2/friends", {ScriptedAnswer::json(200, R"({"friends":[]})")});
    EXPECT_FALSE(finish<FriendsResponse>([&](auto d) { client.friends("secret", d); }).ok());
    EXPECT_TRUE(finish<FriendsResponse>([&](auto d) { client.friends("secret", d); }).ok());
    EXPECT_TRUE(elsewhere.requests().isEmpty()) << "the token went to another origin";
    ASSERT_EQ(server.requestsTo("GET", "/v2/friends").size(), 1);
    for (const testing::RecordedRequest& sent : server.requests()) {
        EXPECT_EQ(sent.headerValues("authorization"), QList<QByteArray>{"Bearer secret"})
            << sent.path.constData();
    }
    // Signing up and logging in carry no Authorization header at all, not even an empty one.
    finish<AuthResponse>([&](auto d) { client.signup("ann", "password1", d); });
    finish<AuthResponse>([&](auto d) { client.login("ann", "password1", d); });
    for (const char* path : {"/auth/signup", "/auth/login"}) {
        ASSERT_EQ(server.requestsTo("POST", path).size(), 1) << path;
        EXPECT_TRUE(server.requestsTo("POST", path)[0].headerValues("authorization").isEmpty()) << path;
    }

    // A client destroyed mid-call never calls back.
    server.script("GET", "/friends", {ScriptedAnswer::never()});
    auto doomed = std::make_unique<AuthClient>(server.baseUrl());
    bool called = false;
    doomed->friends("t", [&called](AuthResult<FriendsResponse>) { called = true; });
    ASSERT_TRUE(testing::runUntil([&] { return !server.requests().isEmpty(); }));
    doomed.reset();
    // Another call's whole round trip runs whatever the abandoned one left queued.
    EXPECT_FALSE(finish<MeResponse>([&](auto d) { client.me("t", d); }).ok());
    EXPECT_FALSE(called);
}

TEST_F(AuthTest, theKeychainKeepsTheLastTokenInTheOrderAskedRefusesBadUtf8AndNeverCallsADestroyedStore) {
    EXPECT_EQ(keychain.load(), std::nullopt);
    for (const QByteArray& bytes :
         {QByteArray("tok\xff"), QByteArray("ok\xe2\x82"), QByteArray("\xed\xa0\x80")}) {
        auto* job = new QKeychain::WritePasswordJob(keychain.config.keychainService, &keychain.store);
        job->setKey(TokenStore::defaultKey());
        job->setBinaryData(bytes);
        ASSERT_TRUE(testing::await([&](auto done) {
            QObject::connect(job, &QKeychain::Job::finished, &keychain.store, [done] { done(); });
            job->start();
        }));
        EXPECT_EQ(keychain.load(), std::nullopt) << bytes.toHex().toStdString();
    }
    for (const QString& token : {QString(""), u"\uFEFFzwnbsp ünï ☂ 😀"_qs}) {
        ASSERT_TRUE(keychain.save(token));
        EXPECT_EQ(keychain.load(), token) << "an empty token is a token";
    }
    // Nothing awaited in between: each operation waits for the one before.
    std::optional<QString> afterSave;
    keychain.store.saveToken("token-a");
    keychain.store.loadToken([&](std::optional<QString> t) { afterSave = t; });
    keychain.store.saveToken("token-b");
    keychain.store.deleteToken();
    EXPECT_EQ(keychain.load(), std::nullopt);
    EXPECT_EQ(afterSave, "token-a");

    bool called = false;
    {
        TokenStore doomed(keychain.config.keychainService, TokenStore::defaultKey());
        doomed.saveToken("abandoned", [&called] { called = true; });
        QCoreApplication::processEvents();
    }
    // The keychain answers in order: once a later save is done, the abandoned one has ended too.
    ASSERT_TRUE(keychain.save("after"));
    EXPECT_EQ(keychain.load(), "after");
    EXPECT_FALSE(called);
}

// Whatever goes wrong, the sign-in is restored or kept; only the service saying no forgets it.
// The message tells an outage from an answer that cannot be used, and shows the service's text.
TEST_F(AuthTest, bootstrapForgetsOnlyATokenTheServiceRejects) {
    QTemporaryDir files;
    ASSERT_TRUE(QDir(files.path()).mkpath("auth") &&
                QFile(files.filePath("auth/me")).open(QIODevice::WriteOnly));
    const QByteArray huge =
        R"({"user":)" + kAnnJson + R"(,"padding":")" + QByteArray(AuthClient::kMaxAnswerBytes, 'x') + R"("})";
    const QString failed = "The server could not restore your session (";
    const struct {
        const char* name;
        QUrl base;
        std::optional<ScriptedAnswer> answer;
        bool forgets;
        QString message;  // the start of the message shown instead; empty: the one before stays
    } cases[] = {
        {"401", server.baseUrl(), ScriptedAnswer::json(401, R"({"error":"Invalid token"})"), true, ""},
        {"server error", server.baseUrl(), ScriptedAnswer::json(500, R"({"error":"Database is down"})"),
         false, failed + "Database is down)"},
        {"bad record", server.baseUrl(), ScriptedAnswer::json(200, R"({"user":{"id":"u1"}})"), false,
         failed + "The server's answer could not be read (user.username is missing)"},
        {"too large", server.baseUrl(), ScriptedAnswer::json(200, huge), false,
         failed + "The server's answer is too large.)"},
        {"stalled", server.baseUrl(), ScriptedAnswer::never(), false, "Could not reach the server ("},
        {"unreachable", testing::unreachableUrl(), std::nullopt, false, "Could not reach the server ("},
        {"not http", QUrl::fromLocalFile(files.path()), std::nullopt, false, failed + "Bad server response)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        seen.clear();
        ASSERT_TRUE(keychain.save("tok-old"));
        if (c.answer) server.script("GET", "/auth/me", {*c.answer});
        auto restoring = makeModel(c.base);
        restoring->client().setTransferTimeout(c.answer && c.answer->silent ? 300ms : 10s);
        restoring->setErrorMessage(QStringLiteral("kept"));
        ASSERT_TRUE(testing::await([&](auto done) { restoring->bootstrap(done); }));
        EXPECT_EQ(seen, (std::vector<Seen>{Seen::loading, Seen::unauthenticated}));
        EXPECT_EQ(keychain.load(), c.forgets ? std::nullopt : std::optional<QString>("tok-old"));
        const QString shown = restoring->errorMessage().value_or("(none)");
        EXPECT_TRUE(c.message.isEmpty() ? shown == "kept" : shown.startsWith(c.message))
            << shown.toStdString();
        EXPECT_FALSE(restoring->isPolling());
    }
}

// A request's outcome is reported once the lists it changed are fresh; logging out waits for the
// service and signs out even when it fails.
TEST_F(AuthTest, aFriendRequestsOutcomeComesOnceTheListsAreFreshAndLogOutAlwaysSignsOut) {
    ASSERT_TRUE(testing::await([&](auto done) { m->login("ann", "pw", done); }));
    ASSERT_TRUE(testing::runUntil([&] { return !m->pendingRequests().isEmpty(); }));
    const std::pair<const char*, QString> outcomes[] = {{"accepted", "You're now friends with Ann."},
                                                        {"pending", "Request sent to Ann."}};
    for (const auto& [status, expected] : outcomes) {
        server.script("POST", "/friends/request",
                      {ScriptedAnswer::json(
                          200, R"({"status":")" + QByteArray(status) + R"(","target":)" + kAnnJson + "}")});
        const qsizetype before = server.requestsTo("GET", "/friends/requests").size();
        std::optional<QString> message;
        m->sendFriendRequest(" Ann", [&](QString text) {
            message = text;
            EXPECT_EQ(server.requestsTo("GET", "/friends/requests").size(), before + 1);
        });
        ASSERT_TRUE(testing::runUntil([&] { return message.has_value(); }));
        EXPECT_EQ(*message, expected);
    }
    EXPECT_EQ(server.requestsTo("POST", "/friends/request").back().body, R"({"username":" Ann"})");

    server.script("POST", "/auth/logout", {{.status = 500, .body = R"({"error":"down"})", .delay = 300ms}});
    server.script("GET", "/friends", {{.body = friendsJson("late"), .delay = 500ms}});
    server.script("GET", "/friends/requests", {ScriptedAnswer::json(200, pendingJson("late"))});
    bool refreshed = false;
    m->refreshFriends([&] { refreshed = true; });

    bool finished = false;
    m->logout([&] { finished = true; });
    EXPECT_NE(m->signedIn(), nullptr) << "signed out before the service answered";
    ASSERT_TRUE(testing::runUntil([&] { return finished && refreshed; }));
    EXPECT_EQ(m->state(), AuthModel::State(AuthModel::Unauthenticated{}));
    EXPECT_TRUE(m->friends().isEmpty() && m->pendingRequests().isEmpty()) << "late lists are dropped";
    EXPECT_EQ(keychain.load(), std::nullopt);
    EXPECT_FALSE(m->isPolling());
    EXPECT_EQ(server.requestsTo("POST", "/auth/logout").value(0).headerValues("authorization"),
              QList<QByteArray>{"Bearer tok-login"});
}

}  // namespace
}  // namespace vellumora
