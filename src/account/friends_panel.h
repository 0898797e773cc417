#pragma once
// The top of the side panel: who is signed in (with the log-out menu), the pointer or canvas
// mode with the zoom, incoming friend requests, and the rooms to open: the private sketchbook
// and one room per friend. The add-friend sheet is opened from here.

#include <QPointer>
#include <QWidget>

#include "account/add_friend_sheet.h"

class QLabel;
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

    SketchbookRow* sketchbookRow() const { return m_sketchbook; }
    QList<FriendRow*> friendRows() const;
    QList<PendingRequestRow*> pendingRows() const;
    // The open add-friend sheet, if any.
    AddFriendSheet* addFriendSheet() const { return m_sheet; }
    void showAddFriend();

  private:
    QWidget* buildHeader();
    QWidget* buildModeRow();
    void refreshHeader();
    void refreshMode();
    void refreshFriends();
    void refreshPending();

    AuthModel& m_auth;
    SessionModel& m_session;

    QWidget* m_header;
    QLabel* m_userName;
    QLabel* m_userHandle;
    QLabel* m_modeIcon;
    QLabel* m_modeText;
    QLabel* m_zoom;
    QWidget* m_pendingSection;
    QVBoxLayout* m_pendingRows;
    SketchbookRow* m_sketchbook;
    QLabel* m_noFriends;
    QVBoxLayout* m_friendRows;
    QPointer<AddFriendSheet> m_sheet;
};

}  // namespace vellumora
