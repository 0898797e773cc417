// The login form against a scripted responder; the friends panel against the real server.

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include "account/views/add_friend_sheet.h"
#include "account/views/friend_row.h"
#include "account/views/friends_panel.h"
#include "account/views/login_view.h"
#include "account/views/pending_request_row.h"
#include "account/views/sketchbook_row.h"
#include "model/room_id.h"
#include "session/session_model.h"
#include "support/qt_test_app.h"
#include "support/scripted_server.h"
#include "support/test_accounts.h"

namespace vellumora {
namespace {

using namespace std::chrono_literals;
using testing::ScriptedAnswer;
using testing::TestAccount;

// Whether a label with exactly this text is visible in `root`.
bool shows(const QWidget& root, const QString& text) {
    const auto labels = root.findChildren<QLabel*>();
    return std::any_of(labels.begin(), labels.end(),
                       [&](QLabel* l) { return l->text() == text && l->isVisibleTo(&root); });
}

class LoginViewTest : public ::testing::Test {
  protected:
    LoginViewTest() { view.show(); }

    template <class W>
    W* named(const QString& name) {
        for (W* w : view.findChildren<W*>())
            if (w->accessibleName() == name && w->isVisible()) return w;
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
    void type(const QString& user, const QString& pass) {
        field("Username")->setText(user);
        field("Password")->setText(pass);
    }

    testing::ScriptedResponder server;
    testing::TestKeychainItem keychain{testing::isolatedConfig(server.baseUrl())};
    AuthModel auth{keychain.config};
    LoginView view{auth};
};

// Each mode has its texts; switching clears the error and keeps what was typed. In both, submit
// needs three and eight user-perceived characters.
TEST_F(LoginViewTest, eachModeShowsItsTextsSubmitNeedsThreeAndEightCharactersAndTabVisitsAll) {
    const QString palette = u"\U0001F3A8"_qs;
    const QString family = u"\U0001F468\u200D\U0001F469\u200D\U0001F467"_qs;
    const struct {
        const char* name;
        QString username, password;
        bool enabled;
    } cases[] = {
        {"2-character username", "ab", "12345678", false},
        {"7-character password", "abc", "1234567", false},
        {"3 and 8", "abc", "12345678", true},
        {"2 accented letters in 4 code units", u"e\u0301e\u0301"_qs, "12345678", false},
        {"a family emoji is one character", family + "ab", "12345678", true},
        {"7 emoji in 14 code units", "abc", palette.repeated(7), false},
        {"8 emoji", "abc", palette.repeated(8), true},
    };
    for (const bool signUp : {true, false}) {
        type("ann", "password1");
        auth.setErrorMessage(QStringLiteral("Username taken"));
        EXPECT_TRUE(shows(view, "Username taken"));
        setMode(signUp);
        EXPECT_FALSE(shows(view, "Username taken"));
        EXPECT_TRUE(shows(view, signUp ? "Create an account" : "Log in to color with friends"));
        EXPECT_EQ(shows(view, "Password: at least 8 characters."), signUp);
        EXPECT_EQ(shows(view, QString::fromUtf8("Username: 3–20 characters (letters / numbers / _).")),
                  signUp);
        EXPECT_EQ(field("Username")->text(), "ann");
        EXPECT_EQ(field("Password")->text(), "password1");
        for (const auto& c : cases) {
            type(c.username, c.password);
            EXPECT_EQ(submit()->isEnabled(), c.enabled) << c.name << (signUp ? " (sign-up)" : " (log-in)");
        }
    }
    // Tab visits every control of the form, in reading order.
    view.activateWindow();
    field("Username")->setFocus();
    ASSERT_TRUE(testing::runUntil([&] { return field("Username")->hasFocus(); }));
    for (const char* next : {"Password", "Log in", "No account yet? Sign up", "Username"}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget()->accessibleName(), next);
    }
}

// Log-in is refused, sign-up succeeds: both send what was typed once, are busy until the
// service answers, and a sign-in brings the lists and starts polling.
TEST_F(LoginViewTest, sendsTheTextAsTypedOnceIsBusyUntilTheAnswerThenShowsTheReasonOrSignsIn) {
    server.script("POST", "/auth/login",
                  {{.status = 401, .body = R"({"error":"Invalid username or password"})", .delay = 300ms}});
    server.script("POST", "/auth/signup",
                  {ScriptedAnswer::json(
                      201, R"({"token":"t","user":{"id":"u1","username":"ann","displayName":"Ann"}})")});
    server.script("GET", "/friends", {ScriptedAnswer::json(200, R"({"friends":[]})")});
    server.script("GET", "/friends/requests", {ScriptedAnswer::json(200, R"({"requests":[]})")});
    std::vector<std::string> order;
    QObject::connect(&auth, &AuthModel::busyChanged, [&] { order.push_back(auth.busy() ? "busy" : "idle"); });
    QObject::connect(&auth, &AuthModel::friendsChanged, [&] { order.push_back("friends"); });
    QObject::connect(&auth, &AuthModel::pendingRequestsChanged, [&] { order.push_back("requests"); });
    const std::pair<bool, const char*> cases[] = {{false, "/auth/login"}, {true, "/auth/signup"}};
    for (const auto& [signUp, path] : cases) {
        SCOPED_TRACE(path);
        order.clear();
        setMode(signUp);
        type(" Ann ", "1234567");
        QTest::keyClick(field("Password"), Qt::Key_Return);  // too short: not sent
        type(" Ann ", "pass word ");
        QTest::keyClick(field("Username"), Qt::Key_Return);
        ASSERT_TRUE(auth.busy());
        EXPECT_FALSE(submit()->isEnabled());
        EXPECT_FALSE(submit()->icon().isNull());
        QTest::keyClick(field("Password"), Qt::Key_Return);  // busy: not sent again
        ASSERT_TRUE(testing::runUntil([&] { return !auth.busy() && (!signUp || order.size() == 4); }));
        const auto sent = server.requestsTo("POST", path);
        ASSERT_EQ(sent.size(), 1);
        EXPECT_TRUE(sent.front().body.contains(R"("username":" Ann ")") &&
                    sent.front().body.contains(R"("password":"pass word ")"))
            << sent.front().body.toStdString();
        EXPECT_TRUE(submit()->isEnabled());
        EXPECT_TRUE(submit()->icon().isNull());
        EXPECT_EQ(shows(view, "Invalid username or password"), !signUp);
        EXPECT_EQ(field("Password")->text(), "pass word ");
        const std::vector<std::string> signedIn{"busy", "idle", "friends", "requests"};
        EXPECT_EQ(order,
                  signUp ? signedIn : std::vector<std::string>(signedIn.begin(), signedIn.begin() + 2));
        EXPECT_EQ(keychain.load(), signUp ? std::optional<QString>("t") : std::nullopt);
        EXPECT_EQ(auth.isPolling(), signUp);
    }
}

class FriendsPanelTest : public testing::SharedServerTest {
  protected:
    TestAccount ann{base(), "ann"};
    SessionModel session{base()};
    FriendsPanel panel{ann.auth(), session};
};

// A new user's panel; a request sent from the add-friend sheet, accepted on the other side,
// becomes a room both friends open alike.
TEST_F(FriendsPanelTest, aNewUserSeesTheSketchbookThenAnAcceptedRequestBecomesARoomBothOpen) {
    session.setCurrentToken(ann.token());
    panel.show();
    EXPECT_TRUE(shows(panel, "@" + ann.username()));
    EXPECT_FALSE(shows(panel, "Requests"));
    EXPECT_TRUE(shows(panel, QString::fromUtf8("No friends yet — click + to send a request.")));
    QTest::mouseClick(panel.sketchbookRow(), Qt::LeftButton);
    EXPECT_EQ(session.roomId(), "solo:" + ann.user().id);
    EXPECT_EQ(session.roomDisplayName(), "My sketchbook");
    EXPECT_TRUE(panel.sketchbookRow()->isSelected());
    session.setZoom(3);  // the mode beside it shows in the end-to-end test
    EXPECT_TRUE(shows(panel, "300%"));

    TestAccount bo(base(), "bo");
    SessionModel boSession(base());
    FriendsPanel boPanel(bo.auth(), boSession);
    boSession.setCurrentToken(bo.token());
    // The service's own refusal text, whatever it says, is shown like a success.
    const std::pair<QString, QString> requests[] = {
        {"   ", ""}, {bo.username(), "Request sent to " + bo.user().displayName + "."}};
    for (const auto& [username, outcome] : requests) {
        panel.showAddFriend();
        QPointer<AddFriendSheet> sheet = panel.addFriendSheet();
        ASSERT_TRUE(sheet);
        auto* field = sheet->findChild<QLineEdit*>();
        auto buttons = sheet->findChildren<QPushButton*>();
        QPushButton* send = *std::find_if(buttons.begin(), buttons.end(),
                                          [](auto* b) { return b->text() == "Send request"; });
        EXPECT_FALSE(send->isEnabled());
        QTest::keyClicks(field, username);
        ASSERT_TRUE(send->isEnabled());
        QTest::keyClick(field, Qt::Key_Return);
        EXPECT_TRUE(sheet->busy());
        EXPECT_FALSE(send->isEnabled());
        ASSERT_TRUE(testing::runUntil([&] { return sheet && sheet->resultMessage().has_value(); }));
        // The answer stays readable for a moment before the sheet closes on its own.
        const QString shown = *sheet->resultMessage();
        EXPECT_TRUE(outcome.isEmpty() ? !shown.isEmpty() && !shown.startsWith("Request sent")
                                      : shown == outcome)
            << shown.toStdString();
        EXPECT_TRUE(sheet->isVisible());
        EXPECT_TRUE(shows(*sheet, shown));
        ASSERT_TRUE(testing::runUntil([&] { return sheet.isNull(); }));
    }

    bo.refresh();
    ASSERT_EQ(boPanel.pendingRows().size(), 1);
    boPanel.show();
    // A row added to a shown panel appears once the event loop has run.
    EXPECT_TRUE(
        testing::runUntil([&] { return shows(boPanel, "@" + ann.username() + " wants to add you"); }));
    QTest::mouseClick(boPanel.pendingRows().front()->acceptButton(), Qt::LeftButton);
    // Friends are applied first, the requests once both lists are in.
    ASSERT_TRUE(testing::runUntil(
        [&] { return boPanel.friendRows().size() == 1 && boPanel.pendingRows().isEmpty(); }));
    ann.refresh();
    ASSERT_EQ(panel.friendRows().size(), 1);
    QTest::mouseClick(boPanel.friendRows().front(), Qt::LeftButton);
    QTest::mouseClick(panel.friendRows().front(), Qt::LeftButton);
    EXPECT_EQ(session.roomId().value_or(QString()).toStdString(),
              dmRoomId(ann.user().id.toStdString(), bo.user().id.toStdString()));
    EXPECT_EQ(boSession.roomId(), session.roomId());
    EXPECT_EQ(session.roomDisplayName(), bo.user().displayName);
    EXPECT_TRUE(panel.friendRows().front()->isSelected());
    EXPECT_FALSE(panel.sketchbookRow()->isSelected());

    // A poll that brings the same friend keeps the row, and with it the keyboard focus; the
    // friend is online once in a room.
    FriendRow* row = panel.friendRows().front();
    EXPECT_EQ(row->leading()->accessibleName(), "offline");
    ASSERT_TRUE(testing::runUntil([&] { return session.peerCount() == 1; })) << "Bo never joined the room";
    ann.refresh();
    EXPECT_EQ(panel.friendRows().front(), row);
    EXPECT_EQ(row->leading()->accessibleName(), "online");
}

}  // namespace
}  // namespace vellumora
