// The account client: the service's records as it reads and writes them, its requests, and how
// it takes the service's answers, against a scripted HTTP responder on loopback.

#include <gtest/gtest.h>

#include <QNetworkReply>

#include "account/auth_client.h"
#include "account/auth_json.h"
#include "support/qt_test_app.h"
#include "support/scripted_server.h"

namespace vellumora {
namespace {

using namespace std::chrono_literals;
using testing::ScriptedAnswer;

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

class AuthClientTest : public ::testing::Test {
  protected:
    testing::ScriptedResponder server;
    AuthClient client{server.baseUrl()};
};

TEST_F(AuthClientTest, theTokenGoesOnlyInItsHeaderToItsOriginAndADestroyedClientNeverCallsBack) {
    EXPECT_FALSE(finish<FriendsResponse>([&](auto d) { client.friends("tok\rX-Injected: 1", d); }).ok());
    testing::ScriptedResponder elsewhere;
    ScriptedAnswer away = ScriptedAnswer::json(302, {});
    away.headers = {{"Location", elsewhere.baseUrl().toEncoded() + "/friends"}};
    ScriptedAnswer moved = ScriptedAnswer::json(307, {});
    moved.headers = {{"Location", "/v2/friends"}};
    server.script("GET", "/friends", {away, moved});
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

}  // namespace
}  // namespace vellumora
