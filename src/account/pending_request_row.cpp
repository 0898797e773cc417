#include "account/pending_request_row.h"

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
      m_auth(auth),
      m_name(new QLabel),
      m_detail(new QLabel),
      m_accept(iconButton(QStringLiteral("checkmark"), QColor(48, 209, 88), QStringLiteral("Accept"))),
      m_decline(iconButton(QStringLiteral("xmark"), QColor(255, 69, 58), QStringLiteral("Decline"))) {
    auto* mark = new QLabel;
    ui::setSymbol(mark, QStringLiteral("person.crop.circle.badge.questionmark"), QColor(255, 159, 10),
                  ui::pt(16));
    ui::setTextStyle(m_name, ui::TextStyle::caption, QFont::Medium);
    ui::setTextStyle(m_detail, ui::TextStyle::caption2);
    ui::setTextColor(m_detail, ui::secondaryTextColor());

    auto* lines = new QVBoxLayout;
    lines->setSpacing(0);
    lines->setContentsMargins(0, 0, 0, 0);
    lines->addWidget(m_name);
    lines->addWidget(m_detail);

    auto* row = new QHBoxLayout(this);
    row->setSpacing(ui::pt(8));
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(mark, 0, Qt::AlignVCenter);
    row->addLayout(lines, 1);
    row->addWidget(m_accept);
    row->addWidget(m_decline);

    // Each press sends its own request; the refreshed lists show the outcome.
    connect(m_accept, &QToolButton::clicked, this, [this] { m_auth.accept(m_request.requesterId); });
    connect(m_decline, &QToolButton::clicked, this, [this] { m_auth.decline(m_request.requesterId); });
    setRequest(request);
}

void PendingRequestRow::setRequest(const PendingRequestDTO& request) {
    m_request = request;
    m_name->setText(request.displayName);
    m_detail->setText(QLatin1Char('@') + request.username + QStringLiteral(" wants to add you"));
    m_accept->setAccessibleName(QStringLiteral("Accept ") + request.displayName);
    m_decline->setAccessibleName(QStringLiteral("Decline ") + request.displayName);
}

}  // namespace vellumora
