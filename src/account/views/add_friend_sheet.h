#pragma once
// The sheet that sends a friend request by username, laid over the window it belongs to. It
// shows the outcome the account model reports, then closes on its own a moment later, whatever
// the outcome was.

#include <QPointer>
#include <QWidget>
#include <chrono>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace vellumora {

class AuthModel;

class AddFriendSheet : public QWidget {
    Q_OBJECT
  public:
    // How long the outcome stays on screen before the sheet closes.
    static constexpr std::chrono::milliseconds kDismissDelay{700};

    // Covers `window` and takes the keyboard until it closes.
    AddFriendSheet(AuthModel& auth, QWidget* window);

    bool busy() const { return busy_; }
    const std::optional<QString>& resultMessage() const { return resultMessage_; }
    // Closes the sheet and hands the keyboard back to where it was.
    void dismiss();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void send();
    void refresh();

    AuthModel& auth_;
    QPointer<QWidget> previousFocus_;
    bool busy_ = false;
    std::optional<QString> resultMessage_;
    QWidget* card_;
    QLineEdit* username_;
    QLabel* result_;
    QPushButton* cancel_;
    QPushButton* send_;
};

}  // namespace vellumora
