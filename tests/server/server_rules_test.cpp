// Command line, admission rules, credentials, rate limits and the bounded work pool.
#include <sched.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <future>
#include <sstream>

#include "accounts/account_api.h"
#include "accounts/credentials.h"
#include "accounts/rate_limiter.h"
#include "common/address.h"
#include "common/server_config.h"
#include "common/server_options.h"
#include "common/work_pool.h"
#include "rooms/room_admission.h"

namespace vellumora::server {
namespace {

CommandLine parse(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> args;
    for (std::string word; in >> word;) args.push_back(word);
    return parseCommandLine(args);
}

TEST(CommandLine, shouldParseEveryFlagRefuseNonsenseAndDocumentTheOptionsInTheReadme) {
    const CommandLine ok = parse(
        "--listen 0.0.0.0:9000 --threads 3 --message-rate-limit 600 --idle-timeout 15 "
        "--commit-interval-ms 20 --max-unfinished-mib 64");
    ASSERT_EQ(ok.action, CommandLine::Action::run) << ok.message;
    EXPECT_EQ(ok.config.unfinishedMessageBytes, std::size_t{64} << 20);
    EXPECT_EQ(parse("--listen [::1]:0").config.listenHost, "::1");
    {
        // By default one I/O thread per core the process may use, not per core the machine has.
        cpu_set_t saved;
        ASSERT_EQ(sched_getaffinity(0, sizeof saved, &saved), 0);
        cpu_set_t one;
        CPU_ZERO(&one);
        for (int cpu = 0; cpu < CPU_SETSIZE && CPU_COUNT(&one) == 0; ++cpu)
            if (CPU_ISSET(cpu, &saved)) CPU_SET(cpu, &one);
        ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
        EXPECT_EQ(parse("").config.threads, 1u);
        sched_setaffinity(0, sizeof saved, &saved);
    }
    for (const char* bad : {"--listen nohost", "--listen 1.2.3.4:70000", "--threads 0", "--threads",
                            "--frobnicate 1", "--tls-cert a.pem", "--password-cost cheap",
                            "--max-room-connections 257", "--max-unfinished-mib 7"}) {
        const CommandLine c = parse(bad);
        EXPECT_EQ(c.action, CommandLine::Action::error) << bad;
        EXPECT_FALSE(c.message.empty());
    }

    // The README documents the options exactly as the table renders them.
    std::ifstream in(VELLUMORA_README);
    const std::string readme{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const auto begin = readme.find("-->\n", readme.find("<!-- options:"));
    const auto end = readme.find("<!-- end of options -->");
    ASSERT_NE(begin, std::string::npos);
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(readme.substr(begin + 4, end - begin - 4), optionsMarkdown())
        << "README.md: put the output of `vellumora-server-doc markdown` between the markers";
}

TEST(RoomAdmission, shouldParseQueriesAndColours) {
    EXPECT_EQ(queryValue("room=solo%3Aab&token=t%2Bk+x", "token"), "t+k x");
    EXPECT_EQ(queryValue("tokenx=1&token=2", "token"), "2");
    EXPECT_EQ(queryValue("color=&room=x", "color"), "");
    for (const char* bad : {"room=x", "token=%4", "token=%G1"}) EXPECT_FALSE(queryValue(bad, "token")) << bad;

    EXPECT_EQ(peerColor("#A1b2C3"), "#A1b2C3");
    for (const char* bad : {"", "A1B2C3", "#A1B2C", "#A1B2C3D", "#GGGGGG"})
        EXPECT_EQ(peerColor(bad), "#888888");
}

TEST(Accounts, shouldCountPasswordCharactersReadBearerHeadersAndVerifyHashes) {
    EXPECT_TRUE(
        validPassword("\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4"));  // 8 characters
    EXPECT_FALSE(validPassword("\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4"));                         // 8 bytes
    EXPECT_EQ(bearerToken("bearer   abc "), "abc");
    EXPECT_EQ(bearerToken("Basic abc"), "");
    ASSERT_TRUE(initCredentials());
    const std::string hash = hashPassword("correct horse", PasswordCost::minimal);
    EXPECT_TRUE(verifyPassword(hash, "correct horse"));
    EXPECT_FALSE(verifyPassword(hash, "correct horsf"));
    // Made again at the next log-in only when weaker than asked for now.
    EXPECT_TRUE(weakerThan(hash, PasswordCost::interactive));
    EXPECT_FALSE(weakerThan(hash, PasswordCost::minimal));
    EXPECT_TRUE(weakerThan("$2y$10$not-argon2", PasswordCost::minimal));
}

TEST(RateLimits, shouldMatchNetworksKeyIpv6ByItsSlash64RefillPerMinuteAndLimitEveryKey) {
    const auto in = [](const char* network, const char* address) {
        return Network::parse(network)->contains(*IpAddress::parse(address));
    };
    EXPECT_TRUE(in("10.0.0.0/8", "10.200.1.1"));
    EXPECT_FALSE(in("10.0.0.0/8", "11.0.0.1"));
    EXPECT_TRUE(in("127.0.0.1", "::ffff:127.0.0.1"));  // IPv4 seen through an IPv6 socket
    EXPECT_TRUE(in("fd00::/8", "fd12::1"));
    EXPECT_FALSE(in("fd00::/8", "10.0.0.1"));
    EXPECT_TRUE(in("0.0.0.0/0", "192.0.2.1"));
    for (const char* bad : {"10.0.0.0/33", "fd00::/129", "10.0.0.0/", "host", "10.0.0.0/8x"})
        EXPECT_FALSE(Network::parse(bad)) << bad;
    EXPECT_EQ(rateKey("2001:db8:1:2:3:4:5:6"), "2001:db8:1:2::/64");
    EXPECT_EQ(rateKey("::ffff:192.0.2.7"), "192.0.2.7");
    EXPECT_EQ(rateKey("192.0.2.7"), "192.0.2.7");

    // Rate limits refill per minute and hold for every key.
    using namespace std::chrono_literals;
    RateLimiter limiter(3);
    const auto t0 = RateLimiter::Clock::time_point{} + 1h;
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(limiter.tryAcquire({"addr:a", "user:x"}, t0));
    EXPECT_FALSE(limiter.tryAcquire({"addr:a", "user:y"}, t0));       // the address is spent
    EXPECT_FALSE(limiter.tryAcquire({"addr:b", "user:x"}, t0));       // so is the username
    EXPECT_TRUE(limiter.tryAcquire({"addr:a", "user:z"}, t0 + 20s));  // one attempt back per 20 s
    EXPECT_FALSE(limiter.tryAcquire({"addr:a", "user:z"}, t0 + 21s));
    limiter.tryAcquire({"addr:c"}, t0 + 10min);
    EXPECT_EQ(limiter.trackedKeys(), 1u);  // keys with full buckets are forgotten
}

TEST(WorkPool, shouldRefuseWorkPastItsQueueAndFinishWhatWasQueuedOnStop) {
    WorkPool pool(1, 2);
    std::promise<void> started, release;
    ASSERT_TRUE(pool.post([&, released = release.get_future().share()] {
        started.set_value();
        released.wait();
    }));
    started.get_future().wait();
    std::atomic<int> ran{0};
    EXPECT_TRUE(pool.post([&] { ++ran; }));
    EXPECT_TRUE(pool.post([&] { ++ran; }));
    EXPECT_FALSE(pool.post([&] { ++ran; }));  // two are waiting already
    release.set_value();
    pool.stop();
    EXPECT_EQ(ran, 2);
    EXPECT_FALSE(pool.post([&] { ++ran; }));
}

}  // namespace
}  // namespace vellumora::server
