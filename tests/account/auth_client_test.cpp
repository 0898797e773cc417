#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QNetworkReply>
#include <QTemporaryDir>
#include <memory>
#include <optional>

#include "account/auth_client.h"
#include "support/qt_test_app.h"
#include "support/scripted_responder.h"

namespace vellumora {
namespace {

using testing::ScriptedAnswer;
using testing::ScriptedResponder;

const QByteArray kUserJson = R"({"id":"u1","username":"ann","displayName":"Ann"})";
const QByteArray kAuthJson = R"({"token":"tok-1","user":)" + kUserJson + "}";

// Runs one client call to its end.
template <class T>
AuthResult<T> finish(const std::function<void(AuthClient::Callback<T>)>& start) {
    std::optional<AuthResult<T>> result;
    start([&result](AuthResult<T> r) { result.emplace(std::move(r)); });
    if (!testing::runUntil([&result] { return result.has_value(); })) {
        ADD_FAILURE() << "no answer";
        return AuthFailure(TransportError{-1, "no answer within the test's time"});
    }
    return std::move(*result);
}

class AuthClientTest : public ::testing::Test {
  protected:
    testing::TestAppScope app;
    ScriptedResponder server;
    AuthClient client{server.baseUrl()};
};

TEST_F(AuthClientTest, logsInWithAJsonBodyAndNoAuthorization) {
    server.script("POST", "/auth/login", {ScriptedAnswer::json(200, kAuthJson)});
    const auto result = finish<AuthResponse>([&](auto done) { client.login("Ann ", " p/w\"", done); });
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.value(), (AuthResponse{"tok-1", {"u1", "ann", "Ann"}}));

    ASSERT_EQ(server.requests().size(), 1);
    const auto& request = server.requests().front();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/auth/login");
    // Sent unchanged: no trimming, no case change.
    EXPECT_EQ(request.body, R"({"username":"Ann ","password":" p\/w\""})");
    EXPECT_EQ(request.headerValues("content-type"), QList<QByteArray>{"application/json"});
    EXPECT_TRUE(request.headerValues("authorization").isEmpty());
}

TEST_F(AuthClientTest, signupPostsToItsOwnEndpointWithoutAuthorization) {
    server.script("POST", "/auth/signup", {ScriptedAnswer::json(201, kAuthJson)});
    const auto result = finish<AuthResponse>([&](auto done) { client.signup("ann", "password1", done); });
    ASSERT_TRUE(result.ok());
    ASSERT_EQ(server.requestsTo("POST", "/auth/signup").size(), 1);
    EXPECT_TRUE(server.requests().front().headerValues("authorization").isEmpty());
}

