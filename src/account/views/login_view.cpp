#include "account/views/login_view.h"

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

LoginView::LoginView(AuthModel& auth, QWidget* parent) : QWidget(parent), auth_(auth) {
    setAutoFillBackground(false);

    auto* symbol = new QLabel;
    ui::setSymbol(symbol, QStringLiteral("paintpalette.fill"), ui::accentColor(), ui::pt(48));

    auto* title = centredLabel(QStringLiteral("Vellumora"), ui::TextStyle::title, QFont::DemiBold,
                               ui::primaryTextColor());
    subtitle_ = centredLabel({}, ui::TextStyle::subheadline, QFont::Normal, ui::secondaryTextColor());

    username_ = new QLineEdit;
    username_->setPlaceholderText(QStringLiteral("Username"));
    username_->setAccessibleName(QStringLiteral("Username"));
    username_->setFixedWidth(ui::pt(280));
    password_ = new QLineEdit;
    password_->setPlaceholderText(QStringLiteral("Password"));
    password_->setAccessibleName(QStringLiteral("Password"));
    password_->setEchoMode(QLineEdit::Password);
    password_->setFixedWidth(ui::pt(280));

    error_ = centredLabel({}, ui::TextStyle::caption, QFont::Normal, QColor(255, 69, 58));
    error_->setFixedWidth(ui::pt(280));
    error_->setObjectName(QStringLiteral("error"));

    submit_ = new QPushButton;
    submit_->setMinimumWidth(ui::pt(200) + ui::pt(24));
    submit_->setIconSize(QSize(ui::pt(13), ui::pt(13)));
    submit_->setDefault(true);
    ui::makeProminent(submit_);

    modeSwitch_ = new QPushButton;
    modeSwitch_->setFlat(true);
    modeSwitch_->setCursor(Qt::PointingHandCursor);
    ui::setTextStyle(modeSwitch_, ui::TextStyle::caption);
    ui::setTextColor(modeSwitch_, ui::secondaryTextColor());

    hints_ = new QWidget;
    auto* hints = column(ui::pt(2));
    hints->addWidget(centredLabel(QStringLiteral("Username: 3–20 characters (letters / numbers / _)."),
                                  ui::TextStyle::caption2, QFont::Normal, ui::secondaryTextColor()));
    hints->addWidget(centredLabel(QStringLiteral("Password: at least 8 characters."), ui::TextStyle::caption2,
                                  QFont::Normal, ui::secondaryTextColor()));
    hints_->setLayout(hints);
    for (QLabel* hint : hints_->findChildren<QLabel*>()) {
        hint->setWordWrap(false);
    }

    auto* heading = column(ui::pt(4));
    heading->addWidget(title);
    heading->addWidget(subtitle_);
    auto* fields = column(ui::pt(10));
    fields->addWidget(username_);
    fields->addWidget(password_);

    auto* form = column(ui::pt(22));
    form->setContentsMargins(ui::pt(40), ui::pt(40), ui::pt(40), ui::pt(40));
    form->addStretch(1);
    form->addWidget(symbol, 0, Qt::AlignHCenter);
    form->addLayout(heading);
    form->addLayout(fields);
    form->setAlignment(fields, Qt::AlignHCenter);
    form->addWidget(error_, 0, Qt::AlignHCenter);
    form->addWidget(submit_, 0, Qt::AlignHCenter);
    form->addWidget(modeSwitch_, 0, Qt::AlignHCenter);
    form->addWidget(hints_, 0, Qt::AlignHCenter);
    form->addStretch(1);
    setLayout(form);

    setTabOrder(username_, password_);
    setTabOrder(password_, submit_);
    setTabOrder(submit_, modeSwitch_);
    setFocusProxy(username_);

    connect(username_, &QLineEdit::textChanged, this, &LoginView::refresh);
    connect(password_, &QLineEdit::textChanged, this, &LoginView::refresh);
    connect(username_, &QLineEdit::returnPressed, this, &LoginView::submit);
    connect(password_, &QLineEdit::returnPressed, this, &LoginView::submit);
    connect(submit_, &QPushButton::clicked, this, &LoginView::submit);
    connect(modeSwitch_, &QPushButton::clicked, this, &LoginView::toggleMode);
    connect(&auth_, &AuthModel::busyChanged, this, &LoginView::refresh);
    connect(&auth_, &AuthModel::errorMessageChanged, this, &LoginView::refresh);

    spinnerTimer_.setInterval(16);
    connect(&spinnerTimer_, &QTimer::timeout, this, [this] {
        spinnerTurn_ = std::fmod(spinnerTurn_ + 1.0 / 60.0, 1.0);
        refreshSpinner();
    });
    refresh();
}

void LoginView::submit() {
    if (!canSubmitLogin(auth_.busy(), username_->text(), password_->text())) {
        return;
    }
    if (isSignUp_) {
        auth_.signup(username_->text(), password_->text());
    } else {
        auth_.login(username_->text(), password_->text());
    }
}

void LoginView::toggleMode() {
    isSignUp_ = !isSignUp_;
    auth_.setErrorMessage(std::nullopt);
    refresh();
}

void LoginView::refresh() {
    subtitle_->setText(isSignUp_ ? QStringLiteral("Create an account")
                                 : QStringLiteral("Log in to color with friends"));
    const QString action = isSignUp_ ? QStringLiteral("Create account") : QStringLiteral("Log in");
    submit_->setText(action);
    submit_->setAccessibleName(action);
    submit_->setEnabled(canSubmitLogin(auth_.busy(), username_->text(), password_->text()));
    const QString switchText = isSignUp_ ? QStringLiteral("Already have an account? Log in")
                                         : QStringLiteral("No account yet? Sign up");
    modeSwitch_->setText(switchText);
    modeSwitch_->setAccessibleName(switchText);
    hints_->setVisible(isSignUp_);

    const std::optional<QString>& error = auth_.errorMessage();
    error_->setText(error.value_or(QString()));
    // Centred in the form, the label gets its size hint, which wraps for another width: a
    // longer reason would lose its last lines.
    if (const int height = error_->heightForWidth(error_->width()); height > 0) error_->setFixedHeight(height);
    error_->setVisible(error.has_value());

    if (auth_.busy() != spinnerTimer_.isActive()) {
        if (auth_.busy()) {
            spinnerTimer_.start();
        } else {
            spinnerTimer_.stop();
        }
        refreshSpinner();
    }
}

void LoginView::refreshSpinner() {
    if (!spinnerTimer_.isActive()) {
        submit_->setIcon(QIcon());
        return;
    }
    const qreal ratio = devicePixelRatioF();
    const QSize size = submit_->iconSize() * ratio;
    QPixmap frame(size);
    frame.fill(Qt::transparent);
    QPainter painter(&frame);
    ui::BusySpinner::paintFrame(painter, QRectF(QPointF(0, 0), QSizeF(size)), Qt::white, spinnerTurn_);
    painter.end();
    frame.setDevicePixelRatio(ratio);
    QIcon icon;
    icon.addPixmap(frame, QIcon::Normal);
    icon.addPixmap(frame, QIcon::Disabled);
    submit_->setIcon(icon);
}

void LoginView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), ui::deskGradient(rect()));
}

}  // namespace vellumora
