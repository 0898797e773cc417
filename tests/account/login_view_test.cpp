#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "account/auth_model.h"
#include "account/login_view.h"
#include "support/qt_test_app.h"
#include "support/scripted_responder.h"
#include "support/test_accounts.h"

namespace vellumora {
namespace {

using namespace std::chrono_literals;
using testing::ScriptedAnswer;

const QByteArray kAuthJson = R"({"token":"t","user":{"id":"u1","username":"ann","displayName":"Ann"}})";

class LoginViewTest : public ::testing::Test {
  protected:
    LoginViewTest() { view.show(); }

    template <class W>
    W* find(const QString& accessibleName) {
        for (W* w : view.findChildren<W*>()) {
            if (w->accessibleName() == accessibleName) {
                return w;
            }
        }
        ADD_FAILURE() << "no widget named " << accessibleName.toStdString();
        return nullptr;
    }
    QLineEdit* username() { return find<QLineEdit>("Username"); }
    QLineEdit* password() { return find<QLineEdit>("Password"); }
    QPushButton* submit() { return find<QPushButton>(view.isSignUp() ? "Create account" : "Log in"); }
    QPushButton* modeSwitch() {
        return find<QPushButton>(view.isSignUp() ? "Already have an account? Log in" : "No account yet? Sign up");
    }
    QLabel* error() { return view.findChild<QLabel*>("error"); }
    bool showsText(const QString& text) {
        for (QLabel* label : view.findChildren<QLabel*>()) {
            if (label->text() == text && label->isVisible()) {
                return true;
            }
        }
        return false;
    }
    void type(const QString& user, const QString& pass) {
        username()->setText(user);
        password()->setText(pass);
    }

