#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "account/auth_client.h"
#include "account/auth_json.h"

namespace vellumora {
namespace {

bool isCodingError(const AuthFailure& failure) {
    return std::holds_alternative<CodingError>(failure);
}

TEST(AuthJson, decodesEveryRecordAndIgnoresUnknownKeys) {
    const auto auth = decodeRecord<AuthResponse>(
        R"({"token":"t0k","user":{"id":"u1","username":"ann","displayName":"Ann","extra":1},"more":[]})");
    ASSERT_TRUE(auth.ok());
    EXPECT_EQ(auth.value(), (AuthResponse{"t0k", {"u1", "ann", "Ann"}}));

    const auto me = decodeRecord<MeResponse>(R"({"user":{"id":"u1","username":"ann","displayName":"Ann"}})");
    ASSERT_TRUE(me.ok());
    EXPECT_EQ(me.value().user, (AuthUser{"u1", "ann", "Ann"}));

    const auto friends = decodeRecord<FriendsResponse>(
        R"({"friends":[{"id":"b","username":"bo","displayName":"Bo","online":true},)"
        R"({"id":"a","username":"al","displayName":"Al","online":false}]})");
    ASSERT_TRUE(friends.ok());
    // The service's order is kept.
    EXPECT_EQ(friends.value().friends, (QList<FriendDTO>{{"b", "bo", "Bo", true}, {"a", "al", "Al", false}}));

    const auto pending = decodeRecord<PendingResponse>(
        R"({"requests":[{"requesterId":"r","username":"ri","displayName":"Ri","createdAt":1700000000},)"
        R"({"requesterId":"s","username":"si","displayName":"Sí ☂","createdAt":12.5}]})");
    ASSERT_TRUE(pending.ok());
    EXPECT_EQ(pending.value().requests,
              (QList<PendingRequestDTO>{{"r", "ri", "Ri", 1700000000.0}, {"s", "si", u"Sí ☂"_qs, 12.5}}));

    const auto sent = decodeRecord<FriendRequestResult>(
        R"({"status":"accepted","target":{"id":"t","username":"ti","displayName":"Ti"}})");
    ASSERT_TRUE(sent.ok());
    EXPECT_EQ(sent.value(), (FriendRequestResult{"accepted", {"t", "ti", "Ti"}}));

    const auto envelope = decodeRecord<APIErrorEnvelope>(R"({"error":"Invalid credentials"})");
    ASSERT_TRUE(envelope.ok());
    EXPECT_EQ(envelope.value().error, "Invalid credentials");

    const auto empty = decodeRecord<FriendsResponse>(R"({"friends":[]})");
    ASSERT_TRUE(empty.ok());
    EXPECT_TRUE(empty.value().friends.isEmpty());
}

TEST(AuthJson, rejectsMissingKeysWrongTypesAndMalformedBodies) {
    struct Case {
        const char* name;
        std::string body;
        bool (*decodes)(const std::string&);
    };
    const auto auth = [](const std::string& b) { return decodeRecord<AuthResponse>(QByteArrayView(b)).ok(); };
    const auto friends = [](const std::string& b) {
        return decodeRecord<FriendsResponse>(QByteArrayView(b)).ok();
    };
    const auto pending = [](const std::string& b) {
        return decodeRecord<PendingResponse>(QByteArrayView(b)).ok();
    };
    const auto sent = [](const std::string& b) {
        return decodeRecord<FriendRequestResult>(QByteArrayView(b)).ok();
    };
    const auto envelope = [](const std::string& b) {
        return decodeRecord<APIErrorEnvelope>(QByteArrayView(b)).ok();
    };
    const Case cases[] = {
        {"user without displayName", R"({"token":"t","user":{"id":"u","username":"n"}})", auth},
        {"displayName null", R"({"token":"t","user":{"id":"u","username":"n","displayName":null}})", auth},
        {"token a number", R"({"token":5,"user":{"id":"u","username":"n","displayName":"N"}})", auth},
        {"user a string", R"({"token":"t","user":"u"})", auth},
        {"empty body", "", auth},
        {"html", "<html><body>oops</body></html>", auth},
        {"top-level array", R"([{"token":"t"}])", auth},
        {"truncated", R"({"token":"t","user":{"id":"u")", auth},
        {"invalid utf-8",
         "{\"token\":\"\xff\",\"user\":{\"id\":\"u\",\"username\":\"n\",\"displayName\":\"N\"}}", auth},
        {"online as string", R"({"friends":[{"id":"a","username":"a","displayName":"A","online":"true"}]})",
         friends},
        {"online missing", R"({"friends":[{"id":"a","username":"a","displayName":"A"}]})", friends},
        {"one bad friend spoils the list",
         R"({"friends":[{"id":"a","username":"a","displayName":"A","online":true},{"id":1,"username":"b","displayName":"B","online":true}]})",
         friends},
        {"friends not an array", R"({"friends":{}})", friends},
        {"friend not an object", R"({"friends":["a"]})", friends},
        {"createdAt as string",
         R"({"requests":[{"requesterId":"r","username":"r","displayName":"R","createdAt":"1"}]})", pending},
        {"requests missing", R"({})", pending},
        {"status missing", R"({"target":{"id":"t","username":"t","displayName":"T"}})", sent},
        {"error not a string", R"({"error":404})", envelope},
        {"another shape", R"({"message":"nope"})", envelope},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(c.decodes(c.body)) << c.name;
    }
}

TEST(AuthJson, decodingFailuresAreCodingErrorsNamingTheField) {
    const auto result = decodeRecord<AuthResponse>(R"({"token":"t","user":{"id":"u","username":"n"}})");
    ASSERT_FALSE(result.ok());
    ASSERT_TRUE(isCodingError(result.failure()));
    EXPECT_TRUE(userMessage(result.failure()).contains("user.displayName"))
        << userMessage(result.failure()).toStdString();

    const auto list = decodeRecord<FriendsResponse>(
        R"({"friends":[{"id":"a","username":"a","displayName":"A","online":true},{"id":"b","username":"b","displayName":"B","online":"yes"}]})");
    ASSERT_FALSE(list.ok());
    EXPECT_TRUE(userMessage(list.failure()).contains("friends[1].online"));
}

TEST(AuthJson, encodesStringMapsCompactlyWithEscapes) {
    struct Case {
        StringMap members;
        QByteArray expected;
    };
    const Case cases[] = {
        {{}, "{}"},
        {{{"username", "ann"}, {"password", "pw"}}, R"({"username":"ann","password":"pw"})"},
        {{{"k", "a/b\"c\\d"}}, R"({"k":"a\/b\"c\\d"})"},
        {{{"k", "line\nbreak\ttab\r\b\f"}}, R"({"k":"line\nbreak\ttab\r\b\f"})"},
        {{{"k", QString(QChar(1)) + QChar(0x1f)}}, R"({"k":"\u0001\u001f"})"},
        {{{"k", u"é ☂ 😀"_qs}}, "{\"k\":\"\xc3\xa9 \xe2\x98\x82 \xf0\x9f\x98\x80\"}"},
    };
    for (const auto& c : cases) {
        const auto encoded = encodeStringMap(c.members);
        ASSERT_TRUE(encoded.ok());
        EXPECT_EQ(encoded.value(), c.expected);
    }
}

TEST(AuthJson, refusesTextWithALoneSurrogate) {
    const QString broken = QStringLiteral("pass") + QChar(0xD800) + QStringLiteral("word");
    const auto encoded = encodeStringMap({{"password", broken}});
    ASSERT_FALSE(encoded.ok());
    EXPECT_TRUE(isCodingError(encoded.failure()));
    // A well-formed pair is fine.
    EXPECT_TRUE(encodeStringMap({{"password", u"😀"_qs}}).ok());
}

TEST(EndpointUrl, stripsLeadingSlashesAndAppendsToTheBasePath) {
    struct Case {
        const char* base;
        const char16_t* path;
        const char* expected;
    };
    const Case cases[] = {
        {"http://127.0.0.1:8787", u"/friends/requests", "http://127.0.0.1:8787/friends/requests"},
        {"http://127.0.0.1:8787", u"friends", "http://127.0.0.1:8787/friends"},
        {"http://127.0.0.1:8787", u"//friends", "http://127.0.0.1:8787/friends"},
        {"http://127.0.0.1:8787/", u"/auth/me", "http://127.0.0.1:8787/auth/me"},
        {"https://example.org/api", u"/auth/me", "https://example.org/api/auth/me"},
        {"https://example.org/api/", u"///auth/me", "https://example.org/api/auth/me"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(endpointUrl(QUrl(c.base), QStringView(c.path)).toString().toStdString(), c.expected)
            << c.base << " + " << QString::fromUtf16(c.path).toStdString();
    }
}

TEST(CheckResponse, successIsExactly2xxAndFailuresCarryTheServiceText) {
    struct Case {
        std::optional<int> status;
        QByteArray body;
        std::optional<APIError> expected;
    };
    const Case cases[] = {
        {200, "", std::nullopt},
        {299, "whatever", std::nullopt},
        {204, "", std::nullopt},
        {199, "", APIError{"HTTP 199", 199}},
        {300, "", APIError{"HTTP 300", 300}},
        {401, R"({"error":"Invalid token"})", APIError{"Invalid token", 401}},
        {500, "<html><h1>Internal Server Error</h1></html>", APIError{"HTTP 500", 500}},
        {502, "", APIError{"HTTP 502", 502}},
        {404, R"({"error":17})", APIError{"HTTP 404", 404}},
        {409, R"({"error":""})", APIError{"", 409}},
        {std::nullopt, R"({"error":"ignored"})", APIError{"Bad server response", -1}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(checkResponse(c.status, c.body), c.expected) << c.status.value_or(-1);
    }
}

}  // namespace
}  // namespace vellumora
