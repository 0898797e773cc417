// Every REST endpoint of the real server over loopback: successes, and each error with its
// status and {"error"} body. The friendship rules themselves are the store's (tested there);
// here one lifecycle goes through REST end to end.
#include <gtest/gtest.h>
#include <simdjson.h>

#include "support/server_process.h"
#include "test_client.h"

namespace vellumora::testing {
namespace {

class RestApi : public SharedServer {
  protected:
    static std::string unique(const std::string& prefix) {
        static int n = 0;
        return prefix + std::to_string(++n) + std::to_string(::getpid() % 1000);
    }
    static HttpAnswer post(std::string_view path, std::string_view body, std::string_view token = {}) {
        return httpRequest(port(), "POST", path, body, token);
    }
};

void expectError(const HttpAnswer& answer, unsigned status) {
    EXPECT_EQ(answer.status, status) << answer.body;
    EXPECT_FALSE(jsonString(answer.body, "error").empty()) << answer.body;
}

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

TEST_F(RestApi, shouldAnswerEachRefusalWithItsStatusAndAnErrorBody) {
    const Account a = signUp(port(), unique("Ann_"));
    const struct {
        const char* what;
        std::string method, path, body;
        unsigned status;
    } cases[] = {
        {"unknown path", "GET", "/nope", "", 404},
        {"wrong method", "GET", "/auth/signup", "", 405},
        {"body over 64 KiB", "POST", "/auth/signup",
         R"({"username":"big","password":")" + std::string(70 * 1024, 'x') + "\"}", 413},
        {"not json", "POST", "/auth/signup", "username=x", 400},
        {"missing password", "POST", "/auth/signup", R"({"username":"someone"})", 400},
        {"bad character", "POST", "/auth/signup", R"({"username":"bad-name","password":"password1"})", 400},
        {"taken in another case", "POST", "/auth/signup",
         R"({"username":")" + upper(a.username) + R"(","password":"password1"})", 409},
        {"login without password", "POST", "/auth/login", R"({"username":"x"})", 400},
        {"friend unknown", "POST", "/friends/request", R"({"username":"no_such_user"})", 404},
        {"friend oneself", "POST", "/friends/request", R"({"username":")" + a.username + R"("})", 400},
        {"friend malformed", "POST", "/friends/request", R"({"username":)", 400},
        {"decline without id", "POST", "/friends/decline", R"({"requester":"x"})", 400},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        expectError(httpRequest(port(), c.method, c.path, c.body, a.token), c.status);
    }
    for (const auto& [method, path] : std::vector<std::pair<std::string, std::string>>{
             {"GET", "/auth/me"},
             {"POST", "/auth/logout"},
             {"GET", "/friends"},
             {"GET", "/friends/requests"},
             {"POST", "/friends/request"},
             {"POST", "/friends/accept"},
             {"POST", "/friends/decline"},
         }) {
        SCOPED_TRACE(path);
        expectError(httpRequest(port(), method, path, "{}"), 401);
        expectError(httpRequest(port(), method, path, "{}", "not-a-token"), 401);
    }
}

TEST_F(RestApi, shouldSignUpLogInWithoutRegardToCaseAndRevokeOnlyThePresentedToken) {
    const std::string name = unique("Ann_");
    const HttpAnswer a = post("/auth/signup", R"({"username":")" + name + R"(","password":"correct horse"})");
    ASSERT_EQ(a.status, 200u) << a.body;
    simdjson::dom::parser parser;
    simdjson::dom::element root = parser.parse(simdjson::padded_string(a.body));
    const std::string token(root["token"].get_string().value());
    EXPECT_EQ(root["user"]["displayName"].get_string().value(), name);
    const HttpAnswer me = httpRequest(port(), "GET", "/auth/me", {}, token);
    EXPECT_EQ(me.status, 200u);
    EXPECT_NE(me.body.find(std::string(root["user"]["id"].get_string().value())), std::string::npos);

    const HttpAnswer login =
        post("/auth/login", R"({"username":")" + upper(name) + R"(","password":"correct horse"})");
    ASSERT_EQ(login.status, 200u) << login.body;
    EXPECT_NE(login.body.find("\"username\":\"" + name + "\""), std::string::npos);
    // One answer for every failure: nobody learns which usernames exist.
    const HttpAnswer wrongPassword =
        post("/auth/login", R"({"username":")" + name + R"(","password":"wrong-pass"})");
    expectError(wrongPassword, 401);
    EXPECT_EQ(wrongPassword.body,
              post("/auth/login", R"({"username":"nobody_here","password":"wrong-pass"})").body);

    EXPECT_EQ(post("/auth/logout", "{}", token).status, 200u);
    expectError(httpRequest(port(), "GET", "/auth/me", {}, token), 401);
    EXPECT_EQ(httpRequest(port(), "GET", "/auth/me", {}, jsonString(login.body, "token")).status, 200u);
}

TEST_F(RestApi, shouldRunTheFriendRequestLifecycle) {
    const Account a = signUp(port(), unique("Dee_"));
    const Account b = signUp(port(), unique("Eve_"));
    const Account c = signUp(port(), unique("Flo_"));
    HttpAnswer r = post("/friends/request", R"({"username":")" + upper(b.username) + R"("})", a.token);
    EXPECT_EQ(jsonString(r.body, "status"), "pending");
    EXPECT_NE(r.body.find("\"target\":{\"id\":\"" + b.id + "\""), std::string::npos) << r.body;

    r = httpRequest(port(), "GET", "/friends/requests", {}, b.token);
    simdjson::dom::parser parser;
    simdjson::dom::element request = parser.parse(simdjson::padded_string(r.body))["requests"].at(0).value();
    EXPECT_EQ(request["requesterId"].get_string().value(), a.id);
    EXPECT_EQ(request["displayName"].get_string().value(), a.username);
    EXPECT_GT(request["createdAt"].get_double().value(), 1.7e9);

    EXPECT_EQ(post("/friends/accept", R"({"requesterId":")" + a.id + R"("})", b.token).status, 200u);
    EXPECT_EQ(httpRequest(port(), "GET", "/friends/requests", {}, b.token).body, R"({"requests":[]})");
    EXPECT_EQ(httpRequest(port(), "GET", "/friends", {}, a.token).body,
              R"({"friends":[{"id":")" + b.id + R"(","username":")" + b.username + R"(","displayName":")" +
                  b.username + R"(","online":false}]})");
    EXPECT_EQ(jsonString(post("/friends/request", R"({"username":")" + a.username + R"("})", b.token).body,
                         "status"),
              "accepted");

    post("/friends/request", R"({"username":")" + a.username + R"("})", c.token);
    EXPECT_EQ(post("/friends/decline", R"({"requesterId":")" + c.id + R"("})", a.token).status, 200u);
    expectError(post("/friends/accept", R"({"requesterId":")" + c.id + R"("})", a.token), 404);  // declined
}

