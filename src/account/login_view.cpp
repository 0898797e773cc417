#include "account/login_view.h"

#include <QLabel>
#include <QLineEdit>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>
#include <QTextBoundaryFinder>
#include <QVBoxLayout>

#include <cmath>

#include "account/auth_model.h"
#include "ui/appearance.h"
#include "ui/busy_spinner.h"
#include "ui/styles.h"
#include "ui/symbol_icons.h"

namespace vellumora {

namespace {

QLabel* centredLabel(const QString& text, ui::TextStyle style, QFont::Weight weight, const QColor& colour) {
    QLabel* label = ui::label(text, style, weight, colour);
    label->setAlignment(Qt::AlignHCenter);
    label->setWordWrap(true);
    return label;
}

QVBoxLayout* column(int spacing) {
    auto* layout = new QVBoxLayout;
    layout->setSpacing(spacing);
    layout->setContentsMargins(0, 0, 0, 0);
    return layout;
}

}  // namespace

int graphemeCount(const QString& text) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() > 0) {
        ++count;
    }
    return count;
}

bool canSubmitLogin(bool busy, const QString& username, const QString& password) {
    return !busy && graphemeCount(username) >= 3 && graphemeCount(password) >= 8;
}

LoginView::LoginView(AuthModel& auth, QWidget* parent) : QWidget(parent), m_auth(auth) {
    setAutoFillBackground(false);

    auto* symbol = new QLabel;
    ui::setSymbol(symbol, QStringLiteral("paintpalette.fill"), ui::accentColor(), ui::pt(48));

    auto* title = centredLabel(QStringLiteral("Vellumora"), ui::TextStyle::title, QFont::DemiBold,
                               ui::primaryTextColor());
    m_subtitle = centredLabel({}, ui::TextStyle::subheadline, QFont::Normal, ui::secondaryTextColor());

    m_username = new QLineEdit;
    m_username->setPlaceholderText(QStringLiteral("Username"));
    m_username->setAccessibleName(QStringLiteral("Username"));
    m_username->setFixedWidth(ui::pt(280));
    m_password = new QLineEdit;
    m_password->setPlaceholderText(QStringLiteral("Password"));
    m_password->setAccessibleName(QStringLiteral("Password"));
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setFixedWidth(ui::pt(280));

    m_error = centredLabel({}, ui::TextStyle::caption, QFont::Normal, QColor(255, 69, 58));
    m_error->setFixedWidth(ui::pt(280));
    m_error->setObjectName(QStringLiteral("error"));

    m_submit = new QPushButton;
    m_submit->setMinimumWidth(ui::pt(200) + ui::pt(24));
    m_submit->setIconSize(QSize(ui::pt(13), ui::pt(13)));
    m_submit->setDefault(true);
    ui::makeProminent(m_submit);

    m_modeSwitch = new QPushButton;
    m_modeSwitch->setFlat(true);
    m_modeSwitch->setCursor(Qt::PointingHandCursor);
    ui::setTextStyle(m_modeSwitch, ui::TextStyle::caption);
    ui::setTextColor(m_modeSwitch, ui::secondaryTextColor());

    m_hints = new QWidget;
    auto* hints = column(ui::pt(2));
    hints->addWidget(centredLabel(QStringLiteral("Username: 3–20 characters (letters / numbers / _)."),
                                  ui::TextStyle::caption2, QFont::Normal, ui::secondaryTextColor()));
    hints->addWidget(centredLabel(QStringLiteral("Password: at least 8 characters."), ui::TextStyle::caption2,
                                  QFont::Normal, ui::secondaryTextColor()));
    m_hints->setLayout(hints);
    for (QLabel* hint : m_hints->findChildren<QLabel*>()) {
        hint->setWordWrap(false);
    }

    auto* heading = column(ui::pt(4));
    heading->addWidget(title);
    heading->addWidget(m_subtitle);
    auto* fields = column(ui::pt(10));
    fields->addWidget(m_username);
    fields->addWidget(m_password);

    auto* form = column(ui::pt(22));
    form->setContentsMargins(ui::pt(40), ui::pt(40), ui::pt(40), ui::pt(40));
    form->addStretch(1);
    form->addWidget(symbol, 0, Qt::AlignHCenter);
    form->addLayout(heading);
    form->addLayout(fields);
    form->setAlignment(fields, Qt::AlignHCenter);
    form->addWidget(m_error, 0, Qt::AlignHCenter);
    form->addWidget(m_submit, 0, Qt::AlignHCenter);
    form->addWidget(m_modeSwitch, 0, Qt::AlignHCenter);
    form->addWidget(m_hints, 0, Qt::AlignHCenter);
    form->addStretch(1);
    setLayout(form);

    setTabOrder(m_username, m_password);
    setTabOrder(m_password, m_submit);
    setTabOrder(m_submit, m_modeSwitch);
    setFocusProxy(m_username);

    connect(m_username, &QLineEdit::textChanged, this, &LoginView::refresh);
    connect(m_password, &QLineEdit::textChanged, this, &LoginView::refresh);
    connect(m_username, &QLineEdit::returnPressed, this, &LoginView::submit);
    connect(m_password, &QLineEdit::returnPressed, this, &LoginView::submit);
    connect(m_submit, &QPushButton::clicked, this, &LoginView::submit);
    connect(m_modeSwitch, &QPushButton::clicked, this, &LoginView::toggleMode);
    connect(&m_auth, &AuthModel::busyChanged, this, &LoginView::refresh);
    connect(&m_auth, &AuthModel::errorMessageChanged, this, &LoginView::refresh);

    m_spinnerTimer.setInterval(16);
    connect(&m_spinnerTimer, &QTimer::timeout, this, [this] {
        m_spinnerTurn = std::fmod(m_spinnerTurn + 1.0 / 60.0, 1.0);
        refreshSpinner();
    });
    refresh();
}

