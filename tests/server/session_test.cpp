// Sessions end with their room connections: log-out, log-out everywhere and expiry close them
// at once with the code the app takes for "signed out", and the token opens nothing after.
#include <gtest/gtest.h>

#include <thread>

#include "support/server_process.h"
#include "test_client.h"

namespace vellumora::testing {
namespace {

using Clock = std::chrono::steady_clock;

std::string logIn(std::uint16_t port, const Account& who) {
    return jsonString(httpRequest(port, "POST", "/auth/login",
                                  R"({"username":")" + who.username + R"(","password":"password123"})")
                          .body,
                      "token");
}

void expectSessionEnded(WsClient& client, std::string_view reason, std::chrono::milliseconds within) {
    const auto start = Clock::now();
    ASSERT_TRUE(client.waitClosed(within + 2s));
    EXPECT_LE(Clock::now() - start, within);
    EXPECT_EQ(client.closeCode(), kSessionEndedCloseCode);
    EXPECT_EQ(client.closeReason(), reason);
}

TEST(Sessions, shouldCloseTheRoomConnectionsOfASessionThatSignsOutAndRefuseItsToken) {
    ServerProcess server({{"--auth-rate-limit", "0"}});
    const std::uint16_t port = server.port();
    const Account alice = signUp(port, "alice");
    const Account bob = signUp(port, "bob");
    const std::string laptop = alice.token;
    const std::string phone = logIn(port, alice);
    WsClient onLaptop(port, soloRoom(alice), laptop, "#FF0000", WsClient::TokenIn::bearer);
    WsClient onPhone(port, soloRoom(alice), phone);
    WsClient bobs(port, soloRoom(bob), bob.token);
    ASSERT_TRUE(onLaptop.waitFor("room_state") && onPhone.waitFor("room_state") && bobs.waitFor("room_state"));

    ASSERT_EQ(httpRequest(port, "POST", "/auth/logout", "{}", laptop).status, 200u);
    expectSessionEnded(onLaptop, "Signed out", 1s);
    EXPECT_TRUE(onPhone.waitFor("peer_left"));  // the laptop left the room at once
    for (const auto tokenIn : {WsClient::TokenIn::query, WsClient::TokenIn::bearer})
        EXPECT_EQ(WsClient(port, soloRoom(alice), laptop, "#FF0000", tokenIn).handshakeStatus(), 401u);

    const HttpAnswer everywhere = httpRequest(port, "POST", "/auth/logout-all", "{}", phone);
    EXPECT_EQ(everywhere.status, 200u);
    EXPECT_EQ(everywhere.body, "{}");
    expectSessionEnded(onPhone, "Signed out", 1s);
    EXPECT_EQ(httpRequest(port, "GET", "/auth/me", {}, phone).status, 401u);
    // Nobody else's session is touched.
    EXPECT_EQ(httpRequest(port, "GET", "/auth/me", {}, bob.token).status, 200u);
    ASSERT_TRUE(bobs.send(ClientMessage::cursor(0.5, 0.5)));
    EXPECT_TRUE(bobs.open());
}

TEST(Sessions, shouldExpireAfterTheIdleTimeoutAndSlideOnEveryUse) {
    ServerProcess server({{"--session-idle-timeout", "2"}});
    const std::uint16_t port = server.port();
    const Account alice = signUp(port, "alice");
    WsClient room(port, soloRoom(alice), alice.token);
    ASSERT_TRUE(room.waitFor("room_state"));
    for (int second = 0; second < 3; ++second) {
        std::this_thread::sleep_for(1s);
        ASSERT_EQ(httpRequest(port, "GET", "/auth/me", {}, alice.token).status, 200u) << second;
    }
    ASSERT_TRUE(room.open());
    expectSessionEnded(room, "Session expired", 3500ms);  // 2 s unused, then the next check
    EXPECT_EQ(httpRequest(port, "GET", "/auth/me", {}, alice.token).status, 401u);
    EXPECT_EQ(WsClient(port, soloRoom(alice), alice.token).handshakeStatus(), 401u);
}

}  // namespace
}  // namespace vellumora::testing
