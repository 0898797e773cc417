// Every REST endpoint of the real server over loopback: successes, and each error with its
// status and {"error"} body.
#include <gtest/gtest.h>
#include <simdjson.h>

#include "support/server_process.h"
#include "test_client.h"

namespace vellumora::testing {
namespace {

class RestApi : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { server_ = new ServerProcess({{"--auth-rate-limit", "0"}}); }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    static std::uint16_t port() { return server_->port(); }
    static std::string unique(const std::string& prefix) {
        static int n = 0;
        return prefix + std::to_string(++n) + std::to_string(::getpid() % 1000);
    }

    static ServerProcess* server_;
};
ServerProcess* RestApi::server_ = nullptr;

void expectError(const HttpAnswer& answer, unsigned status) {
    EXPECT_EQ(answer.status, status) << answer.body;
    EXPECT_FALSE(jsonString(answer.body, "error").empty()) << answer.body;
}

TEST_F(RestApi, shouldAnswerHealthzAndMetrics) {
    const HttpAnswer health = httpRequest(port(), "GET", "/healthz");
    EXPECT_EQ(health.status, 200u);
    EXPECT_EQ(health.body, "ok");
    const HttpAnswer metrics = httpRequest(port(), "GET", "/metrics");
    EXPECT_EQ(metrics.status, 200u);
    EXPECT_NE(metrics.body.find("vellumora_connections "), std::string::npos);
    EXPECT_NE(metrics.body.find("vellumora_messages_in_total "), std::string::npos);
}

TEST_F(RestApi, shouldSignUpAndAnswerAuthResponse) {
    const std::string name = unique("Ann_");
    const HttpAnswer a = httpRequest(port(), "POST", "/auth/signup",
                                     R"({"username":")" + name + R"(","password":"correct horse"})");
    ASSERT_EQ(a.status, 200u) << a.body;
    simdjson::dom::parser parser;
    simdjson::dom::element root = parser.parse(simdjson::padded_string(a.body));
    const std::string_view token = root["token"].get_string().value();
    EXPECT_EQ(token.size(), 43u);  // 32 bytes, URL-safe Base64 without padding
    EXPECT_EQ(token.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
              std::string_view::npos);
    EXPECT_EQ(root["user"]["username"].get_string().value(), name);
    EXPECT_EQ(root["user"]["displayName"].get_string().value(), name);
    EXPECT_FALSE(root["user"]["id"].get_string().value().empty());

    const HttpAnswer me = httpRequest(port(), "GET", "/auth/me", {}, token);
    EXPECT_EQ(me.status, 200u);
    EXPECT_NE(me.body.find(std::string(root["user"]["id"].get_string().value())), std::string::npos);
}

TEST_F(RestApi, shouldRefuseBadSignUps) {
    struct Case {
        const char* what;
        std::string body;
        unsigned status;
    };
    const std::string taken = unique("taken_");
    signUp(port(), taken);
    const std::vector<Case> cases{
        {"not json", "username=x", 400},
        {"array", R"(["a","b"])", 400},
        {"missing password", R"({"username":"someone"})", 400},
        {"number username", R"({"username":12345,"password":"password1"})", 400},
        {"too short", R"({"username":"ab","password":"password1"})", 400},
        {"too long", R"({"username":"abcdefghijklmnopqrstu","password":"password1"})", 400},
        {"bad character", R"({"username":"bad-name","password":"password1"})", 400},
        {"space", R"({"username":"bad name","password":"password1"})", 400},
        {"short password", R"({"username":"shortpw","password":"1234567"})", 400},
        {"huge password", R"({"username":"hugepw","password":")" + std::string(1025, 'x') + R"("})", 400},
        {"taken", R"({"username":")" + taken + R"(","password":"password1"})", 409},
        {"taken other case",
         R"({"username":")" +
             [&] {
                 std::string upper = taken;
                 for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
                 return upper;
             }() +
             R"(","password":"password1"})",
         409},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        expectError(httpRequest(port(), "POST", "/auth/signup", c.body), c.status);
    }
    // Eight characters, not eight bytes: four two-byte letters are too short.
    expectError(httpRequest(port(), "POST", "/auth/signup", R"({"username":"utfpw","password":"ääää"})"),
                400);
    EXPECT_EQ(
        httpRequest(port(), "POST", "/auth/signup", R"({"username":"utfpw","password":"ääääääää"})").status,
        200u);
}

TEST_F(RestApi, shouldRefuseOversizedBodyWith413) {
    const std::string body = R"({"username":"big","password":")" + std::string(70 * 1024, 'x') + R"("})";
    expectError(httpRequest(port(), "POST", "/auth/signup", body), 413);
    EXPECT_EQ(httpRequest(port(), "GET", "/healthz").status, 200u);
}