void LoginView::submit() {
    if (!canSubmitLogin(m_auth.busy(), m_username->text(), m_password->text())) {
        return;
    }
    if (m_isSignUp) {
        m_auth.signup(m_username->text(), m_password->text());
    } else {
        m_auth.login(m_username->text(), m_password->text());
    }
}

void LoginView::toggleMode() {
    m_isSignUp = !m_isSignUp;
    m_auth.setErrorMessage(std::nullopt);
    refresh();
}

void LoginView::refresh() {
    m_subtitle->setText(m_isSignUp ? QStringLiteral("Create an account")
                                   : QStringLiteral("Log in to color with friends"));
    const QString action = m_isSignUp ? QStringLiteral("Create account") : QStringLiteral("Log in");
    m_submit->setText(action);
    m_submit->setAccessibleName(action);
    m_submit->setEnabled(canSubmitLogin(m_auth.busy(), m_username->text(), m_password->text()));
    const QString switchText = m_isSignUp ? QStringLiteral("Already have an account? Log in")
                                          : QStringLiteral("No account yet? Sign up");
    m_modeSwitch->setText(switchText);
    m_modeSwitch->setAccessibleName(switchText);
    m_hints->setVisible(m_isSignUp);

    const std::optional<QString>& error = m_auth.errorMessage();
    m_error->setText(error.value_or(QString()));
    m_error->setVisible(error.has_value());

    if (m_auth.busy() != m_spinnerTimer.isActive()) {
        if (m_auth.busy()) {
            m_spinnerTimer.start();
        } else {
            m_spinnerTimer.stop();
        }
        refreshSpinner();
    }
}

void LoginView::refreshSpinner() {
    if (!m_spinnerTimer.isActive()) {
        m_submit->setIcon(QIcon());
        return;
    }
    const qreal ratio = devicePixelRatioF();
    const QSize size = m_submit->iconSize() * ratio;
    QPixmap frame(size);
    frame.fill(Qt::transparent);
    QPainter painter(&frame);
    ui::BusySpinner::paintFrame(painter, QRectF(QPointF(0, 0), QSizeF(size)), Qt::white, m_spinnerTurn);
    painter.end();
    frame.setDevicePixelRatio(ratio);
    QIcon icon;
    icon.addPixmap(frame, QIcon::Normal);
    icon.addPixmap(frame, QIcon::Disabled);
    m_submit->setIcon(icon);
}

void LoginView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), ui::deskGradient(rect()));
}

}  // namespace vellumora
