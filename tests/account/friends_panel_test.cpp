#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include "account/add_friend_sheet.h"
#include "account/friend_row.h"
#include "account/friends_panel.h"
#include "account/pending_request_row.h"
#include "account/room_ids.h"
#include "account/sketchbook_row.h"
#include "session/session_model.h"
#include "support/qt_test_app.h"
#include "support/server_process.h"
#include "support/test_accounts.h"

namespace vellumora {
namespace {

using testing::TestAccount;

TEST(RoomIds, bothFriendsComputeTheSameRoom) {
    struct Case {
        QString me;
        QString other;
        QString room;
    };
    const Case cases[] = {
        {"u2", "u1", "dm:u1:u2"},
        {"u1", "u2", "dm:u1:u2"},
        {"B", "a", "dm:B:a"},  // plain code-point order, not case-folded
        // U+FF5E sorts before U+1F600 by code point, after it by UTF-16 unit.
        {QString::fromUtf8("\xF0\x9F\x98\x80"), QString::fromUtf8("\xEF\xBD\x9E"),
         QString::fromUtf8("dm:\xEF\xBD\x9E:\xF0\x9F\x98\x80")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(dmRoomId(c.me, c.other), c.room);
        EXPECT_EQ(dmRoomId(c.other, c.me), c.room);
    }
    EXPECT_EQ(soloRoomId("abc"), "solo:abc");
    EXPECT_EQ(dmRoomId(AuthModel::State(AuthModel::Unauthenticated{}), "u1"), "");
}

TEST(ZoomPercent, truncatesTheProduct) {
    const std::pair<double, const char*> cases[] = {
        {0.5, "50%"}, {3.0, "300%"}, {1.0, "100%"}, {1.5, "150%"}, {0.29, "28%"}, {0.25, "25%"}, {5.999, "599%"},
    };
    for (const auto& [zoom, text] : cases) {
        EXPECT_EQ(zoomPercentText(zoom), text) << zoom;
    }
}

class FriendsPanelTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { server = new testing::ServerProcess(testing::unlimitedSignUps()); }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }

    QUrl base() const { return testing::baseUrlOf(*server); }
    bool showsText(QWidget& root, const QString& text) {
        for (QLabel* label : root.findChildren<QLabel*>()) {
            if (label->text() == text && label->isVisibleTo(&root)) {
                return true;
            }
        }
        return false;
    }
    template <class Row>
    int selectedCount(const QList<Row*>& rows) {
        return static_cast<int>(std::count_if(rows.begin(), rows.end(), [](Row* r) { return r->isSelected(); }));
    }