    testing::TestAppScope app;
    testing::ScriptedResponder server;
    AuthModel auth{testing::isolatedConfig(server.baseUrl())};
    LoginView view{auth};
};

TEST(LoginRules, countsUserPerceivedCharacters) {
    struct Case {
        const char* name;
        QString text;
        int characters;
    };
    const Case cases[] = {
        {"ascii", "abc", 3},
        {"spaces", "   ", 3},
        {"combining accents", QString::fromUtf8("e\xCC\x81" "e\xCC\x81"), 2},
        {"emoji with skin tone", QString::fromUtf8("\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD"), 1},
        {"family", QString::fromUtf8("\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7"), 1},
        {"flag", QString::fromUtf8("\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA"), 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(graphemeCount(c.text), c.characters) << c.name;
    }
}

TEST_F(LoginViewTest, submitIsEnabledByTheLengthsInBothModes) {
    const QString sevenEmoji = QString::fromUtf8("\xF0\x9F\x8E\xA8").repeated(7);
    struct Case {
        const char* name;
        QString username;
        QString password;
        bool enabled;
    };
    const Case cases[] = {
        {"empty", "", "", false},
        {"2-character username", "ab", "12345678", false},
        {"7-character password", "abc", "1234567", false},
        {"3 and 8", "abc", "12345678", true},
        {"three spaces", "   ", "12345678", true},
        {"2 characters in 4 code units", QString::fromUtf8("e\xCC\x81" "e\xCC\x81"), "12345678", false},
        {"7 emoji in 14 code units", "abc", sevenEmoji, false},
        {"8 emoji", "abc", sevenEmoji + QString::fromUtf8("\xF0\x9F\x8E\xA8"), true},
    };
    for (const bool signUp : {false, true}) {
        if (view.isSignUp() != signUp) {
            QTest::mouseClick(modeSwitch(), Qt::LeftButton);
        }
        for (const auto& c : cases) {
            type(c.username, c.password);
            EXPECT_EQ(submit()->isEnabled(), c.enabled) << c.name << (signUp ? " (sign-up)" : " (log-in)");
        }
    }
}

TEST_F(LoginViewTest, eachModeShowsItsOwnTexts) {
    struct Mode {
        bool signUp;
        const char* subtitle;
        bool hints;
    };
    const Mode modes[] = {{false, "Log in to color with friends", false}, {true, "Create an account", true}};
    for (const auto& m : modes) {
        if (view.isSignUp() != m.signUp) {
            QTest::mouseClick(modeSwitch(), Qt::LeftButton);
        }
        EXPECT_TRUE(showsText(m.subtitle));
        EXPECT_NE(submit(), nullptr);
        EXPECT_NE(modeSwitch(), nullptr);
        EXPECT_EQ(showsText(QString::fromUtf8("Username: 3–20 characters (letters / numbers / _).")), m.hints);
        EXPECT_EQ(showsText("Password: at least 8 characters."), m.hints);
    }
}

TEST_F(LoginViewTest, sendsTheTextAsTypedToTheChosenEndpoint) {
    server.script("POST", "/auth/login", {ScriptedAnswer::json(200, kAuthJson)});
    server.script("POST", "/auth/signup", {ScriptedAnswer::json(201, kAuthJson)});
    struct Case {
        bool signUp;
        const char* path;
        bool viaReturn;
    };
    const Case cases[] = {{false, "/auth/login", true}, {true, "/auth/signup", false}};
    for (const auto& c : cases) {
        if (view.isSignUp() != c.signUp) {
            QTest::mouseClick(modeSwitch(), Qt::LeftButton);
        }
        type(" Ann ", "pass word ");
        if (c.viaReturn) {
            QTest::keyClick(password(), Qt::Key_Return);
        } else {
            QTest::mouseClick(submit(), Qt::LeftButton);
        }
        ASSERT_TRUE(testing::runUntil([&] { return server.requestsTo("POST", c.path).size() == 1; }));
        const QByteArray body = server.requestsTo("POST", c.path).front().body;
        EXPECT_TRUE(body.contains(R"("username":" Ann ")")) << body.toStdString();
        EXPECT_TRUE(body.contains(R"("password":"pass word ")")) << body.toStdString();
        ASSERT_TRUE(testing::runUntil([&] { return !auth.busy(); }));
    }
}

TEST_F(LoginViewTest, returnWithTheButtonDisabledSendsNothing) {
    type("abc", "1234567");
    QTest::keyClick(password(), Qt::Key_Return);
    QTest::keyClick(username(), Qt::Key_Enter);
    testing::runFor(100ms);
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST_F(LoginViewTest, whileBusyTheButtonSpinsAndCannotBePressedAgain) {
    server.script("POST", "/auth/login", {[] {
                      auto slow = ScriptedAnswer::json(401, R"({"error":"Wrong password"})");
                      slow.delay = 300ms;
                      return slow;
                  }()});
    type("ann", "password1");
    QTest::mouseClick(submit(), Qt::LeftButton);
    ASSERT_TRUE(auth.busy());
    EXPECT_FALSE(submit()->isEnabled());
    EXPECT_FALSE(submit()->icon().isNull());
    QTest::mouseClick(submit(), Qt::LeftButton);
    QTest::keyClick(password(), Qt::Key_Return);

    ASSERT_TRUE(testing::runUntil([&] { return !auth.busy(); }));
    EXPECT_EQ(server.requestsTo("POST", "/auth/login").size(), 1);
    EXPECT_TRUE(submit()->isEnabled());
    EXPECT_TRUE(submit()->icon().isNull());
    EXPECT_TRUE(error()->isVisible());
    EXPECT_EQ(error()->text(), "Wrong password");
    EXPECT_EQ(username()->text(), "ann");
    EXPECT_EQ(password()->text(), "password1");
}

TEST_F(LoginViewTest, switchingModesClearsTheErrorAndKeepsTheFields) {
    auth.setErrorMessage(QStringLiteral("Username taken"));
    type("ann", "password1");
    ASSERT_TRUE(error()->isVisible());
    QTest::mouseClick(modeSwitch(), Qt::LeftButton);
    EXPECT_TRUE(view.isSignUp());
    EXPECT_EQ(auth.errorMessage(), std::nullopt);
    EXPECT_FALSE(error()->isVisible());
    EXPECT_EQ(username()->text(), "ann");
    EXPECT_EQ(password()->text(), "password1");
}

TEST_F(LoginViewTest, everyControlIsReachedWithTab) {
    type("ann", "password1");
    view.activateWindow();
    username()->setFocus();
    ASSERT_TRUE(testing::runUntil([&] { return username()->hasFocus(); }));
    const QWidget* expected[] = {password(), submit(), modeSwitch(), username()};
    for (const QWidget* next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next) << next->accessibleName().toStdString();
    }
}

}  // namespace
}  // namespace vellumora