TEST_F(AuthClientTest, everyAuthenticatedCallSendsExactlyOneBearerHeader) {
    server.script("GET", "/auth/me", {ScriptedAnswer::json(200, R"({"user":)" + kUserJson + "}")});
    server.script("POST", "/auth/logout", {ScriptedAnswer::json(204, {})});
    server.script("GET", "/friends", {ScriptedAnswer::json(200, R"({"friends":[]})")});
    server.script("GET", "/friends/requests", {ScriptedAnswer::json(200, R"({"requests":[]})")});
    server.script("POST", "/friends/request",
                  {ScriptedAnswer::json(200, R"({"status":"pending","target":)" + kUserJson + "}")});
    server.script("POST", "/friends/accept", {ScriptedAnswer::json(200, "{}")});
    server.script("POST", "/friends/decline", {ScriptedAnswer::json(200, "{}")});

    struct Call {
        QByteArray method;
        QByteArray path;
        QByteArray body;  // empty: no body expected
        std::function<bool()> run;
    };
    const QString token = QStringLiteral("abc_DEF-123");
    const Call calls[] = {
        {"GET",
         "/auth/me",
         {},
         [&] { return finish<MeResponse>([&](auto d) { client.me(token, d); }).ok(); }},
        {"POST", "/auth/logout", "{}",
         [&] { return finish<Done>([&](auto d) { client.logout(token, d); }).ok(); }},
        {"GET",
         "/friends",
         {},
         [&] { return finish<FriendsResponse>([&](auto d) { client.friends(token, d); }).ok(); }},
        {"GET",
         "/friends/requests",
         {},
         [&] { return finish<PendingResponse>([&](auto d) { client.pendingRequests(token, d); }).ok(); }},
        {"POST", "/friends/request", R"({"username":"bo"})",
         [&] {
             return finish<FriendRequestResult>([&](auto d) { client.sendFriendRequest(token, "bo", d); })
                 .ok();
         }},
        {"POST", "/friends/accept", R"({"requesterId":"r1"})",
         [&] { return finish<Done>([&](auto d) { client.acceptRequest(token, "r1", d); }).ok(); }},
        {"POST", "/friends/decline", R"({"requesterId":"r2"})",
         [&] { return finish<Done>([&](auto d) { client.declineRequest(token, "r2", d); }).ok(); }},
    };
    for (const auto& call : calls) {
        EXPECT_TRUE(call.run()) << call.path.constData();
        const auto sent = server.requestsTo(call.method, call.path);
        ASSERT_EQ(sent.size(), 1) << call.path.constData();
        EXPECT_EQ(sent.front().headerValues("authorization"), QList<QByteArray>{"Bearer abc_DEF-123"})
            << call.path.constData();
        EXPECT_EQ(sent.front().body, call.body) << call.path.constData();
        if (!call.body.isEmpty()) {
            EXPECT_EQ(sent.front().headerValues("content-type"), QList<QByteArray>{"application/json"});
        } else {
            EXPECT_TRUE(sent.front().headerValues("content-type").isEmpty()) << call.path.constData();
        }
    }
}

TEST_F(AuthClientTest, voidCallsIgnoreTheBodyWhileRecordCallsNeedOne) {
    for (const int status : {200, 204}) {
        server.script("POST", "/auth/logout", {ScriptedAnswer::json(status, {})});
        server.script("POST", "/friends/accept", {ScriptedAnswer::json(status, {})});
        server.script("POST", "/friends/decline", {ScriptedAnswer::json(status, "not json at all")});
        server.script("GET", "/auth/me", {ScriptedAnswer::json(status, {})});
        server.script("GET", "/friends", {ScriptedAnswer::json(status, {})});
        server.script("POST", "/friends/request", {ScriptedAnswer::json(status, {})});
        server.script("POST", "/auth/login", {ScriptedAnswer::json(status, {})});

        EXPECT_TRUE(finish<Done>([&](auto d) { client.logout("t", d); }).ok()) << status;
        EXPECT_TRUE(finish<Done>([&](auto d) { client.acceptRequest("t", "r", d); }).ok()) << status;
        EXPECT_TRUE(finish<Done>([&](auto d) { client.declineRequest("t", "r", d); }).ok()) << status;

        const AuthFailure failures[] = {
            finish<MeResponse>([&](auto d) { client.me("t", d); }).failure(),
            finish<FriendsResponse>([&](auto d) { client.friends("t", d); }).failure(),
            finish<FriendRequestResult>([&](auto d) { client.sendFriendRequest("t", "x", d); }).failure(),
            finish<AuthResponse>([&](auto d) { client.login("a", "b", d); }).failure(),
        };
        for (const auto& failure : failures) {
            EXPECT_TRUE(std::holds_alternative<CodingError>(failure)) << status;
        }
    }
}

