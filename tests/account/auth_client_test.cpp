// The account client's requests and how it takes the service's answers, against a scripted
// HTTP responder on loopback.

#include <gtest/gtest.h>

#include <QDir>
#include <QNetworkReply>
#include <QTemporaryDir>

#include "account/auth_client.h"
#include "support/qt_test_app.h"
#include "support/scripted_responder.h"

namespace vellumora {
namespace {

using namespace std::chrono_literals;
using testing::ScriptedAnswer;

const QByteArray kUser = R"({"id":"u1","username":"ann","displayName":"Ann"})";

template <class T, class Start>
AuthResult<T> finish(Start&& start) {
    return testing::resultOf<AuthResult<T>>(std::forward<Start>(start))
        .value_or(AuthFailure(TransportError{-1, "no answer within the test's time"}));
}

class AuthClientTest : public ::testing::Test {
  protected:
    testing::TestAppScope app;
    testing::ScriptedResponder server;
    AuthClient client{server.baseUrl()};
};

TEST_F(AuthClientTest, answersThatCannotBeUsedFailWithTheirKind) {
    QTemporaryDir files;
    ASSERT_TRUE(QDir(files.path()).mkpath("auth") &&
                QFile(files.filePath("auth/me")).open(QIODevice::WriteOnly));
    QByteArray huge =
        R"({"user":)" + kUser + R"(,"padding":")" + QByteArray(AuthClient::kMaxAnswerBytes, 'x') + R"("})";
    ScriptedAnswer withCookie = ScriptedAnswer::json(401, R"({"error":"Invalid token"})");
    withCookie.headers = {{"Set-Cookie", "session=secret; Path=/"}};
    const struct {
        const char* name;
        QUrl base;
        std::optional<ScriptedAnswer> answer;
        AuthFailure expected;  // only the kind is compared, and an API error's text and status
    } cases[] = {
        {"service's error", server.baseUrl(), withCookie, APIError{"Invalid token", 401}},
        {"unusable record", server.baseUrl(), ScriptedAnswer::json(200, R"({"user":{"id":"u"}})"),
         CodingError{}},
        {"too large", server.baseUrl(), ScriptedAnswer::json(200, huge), CodingError{}},
        {"stalled", server.baseUrl(), ScriptedAnswer::never(), TransportError{}},
        {"unreachable", testing::unreachableUrl(), std::nullopt, TransportError{}},
        {"not http", QUrl::fromLocalFile(files.path()), std::nullopt, APIError{"Bad server response", -1}},
    };
    for (const auto& c : cases) {
        if (c.answer) server.script("GET", "/auth/me", {*c.answer});
        AuthClient other(c.base);
        other.setTransferTimeout(c.answer && c.answer->silent ? 300ms : 10s);
        const auto result = finish<MeResponse>([&](auto d) { other.me("t", d); });
        ASSERT_FALSE(result.ok()) << c.name;
        EXPECT_EQ(result.failure().index(), c.expected.index())
            << c.name << ": " << userMessage(result.failure()).toStdString();
        if (const auto* api = std::get_if<APIError>(&c.expected)) {
            EXPECT_EQ(*result.apiError(), *api) << c.name;
        }
    }
    EXPECT_TRUE(server.requestsTo("GET", "/auth/me").back().headerValues("cookie").isEmpty());
}

TEST_F(AuthClientTest, theTokenNeverLeavesInAnotherHeaderOrForAnotherOrigin) {
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
}

TEST_F(AuthClientTest, aClientDestroyedMidCallNeverCallsBack) {
    server.script("GET", "/friends", {ScriptedAnswer::never()});
    auto doomed = std::make_unique<AuthClient>(server.baseUrl());
    bool called = false;
    doomed->friends("t", [&called](AuthResult<FriendsResponse>) { called = true; });
    ASSERT_TRUE(testing::runUntil([&] { return !server.requests().isEmpty(); }));
    doomed.reset();
    testing::runFor(100ms);
    EXPECT_FALSE(called);
}

}  // namespace
}  // namespace vellumora
