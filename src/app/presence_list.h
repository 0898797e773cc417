#pragma once
// Who is in the open room: the user and every peer the server announced, each with the colour
// their cursor has and their name, under the heading "In this room".

#include <QWidget>

class QVBoxLayout;

namespace vellumora {

class SessionModel;

class PresenceList : public QWidget {
    Q_OBJECT
  public:
    explicit PresenceList(SessionModel& session, QWidget* parent = nullptr);

  private:
    void refresh();

    SessionModel& session_;
    QVBoxLayout* rows_;
};

}  // namespace vellumora
