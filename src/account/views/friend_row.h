#pragma once
// The row that opens the room shared with one friend, with the friend's online dot.

#include "account/auth_records.h"
#include "ui/selectable_row.h"

namespace vellumora {

class AuthModel;
class SessionModel;

class FriendRow : public ui::SelectableRow {
    Q_OBJECT
  public:
    FriendRow(AuthModel& auth, SessionModel& session, const FriendDTO& friendInfo, QWidget* parent = nullptr);

    const FriendDTO& friendInfo() const { return friend_; }
    // A poll may bring new names or presence for the same friend.
    void setFriendInfo(const FriendDTO& friendInfo);
    // The room shared with this friend; empty while signed out.
    QString roomId() const;
    // Enters the shared room; does nothing while signed out.
    void openDM();

  private:
    void refreshSelection();

    AuthModel& auth_;
    SessionModel& session_;
    FriendDTO friend_;
};

}  // namespace vellumora
