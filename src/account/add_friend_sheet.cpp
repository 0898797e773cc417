#include "account/add_friend_sheet.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "account/auth_model.h"
#include "ui/appearance.h"
#include "ui/styles.h"

namespace vellumora {

namespace {

QLabel* secondaryCaption(const QString& text) {
    auto* label = new QLabel(text);
    ui::setTextStyle(label, ui::TextStyle::caption);
    label->setWordWrap(true);
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, ui::secondaryTextColor());
    label->setPalette(p);
    return label;
}

}  // namespace

AddFriendSheet::AddFriendSheet(AuthModel& auth, QWidget* parent)
    : QDialog(parent), m_auth(auth), m_username(new QLineEdit), m_result(secondaryCaption({})) {
    setWindowTitle(QStringLiteral("Add a friend"));
    setWindowModality(Qt::WindowModal);
    setFixedWidth(ui::pt(340));

    auto* title = new QLabel(QStringLiteral("Add a friend"));
    ui::setTextStyle(title, ui::TextStyle::headline);
    m_username->setPlaceholderText(QStringLiteral("Username"));
    m_username->setAccessibleName(QStringLiteral("Friend's username"));
    m_result->setAccessibleName(QStringLiteral("Result"));
    m_result->hide();

    auto* cancel = new QPushButton(QStringLiteral("Cancel"));
    cancel->setAutoDefault(false);
    m_send = new QPushButton(QStringLiteral("Send request"));
    m_send->setDefault(true);
    QPalette prominent = m_send->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        prominent.setColor(group, QPalette::Button, ui::accentColor());
        prominent.setColor(group, QPalette::ButtonText, Qt::white);
    }
    m_send->setPalette(prominent);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cancel);
    buttons->addWidget(m_send);

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(ui::pt(14));
    layout->addWidget(title);
    layout->addWidget(secondaryCaption(QStringLiteral("Enter a username — they'll get a pending request to accept.")));
    layout->addWidget(m_username);
    layout->addWidget(m_result);
    layout->addLayout(buttons);

    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_send, &QPushButton::clicked, this, &AddFriendSheet::send);
    connect(m_username, &QLineEdit::textChanged, this, &AddFriendSheet::refresh);
    refresh();
}

void AddFriendSheet::send() {
    if (m_busy || m_username->text().isEmpty()) {
        return;
    }
    m_busy = true;
    refresh();
    QPointer<AddFriendSheet> self(this);
    m_auth.sendFriendRequest(m_username->text(), [self](QString text) {
        if (!self) {
            return;
        }
        self->m_resultMessage = std::move(text);
        self->m_busy = false;
        self->refresh();
        QTimer::singleShot(kDismissDelay, self.data(), &QDialog::accept);
    });
}

void AddFriendSheet::refresh() {
    m_send->setEnabled(!m_busy && !m_username->text().isEmpty());
    m_result->setText(m_resultMessage.value_or(QString()));
    m_result->setVisible(m_resultMessage.has_value());
}

}  // namespace vellumora
