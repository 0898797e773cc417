#pragma once
// The column beside the desk: the friends panel and, while a room is open, the tools, the page
// picker, the palette and the current colour, all in a scrolling area above the help footer.

#include <QWidget>

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

    SessionModel& session_;
    FriendsPanel* friends_;
    QWidget* roomControls_;
};

}  // namespace vellumora
