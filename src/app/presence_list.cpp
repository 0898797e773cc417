#include "app/presence_list.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>
#include <vector>

#include "session/session_model.h"
#include "ui/appearance.h"
#include "ui/styles.h"

namespace vellumora {

namespace {

// A dot in the colour of the person's cursor.
class ColorDot : public QWidget {
  public:
    explicit ColorDot(QColor color) : color_(color) { setFixedSize(ui::pt(10), ui::pt(10)); }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color_);
        painter.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    }

  private:
    QColor color_;
};

QWidget* row(const QString& name, const QColor& color, bool isUser) {
    auto* widget = new QWidget;
    auto* layout = new QHBoxLayout(widget);
    layout->setContentsMargins(ui::pt(6), ui::pt(2), ui::pt(6), ui::pt(2));
    layout->setSpacing(ui::pt(8));
    layout->addWidget(new ColorDot(color));
    auto* text = ui::label(isUser ? QStringLiteral("%1 (you)").arg(name) : name, ui::TextStyle::subheadline);
    text->setTextFormat(Qt::PlainText);
    layout->addWidget(text, 1);
    widget->setAccessibleName(QStringLiteral("In this room: ") + text->text());
    return widget;
}

}  // namespace

PresenceList::PresenceList(SessionModel& session, QWidget* parent) : QWidget(parent), session_(session) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(ui::pt(6));
    auto* heading = ui::label(QStringLiteral("In this room"), ui::TextStyle::headline);
    column->addWidget(heading);
    rows_ = new QVBoxLayout;
    rows_->setSpacing(ui::pt(2));
    column->addLayout(rows_);
    setAccessibleName(QStringLiteral("In this room"));

    connect(&session_, &SessionModel::peerNameByIdChanged, this, &PresenceList::refresh);
    connect(&session_, &SessionModel::peerColorByIdChanged, this, &PresenceList::refresh);
    connect(&session_, &SessionModel::currentUserChanged, this, &PresenceList::refresh);
    refresh();
}

void PresenceList::refresh() {
    while (QLayoutItem* item = rows_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    if (const auto& user = session_.currentUser())
        rows_->addWidget(row(user->displayName, QColor(session_.userColorHex()), true));
    // Peers in name order, so the list does not reshuffle as people come and go.
    std::vector<std::pair<QString, QString>> peers;  // name, user id
    const PeerNameMap& names = session_.peerNameById();
    for (auto it = names.cbegin(); it != names.cend(); ++it) {
        // The user on another device is listed once, as the user.
        if (it.key() != session_.currentUserId()) peers.emplace_back(it.value(), it.key());
    }
    std::sort(peers.begin(), peers.end());
    for (const auto& [name, id] : peers) {
        const QColor color(
            session_.peerColorById().value(id, QString::fromLatin1(SessionModel::kUnknownPeerColor)));
        rows_->addWidget(row(name, color, false));
    }
}

}  // namespace vellumora