    static testing::ServerProcess* server;
    testing::TestAppScope app;
};

testing::ServerProcess* FriendsPanelTest::server = nullptr;

TEST_F(FriendsPanelTest, aNewUserSeesTheSketchbookAndTheEmptyListHint) {
    TestAccount ann(base(), "ann");
    SessionModel session(base());
    session.setCurrentToken(ann.token());
    FriendsPanel panel(ann.auth(), session);
    panel.show();

    EXPECT_TRUE(showsText(panel, ann.user().displayName));
    EXPECT_TRUE(showsText(panel, "@" + ann.username()));
    EXPECT_TRUE(showsText(panel, "Pointer mode"));
    EXPECT_TRUE(showsText(panel, "100%"));
    EXPECT_FALSE(showsText(panel, "Requests"));
    EXPECT_TRUE(showsText(panel, QString::fromUtf8("No friends yet — click + to send a request.")));
    EXPECT_TRUE(panel.friendRows().isEmpty());

    QTest::mouseClick(panel.sketchbookRow(), Qt::LeftButton);
    EXPECT_EQ(session.roomId(), "solo:" + ann.user().id);
    EXPECT_EQ(session.roomDisplayName(), "My sketchbook");
    EXPECT_TRUE(panel.sketchbookRow()->isSelected());

    session.setIsInCanvasMode(true);
    session.setZoom(0.29);
    EXPECT_TRUE(showsText(panel, "Canvas mode"));
    EXPECT_TRUE(showsText(panel, "28%"));
}

TEST_F(FriendsPanelTest, aRequestIsAcceptedAndBothFriendsOpenTheSameRoom) {
    TestAccount ann(base(), "ann");
    TestAccount bo(base(), "bo");
    SessionModel annSession(base());
    SessionModel boSession(base());
    annSession.setCurrentToken(ann.token());
    boSession.setCurrentToken(bo.token());
    FriendsPanel annPanel(ann.auth(), annSession);
    FriendsPanel boPanel(bo.auth(), boSession);

    std::optional<QString> sent;
    bo.auth().sendFriendRequest(ann.username(), [&](QString text) { sent = text; });
    ASSERT_TRUE(testing::runUntil([&] { return sent.has_value(); }));
    EXPECT_EQ(*sent, "Request sent to " + ann.user().displayName + ".");

    ann.refresh();
    ASSERT_EQ(annPanel.pendingRows().size(), 1);
    EXPECT_TRUE(showsText(annPanel, "Requests"));
    EXPECT_TRUE(showsText(annPanel, "@" + bo.username() + " wants to add you"));
    QTest::mouseClick(annPanel.pendingRows().front()->acceptButton(), Qt::LeftButton);
    // Friends are applied first, the requests once both lists are in.
    ASSERT_TRUE(testing::runUntil(
        [&] { return annPanel.friendRows().size() == 1 && annPanel.pendingRows().isEmpty(); }));
    EXPECT_FALSE(showsText(annPanel, "Requests"));
    bo.refresh();
    ASSERT_EQ(boPanel.friendRows().size(), 1);

    const QString room = dmRoomId(ann.user().id, bo.user().id);
    QTest::mouseClick(annPanel.friendRows().front(), Qt::LeftButton);
    QTest::mouseClick(boPanel.friendRows().front(), Qt::LeftButton);
    EXPECT_EQ(annSession.roomId(), room);
    EXPECT_EQ(boSession.roomId(), room);
    EXPECT_EQ(annSession.roomDisplayName(), bo.user().displayName);
    EXPECT_EQ(selectedCount(annPanel.friendRows()), 1);
    EXPECT_FALSE(annPanel.sketchbookRow()->isSelected());

    // A poll that brings the same friend keeps the row, and with it the keyboard focus.
    FriendRow* row = annPanel.friendRows().front();
    ann.refresh();
    EXPECT_EQ(annPanel.friendRows().front(), row);
}

TEST_F(FriendsPanelTest, anOfflineFriendShowsAGreyDotAndStaysSelectable) {
    TestAccount ann(base(), "ann");
    SessionModel session(base());
    session.setCurrentToken(ann.token());
    FriendsPanel panel(ann.auth(), session);
    // A friend whose app is closed: the poll reports them offline.
    FriendRow row(ann.auth(), session, FriendDTO{"zz", "zed", "Zed", false});
    EXPECT_EQ(row.leading()->accessibleName(), "offline");
    QTest::mouseClick(&row, Qt::LeftButton);
    EXPECT_EQ(session.roomId(), dmRoomId(ann.user().id, "zz"));
    EXPECT_TRUE(row.isSelected());
    row.setFriendInfo(FriendDTO{"zz", "zed", "Zed", true});
    EXPECT_EQ(row.leading()->accessibleName(), "online");
}

TEST_F(FriendsPanelTest, rowsDoNothingWhileSignedOut) {
    AuthModel signedOut(testing::isolatedConfig(base()));
    SessionModel session(base());
    session.setCurrentToken(QStringLiteral("stale"));
    FriendsPanel panel(signedOut, session);
    FriendRow row(signedOut, session, FriendDTO{"u9", "nine", "Nine", true});
    QTest::mouseClick(panel.sketchbookRow(), Qt::LeftButton);
    QTest::mouseClick(&row, Qt::LeftButton);
    EXPECT_EQ(session.roomId(), std::nullopt);
    EXPECT_FALSE(row.isSelected());
}

TEST_F(FriendsPanelTest, theAddFriendSheetShowsTheOutcomeThenClosesByItself) {
    TestAccount ann(base(), "ann");
    TestAccount bo(base(), "bo");
    SessionModel session(base());
    FriendsPanel panel(ann.auth(), session);
    panel.show();

    struct Case {
        const char* name;
        QString username;
        QString outcome;
    };
    const Case cases[] = {
        {"a user", bo.username(), "Request sent to " + bo.user().displayName + "."},
        {"nobody by that name", "   ", ""},  // the service's own error text, whatever it says
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        panel.showAddFriend();
        QPointer<AddFriendSheet> sheet = panel.addFriendSheet();
        ASSERT_TRUE(sheet);
        auto* field = sheet->findChild<QLineEdit*>();
        QPushButton* send = nullptr;
        for (QPushButton* b : sheet->findChildren<QPushButton*>()) {
            send = b->text() == "Send request" ? b : send;
        }
        ASSERT_NE(send, nullptr);
        EXPECT_TRUE(field->text().isEmpty());
        EXPECT_FALSE(send->isEnabled());
        field->setText(c.username);
        ASSERT_TRUE(send->isEnabled());
        QTest::keyClick(field, Qt::Key_Return);
        EXPECT_TRUE(sheet->busy());
        EXPECT_FALSE(send->isEnabled());

        ASSERT_TRUE(testing::runUntil([&] { return sheet && sheet->resultMessage().has_value(); }));
        // The answer stays readable for a moment before the sheet closes on its own.
        EXPECT_TRUE(sheet->isVisible());
        EXPECT_FALSE(sheet->busy());
        const QString shown = *sheet->resultMessage();
        if (!c.outcome.isEmpty()) {
            EXPECT_EQ(shown, c.outcome);
        } else {
            EXPECT_FALSE(shown.isEmpty());
            EXPECT_FALSE(shown.startsWith("Request sent"));
        }
        EXPECT_TRUE(showsText(*sheet, shown));
        ASSERT_TRUE(testing::runUntil([&] { return sheet.isNull(); }));
    }
}

}  // namespace
}  // namespace vellumora
