#pragma once
// One incoming friend request with its accept and decline buttons.

#include <QWidget>

#include "account/auth_records.h"

class QLabel;
class QToolButton;

namespace vellumora {

class AuthModel;

class PendingRequestRow : public QWidget {
    Q_OBJECT
  public:
    PendingRequestRow(AuthModel& auth, const PendingRequestDTO& request, QWidget* parent = nullptr);

    const PendingRequestDTO& request() const { return request_; }
    void setRequest(const PendingRequestDTO& request);
    QToolButton* acceptButton() const { return accept_; }
    QToolButton* declineButton() const { return decline_; }

  private:
    AuthModel& auth_;
    PendingRequestDTO request_;
    QLabel* name_;
    QLabel* detail_;
    QToolButton* accept_;
    QToolButton* decline_;
};

}  // namespace vellumora
