#pragma once
// The row that opens the signed-in user's private sketchbook.

#include "ui/selectable_row.h"

namespace vellumora {

class AuthModel;
class SessionModel;

class SketchbookRow : public ui::SelectableRow {
    Q_OBJECT
  public:
    SketchbookRow(AuthModel& auth, SessionModel& session, QWidget* parent = nullptr);

    // The sketchbook of whoever is signed in; empty when nobody is.
    QString roomId() const;
    // Enters the sketchbook; does nothing while signed out.
    void open();

  private:
    void refreshSelection();

    AuthModel& auth_;
    SessionModel& session_;
};

}  // namespace vellumora