TEST_F(RestApi, shouldLogInWithoutRegardToCaseAndGiveOneAnswerForEveryFailure) {
    const std::string name = unique("Bob_");
    signUp(port(), name, "s3cret-pass");
    std::string lower = name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const HttpAnswer ok = httpRequest(port(), "POST", "/auth/login",
                                      R"({"username":")" + lower + R"(","password":"s3cret-pass"})");
    ASSERT_EQ(ok.status, 200u) << ok.body;
    EXPECT_NE(ok.body.find("\"username\":\"" + name + "\""), std::string::npos);

    const HttpAnswer wrongPassword = httpRequest(port(), "POST", "/auth/login",
                                                 R"({"username":")" + name + R"(","password":"wrong-pass"})");
    const HttpAnswer noSuchUser =
        httpRequest(port(), "POST", "/auth/login", R"({"username":"nobody_here","password":"wrong-pass"})");
    expectError(wrongPassword, 401);
    expectError(noSuchUser, 401);
    EXPECT_EQ(wrongPassword.body, noSuchUser.body);
    expectError(httpRequest(port(), "POST", "/auth/login", R"({"username":"x"})"), 400);
}

TEST_F(RestApi, shouldRefuseMissingOrBadTokensOnEveryAuthenticatedEndpoint) {
    const std::vector<std::pair<std::string, std::string>> endpoints{
        {"GET", "/auth/me"},          {"POST", "/auth/logout"},     {"GET", "/friends"},
        {"GET", "/friends/requests"}, {"POST", "/friends/request"}, {"POST", "/friends/accept"},
        {"POST", "/friends/decline"},
    };
    for (const auto& [method, path] : endpoints) {
        SCOPED_TRACE(path);
        expectError(httpRequest(port(), method, path, "{}"), 401);
        expectError(httpRequest(port(), method, path, "{}", "not-a-token"), 401);
    }
}

TEST_F(RestApi, shouldAnswerUnknownPathsAndWrongMethods) {
    expectError(httpRequest(port(), "GET", "/nope"), 404);
    expectError(httpRequest(port(), "GET", "/auth/signup"), 405);
    expectError(httpRequest(port(), "POST", "/friends", "{}"), 405);
}

TEST_F(RestApi, shouldRevokeOnlyThePresentedTokenAtLogout) {
    const std::string name = unique("Cy_");
    const Account first = signUp(port(), name);
    const HttpAnswer second = httpRequest(port(), "POST", "/auth/login",
                                          R"({"username":")" + name + R"(","password":"password123"})");
    const std::string secondToken = jsonString(second.body, "token");
    ASSERT_FALSE(secondToken.empty());

    EXPECT_EQ(httpRequest(port(), "POST", "/auth/logout", "{}", first.token).status, 200u);
    expectError(httpRequest(port(), "GET", "/auth/me", {}, first.token), 401);
    EXPECT_EQ(httpRequest(port(), "GET", "/auth/me", {}, secondToken).status, 200u);
}

