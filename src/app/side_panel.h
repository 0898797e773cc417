#pragma once
// The column beside the desk: the friends panel and, while a room is open, who is in it and the
// page picker, in a scrolling area; below it the tools, the palette and the current colour,
// always in view; then the help footer.
// It adds "Keyboard shortcuts" to the account menu.

#include <QPointer>
#include <QWidget>

#include "app/shortcuts_dialog.h"
#include "app/view_factories.h"

namespace vellumora {

class AuthModel;
class FriendsPanel;
class SessionModel;

class SidePanel : public QWidget {
    Q_OBJECT
  public:
    SidePanel(AuthModel& auth, SessionModel& session, const WidgetFactory& pagePicker,
              QWidget* parent = nullptr);

    FriendsPanel* friendsPanel() const { return friends_; }
    // The drawing controls, shown only while a room is open.
    QWidget* roomControls() const { return roomControls_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void refresh();
    // The account menu's "Keyboard shortcuts": one dialog, raised if it is open already.
    void showShortcuts();

    SessionModel& session_;
    FriendsPanel* friends_;
    QWidget* roomInfo_;
    QWidget* roomControls_;
    QPointer<ShortcutsDialog> shortcuts_;
};

}  // namespace vellumora
