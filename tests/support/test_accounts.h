#pragma once
// Keychain items and accounts for tests: each test gets a keychain item of its own, removed
// again when it goes away, and accounts signed up on a real vellumora-server.

#include <QUuid>
#include <chrono>
#include <memory>

#include <gtest/gtest.h>

#include "account/auth_model.h"
#include "account/token_store.h"
#include "support/qt_test_app.h"
#include "support/server_process.h"

namespace vellumora::testing {

inline AuthModelConfig isolatedConfig(const QUrl& base,
                                      std::chrono::milliseconds poll = std::chrono::hours(1)) {
    return AuthModelConfig{
        base, QStringLiteral("com.vellumora.test.") + QUuid::createUuid().toString(QUuid::WithoutBraces),
        TokenStore::defaultKey(), poll};
}

// The keychain item of `config`, emptied when the test ends.
class TestKeychainItem {
  public:
    explicit TestKeychainItem(AuthModelConfig config) : config(std::move(config)) {}
    ~TestKeychainItem() {
        await([&](auto done) { store.deleteToken(done); });
    }

    // "no answer" when the keychain never answered.
    std::optional<QString> load() {
        return resultOf<std::optional<QString>>([&](auto done) { store.loadToken(done); })
            .value_or(QStringLiteral("no answer"));
    }
    bool save(const QString& token) {
        return await([&](auto done) { store.saveToken(token, done); });
    }

    const AuthModelConfig config;
    TokenStore store{config.keychainService, config.keychainKey};
};

// The shared server, at the URL the app's models take.
class SharedServerTest : public SharedServer {
  protected:
    static QUrl base() { return QUrl(QString::fromStdString(server()->baseUrl())); }
};

class TestAccount {
  public:
    // Signs up `username` (made unique) with a fixed password.
    TestAccount(const QUrl& base, const QString& username)
        : m_item(isolatedConfig(base)), m_auth(std::make_unique<AuthModel>(m_item.config)) {
        m_username = username + QUuid::createUuid().toString(QUuid::Id128).left(8);
        EXPECT_TRUE(await([&](auto done) { m_auth->signup(m_username, QStringLiteral("password1"), done); }));
        EXPECT_NE(m_auth->signedIn(), nullptr) << m_auth->errorMessage().value_or("").toStdString();
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
    TestKeychainItem m_item;  // outlives the model
    std::unique_ptr<AuthModel> m_auth;
    QString m_username;
};

}  // namespace vellumora::testing
