#include "account/views/sketchbook_row.h"

#include <QLabel>

#include "account/auth_model.h"
#include "model/room_id.h"
#include "session/session_model.h"
#include "ui/appearance.h"
#include "ui/styles.h"
#include "ui/symbol_icons.h"

namespace vellumora {

namespace {

QLabel* bookMark() {
    auto* label = new QLabel;
    ui::setSymbol(label, QStringLiteral("book.closed.fill"), QColor(255, 159, 10), ui::pt(16));
    return label;
}

}  // namespace

SketchbookRow::SketchbookRow(AuthModel& auth, SessionModel& session, QWidget* parent)
    : SelectableRow(bookMark(), ui::font(ui::TextStyle::subheadline, QFont::Medium),
                    QMargins(ui::pt(6), ui::pt(4), ui::pt(6), ui::pt(4)), ui::ptF(5), parent),
      auth_(auth),
      session_(session) {
    setTexts(QStringLiteral("My sketchbook"), QStringLiteral("Private — just for you"));
    connect(this, &QAbstractButton::clicked, this, &SketchbookRow::open);
    connect(&session_, &SessionModel::roomIdChanged, this, &SketchbookRow::refreshSelection);
    connect(&auth_, &AuthModel::stateChanged, this, &SketchbookRow::refreshSelection);
    refreshSelection();
}

QString SketchbookRow::roomId() const {
    const AuthModel::Authenticated* signedIn = auth_.signedIn();
    return signedIn ? QString::fromStdString(soloRoomId(signedIn->user.id.toStdString())) : QString();
}

void SketchbookRow::open() {
    if (auth_.signedIn()) {
        session_.switchRoom(roomId(), QStringLiteral("My sketchbook"));
    }
}

void SketchbookRow::refreshSelection() {
    const std::optional<QString>& current = session_.roomId();
    setSelected(auth_.signedIn() && current && *current == roomId());
}

}  // namespace vellumora
