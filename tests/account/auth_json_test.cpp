// The service's records as the client reads and writes them, and how answers become failures.

#include <gtest/gtest.h>

#include "account/auth_client.h"
#include "account/auth_json.h"

namespace vellumora {
namespace {

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

TEST(AuthJson, onlyA2xxAnswerSucceedsAndFailuresCarryTheServicesText) {
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
}

TEST(AuthJson, endpointsHangOffTheBasePathEscaped) {
    EXPECT_EQ(endpointUrl(QUrl("http://127.0.0.1:8787"), u"//friends"),
              QUrl("http://127.0.0.1:8787/friends"));
    EXPECT_EQ(endpointUrl(QUrl("https://example.org/api/"), u"/auth/me"),
              QUrl("https://example.org/api/auth/me"));
    EXPECT_EQ(endpointUrl(QUrl("https://example.org/api"), u"a b?c#d").toString(QUrl::FullyEncoded),
              "https://example.org/api/a%20b%3Fc%23d");
}

}  // namespace
}  // namespace vellumora
