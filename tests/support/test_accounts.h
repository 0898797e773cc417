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

inline AuthModelConfig isolatedConfig(const QUrl& base) {
    return AuthModelConfig{
        base, QStringLiteral("com.vellumora.test.") + QUuid::createUuid().toString(QUuid::WithoutBraces),
        TokenStore::defaultKey(), std::chrono::hours(1)};
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
        : item_(isolatedConfig(base)), auth_(std::make_unique<AuthModel>(item_.config)) {
        username_ = username + QUuid::createUuid().toString(QUuid::Id128).left(8);
        EXPECT_TRUE(await([&](auto done) { auth_->signup(username_, QStringLiteral("password1"), done); }));
        EXPECT_NE(auth_->signedIn(), nullptr) << auth_->errorMessage().value_or("").toStdString();
    }

    AuthModel& auth() { return *auth_; }
    const QString& username() const { return username_; }
    AuthUser user() const { return auth_->signedIn() ? auth_->signedIn()->user : AuthUser{}; }
    QString token() const { return auth_->signedIn() ? auth_->signedIn()->token : QString(); }
    // Runs one refresh of the friends and request lists.
    void refresh() {
        EXPECT_TRUE(await([&](auto done) { auth_->refreshFriends(done); }));
    }

  private:
    TestKeychainItem item_;  // outlives the model
    std::unique_ptr<AuthModel> auth_;
    QString username_;
};

}  // namespace vellumora::testing
