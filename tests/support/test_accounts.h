#pragma once
// Accounts on a real vellumora-server for view tests: each signs up through its own AuthModel
// with a keychain entry of its own, which is removed again when the account goes away.

#include <QUuid>
#include <chrono>
#include <memory>

#include <gtest/gtest.h>

#include "account/auth_model.h"
#include "account/token_store.h"
#include "support/qt_test_app.h"
#include "support/server_process.h"

namespace vellumora::testing {

// A server that lets the tests sign up as often as they like.
inline ServerProcess::Options unlimitedSignUps() {
    ServerProcess::Options options;
    options.extraArgs = {"--auth-rate-limit", "0"};
    return options;
}

inline QUrl baseUrlOf(const ServerProcess& server) {
    return QUrl(QString::fromStdString(server.baseUrl()));
}

inline AuthModelConfig isolatedConfig(const QUrl& base,
                                      std::chrono::milliseconds poll = std::chrono::hours(1)) {
    return AuthModelConfig{
        base, QStringLiteral("com.vellumora.test.") + QUuid::createUuid().toString(QUuid::WithoutBraces),
        TokenStore::defaultKey(), poll};
}

// A real server shared by the tests of a fixture, started before its first test.
class SharedServerTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { server() = std::make_unique<ServerProcess>(unlimitedSignUps()); }
    static void TearDownTestSuite() { server().reset(); }
    static QUrl base() { return baseUrlOf(*server()); }

  private:
    static std::unique_ptr<ServerProcess>& server() {
        static std::unique_ptr<ServerProcess> running;
        return running;
    }
};

class TestAccount {
  public:
    // Signs up `username` (made unique) with a fixed password.
    TestAccount(const QUrl& base, const QString& username,
                std::chrono::milliseconds poll = std::chrono::hours(1))
        : m_config(isolatedConfig(base, poll)), m_auth(std::make_unique<AuthModel>(m_config)) {
        m_username = username + QUuid::createUuid().toString(QUuid::Id128).left(8);
        EXPECT_TRUE(await([&](auto done) { m_auth->signup(m_username, QStringLiteral("password1"), done); }));
        EXPECT_NE(m_auth->signedIn(), nullptr) << m_auth->errorMessage().value_or("").toStdString();
    }
    ~TestAccount() {
        m_auth.reset();
        TokenStore store(m_config.keychainService, m_config.keychainKey);
        await([&](auto done) { store.deleteToken(done); });
    }

    AuthModel& auth() { return *m_auth; }
    const QString& username() const { return m_username; }
    AuthUser user() const { return m_auth->signedIn() ? m_auth->signedIn()->user : AuthUser{}; }
    QString token() const { return m_auth->signedIn() ? m_auth->signedIn()->token : QString(); }
    // Runs one refresh of the friends and request lists.
    void refresh() {
        EXPECT_TRUE(await([&](auto done) { m_auth->refreshFriends(done); }));
    }

  private:
    AuthModelConfig m_config;
    std::unique_ptr<AuthModel> m_auth;
    QString m_username;
};

}  // namespace vellumora::testing
