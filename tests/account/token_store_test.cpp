#include <gtest/gtest.h>

#include <qt6keychain/keychain.h>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QUuid>
#include <optional>

#include "account/token_store.h"
#include "support/qt_test_app.h"

namespace vellumora {
namespace {

using Attributes = QMap<QString, QString>;

// Items in the Secret Service carrying the given attribute values, unlocked or locked.
int secretServiceItemsWith(const QString& value) {
    qDBusRegisterMetaType<Attributes>();
    // Every attribute value that names this test's service; the attribute's name is the
    // keychain library's business.
    int count = 0;
    for (const QString& name : {QStringLiteral("service"), QStringLiteral("server")}) {
        QDBusMessage search = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.secrets"), QStringLiteral("/org/freedesktop/secrets"),
            QStringLiteral("org.freedesktop.Secret.Service"), QStringLiteral("SearchItems"));
        search << QVariant::fromValue(Attributes{{name, value}});
        const QDBusMessage reply = QDBusConnection::sessionBus().call(search);
        if (reply.type() != QDBusMessage::ReplyMessage) {
            ADD_FAILURE() << "SearchItems failed: " << reply.errorMessage().toStdString();
            return -1;
        }
        for (const QVariant& part : reply.arguments()) {
            count += static_cast<int>(qdbus_cast<QList<QDBusObjectPath>>(part).size());
        }
    }
    return count;
}

class TokenStoreTest : public ::testing::Test {
  protected:
    std::optional<QString> load() {
        std::optional<std::optional<QString>> loaded;
        store.loadToken([&loaded](std::optional<QString> token) { loaded.emplace(std::move(token)); });
        EXPECT_TRUE(testing::runUntil([&] { return loaded.has_value(); }));
        return loaded.value_or(std::nullopt);
    }
    void save(const QString& token) {
        EXPECT_TRUE(testing::await([&](auto done) { store.saveToken(token, done); }));
    }
    void remove() {
        EXPECT_TRUE(testing::await([&](auto done) { store.deleteToken(done); }));
    }
    void writeRaw(const QByteArray& bytes) {
        auto* job = new QKeychain::WritePasswordJob(service, &store);
        job->setKey(TokenStore::defaultKey());
        job->setBinaryData(bytes);
        bool finished = false;
        QObject::connect(job, &QKeychain::Job::finished, &store, [&finished](QKeychain::Job* j) {
            EXPECT_EQ(j->error(), QKeychain::NoError) << j->errorString().toStdString();
            finished = true;
        });
        job->start();
        ASSERT_TRUE(testing::runUntil([&] { return finished; }));
    }

    void TearDown() override { remove(); }

    testing::TestAppScope app;
    const QString service =
        QStringLiteral("com.vellumora.test.") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    TokenStore store{service, TokenStore::defaultKey()};
};

TEST_F(TokenStoreTest, usesTheApplicationsServiceAndKeyByDefault) {
    const TokenStore production;
    EXPECT_EQ(production.service(), "com.vellumora.app");
    EXPECT_EQ(production.key(), "session.token");
}

TEST_F(TokenStoreTest, loadsNothingWhenNothingIsStoredAndDeletingNothingIsFine) {
    EXPECT_EQ(load(), std::nullopt);
    remove();
    EXPECT_EQ(load(), std::nullopt);
}

TEST_F(TokenStoreTest, savingTwiceLeavesOneItemWithTheSecondToken) {
    save("first-token");
    save("second-token");
    EXPECT_EQ(load(), "second-token");
    EXPECT_EQ(secretServiceItemsWith(service), 1);

    remove();
    EXPECT_EQ(load(), std::nullopt);
    EXPECT_EQ(secretServiceItemsWith(service), 0);
}

TEST_F(TokenStoreTest, roundTripsTextExactly) {
    for (const QString& token :
         {QString(""), QStringLiteral("plain_token-123"), u"\uFEFFzwnbsp ünï ☂ 😀"_qs}) {
        save(token);
        const auto loaded = load();
        ASSERT_TRUE(loaded.has_value());
        // An empty token is an empty string, not nothing.
        EXPECT_EQ(*loaded, token);
    }
}

TEST_F(TokenStoreTest, storedBytesThatAreNotUtf8LoadAsNothing) {
    writeRaw(QByteArray("tok\xff\xfe", 5));
    // The bytes are there: only the decoding refuses them.
    QKeychain::ReadPasswordJob raw(service);
    raw.setAutoDelete(false);
    raw.setKey(TokenStore::defaultKey());
    bool read = false;
    QObject::connect(&raw, &QKeychain::Job::finished, &store, [&read](QKeychain::Job*) { read = true; });
    raw.start();
    ASSERT_TRUE(testing::runUntil([&] { return read; }));
    EXPECT_EQ(raw.binaryData(), QByteArray("tok\xff\xfe", 5));

    EXPECT_EQ(load(), std::nullopt);
}

TEST_F(TokenStoreTest, operationsTakeEffectInTheOrderTheyWereAsked) {
    // Nothing awaited in between: the delete must not slip between the save's delete and add.
    std::optional<QString> afterSave;
    std::optional<QString> afterDelete = QStringLiteral("not loaded");
    bool loadedLast = false;
    store.saveToken("token-a");
    store.loadToken([&](std::optional<QString> t) { afterSave = std::move(t); });
    store.saveToken("token-b");
    store.deleteToken();
    store.loadToken([&](std::optional<QString> t) {
        afterDelete = std::move(t);
        loadedLast = true;
    });
    ASSERT_TRUE(testing::runUntil([&] { return loadedLast; }));
    EXPECT_EQ(afterSave, "token-a");
    EXPECT_EQ(afterDelete, std::nullopt);
}

TEST_F(TokenStoreTest, aStoreDestroyedMidOperationNeverCallsBack) {
    bool called = false;
    {
        TokenStore doomed(service, TokenStore::defaultKey());
        doomed.saveToken("abandoned", [&called] { called = true; });
        doomed.loadToken([&called](std::optional<QString>) { called = true; });
        // Let the keychain call get under way, then go away before it answers.
        QCoreApplication::processEvents();
    }
    testing::runFor(std::chrono::milliseconds(300));
    EXPECT_FALSE(called);
    // The keychain is still usable afterwards.
    save("after");
    EXPECT_EQ(load(), "after");
}

TEST(DecodeUtf8Strict, acceptsOnlyWellFormedUtf8) {
    struct Case {
        QByteArray bytes;
        std::optional<QString> expected;
    };
    const Case cases[] = {
        {"", QString("")},
        {"abc", QStringLiteral("abc")},
        {"\xc3\xa9\xe2\x98\x82\xf0\x9f\x98\x80", u"é☂😀"_qs},
        {"\xef\xbb\xbf"
         "bom",
         u"\uFEFFbom"_qs},
        {"\xff", std::nullopt},
        {"\x80", std::nullopt},
        {"\xc0\xaf", std::nullopt},
        {"\xed\xa0\x80", std::nullopt},
        {"ok\xe2\x82", std::nullopt},
        {"\xf4\x90\x80\x80", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decodeUtf8Strict(c.bytes), c.expected) << c.bytes.toHex().toStdString();
    }
}

}  // namespace
}  // namespace vellumora
