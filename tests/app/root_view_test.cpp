#include <QLabel>

#include <gtest/gtest.h>

#include "account/login_view.h"
#include "account/token_store.h"
#include "app/content_view.h"
#include "app/loading_view.h"
#include "app/root_view.h"
#include "session/session_model.h"
#include "support/qt_test_app.h"
#include "support/scripted_responder.h"
#include "support/test_accounts.h"

namespace vellumora {
namespace {

enum class Shown { login, loading, content, other };

Shown shownBy(const RootView& root) {
    QWidget* current = root.currentWidget();
    if (qobject_cast<LoginView*>(current)) return Shown::login;
    if (qobject_cast<LoadingView*>(current)) return Shown::loading;
    if (qobject_cast<ContentView*>(current)) return Shown::content;
    return Shown::other;
}

class RootViewTest : public testing::SharedServerTest {
  protected:
    ~RootViewTest() override {
        TokenStore store(config.keychainService, config.keychainKey);
        testing::await([&](auto done) { store.deleteToken(done); });
    }

    void storeToken(const QString& token) {
        TokenStore store(config.keychainService, config.keychainKey);
        ASSERT_TRUE(testing::await([&](auto done) { store.saveToken(token, done); }));
    }
    // Records the page the root shows after each state change.
    void follow(AuthModel& auth, RootView& root) {
        QObject::connect(&auth, &AuthModel::stateChanged, &root,
                         [&root, this] { shown.push_back(shownBy(root)); });
    }

    testing::TestAppScope app;
    AuthModelConfig config = testing::isolatedConfig(base());
    std::vector<Shown> shown;
};

TEST_F(RootViewTest, signingInAndOutSwitchesScreensAndHandsOverTheUser) {
    AuthModel auth(config);
    SessionModel session(base());
    RootView root(auth, session, {});
    follow(auth, root);
    int signOuts = 0;
    QObject::connect(&session, &SessionModel::currentUserChanged,
                     [&](const OptionalAuthUser& user) { signOuts += !user.has_value(); });
    root.show();
    EXPECT_EQ(shownBy(root), Shown::login);

    const QString name = "root" + QUuid::createUuid().toString(QUuid::Id128).left(10);
    ASSERT_TRUE(testing::await([&](auto done) { auth.signup(name, "password1", done); }));
    ASSERT_NE(auth.signedIn(), nullptr);
    EXPECT_EQ(shownBy(root), Shown::content);
    EXPECT_EQ(session.currentUser(), auth.signedIn()->user);
    EXPECT_EQ(session.currentToken(), auth.signedIn()->token);

    session.switchRoom("solo:" + auth.signedIn()->user.id, "My sketchbook");
    ASSERT_TRUE(session.roomId().has_value());
    ASSERT_TRUE(testing::await([&](auto done) { auth.logout(done); }));
    EXPECT_EQ(shownBy(root), Shown::login);
    EXPECT_EQ(signOuts, 1);
    EXPECT_EQ(session.roomId(), std::nullopt);
    EXPECT_EQ(session.currentToken(), std::nullopt);
    EXPECT_EQ(session.connectionState(), ConnectionState::disconnected());
}

TEST_F(RootViewTest, aStoredSignInIsRestoredThroughTheLoadingScreenWhenShown) {
    testing::TestAccount ann(base(), "ann");
    storeToken(ann.token());
    AuthModel auth(config);
    SessionModel session(base());
    RootView root(auth, session, {});
    follow(auth, root);
    EXPECT_EQ(auth.state(), AuthModel::State(AuthModel::Unauthenticated{}));

    root.show();
    ASSERT_TRUE(testing::runUntil([&] { return auth.signedIn() != nullptr; }));
    EXPECT_EQ(shown, (std::vector<Shown>{Shown::loading, Shown::content}));
    EXPECT_EQ(session.currentUser(), ann.user());
}

TEST_F(RootViewTest, anUnreachableServerKeepsTheSignInAndSaysSo) {
    storeToken("tok-kept");
    config.base = testing::unreachableUrl();
    AuthModel auth(config);
    SessionModel session(config.base);
    RootView root(auth, session, {});
    follow(auth, root);
    root.show();
    ASSERT_TRUE(testing::runUntil([&] { return shown.size() == 2; }));
    EXPECT_EQ(shown, (std::vector<Shown>{Shown::loading, Shown::login}));
    bool told = false;
    for (QLabel* label : root.currentWidget()->findChildren<QLabel*>()) {
        told = told || (label->isVisible() && label->text().startsWith("Could not reach the server"));
    }
    EXPECT_TRUE(told);

    TokenStore store(config.keychainService, config.keychainKey);
    std::optional<QString> kept;
    ASSERT_TRUE(testing::await([&](auto done) {
        store.loadToken([&, done](std::optional<QString> token) {
            kept = token;
            done();
        });
    }));
    EXPECT_EQ(kept, "tok-kept");
}

}  // namespace
}  // namespace vellumora
