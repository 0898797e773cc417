#include "account/views/add_friend_sheet.h"

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
      auth_(auth),
      previousFocus_(QApplication::focusWidget()),
      card_(new QWidget),
      username_(new QLineEdit),
      result_(secondaryCaption({})) {
    setAccessibleName(QStringLiteral("Add a friend"));
    card_->setFixedWidth(ui::pt(340));
    card_->setAutoFillBackground(true);

    auto* title = new QLabel(QStringLiteral("Add a friend"));
    ui::setTextStyle(title, ui::TextStyle::headline);
    username_->setPlaceholderText(QStringLiteral("Username"));
    username_->setAccessibleName(QStringLiteral("Friend's username"));
    result_->hide();

    cancel_ = new QPushButton(QStringLiteral("Cancel"));
    send_ = new QPushButton(QStringLiteral("Send request"));
    ui::makeProminent(send_);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cancel_);
    buttons->addWidget(send_);

    auto* layout = new QVBoxLayout(card_);
    layout->setSpacing(ui::pt(14));
    layout->addWidget(title);
    layout->addWidget(
        secondaryCaption(QStringLiteral("Enter a username — they'll get a pending request to accept.")));
    layout->addWidget(username_);
    layout->addWidget(result_);
    layout->addLayout(buttons);

    // The card hangs from the top edge of the window, as a sheet does.
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(card_, 0, Qt::AlignHCenter | Qt::AlignTop);

    connect(cancel_, &QPushButton::clicked, this, &AddFriendSheet::dismiss);
    connect(send_, &QPushButton::clicked, this, &AddFriendSheet::send);
    connect(username_, &QLineEdit::returnPressed, this, &AddFriendSheet::send);
    connect(username_, &QLineEdit::textChanged, this, &AddFriendSheet::refresh);
    refresh();

    setGeometry(window->rect());
    window->installEventFilter(this);
    show();
    raise();
    username_->setFocus(Qt::OtherFocusReason);
}

void AddFriendSheet::dismiss() {
    hide();
    if (previousFocus_) {
        previousFocus_->setFocus(Qt::OtherFocusReason);
    }
    deleteLater();
}

void AddFriendSheet::send() {
    if (busy_ || username_->text().isEmpty()) {
        return;
    }
    busy_ = true;
    refresh();
    QPointer<AddFriendSheet> self(this);
    auth_.sendFriendRequest(username_->text(), [self](QString text) {
        if (!self) {
            return;
        }
        self->resultMessage_ = std::move(text);
        self->busy_ = false;
        self->refresh();
        QTimer::singleShot(kDismissDelay, self.data(), &AddFriendSheet::dismiss);
    });
}

void AddFriendSheet::refresh() {
    send_->setEnabled(!busy_ && !username_->text().isEmpty());
    result_->setText(resultMessage_.value_or(QString()));
    result_->setVisible(resultMessage_.has_value());
}

void AddFriendSheet::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0, 0, 0, 90));
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF card = QRectF(card_->geometry()).adjusted(-0.5, -0.5, 0.5, 0.5);
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
    for (QWidget* w :
         {static_cast<QWidget*>(username_), static_cast<QWidget*>(cancel_), static_cast<QWidget*>(send_)}) {
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
