#pragma once
// The top of the side panel: who is signed in (with the log-out menu), the pointer or canvas
// mode with the zoom, incoming friend requests, and the rooms to open: the private sketchbook
// and one room per friend. The add-friend sheet is opened from here.

#include <QPointer>
#include <QWidget>

#include "account/views/add_friend_sheet.h"

class QLabel;
class QMenu;
class QToolButton;
class QVBoxLayout;

namespace vellumora {

class AuthModel;
class FriendRow;
class PendingRequestRow;
class SessionModel;
class SketchbookRow;

// The zoom as a whole percentage, truncated toward zero ("28%" for 0.29).
QString zoomPercentText(double zoom);

class FriendsPanel : public QWidget {
    Q_OBJECT
  public:
    FriendsPanel(AuthModel& auth, SessionModel& session, QWidget* parent = nullptr);
    ~FriendsPanel() override;

    SketchbookRow* sketchbookRow() const { return sketchbook_; }
    QList<FriendRow*> friendRows() const;
    QList<PendingRequestRow*> pendingRows() const;
    // The open add-friend sheet, if any.
    AddFriendSheet* addFriendSheet() const { return sheet_; }
    void showAddFriend();
    // The account menu; the app puts its own items above "Log out".
    QMenu* accountMenu() const { return accountMenu_; }

  private:
    QWidget* buildHeader();
    QWidget* buildModeRow();
    void refreshHeader();
    void refreshMode();
    void refreshFriends();
    void refreshPending();

    AuthModel& auth_;
    SessionModel& session_;

    QWidget* header_;
    QLabel* userName_;
    QLabel* userHandle_;
    QLabel* modeIcon_;
    QLabel* modeText_;
    QLabel* zoom_;
    QWidget* pendingSection_;
    QVBoxLayout* pendingRows_;
    SketchbookRow* sketchbook_;
    QLabel* noFriends_;
    QVBoxLayout* friendRows_;
    QMenu* accountMenu_;
    QPointer<AddFriendSheet> sheet_;
};

}  // namespace vellumora
