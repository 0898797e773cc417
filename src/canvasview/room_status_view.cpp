#include "canvasview/room_status_view.h"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <algorithm>

#include "session/session_model.h"
#include "ui/appearance.h"
#include "ui/styles.h"

namespace vellumora {

namespace {

constexpr double kMaxWidthPt = 420;

QLabel* line(QWidget* parent, QFont::Weight weight) {
    auto* label = new QLabel(parent);
    label->setFont(ui::font(ui::TextStyle::subheadline, weight));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    label->setPalette(palette);
    return label;
}

void showLine(QLabel* label, const QString& text) {
    label->setText(text);
    label->setAccessibleName(text);
    label->setVisible(!text.isEmpty());
}

}  // namespace

RoomStatusView::RoomStatusView(SessionModel& session, QWidget* parent)
    : QWidget(parent),
      session_(session),
      connection_(line(this, QFont::DemiBold)),
      work_(line(this, QFont::Normal)) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* layout = new QVBoxLayout(this);
    const int padding = ui::pt(10);
    layout->setContentsMargins(padding, padding * 2 / 3, padding, padding * 2 / 3);
    layout->setSpacing(ui::pt(2));
    layout->addWidget(connection_);
    layout->addWidget(work_);

    grace_.setSingleShot(true);
    grace_.setInterval(kGrace);
    connect(&grace_, &QTimer::timeout, this, [this] {
        missing_ = true;
        refresh();
    });
    connect(&session_, &SessionModel::connectionStateChanged, this,
            &RoomStatusView::onConnectionStateChanged);
    connect(&session_, &SessionModel::roomIdChanged, this, [this] {
        lastFailure_.clear();
        onConnectionStateChanged();
    });
    connect(&session_.outbox(), &RoomOutbox::changed, this, &RoomStatusView::refresh);
    onConnectionStateChanged();
}

QString RoomStatusView::connectionText() const {
    return connection_->isVisible() ? connection_->text() : QString();
}

QString RoomStatusView::workText() const {
    return work_->isVisible() ? work_->text() : QString();
}

void RoomStatusView::onConnectionStateChanged() {
    const ConnectionState& state = session_.connectionState();
    const bool connected = state.kind() == ConnectionState::Kind::connected;
    if (state.isFailed()) lastFailure_ = state.reason();
    if (connected) {
        grace_.stop();
        missing_ = false;
    } else if (!missing_ && !grace_.isActive()) {
        grace_.start();
    }
    refresh();
}

void RoomStatusView::refresh() {
    const ConnectionState& state = session_.connectionState();
    const RoomOutbox& outbox = session_.outbox();
    QString connection;
    QString work;
    if (state.kind() == ConnectionState::Kind::refused) {
        const QString room = session_.roomDisplayName().value_or(QString());
        connection = session_.roomId().value_or(QString()).startsWith(u"dm:")
                         ? QStringLiteral(
                               "You can't draw with %1 any more: the server refused the room. "
                               "Are you still friends?")
                               .arg(room)
                         : QStringLiteral("The server refused this room.");
        if (outbox.waiting() > 0) work = QStringLiteral("What you drew here is kept.");
    } else if (state.kind() != ConnectionState::Kind::connected && session_.roomId()) {
        if (missing_) {
            connection = lastFailure_.isEmpty() ? QStringLiteral("Connecting…")
                                                : QStringLiteral("Reconnecting… ") + lastFailure_;
        }
        switch (outbox.loss()) {
            case RoomOutbox::Loss::overBudget:
                work = QStringLiteral(
                    "Offline: the room's limit of 8 MiB of drawing is reached, so what you draw now "
                    "cannot be kept.");
                break;
            case RoomOutbox::Loss::notWritten:
                work =
                    QStringLiteral(
                        "Offline: your drawing cannot be saved on this computer (%1), so what you draw now "
                        "is lost if Vellumora quits before it is sent.")
                        .arg(outbox.journalError());
                break;
            case RoomOutbox::Loss::none:
                if (outbox.waiting() > 0)
                    work = QStringLiteral("Offline: your drawing is kept and will be sent");
                break;
        }
    }
    showLine(connection_, connection.trimmed());
    showLine(work_, work);
    const bool shown = !connection.isEmpty() || !work.isEmpty();
    setVisible(shown);
    if (!shown) return;
    // As wide as its longest line up to a corner note's width, and as tall as its lines wrap to.
    int natural = 0;
    for (const QLabel* label : {connection_, work_}) {
        if (!label->text().isEmpty())
            natural = std::max(natural, label->fontMetrics().horizontalAdvance(label->text()) + 1);
    }
    const QMargins margins = layout()->contentsMargins();
    const int width = std::min(natural + margins.left() + margins.right(), ui::pt(kMaxWidthPt));
    setFixedSize(width, layout()->totalHeightForWidth(width));
}

void RoomStatusView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath pill;
    const qreal radius = ui::ptF(10);
    pill.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    painter.fillPath(pill, QColor(20, 20, 24, 210));
}

}  // namespace vellumora
