#pragma once
// The one screen shown while nobody is signed in: a form that logs in or signs up, switching
// between the two with a link-style button. It calls the account model and shows its busy flag
// and error message; the root view replaces it once the account is signed in.

#include <QTimer>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace vellumora {

class AuthModel;

// User-perceived characters (grapheme clusters), spaces included.
int graphemeCount(const QString& text);
// Submitting needs an idle model, a username of 3 and a password of 8 characters or more.
bool canSubmitLogin(bool busy, const QString& username, const QString& password);

class LoginView : public QWidget {
    Q_OBJECT
  public:
    explicit LoginView(AuthModel& auth, QWidget* parent = nullptr);

    bool isSignUp() const { return isSignUp_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void submit();
    void toggleMode();
    void refresh();
    void refreshSpinner();

    AuthModel& auth_;
    bool isSignUp_ = false;
    QLabel* subtitle_;
    QLineEdit* username_;
    QLineEdit* password_;
    QLabel* error_;
    QPushButton* submit_;
    QPushButton* modeSwitch_;
    QWidget* hints_;
    QTimer spinnerTimer_;
    double spinnerTurn_ = 0;
};

}  // namespace vellumora
