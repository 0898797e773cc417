#pragma once
// The window's content: the login screen while signed out, a loading screen while a stored
// sign-in is checked, the main layout while signed in. It hands the signed-in user and token to
// the session (reopening a room where work from an earlier run waits), clears the session's
// sign-in when the account signs out, and signs the account out when the server ends the
// session. The window's title names the open room.

#include <QPointer>
#include <QWidget>

#include "account/auth_model.h"
#include "app/view_factories.h"

class QStackedLayout;

namespace vellumora {

class SessionModel;

class RootView : public QWidget {
    Q_OBJECT
  public:
    RootView(AuthModel& auth, SessionModel& session, ViewFactories factories, QWidget* parent = nullptr);

    // The screen shown now.
    QWidget* currentWidget() const;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    enum class Page { login, loading, content };

    void onStateChanged();
    void updateTitle();
    void showPage(Page page, QWidget* view);

    QStackedLayout* stack_;
    AuthModel& auth_;
    SessionModel& session_;
    ViewFactories factories_;
    std::optional<Page> page_;
    std::optional<AuthModel::Authenticated> signedIn_;
    bool bootstrapped_ = false;
};

}  // namespace vellumora
