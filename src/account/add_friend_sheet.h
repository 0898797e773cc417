#pragma once
// The sheet that sends a friend request by username. It shows the outcome the account model
// reports, then closes on its own a moment later, whatever the outcome was.

#include <QDialog>
#include <chrono>

class QLabel;
class QLineEdit;
class QPushButton;

namespace vellumora {

class AuthModel;

class AddFriendSheet : public QDialog {
    Q_OBJECT
  public:
    // How long the outcome stays on screen before the sheet closes.
    static constexpr std::chrono::milliseconds kDismissDelay{700};

    explicit AddFriendSheet(AuthModel& auth, QWidget* parent = nullptr);

    bool busy() const { return m_busy; }
    const std::optional<QString>& resultMessage() const { return m_resultMessage; }

  private:
    void send();
    void refresh();

    AuthModel& m_auth;
    bool m_busy = false;
    std::optional<QString> m_resultMessage;
    QLineEdit* m_username;
    QLabel* m_result;
    QPushButton* m_send;
};

}  // namespace vellumora
