#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "account/login_view.h"
#include "support/qt_test_app.h"
#include "support/scripted_responder.h"
#include "support/test_accounts.h"

namespace vellumora {
namespace {

using namespace std::chrono_literals;
using testing::ScriptedAnswer;

class LoginViewTest : public ::testing::Test {
  protected:
    LoginViewTest() { view.show(); }

    template <class W>
    W* named(const QString& name) {
        for (W* w : view.findChildren<W*>()) {
            if (w->accessibleName() == name && w->isVisible()) return w;
        }
        return nullptr;
    }
    QLineEdit* field(const char* name) { return named<QLineEdit>(name); }
    QPushButton* submit() { return named<QPushButton>(view.isSignUp() ? "Create account" : "Log in"); }
    void setMode(bool signUp) {
        if (view.isSignUp() != signUp) {
            QTest::mouseClick(
                named<QPushButton>(signUp ? "No account yet? Sign up" : "Already have an account? Log in"),
                Qt::LeftButton);
        }
        ASSERT_EQ(view.isSignUp(), signUp);
    }
    bool shows(const QString& text) {
        const auto labels = view.findChildren<QLabel*>();
        return std::any_of(labels.begin(), labels.end(),
                           [&](QLabel* l) { return l->text() == text && l->isVisible(); });
    }
    void type(const QString& user, const QString& pass) {
        field("Username")->setText(user);
        field("Password")->setText(pass);
    }

    testing::TestAppScope app;
    testing::ScriptedResponder server;
    AuthModel auth{testing::isolatedConfig(server.baseUrl())};
    LoginView view{auth};
};

TEST_F(LoginViewTest, submitNeedsThreeAndEightUserPerceivedCharactersInBothModes) {
    const QString palette = QString::fromUtf8("\xF0\x9F\x8E\xA8");
    const QString family =
        QString::fromUtf8("\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7");
    struct Case {
        const char* name;
        QString username, password;
        bool enabled;
    };
    const Case cases[] = {
        {"2-character username", "ab", "12345678", false},
        {"7-character password", "abc", "1234567", false},
        {"3 and 8", "abc", "12345678", true},
        {"three spaces", "   ", "12345678", true},
        {"2 accented letters in 4 code units",
         QString::fromUtf8("e\xCC\x81"
                           "e\xCC\x81"),
         "12345678", false},
        {"a family emoji is one character", family + "ab", "12345678", true},
        {"7 emoji in 14 code units", "abc", palette.repeated(7), false},
        {"8 emoji", "abc", palette.repeated(8), true},
    };
    for (const bool signUp : {false, true}) {
        setMode(signUp);
        for (const auto& c : cases) {
            type(c.username, c.password);
            EXPECT_EQ(submit()->isEnabled(), c.enabled) << c.name << (signUp ? " (sign-up)" : " (log-in)");
        }
    }
}

TEST_F(LoginViewTest, switchingModesChangesTheTextsClearsTheErrorAndKeepsTheFields) {
    type("ann", "password1");
    auth.setErrorMessage(QStringLiteral("Username taken"));
    EXPECT_TRUE(shows("Username taken"));
    for (const bool signUp : {true, false}) {
        setMode(signUp);
        EXPECT_EQ(auth.errorMessage(), std::nullopt);
        EXPECT_FALSE(shows("Username taken"));
        EXPECT_EQ(shows(signUp ? "Create an account" : "Log in to color with friends"), true);
        EXPECT_EQ(shows("Password: at least 8 characters."), signUp);
        EXPECT_EQ(shows(QString::fromUtf8("Username: 3–20 characters (letters / numbers / _).")), signUp);
        EXPECT_EQ(field("Username")->text(), "ann");
        EXPECT_EQ(field("Password")->text(), "password1");
    }
}

TEST_F(LoginViewTest, sendsTheTextAsTypedOnlyWhenSubmitIsEnabled) {
    type("abc", "1234567");
    QTest::keyClick(field("Password"), Qt::Key_Return);
    testing::runFor(100ms);
    EXPECT_TRUE(server.requests().isEmpty());

    const QByteArray user = R"({"token":"t","user":{"id":"u1","username":"ann","displayName":"Ann"}})";
    server.script("POST", "/auth/login", {ScriptedAnswer::json(200, user)});
    server.script("POST", "/auth/signup", {ScriptedAnswer::json(201, user)});
    const std::pair<bool, const char*> cases[] = {{false, "/auth/login"}, {true, "/auth/signup"}};
    for (const auto& [signUp, path] : cases) {
        setMode(signUp);
        type(" Ann ", "pass word ");
        QTest::keyClick(field("Username"), Qt::Key_Return);
        ASSERT_TRUE(testing::runUntil([&] { return server.requestsTo("POST", path).size() == 1; }));
        const QByteArray body = server.requestsTo("POST", path).front().body;
        EXPECT_TRUE(body.contains(R"("username":" Ann ")") && body.contains(R"("password":"pass word ")"))
            << body.toStdString();
        ASSERT_TRUE(testing::runUntil([&] { return !auth.busy(); }));
    }
}

TEST_F(LoginViewTest, whileBusyTheButtonSpinsAndCannotBePressedAgain) {
    auto slow = ScriptedAnswer::json(401, R"({"error":"Wrong password"})");
    slow.delay = 300ms;
    server.script("POST", "/auth/login", {slow});
    type("ann", "password1");
    QTest::mouseClick(submit(), Qt::LeftButton);
    ASSERT_TRUE(auth.busy());
    EXPECT_FALSE(submit()->isEnabled());
    EXPECT_FALSE(submit()->icon().isNull());
    QTest::keyClick(field("Password"), Qt::Key_Return);

    ASSERT_TRUE(testing::runUntil([&] { return !auth.busy(); }));
    EXPECT_EQ(server.requestsTo("POST", "/auth/login").size(), 1);
    EXPECT_TRUE(submit()->isEnabled());
    EXPECT_TRUE(submit()->icon().isNull());
    EXPECT_TRUE(shows("Wrong password"));
    EXPECT_EQ(field("Password")->text(), "password1");
}

TEST_F(LoginViewTest, tabVisitsEveryControl) {
    type("ann", "password1");
    view.activateWindow();
    field("Username")->setFocus();
    ASSERT_TRUE(testing::runUntil([&] { return field("Username")->hasFocus(); }));
    for (const char* next : {"Password", "Log in", "No account yet? Sign up", "Username"}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget()->accessibleName(), next);
    }
}

}  // namespace
}  // namespace vellumora
