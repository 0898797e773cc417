// Command line, admission rules, credentials and rate limits.
#include <sched.h>

#include <gtest/gtest.h>

#include "accounts/account_api.h"
#include "accounts/credentials.h"
#include "accounts/rate_limiter.h"
#include "rooms/room_admission.h"
#include "common/server_config.h"

namespace vellumora::server {
namespace {

TEST(CommandLine, shouldParseEveryFlagAndRefuseNonsense) {
    const CommandLine ok = parseCommandLine({"--listen", "0.0.0.0:9000", "--db", "/tmp/x.db", "--threads",
                                             "3", "--auth-rate-limit", "0", "--message-rate-limit", "600",
                                             "--idle-timeout", "15", "--commit-interval-ms", "20"});
    ASSERT_EQ(ok.action, CommandLine::Action::run) << ok.message;
    EXPECT_EQ(ok.config.listenHost, "0.0.0.0");
    EXPECT_EQ(ok.config.listenPort, 9000);
    EXPECT_EQ(ok.config.dbPath, "/tmp/x.db");
    EXPECT_EQ(ok.config.threads, 3u);
    EXPECT_EQ(ok.config.authRateLimit, 0u);
    EXPECT_EQ(ok.config.messageRateLimit, 600u);
    EXPECT_EQ(ok.config.idleTimeout, std::chrono::seconds(15));
    EXPECT_EQ(ok.config.commitInterval, std::chrono::milliseconds(20));
    EXPECT_GE(parseCommandLine({}).config.threads, 1u);
    {
        // By default one I/O thread per core the process may use, not per core the machine has.
        cpu_set_t saved;
        ASSERT_EQ(sched_getaffinity(0, sizeof saved, &saved), 0);
        cpu_set_t one;
        CPU_ZERO(&one);
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
            if (CPU_ISSET(cpu, &saved)) {
                CPU_SET(cpu, &one);
                break;
            }
        }
        ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
        EXPECT_EQ(parseCommandLine({}).config.threads, 1u);
        sched_setaffinity(0, sizeof saved, &saved);
    }
    EXPECT_EQ(parseCommandLine({"--listen", "[::1]:0"}).config.listenHost, "::1");
    EXPECT_EQ(parseCommandLine({"--help"}).action, CommandLine::Action::help);
    EXPECT_EQ(parseCommandLine({"--version"}).action, CommandLine::Action::version);