TEST_F(RestApi, shouldRunTheFriendRequestLifecycle) {
    const Account a = signUp(port(), unique("Dee_"));
    const Account b = signUp(port(), unique("Eve_"));
    const Account c = signUp(port(), unique("Flo_"));

    // a asks b (b's name in another case): pending, listed for b with a's details.
    std::string upperB = b.username;
    for (char& ch : upperB) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    HttpAnswer r =
        httpRequest(port(), "POST", "/friends/request", R"({"username":")" + upperB + R"("})", a.token);
    ASSERT_EQ(r.status, 200u) << r.body;
    EXPECT_EQ(jsonString(r.body, "status"), "pending");
    EXPECT_NE(r.body.find("\"target\":{\"id\":\"" + b.id + "\""), std::string::npos) << r.body;

    r = httpRequest(port(), "GET", "/friends/requests", {}, b.token);
    ASSERT_EQ(r.status, 200u);
    simdjson::dom::parser parser;
    simdjson::dom::element root = parser.parse(simdjson::padded_string(r.body));
    simdjson::dom::array requests = root["requests"].get_array().value();
    ASSERT_EQ(requests.size(), 1u);
    simdjson::dom::element first = requests.at(0).value();
    EXPECT_EQ(first["requesterId"].get_string().value(), a.id);
    EXPECT_EQ(first["username"].get_string().value(), a.username);
    EXPECT_EQ(first["displayName"].get_string().value(), a.username);
    EXPECT_GT(first["createdAt"].get_double().value(), 1.7e9);

    // Asking again stays pending; b accepting makes friends, listed both ways, offline.
    EXPECT_EQ(jsonString(httpRequest(port(), "POST", "/friends/request",
                                     R"({"username":")" + b.username + R"("})", a.token)
                             .body,
                         "status"),
              "pending");
    EXPECT_EQ(httpRequest(port(), "POST", "/friends/accept", R"({"requesterId":")" + a.id + R"("})", b.token)
                  .status,
              200u);
    EXPECT_EQ(httpRequest(port(), "GET", "/friends/requests", {}, b.token).body, R"({"requests":[]})");
    for (const auto& [me, other] : {std::pair{a, b}, std::pair{b, a}}) {
        const HttpAnswer friends = httpRequest(port(), "GET", "/friends", {}, me.token);
        EXPECT_EQ(friends.body, R"({"friends":[{"id":")" + other.id + R"(","username":")" + other.username +
                                    R"(","displayName":")" + other.username + R"(","online":false}]})");
    }
    // Already friends: "accepted".
    EXPECT_EQ(jsonString(httpRequest(port(), "POST", "/friends/request",
                                     R"({"username":")" + a.username + R"("})", b.token)
                             .body,
                         "status"),
              "accepted");

    // c asks a, then a asks c: accepted at once, no accept needed.
    httpRequest(port(), "POST", "/friends/request", R"({"username":")" + a.username + R"("})", c.token);
    r = httpRequest(port(), "POST", "/friends/request", R"({"username":")" + c.username + R"("})", a.token);
    EXPECT_EQ(jsonString(r.body, "status"), "accepted");
    EXPECT_NE(httpRequest(port(), "GET", "/friends", {}, c.token).body.find(a.id), std::string::npos);
    EXPECT_EQ(httpRequest(port(), "GET", "/friends/requests", {}, a.token).body, R"({"requests":[]})");
}

TEST_F(RestApi, shouldDeclineAndRefuseBadFriendRequests) {
    const Account a = signUp(port(), unique("Gus_"));
    const Account b = signUp(port(), unique("Hal_"));
    httpRequest(port(), "POST", "/friends/request", R"({"username":")" + b.username + R"("})", a.token);
    EXPECT_EQ(httpRequest(port(), "POST", "/friends/decline", R"({"requesterId":")" + a.id + R"("})", b.token)
                  .status,
              200u);
    EXPECT_EQ(httpRequest(port(), "GET", "/friends/requests", {}, b.token).body, R"({"requests":[]})");
    EXPECT_EQ(httpRequest(port(), "GET", "/friends", {}, b.token).body, R"({"friends":[]})");

    struct Case {
        const char* what;
        std::string path;
        std::string body;
        unsigned status;
    };
    const std::vector<Case> cases{
        {"unknown user", "/friends/request", R"({"username":"no_such_user"})", 404},
        {"invalid username", "/friends/request", R"({"username":"x y"})", 404},
        {"to oneself", "/friends/request", R"({"username":")" + a.username + R"("})", 400},
        {"no username", "/friends/request", R"({})", 400},
        {"malformed", "/friends/request", R"({"username":)", 400},
        {"accept declined request", "/friends/accept", R"({"requesterId":")" + b.id + R"("})", 404},
        {"accept unknown", "/friends/accept", R"({"requesterId":"nobody"})", 404},
        {"decline unknown", "/friends/decline", R"({"requesterId":"nobody"})", 404},
        {"accept without id", "/friends/accept", R"({"requester":"x"})", 400},
        {"decline not an object", "/friends/decline", R"("x")", 400},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        expectError(httpRequest(port(), "POST", c.path, c.body, a.token), c.status);
    }
}

TEST_F(RestApi, shouldKeepAccountsAndTokensAcrossARestart) {
    const Account a = signUp(port(), unique("Ivy_"));
    server_->stop();
    server_->start();
    EXPECT_EQ(httpRequest(port(), "GET", "/auth/me", {}, a.token).status, 200u);
}

TEST(RestRateLimit, shouldAnswer429PerAddressAndPerUsername) {
    ServerProcess server({{"--auth-rate-limit", "3"}});
    const std::string body = R"({"username":"nobody","password":"password1"})";
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(httpRequest(server.port(), "POST", "/auth/login", body).status, 401u);
    const HttpAnswer limited = httpRequest(server.port(), "POST", "/auth/login", body);
    expectError(limited, 429);
    // Sign-up from the same address is limited too.
    expectError(
        httpRequest(server.port(), "POST", "/auth/signup", R"({"username":"fresh","password":"password1"})"),
        429);
    EXPECT_NE(httpRequest(server.port(), "GET", "/metrics").body.find("vellumora_refused_logins_total 5"),
              std::string::npos);
}

}  // namespace
}  // namespace vellumora::testing
