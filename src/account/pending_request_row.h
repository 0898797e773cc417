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

    const PendingRequestDTO& request() const { return m_request; }
    void setRequest(const PendingRequestDTO& request);
    QToolButton* acceptButton() const { return m_accept; }
    QToolButton* declineButton() const { return m_decline; }

  private:
    AuthModel& m_auth;
    PendingRequestDTO m_request;
    QLabel* m_name;
    QLabel* m_detail;
    QToolButton* m_accept;
    QToolButton* m_decline;
};

}  // namespace vellumora
