#include "account/add_friend_sheet.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
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
    QLabel* label = ui::label(text, ui::TextStyle::caption, QFont::Normal, ui::secondaryTextColor());
    label->setWordWrap(true);
    return label;
}

}  // namespace

AddFriendSheet::AddFriendSheet(AuthModel& auth, QWidget* window)
    : QWidget(window),
      m_auth(auth),
      m_previousFocus(QApplication::focusWidget()),
      m_card(new QWidget),
      m_username(new QLineEdit),
      m_result(secondaryCaption({})) {
    setAccessibleName(QStringLiteral("Add a friend"));
    m_card->setFixedWidth(ui::pt(340));
    m_card->setAutoFillBackground(true);

    auto* title = new QLabel(QStringLiteral("Add a friend"));
    ui::setTextStyle(title, ui::TextStyle::headline);
    m_username->setPlaceholderText(QStringLiteral("Username"));
    m_username->setAccessibleName(QStringLiteral("Friend's username"));
    m_result->hide();

    m_cancel = new QPushButton(QStringLiteral("Cancel"));
    m_send = new QPushButton(QStringLiteral("Send request"));
    ui::makeProminent(m_send);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_send);

    auto* layout = new QVBoxLayout(m_card);
    layout->setSpacing(ui::pt(14));
    layout->addWidget(title);
    layout->addWidget(
        secondaryCaption(QStringLiteral("Enter a username — they'll get a pending request to accept.")));
    layout->addWidget(m_username);
    layout->addWidget(m_result);
    layout->addLayout(buttons);

    // The card hangs from the top edge of the window, as a sheet does.
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(m_card, 0, Qt::AlignHCenter | Qt::AlignTop);

    connect(m_cancel, &QPushButton::clicked, this, &AddFriendSheet::dismiss);
    connect(m_send, &QPushButton::clicked, this, &AddFriendSheet::send);
    connect(m_username, &QLineEdit::returnPressed, this, &AddFriendSheet::send);
    connect(m_username, &QLineEdit::textChanged, this, &AddFriendSheet::refresh);
    refresh();

    setGeometry(window->rect());
    window->installEventFilter(this);
    show();
    raise();
    m_username->setFocus(Qt::OtherFocusReason);
}

void AddFriendSheet::dismiss() {
    hide();
    if (m_previousFocus) {
        m_previousFocus->setFocus(Qt::OtherFocusReason);
    }
    deleteLater();
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
        QTimer::singleShot(kDismissDelay, self.data(), &AddFriendSheet::dismiss);
    });
}

void AddFriendSheet::refresh() {
    m_send->setEnabled(!m_busy && !m_username->text().isEmpty());
    m_result->setText(m_resultMessage.value_or(QString()));
    m_result->setVisible(m_resultMessage.has_value());
}

void AddFriendSheet::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0, 0, 0, 90));
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF card = QRectF(m_card->geometry()).adjusted(-0.5, -0.5, 0.5, 0.5);
    painter.setPen(QPen(QColor(255, 255, 255, 40), 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(card);
}

void AddFriendSheet::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        dismiss();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool AddFriendSheet::focusNextPrevChild(bool next) {
    // Tab cycles within the sheet: what lies under it cannot be reached while it is open.
    QList<QWidget*> chain;
    for (QWidget* w : {static_cast<QWidget*>(m_username), static_cast<QWidget*>(m_cancel),
                       static_cast<QWidget*>(m_send)}) {
        if (w->isEnabled()) {
            chain.append(w);
        }
    }
    const qsizetype at = chain.indexOf(QApplication::focusWidget());
    const qsizetype count = chain.size();
    chain[((at < 0 ? 0 : at) + (next ? 1 : count - 1)) % count]->setFocus(next ? Qt::TabFocusReason
                                                                               : Qt::BacktabFocusReason);
    return true;
}

bool AddFriendSheet::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parent() && event->type() == QEvent::Resize) {
        setGeometry(parentWidget()->rect());
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace vellumora