TEST_F(AuthClientTest, unsuccessfulAnswersBecomeAPIErrors) {
    struct Case {
        int status;
        QByteArray body;
        QByteArray contentType;
        APIError expected;
    };
    const Case cases[] = {
        {401,
         R"({"error":"Invalid username or password"})",
         "application/json",
         {"Invalid username or password", 401}},
        {500, "<html><body><h1>500 Internal Server Error</h1></body></html>", "text/html", {"HTTP 500", 500}},
        {502, "", "", {"HTTP 502", 502}},
        {300, "", "text/plain", {"HTTP 300", 300}},
        {400, R"({"error":"Password too short"})", "application/json", {"Password too short", 400}},
        {409, R"({"error":"Username taken"})", "application/json", {"Username taken", 409}},
    };
    for (const auto& c : cases) {
        server.script("POST", "/auth/login", {ScriptedAnswer::raw(c.status, c.body, c.contentType)});
        const auto result = finish<AuthResponse>([&](auto d) { client.login("ann", "pw", d); });
        ASSERT_FALSE(result.ok()) << c.status;
        ASSERT_NE(result.apiError(), nullptr)
            << c.status << " " << userMessage(result.failure()).toStdString();
        EXPECT_EQ(*result.apiError(), c.expected);
        EXPECT_EQ(userMessage(result.failure()), c.expected.message);
    }
}

TEST_F(AuthClientTest, statusBoundariesOf2xx) {
    struct Case {
        int status;
        bool ok;
    };
    for (const Case c : {Case{199, false}, Case{200, true}, Case{299, true}, Case{300, false}}) {
        server.script("POST", "/friends/accept", {ScriptedAnswer::json(c.status, "{}")});
        const auto result = finish<Done>([&](auto d) { client.acceptRequest("t", "r", d); });
        EXPECT_EQ(result.ok(), c.ok) << c.status;
        if (!c.ok && !result.ok()) {
            EXPECT_NE(result.apiError(), nullptr)
                << c.status << " " << userMessage(result.failure()).toStdString();
        }
    }
}

TEST_F(AuthClientTest, aUserWithoutDisplayNameIsADecodingFailureNotAnAPIError) {
    server.script("POST", "/auth/login",
                  {ScriptedAnswer::json(200, R"({"token":"t","user":{"id":"u","username":"ann"}})")});
    const auto result = finish<AuthResponse>([&](auto d) { client.login("ann", "pw", d); });
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.apiError(), nullptr);
    EXPECT_TRUE(std::holds_alternative<CodingError>(result.failure()));
}

TEST_F(AuthClientTest, onlineAsAStringFailsTheWholeFriendsList) {
    server.script(
        "GET", "/friends",
        {ScriptedAnswer::json(200, R"({"friends":[{"id":"a","username":"a","displayName":"A","online":true},)"
                                   R"({"id":"b","username":"b","displayName":"B","online":"true"}]})")});
    const auto result = finish<FriendsResponse>([&](auto d) { client.friends("t", d); });
    ASSERT_FALSE(result.ok());
    EXPECT_TRUE(std::holds_alternative<CodingError>(result.failure()));
}

TEST_F(AuthClientTest, anUnreachableServiceIsATransportFailure) {
    AuthClient offline(testing::unreachableUrl());
    const auto result = finish<MeResponse>([&](auto d) { offline.me("t", d); });
    ASSERT_FALSE(result.ok());
    const auto* transport = std::get_if<TransportError>(&result.failure());
    ASSERT_NE(transport, nullptr);
    EXPECT_EQ(transport->networkError, QNetworkReply::ConnectionRefusedError);
    EXPECT_FALSE(transport->description.isEmpty());
}

TEST_F(AuthClientTest, aStalledAnswerIsAbandonedAfterTheTransferTimeout) {
    server.script("GET", "/auth/me", {ScriptedAnswer::never()});
    client.setTransferTimeout(std::chrono::milliseconds(300));
    const auto result = finish<MeResponse>([&](auto d) { client.me("t", d); });
    ASSERT_FALSE(result.ok());
    EXPECT_TRUE(std::holds_alternative<TransportError>(result.failure()));
}

TEST_F(AuthClientTest, anAnswerThatIsNotHttpIsABadServerResponse) {
    QTemporaryDir root;
    ASSERT_TRUE(QDir(root.path()).mkpath("auth"));
    QFile me(root.filePath("auth/me"));
    ASSERT_TRUE(me.open(QIODevice::WriteOnly));
    me.write(R"({"user":)" + kUserJson + "}");
    me.close();

    AuthClient local(QUrl::fromLocalFile(root.path()));
    const auto result = finish<MeResponse>([&](auto d) { local.me("t", d); });
    ASSERT_FALSE(result.ok());
    ASSERT_NE(result.apiError(), nullptr);
    EXPECT_EQ(*result.apiError(), (APIError{"Bad server response", -1}));
}

