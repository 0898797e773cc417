#include "app/root_view.h"

#include <QStackedLayout>
#include <QTimer>

#include "account/login_view.h"
#include "app/content_view.h"
#include "app/loading_view.h"
#include "session/session_model.h"

namespace vellumora {

RootView::RootView(AuthModel& auth, SessionModel& session, ViewFactories factories, QWidget* parent)
    : QWidget(parent),
      m_stack(new QStackedLayout(this)),
      m_auth(auth),
      m_session(session),
      m_factories(std::move(factories)) {
    connect(&m_auth, &AuthModel::stateChanged, this, &RootView::onStateChanged);
    onStateChanged();
}

void RootView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!m_bootstrapped) {
        m_bootstrapped = true;
        QTimer::singleShot(0, &m_auth, [auth = QPointer<AuthModel>(&m_auth)] {
            if (auth) {
                auth->bootstrap();
            }
        });
    }
}

void RootView::onStateChanged() {
    const AuthModel::State& state = m_auth.state();
    const bool wasSignedIn = m_signedIn.has_value();
    if (const auto* signedIn = std::get_if<AuthModel::Authenticated>(&state)) {
        if (m_page == Page::content && m_signedIn == *signedIn) {
            return;
        }
        if (wasSignedIn && m_signedIn != *signedIn) {
            // Someone else signed in without a sign-out between: leave the old user's room.
            m_session.clearAuth();
        }
        m_signedIn = *signedIn;
        // The session knows who draws before any room can be opened.
        m_session.setCurrentUser(signedIn->user);
        m_session.setCurrentToken(signedIn->token);
        showPage(Page::content, new ContentView(m_auth, m_session, m_factories));
        return;
    }
    if (std::holds_alternative<AuthModel::Loading>(state)) {
        // Loading never ends a sign-in; only signing out does.
        if (m_page != Page::loading) {
            showPage(Page::loading, new LoadingView);
        }
        return;
    }
    if (wasSignedIn) {
        m_signedIn.reset();
        m_session.clearAuth();
    }
    if (m_page != Page::login) {
        showPage(Page::login, new LoginView(m_auth));
    }
}

QWidget* RootView::currentWidget() const {
    return m_stack->currentWidget();
}

void RootView::showPage(Page page, QWidget* view) {
    QWidget* old = currentWidget();
    m_stack->addWidget(view);
    m_stack->setCurrentWidget(view);
    m_page = page;
    if (old) {
        m_stack->removeWidget(old);
        old->deleteLater();
    }
    view->setFocus(Qt::OtherFocusReason);
}

}  // namespace vellumora