    const std::vector<std::vector<std::string>> bad{
        {"--listen", "nohost"},
        {"--listen", "1.2.3.4:70000"},
        {"--listen", "1.2.3.4:8x"},
        {"--threads", "0"},
        {"--threads"},
        {"--frobnicate", "1"},
        {"--tls-cert", "a.pem"},
        {"--password-cost", "cheap"},
        {"--idle-timeout", "-1"},
        {"--message-rate-limit", ""},
    };
    for (const auto& args : bad) {
        SCOPED_TRACE(args.front());
        const CommandLine c = parseCommandLine(args);
        EXPECT_EQ(c.action, CommandLine::Action::error);
        EXPECT_FALSE(c.message.empty());
    }
}

TEST(RoomAdmission, shouldParseRoomIds) {
    EXPECT_EQ(parseRoomId("solo:abc-1")->first, "abc-1");
    const auto dm = parseRoomId("dm:a1:b2");
    ASSERT_TRUE(dm);
    EXPECT_EQ(dm->kind, RoomId::Kind::dm);
    EXPECT_EQ(dm->first, "a1");
    EXPECT_EQ(dm->second, "b2");
    // Upper case sorts before lower case in byte order.
    EXPECT_TRUE(parseRoomId("dm:Zed:abe"));
    for (const char* bad : {"", "solo:", "solo:a:b", "dm:b2:a1", "dm:a1:a1", "dm:a1", "dm::a1", "dm:a1:b2:c3",
                            "Solo:a", "room:a", "solo:a b", "solo:\xc3\xa9"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(parseRoomId(bad));
    }
}

TEST(RoomAdmission, shouldDecodeQueriesAndColours) {
    EXPECT_EQ(queryValue("room=solo%3Aab&token=t%2Bk+x&color=%23FF0000", "room"), "solo:ab");
    EXPECT_EQ(queryValue("room=solo%3Aab&token=t%2Bk+x", "token"), "t+k x");
    EXPECT_EQ(queryValue("color=&room=x", "color"), "");
    EXPECT_FALSE(queryValue("room=x", "token"));
    EXPECT_FALSE(queryValue("token=%4", "token"));
    EXPECT_FALSE(queryValue("token=%G1", "token"));
    EXPECT_EQ(queryValue("tokenx=1&token=2", "token"), "2");

    EXPECT_EQ(peerColor("#A1b2C3"), "#A1b2C3");
    for (const char* bad : {"", "#", "A1B2C3", "#A1B2C", "#A1B2C3D", "#GGGGGG", "##A1B2C"})
        EXPECT_EQ(peerColor(bad), "#888888");
}

TEST(Accounts, shouldValidateUsernamesPasswordsAndBearerHeaders) {
    EXPECT_TRUE(validUsername("abc"));
    EXPECT_TRUE(validUsername("A_b_9_______________"));
    EXPECT_FALSE(validUsername("ab"));
    EXPECT_FALSE(validUsername("abcdefghijklmnopqrstu"));
    EXPECT_FALSE(validUsername("caf\xc3\xa9"));
    EXPECT_TRUE(validPassword("12345678"));
    EXPECT_FALSE(validPassword("1234567"));
    EXPECT_FALSE(validPassword(std::string(1025, 'a')));
    EXPECT_TRUE(validPassword(std::string(1024, 'a')));
    EXPECT_EQ(bearerToken("Bearer abc"), "abc");
    EXPECT_EQ(bearerToken("bearer   abc "), "abc");
    EXPECT_EQ(bearerToken("Basic abc"), "");
    EXPECT_EQ(bearerToken("Bearer"), "");
}

TEST(Credentials, shouldMakeDistinctTokensAndVerifyPasswords) {
    ASSERT_TRUE(initCredentials());
    const std::string a = newToken();
    EXPECT_EQ(a.size(), 43u);
    EXPECT_NE(a, newToken());
    EXPECT_EQ(tokenHash(a), tokenHash(a));
    EXPECT_NE(tokenHash(a), tokenHash(newToken()));
    EXPECT_EQ(newUserId().find(':'), std::string::npos);
    const std::string hash = hashPassword("correct horse", PasswordCost::minimal);
    EXPECT_TRUE(verifyPassword(hash, "correct horse"));
    EXPECT_FALSE(verifyPassword(hash, "correct horsf"));
    EXPECT_EQ(hash.find("correct"), std::string::npos);
}

TEST(RateLimits, shouldRefillPerMinuteAndLimitEveryKey) {
    using namespace std::chrono_literals;
    RateLimiter limiter(3);
    const auto t0 = RateLimiter::Clock::time_point{} + 1h;
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(limiter.tryAcquire({"addr:a", "user:x"}, t0));
    EXPECT_FALSE(limiter.tryAcquire({"addr:a", "user:y"}, t0));  // the address is spent
    EXPECT_FALSE(limiter.tryAcquire({"addr:b", "user:x"}, t0));  // so is the username
    EXPECT_TRUE(limiter.tryAcquire({"addr:b", "user:y"}, t0));
    EXPECT_TRUE(limiter.tryAcquire({"addr:a", "user:z"}, t0 + 20s));  // one attempt back per 20 s
    EXPECT_FALSE(limiter.tryAcquire({"addr:a", "user:z"}, t0 + 21s));
    // Keys with full buckets are forgotten.
    limiter.tryAcquire({"addr:c"}, t0 + 10min);
    EXPECT_EQ(limiter.trackedKeys(), 1u);
    RateLimiter off(0);
    for (int i = 0; i < 100; ++i) EXPECT_TRUE(off.tryAcquire({"addr:a"}, t0));

    MessageRate rate(10);
    const auto t1 = MessageRate::Clock::now();
    int allowed = 0;
    for (int i = 0; i < 50; ++i) allowed += rate.tryAcquire(t1);
    EXPECT_EQ(allowed, 10);
    EXPECT_TRUE(rate.tryAcquire(t1 + 100ms));
    EXPECT_FALSE(rate.tryAcquire(t1 + 100ms));
}

}  // namespace
}  // namespace vellumora::server