TEST(RestRateLimit, shouldCountClientAddressesAProxyNamesAndLockNobodyOutForOthersFailures) {
    ServerProcess server({{"--auth-rate-limit", "3", "--trusted-proxy", "127.0.0.1"}});
    const auto logIn = [&](const std::string& from, const std::string& password) {
        return httpRequest(server.port(), "POST", "/auth/login",
                           R"({"username":"target","password":")" + password + R"("})", {}, proxyHeader(from))
            .status;
    };
    ASSERT_EQ(httpRequest(server.port(), "POST", "/auth/signup", R"({"username":"target","password":"password1"})",
                          {}, proxyHeader("192.0.2.1"))
                  .status,
              200u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(logIn("203.0.113.7", "guess" + std::to_string(i)), 401u);
    EXPECT_EQ(logIn("203.0.113.7", "password1"), 429u);  // that address is spent
    EXPECT_EQ(logIn("198.51.100.9", "password1"), 200u);  // the owner, elsewhere, is not locked out
    // IPv6 addresses count by their /64.
    for (int i = 0; i < 3; ++i) logIn("2001:db8::" + std::to_string(i + 1), "wrong");
    EXPECT_EQ(logIn("2001:db8::ff", "password1"), 429u);
    EXPECT_EQ(logIn("2001:db8:0:1::1", "password1"), 200u);
    // From a trusted proxy, a connection without the header is not served.
    EXPECT_EQ(httpRequest(server.port(), "GET", "/healthz").status, 0u);
    EXPECT_EQ(httpRequest(server.port(), "GET", "/healthz", {}, {}, proxyHeader("192.0.2.1")).status, 200u);
}

TEST(RestRateLimit, shouldAnswer429PerAddressAndPerUsername) {
    ServerProcess server({{"--auth-rate-limit", "3"}});
    const std::string body = R"({"username":"nobody","password":"password1"})";
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(httpRequest(server.port(), "POST", "/auth/login", body).status, 401u);
    expectError(httpRequest(server.port(), "POST", "/auth/login", body), 429);
    expectError(
        httpRequest(server.port(), "POST", "/auth/signup", R"({"username":"fresh","password":"password1"})"),
        429);
    EXPECT_EQ(metric(server.metricsPort(), "vellumora_refused_logins_total"), 5);
}

}  // namespace
}  // namespace vellumora::testing
