#include "app/root_view.h"

#include <QStackedLayout>
#include <QTimer>

#include "account/views/login_view.h"
#include "app/content_view.h"
#include "app/loading_view.h"
#include "session/session_model.h"

namespace vellumora {

RootView::RootView(AuthModel& auth, SessionModel& session, ViewFactories factories, QWidget* parent)
    : QWidget(parent),
      stack_(new QStackedLayout(this)),
      auth_(auth),
      session_(session),
      factories_(std::move(factories)) {
    connect(&auth_, &AuthModel::stateChanged, this, &RootView::onStateChanged);
    connect(&session_, &SessionModel::sessionEnded, &auth_,
            [auth = &auth_](const QString& message) { auth->endSession(message); });
    connect(&session_, &SessionModel::roomDisplayNameChanged, this, &RootView::updateTitle);
    updateTitle();
    onStateChanged();
}

void RootView::updateTitle() {
    const std::optional<QString>& room = session_.roomDisplayName();
    setWindowTitle(room ? QStringLiteral("Vellumora — ") + *room : QStringLiteral("Vellumora"));
}

void RootView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!bootstrapped_) {
        bootstrapped_ = true;
        QTimer::singleShot(0, &auth_, [auth = QPointer<AuthModel>(&auth_)] {
            if (auth) {
                auth->bootstrap();
            }
        });
    }
}

void RootView::onStateChanged() {
    const AuthModel::State& state = auth_.state();
    const bool wasSignedIn = signedIn_.has_value();
    if (const auto* signedIn = std::get_if<AuthModel::Authenticated>(&state)) {
        if (page_ == Page::content && signedIn_ == *signedIn) {
            return;
        }
        if (wasSignedIn && signedIn_ != *signedIn) {
            // Someone else signed in without a sign-out between: leave the old user's room.
            session_.clearAuth();
        }
        signedIn_ = *signedIn;
        // The session knows who draws before any room can be opened.
        session_.setCurrentUser(signedIn->user);
        session_.setCurrentToken(signedIn->token);
        showPage(Page::content, new ContentView(auth_, session_, factories_));
        // Drawing that waits since an earlier run (quit or crashed while offline) is delivered
        // by opening its room.
        if (const auto pending = session_.pendingRoom())
            session_.switchRoom(pending->id, pending->displayName);
        return;
    }
    if (std::holds_alternative<AuthModel::Loading>(state)) {
        // Loading never ends a sign-in; only signing out does.
        if (page_ != Page::loading) {
            showPage(Page::loading, new LoadingView);
        }
        return;
    }
    if (wasSignedIn) {
        signedIn_.reset();
        session_.clearAuth();
    }
    if (page_ != Page::login) {
        showPage(Page::login, new LoginView(auth_));
    }
}

QWidget* RootView::currentWidget() const {
    return stack_->currentWidget();
}

void RootView::showPage(Page page, QWidget* view) {
    QWidget* old = currentWidget();
    stack_->addWidget(view);
    stack_->setCurrentWidget(view);
    page_ = page;
    if (old) {
        stack_->removeWidget(old);
        old->deleteLater();
    }
    view->setFocus(Qt::OtherFocusReason);
}

}  // namespace vellumora
