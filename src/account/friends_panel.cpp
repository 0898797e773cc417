#include "account/friends_panel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMultiHash>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

#include "account/add_friend_sheet.h"
#include "account/auth_model.h"
#include "account/friend_row.h"
#include "account/pending_request_row.h"
#include "account/sketchbook_row.h"
#include "session/session_model.h"
#include "ui/appearance.h"
#include "ui/styles.h"
#include "ui/symbol_icons.h"

namespace vellumora {

namespace {

QLabel* styledLabel(const QString& text, ui::TextStyle style, QFont::Weight weight, bool secondary) {
    return ui::label(text, style, weight, secondary ? ui::secondaryTextColor() : QColor());
}

QVBoxLayout* column(QWidget* owner, int spacing) {
    auto* layout = new QVBoxLayout(owner);
    layout->setSpacing(spacing);
    layout->setContentsMargins(0, 0, 0, 0);
    return layout;
}

QString keyOf(const FriendDTO& f) {
    return f.id;
}
QString keyOf(const FriendRow* row) {
    return row->friendInfo().id;
}
QString keyOf(const PendingRequestDTO& r) {
    return r.requesterId;
}
QString keyOf(const PendingRequestRow* row) {
    return row->request().requesterId;
}

// Puts the rows for `items` into `layout` in list order, reusing the row of an item with the
// same key so a poll does not take keyboard focus away from a row.
template <class Row, class Item, class Make, class Update>
void syncRows(QVBoxLayout* layout, const QList<Item>& items, Make make, Update update) {
    QMultiHash<QString, Row*> existing;
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (auto* row = qobject_cast<Row*>(item->widget())) {
            existing.insert(keyOf(row), row);
        }
        delete item;
    }
    for (const Item& entry : items) {
        Row* row = existing.take(keyOf(entry));
        if (row) {
            update(row, entry);
        } else {
            row = make(entry);
        }
        layout->addWidget(row);
    }
    for (Row* leftover : std::as_const(existing)) {
        delete leftover;
    }
}

}  // namespace

QString zoomPercentText(double zoom) {
    return QString::number(static_cast<long long>(std::trunc(zoom * 100.0))) + QLatin1Char('%');
}

FriendsPanel::FriendsPanel(AuthModel& auth, SessionModel& session, QWidget* parent)
    : QWidget(parent), m_auth(auth), m_session(session) {
    auto* layout = column(this, ui::pt(12));
    layout->addWidget(buildHeader());
    layout->addWidget(buildModeRow());

    m_pendingSection = new QWidget;
    auto* pending = column(m_pendingSection, ui::pt(4));
    pending->setContentsMargins(0, ui::pt(4), 0, 0);
    pending->addWidget(
        styledLabel(QStringLiteral("Requests"), ui::TextStyle::caption, QFont::DemiBold, true));
    m_pendingRows = new QVBoxLayout;
    m_pendingRows->setSpacing(ui::pt(4));
    pending->addLayout(m_pendingRows);
    layout->addWidget(m_pendingSection);

    auto* rooms = new QWidget;
    auto* roomsLayout = column(rooms, ui::pt(6));
    m_sketchbook = new SketchbookRow(m_auth, m_session);
    roomsLayout->addWidget(m_sketchbook);
    auto* friendsHeading = new QHBoxLayout;
    friendsHeading->setContentsMargins(0, 0, 0, 0);
    friendsHeading->addWidget(
        styledLabel(QStringLiteral("Friends"), ui::TextStyle::headline, QFont::DemiBold, false));
    friendsHeading->addStretch(1);
    auto* add = new QToolButton;
    add->setAutoRaise(true);
    add->setIcon(ui::symbolIcon(QStringLiteral("plus.circle"), ui::accentColor()));
    add->setIconSize(QSize(ui::pt(16), ui::pt(16)));
    add->setToolTip(QStringLiteral("Add a friend"));
    add->setAccessibleName(QStringLiteral("Add a friend"));
    add->setFocusPolicy(Qt::StrongFocus);
    add->setCursor(Qt::PointingHandCursor);
    connect(add, &QToolButton::clicked, this, &FriendsPanel::showAddFriend);
    friendsHeading->addWidget(add);
    roomsLayout->addLayout(friendsHeading);
    m_noFriends = styledLabel(QStringLiteral("No friends yet — click + to send a request."),
                              ui::TextStyle::caption, QFont::Normal, true);
    m_noFriends->setWordWrap(true);
    roomsLayout->addWidget(m_noFriends);
    m_friendRows = new QVBoxLayout;
    m_friendRows->setSpacing(ui::pt(6));
    roomsLayout->addLayout(m_friendRows);
    layout->addWidget(rooms);

    connect(&m_auth, &AuthModel::stateChanged, this, &FriendsPanel::refreshHeader);
    connect(&m_auth, &AuthModel::stateChanged, this, &FriendsPanel::refreshFriends);
    connect(&m_auth, &AuthModel::friendsChanged, this, &FriendsPanel::refreshFriends);
    connect(&m_auth, &AuthModel::pendingRequestsChanged, this, &FriendsPanel::refreshPending);
    connect(&m_session, &SessionModel::isInCanvasModeChanged, this, &FriendsPanel::refreshMode);
    connect(&m_session, &SessionModel::zoomChanged, this, &FriendsPanel::refreshMode);
    refreshHeader();
    refreshMode();
    refreshFriends();
    refreshPending();
}

