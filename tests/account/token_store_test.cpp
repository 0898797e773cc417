// The sign-in token in the real Secret Service of the test session.

#include <gtest/gtest.h>

#include <qt6keychain/keychain.h>
#include <QUuid>

#include "account/token_store.h"
#include "support/qt_test_app.h"

namespace vellumora {
namespace {

class TokenStoreTest : public ::testing::Test {
  protected:
    std::optional<QString> load() {
        return testing::resultOf<std::optional<QString>>([&](auto done) { store.loadToken(done); })
            .value_or(QStringLiteral("no answer"));
    }
    void TearDown() override {
        testing::await([&](auto done) { store.deleteToken(done); });
    }

    testing::TestAppScope app;
    const QString service = "com.vellumora.test." + QUuid::createUuid().toString(QUuid::WithoutBraces);
    TokenStore store{service, TokenStore::defaultKey()};
};

TEST_F(TokenStoreTest, keepsTheLastTokenExactlyInTheOrderAsked) {
    EXPECT_EQ(load(), std::nullopt);
    for (const QString& token : {QString(""), u"\uFEFFzwnbsp ünï ☂ 😀"_qs}) {
        ASSERT_TRUE(testing::await([&](auto done) { store.saveToken(token, done); }));
        EXPECT_EQ(load(), token) << "an empty token is a token";
    }
    // Nothing awaited in between: each operation waits for the one before.
    std::optional<QString> afterSave, afterDelete = QStringLiteral("not loaded");
    store.saveToken("token-a");
    store.loadToken([&](std::optional<QString> t) { afterSave = t; });
    store.saveToken("token-b");
    store.deleteToken();
    EXPECT_EQ(load(), std::nullopt);
    EXPECT_EQ(afterSave, "token-a");
}

TEST_F(TokenStoreTest, bytesThatAreNotUtf8LoadAsNothing) {
    for (const QByteArray& bytes :
         {QByteArray("tok\xff"), QByteArray("ok\xe2\x82"), QByteArray("\xed\xa0\x80")}) {
        auto* job = new QKeychain::WritePasswordJob(service, &store);
        job->setKey(TokenStore::defaultKey());
        job->setBinaryData(bytes);
        ASSERT_TRUE(testing::await([&](auto done) {
            QObject::connect(job, &QKeychain::Job::finished, &store, [done] { done(); });
            job->start();
        }));
        EXPECT_EQ(load(), std::nullopt) << bytes.toHex().toStdString();
    }
}

TEST_F(TokenStoreTest, aStoreDestroyedMidOperationNeverCallsBack) {
    bool called = false;
    {
        TokenStore doomed(service, TokenStore::defaultKey());
        doomed.saveToken("abandoned", [&called] { called = true; });
        QCoreApplication::processEvents();
    }
    testing::runFor(std::chrono::milliseconds(300));
    EXPECT_FALSE(called);
    ASSERT_TRUE(testing::await([&](auto done) { store.saveToken("after", done); }));
    EXPECT_EQ(load(), "after");
}

}  // namespace
}  // namespace vellumora