TEST_F(AuthClientTest, aTokenThatWouldSplitTheHeaderIsNeverSent) {
    const auto result = finish<FriendsResponse>([&](auto d) { client.friends("tok\r\nX-Injected: 1", d); });
    ASSERT_FALSE(result.ok());
    EXPECT_TRUE(std::holds_alternative<CodingError>(result.failure()));
    testing::runFor(std::chrono::milliseconds(50));
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST_F(AuthClientTest, keepsNoCookies) {
    ScriptedAnswer withCookie = ScriptedAnswer::json(200, R"({"friends":[]})");
    withCookie.headers = {{"Set-Cookie", "session=secret; Path=/"}};
    server.script("GET", "/friends", {withCookie});
    server.script("GET", "/auth/me", {ScriptedAnswer::json(200, R"({"user":)" + kUserJson + "}")});
    ASSERT_TRUE(finish<FriendsResponse>([&](auto d) { client.friends("t", d); }).ok());
    ASSERT_TRUE(finish<MeResponse>([&](auto d) { client.me("t", d); }).ok());
    for (const auto& request : server.requests()) {
        EXPECT_TRUE(request.headerValues("cookie").isEmpty());
    }
}

TEST_F(AuthClientTest, refusesAnAnswerTooLargeToHold) {
    QByteArray huge = R"({"friends":[],"padding":")";
    huge += QByteArray(AuthClient::kMaxAnswerBytes, 'x');
    huge += R"("})";
    server.script("GET", "/friends", {ScriptedAnswer::json(200, huge)});
    const auto result = finish<FriendsResponse>([&](auto d) { client.friends("t", d); });
    ASSERT_FALSE(result.ok());
    EXPECT_TRUE(std::holds_alternative<CodingError>(result.failure()));
}

TEST_F(AuthClientTest, followsRedirectsOnlyWithinTheSameOrigin) {
    ScriptedResponder elsewhere;
    elsewhere.script("GET", "/friends", {ScriptedAnswer::json(200, R"({"friends":[]})")});
    ScriptedAnswer away = ScriptedAnswer::json(302, {});
    away.headers = {{"Location", elsewhere.baseUrl().toEncoded() + "/friends"}};
    server.script("GET", "/friends", {away});
    const auto refused = finish<FriendsResponse>([&](auto d) { client.friends("secret", d); });
    EXPECT_FALSE(refused.ok());
    testing::runFor(std::chrono::milliseconds(50));
    EXPECT_TRUE(elsewhere.requests().isEmpty()) << "the token went to another origin";

    ScriptedAnswer moved = ScriptedAnswer::json(307, {});
    moved.headers = {{"Location", "/v2/friends"}};
    server.script("GET", "/friends", {moved});
    server.script("GET", "/v2/friends", {ScriptedAnswer::json(200, R"({"friends":[]})")});
    EXPECT_TRUE(finish<FriendsResponse>([&](auto d) { client.friends("secret", d); }).ok());
    ASSERT_EQ(server.requestsTo("GET", "/v2/friends").size(), 1);
    EXPECT_EQ(server.requestsTo("GET", "/v2/friends").front().headerValues("authorization"),
              QList<QByteArray>{"Bearer secret"});
}

TEST_F(AuthClientTest, aClientDestroyedMidCallNeverCallsBack) {
    server.script("GET", "/friends", {ScriptedAnswer::never()});
    auto doomed = std::make_unique<AuthClient>(server.baseUrl());
    bool called = false;
    doomed->friends("t", [&called](AuthResult<FriendsResponse>) { called = true; });
    ASSERT_TRUE(testing::runUntil([&] { return !server.requests().isEmpty(); }));
    doomed.reset();
    testing::runFor(std::chrono::milliseconds(100));
    EXPECT_FALSE(called);
}

}  // namespace
}  // namespace vellumora
