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
#include "support/test_accounts.h"

namespace vellumora {
namespace {

using testing::TestAccount;

TEST(RoomIds, bothFriendsComputeTheSameRoomInCodePointOrder) {
    const QString smile = QString::fromUtf8("\xF0\x9F\x98\x80");  // U+1F600: first by UTF-16 unit
    const QString tilde = QString::fromUtf8("\xEF\xBD\x9E");      // U+FF5E: first by code point
    const std::tuple<QString, QString, QString> cases[] = {
        {"u2", "u1", "dm:u1:u2"}, {"B", "a", "dm:B:a"}, {smile, tilde, "dm:" + tilde + ":" + smile}};
    for (const auto& [me, other, room] : cases) {
        EXPECT_EQ(dmRoomId(me, other), room);
        EXPECT_EQ(dmRoomId(other, me), room);
    }
    EXPECT_EQ(soloRoomId("abc"), "solo:abc");
}

TEST(ZoomPercent, truncatesTheProduct) {
    const std::pair<double, const char*> cases[] = {
        {0.5, "50%"}, {3.0, "300%"}, {1.5, "150%"}, {0.29, "28%"}};
    for (const auto& [zoom, text] : cases) {
        EXPECT_EQ(zoomPercentText(zoom), text) << zoom;
    }
}

class FriendsPanelTest : public testing::SharedServerTest {
  protected:
    static bool shows(QWidget& root, const QString& text) {
        const auto labels = root.findChildren<QLabel*>();
        return std::any_of(labels.begin(), labels.end(),
                           [&](QLabel* l) { return l->text() == text && l->isVisibleTo(&root); });
    }

    testing::TestAppScope app;
    TestAccount ann{base(), "ann"};
    SessionModel session{base()};
    FriendsPanel panel{ann.auth(), session};
};

TEST_F(FriendsPanelTest, aNewUserSeesTheSketchbookTheEmptyListHintAndTheMode) {
    session.setCurrentToken(ann.token());
    panel.show();
    EXPECT_TRUE(shows(panel, "@" + ann.username()));
    EXPECT_TRUE(shows(panel, "Pointer mode"));
    EXPECT_FALSE(shows(panel, "Requests"));
    EXPECT_TRUE(shows(panel, QString::fromUtf8("No friends yet — click + to send a request.")));

    QTest::mouseClick(panel.sketchbookRow(), Qt::LeftButton);
    EXPECT_EQ(session.roomId(), "solo:" + ann.user().id);
    EXPECT_EQ(session.roomDisplayName(), "My sketchbook");
    EXPECT_TRUE(panel.sketchbookRow()->isSelected());

    session.setIsInCanvasMode(true);
    session.setZoom(3);
    EXPECT_TRUE(shows(panel, "Canvas mode"));
    EXPECT_TRUE(shows(panel, "300%"));
}

TEST_F(FriendsPanelTest, anAcceptedRequestBecomesARoomBothFriendsOpenAlike) {
    TestAccount bo(base(), "bo");
    SessionModel boSession(base());
    FriendsPanel boPanel(bo.auth(), boSession);
    session.setCurrentToken(ann.token());
    boSession.setCurrentToken(bo.token());
    ASSERT_TRUE(testing::await(
        [&](auto done) { bo.auth().sendFriendRequest(ann.username(), [done](QString) { done(); }); }));

    ann.refresh();
    ASSERT_EQ(panel.pendingRows().size(), 1);
    EXPECT_TRUE(shows(panel, "@" + bo.username() + " wants to add you"));
    QTest::mouseClick(panel.pendingRows().front()->acceptButton(), Qt::LeftButton);
    // Friends are applied first, the requests once both lists are in.
    ASSERT_TRUE(
        testing::runUntil([&] { return panel.friendRows().size() == 1 && panel.pendingRows().isEmpty(); }));
    bo.refresh();
    ASSERT_EQ(boPanel.friendRows().size(), 1);

    QTest::mouseClick(panel.friendRows().front(), Qt::LeftButton);
    QTest::mouseClick(boPanel.friendRows().front(), Qt::LeftButton);
    EXPECT_EQ(session.roomId(), dmRoomId(ann.user().id, bo.user().id));
    EXPECT_EQ(boSession.roomId(), session.roomId());
    EXPECT_EQ(session.roomDisplayName(), bo.user().displayName);
    EXPECT_TRUE(panel.friendRows().front()->isSelected());
    EXPECT_FALSE(panel.sketchbookRow()->isSelected());

    // A poll that brings the same friend keeps the row, and with it the keyboard focus.
    FriendRow* row = panel.friendRows().front();
    ann.refresh();
    EXPECT_EQ(panel.friendRows().front(), row);
}

TEST_F(FriendsPanelTest, rowsShowPresenceAndActOnlyWhileSignedIn) {
    session.setCurrentToken(ann.token());
    FriendRow offline(ann.auth(), session, FriendDTO{"zz", "zed", "Zed", false});
    EXPECT_EQ(offline.leading()->accessibleName(), "offline");
    QTest::mouseClick(&offline, Qt::LeftButton);
    EXPECT_TRUE(offline.isSelected());

    AuthModel signedOut(testing::isolatedConfig(base()));
    SessionModel other(base());
    other.setCurrentToken(QStringLiteral("stale"));
    FriendsPanel outPanel(signedOut, other);
    FriendRow row(signedOut, other, FriendDTO{"u9", "nine", "Nine", true});
    QTest::mouseClick(outPanel.sketchbookRow(), Qt::LeftButton);
    QTest::mouseClick(&row, Qt::LeftButton);
    EXPECT_EQ(other.roomId(), std::nullopt);
}

TEST_F(FriendsPanelTest, theAddFriendSheetShowsTheOutcomeThenClosesByItself) {
    TestAccount bo(base(), "bo");
    panel.show();
    // The service's own refusal text, whatever it says, is shown like a success.
    const std::pair<QString, QString> cases[] = {
        {bo.username(), "Request sent to " + bo.user().displayName + "."}, {"   ", ""}};
    for (const auto& [username, outcome] : cases) {
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
}

}  // namespace
}  // namespace vellumora
