#include "account/friend_row.h"

#include <QPainter>

#include "account/auth_model.h"
#include "account/room_ids.h"
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
        m_online = online;
        setAccessibleName(online ? QStringLiteral("online") : QStringLiteral("offline"));
        update();
    }
    bool online() const { return m_online; }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        QColor gray(142, 142, 147);
        gray.setAlphaF(0.45f);
        painter.setBrush(m_online ? QColor(48, 209, 88) : gray);
        painter.drawEllipse(QRectF(rect()));
    }

  private:
    bool m_online = false;
};

}  // namespace

FriendRow::FriendRow(AuthModel& auth, SessionModel& session, const FriendDTO& friendInfo, QWidget* parent)
    : SelectableRow(new OnlineDot, ui::font(ui::TextStyle::subheadline),
                    QMargins(ui::pt(6), ui::pt(3), ui::pt(6), ui::pt(3)), ui::ptF(5), parent),
      m_auth(auth),
      m_session(session) {
    connect(this, &QAbstractButton::clicked, this, &FriendRow::openDM);
    connect(&m_session, &SessionModel::roomIdChanged, this, &FriendRow::refreshSelection);
    connect(&m_auth, &AuthModel::stateChanged, this, &FriendRow::refreshSelection);
    setFriendInfo(friendInfo);
}

void FriendRow::setFriendInfo(const FriendDTO& friendInfo) {
    m_friend = friendInfo;
    setTexts(m_friend.displayName, QLatin1Char('@') + m_friend.username);
    static_cast<OnlineDot*>(leading())->setOnline(m_friend.online);
    refreshSelection();
}

QString FriendRow::roomId() const {
    return dmRoomId(m_auth.state(), m_friend.id);
}

void FriendRow::openDM() {
    if (m_auth.signedIn()) {
        m_session.switchRoom(roomId(), m_friend.displayName);
    }
}

void FriendRow::refreshSelection() {
    const std::optional<QString>& current = m_session.roomId();
    setSelected(m_auth.signedIn() && current && *current == roomId());
}

}  // namespace vellumora
