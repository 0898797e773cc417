#include "account/views/pending_request_row.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

#include "account/auth_model.h"
#include "ui/appearance.h"
#include "ui/styles.h"
#include "ui/symbol_icons.h"

namespace vellumora {

namespace {

QToolButton* iconButton(const QString& symbol, const QColor& tint, const QString& help) {
    auto* button = new QToolButton;
    button->setAutoRaise(true);
    button->setIcon(ui::symbolIcon(symbol, tint));
    button->setIconSize(QSize(ui::pt(14), ui::pt(14)));
    button->setToolTip(help);
    button->setFocusPolicy(Qt::StrongFocus);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

}  // namespace

PendingRequestRow::PendingRequestRow(AuthModel& auth, const PendingRequestDTO& request, QWidget* parent)
    : QWidget(parent),
      auth_(auth),
      name_(new QLabel),
      detail_(new QLabel),
      accept_(iconButton(QStringLiteral("checkmark"), QColor(48, 209, 88), QStringLiteral("Accept"))),
      decline_(iconButton(QStringLiteral("xmark"), QColor(255, 69, 58), QStringLiteral("Decline"))) {
    auto* mark = new QLabel;
    ui::setSymbol(mark, QStringLiteral("person.crop.circle.badge.questionmark"), QColor(255, 159, 10),
                  ui::pt(16));
    ui::setTextStyle(name_, ui::TextStyle::caption, QFont::Medium);
    ui::setTextStyle(detail_, ui::TextStyle::caption2);
    ui::setTextColor(detail_, ui::secondaryTextColor());

    auto* lines = new QVBoxLayout;
    lines->setSpacing(0);
    lines->setContentsMargins(0, 0, 0, 0);
    lines->addWidget(name_);
    lines->addWidget(detail_);

    auto* row = new QHBoxLayout(this);
    row->setSpacing(ui::pt(8));
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(mark, 0, Qt::AlignVCenter);
    row->addLayout(lines, 1);
    row->addWidget(accept_);
    row->addWidget(decline_);

    // Each press sends its own request; the refreshed lists show the outcome.
    connect(accept_, &QToolButton::clicked, this, [this] { auth_.accept(request_.requesterId); });
    connect(decline_, &QToolButton::clicked, this, [this] { auth_.decline(request_.requesterId); });
    setRequest(request);
}

void PendingRequestRow::setRequest(const PendingRequestDTO& request) {
    request_ = request;
    name_->setText(request.displayName);
    detail_->setText(QLatin1Char('@') + request.username + QStringLiteral(" wants to add you"));
    accept_->setAccessibleName(QStringLiteral("Accept ") + request.displayName);
    decline_->setAccessibleName(QStringLiteral("Decline ") + request.displayName);
}

}  // namespace vellumora
