#include "account/views/friend_row.h"

#include <QPainter>

#include "account/auth_model.h"
#include "model/room_id.h"
#include "session/session_model.h"
#include "ui/appearance.h"
#include "ui/styles.h"

namespace vellumora {

namespace {

// Green while the friend is online, a faint grey otherwise.
class OnlineDot : public QWidget {
  public:
    OnlineDot() { setFixedSize(ui::pt(8), ui::pt(8)); }
    void setOnline(bool online) {
        online_ = online;
        setAccessibleName(online ? QStringLiteral("online") : QStringLiteral("offline"));
        update();
    }
    bool online() const { return online_; }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        QColor gray(142, 142, 147);
        gray.setAlphaF(0.45f);
        painter.setBrush(online_ ? QColor(48, 209, 88) : gray);
        painter.drawEllipse(QRectF(rect()));
    }

  private:
    bool online_ = false;
};

}  // namespace

FriendRow::FriendRow(AuthModel& auth, SessionModel& session, const FriendDTO& friendInfo, QWidget* parent)
    : SelectableRow(new OnlineDot, ui::font(ui::TextStyle::subheadline),
                    QMargins(ui::pt(6), ui::pt(3), ui::pt(6), ui::pt(3)), ui::ptF(5), parent),
      auth_(auth),
      session_(session) {
    connect(this, &QAbstractButton::clicked, this, &FriendRow::openDM);
    connect(&session_, &SessionModel::roomIdChanged, this, &FriendRow::refreshSelection);
    connect(&auth_, &AuthModel::stateChanged, this, &FriendRow::refreshSelection);
    setFriendInfo(friendInfo);
}

void FriendRow::setFriendInfo(const FriendDTO& friendInfo) {
    friend_ = friendInfo;
    setTexts(friend_.displayName, QLatin1Char('@') + friend_.username);
    static_cast<OnlineDot*>(leading())->setOnline(friend_.online);
    refreshSelection();
}

QString FriendRow::roomId() const {
    const AuthModel::Authenticated* signedIn = auth_.signedIn();
    if (!signedIn) return {};
    return QString::fromStdString(dmRoomId(signedIn->user.id.toStdString(), friend_.id.toStdString()));
}

void FriendRow::openDM() {
    if (auth_.signedIn()) {
        session_.switchRoom(roomId(), friend_.displayName);
    }
}

void FriendRow::refreshSelection() {
    const std::optional<QString>& current = session_.roomId();
    setSelected(auth_.signedIn() && current && *current == roomId());
}

}  // namespace vellumora