FriendsPanel::~FriendsPanel() {
    // The sheet lies over the whole window, which outlives the panel (a log-out replaces it).
    if (m_sheet) {
        m_sheet->dismiss();
    }
}

QWidget* FriendsPanel::buildHeader() {
    m_header = new QWidget;
    auto* row = new QHBoxLayout(m_header);
    row->setContentsMargins(0, 0, 0, 0);
    auto* avatar = new QLabel;
    ui::setSymbol(avatar, QStringLiteral("person.crop.circle.fill"), ui::accentColor(), ui::pt(22));
    row->addWidget(avatar);
    auto* lines = new QVBoxLayout;
    lines->setSpacing(0);
    m_userName = styledLabel({}, ui::TextStyle::subheadline, QFont::DemiBold, false);
    m_userHandle = styledLabel({}, ui::TextStyle::caption2, QFont::Normal, true);
    lines->addWidget(m_userName);
    lines->addWidget(m_userHandle);
    row->addLayout(lines, 1);

    auto* menuButton = new QToolButton;
    menuButton->setAutoRaise(true);
    menuButton->setIcon(ui::symbolIcon(QStringLiteral("ellipsis.circle"), ui::primaryTextColor()));
    menuButton->setIconSize(QSize(ui::pt(16), ui::pt(16)));
    menuButton->setPopupMode(QToolButton::InstantPopup);
    menuButton->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
    menuButton->setAccessibleName(QStringLiteral("Account"));
    menuButton->setToolTip(QStringLiteral("Account"));
    menuButton->setFocusPolicy(Qt::StrongFocus);
    auto* menu = new QMenu(menuButton);
    QAction* logOut = menu->addAction(QStringLiteral("Log out"));
    connect(logOut, &QAction::triggered, this, [this] { m_auth.logout(); });
    menuButton->setMenu(menu);
    row->addWidget(menuButton);
    return m_header;
}

QWidget* FriendsPanel::buildModeRow() {
    auto* modeRow = new QWidget;
    auto* row = new QHBoxLayout(modeRow);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(ui::pt(8));
    m_modeIcon = new QLabel;
    m_modeText = styledLabel({}, ui::TextStyle::caption, QFont::Medium, false);
    m_zoom = styledLabel({}, ui::TextStyle::caption, QFont::Normal, true);
    m_zoom->setAccessibleName(QStringLiteral("Zoom"));
    row->addWidget(m_modeIcon);
    row->addWidget(m_modeText);
    row->addStretch(1);
    row->addWidget(m_zoom);
    return modeRow;
}

QList<FriendRow*> FriendsPanel::friendRows() const {
    QList<FriendRow*> rows;
    for (int i = 0; i < m_friendRows->count(); ++i) {
        rows.append(qobject_cast<FriendRow*>(m_friendRows->itemAt(i)->widget()));
    }
    return rows;
}

QList<PendingRequestRow*> FriendsPanel::pendingRows() const {
    QList<PendingRequestRow*> rows;
    for (int i = 0; i < m_pendingRows->count(); ++i) {
        rows.append(qobject_cast<PendingRequestRow*>(m_pendingRows->itemAt(i)->widget()));
    }
    return rows;
}

void FriendsPanel::showAddFriend() {
    if (m_sheet) {
        m_sheet->raise();
        return;
    }
    // A fresh sheet each time: every presentation starts empty.
    m_sheet = new AddFriendSheet(m_auth, window());
}

void FriendsPanel::refreshHeader() {
    const AuthModel::Authenticated* signedIn = m_auth.signedIn();
    m_header->setVisible(signedIn != nullptr);
    if (signedIn) {
        m_userName->setText(signedIn->user.displayName);
        m_userHandle->setText(QLatin1Char('@') + signedIn->user.username);
    }
}

void FriendsPanel::refreshMode() {
    const bool canvas = m_session.isInCanvasMode();
    ui::setSymbol(m_modeIcon,
                  canvas ? QStringLiteral("pencil.tip.crop.circle.fill") : QStringLiteral("cursorarrow"),
                  canvas ? ui::accentColor() : ui::secondaryTextColor(), ui::pt(14));
    m_modeText->setText(canvas ? QStringLiteral("Canvas mode") : QStringLiteral("Pointer mode"));
    m_zoom->setText(zoomPercentText(m_session.zoom()));
}

void FriendsPanel::refreshFriends() {
    const QList<FriendDTO>& friends = m_auth.friends();
    m_noFriends->setVisible(friends.isEmpty());
    syncRows<FriendRow>(
        m_friendRows, friends, [this](const FriendDTO& f) { return new FriendRow(m_auth, m_session, f); },
        [](FriendRow* row, const FriendDTO& f) { row->setFriendInfo(f); });
}

void FriendsPanel::refreshPending() {
    const QList<PendingRequestDTO>& requests = m_auth.pendingRequests();
    m_pendingSection->setVisible(!requests.isEmpty());
    syncRows<PendingRequestRow>(
        m_pendingRows, requests,
        [this](const PendingRequestDTO& r) { return new PendingRequestRow(m_auth, r); },
        [](PendingRequestRow* row, const PendingRequestDTO& r) { row->setRequest(r); });
}

}  // namespace vellumora
