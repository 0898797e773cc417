#include "account/views/friends_panel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMultiHash>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

#include "account/auth_model.h"
#include "account/views/add_friend_sheet.h"
#include "account/views/friend_row.h"
#include "account/views/pending_request_row.h"
#include "account/views/sketchbook_row.h"
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
    : QWidget(parent), auth_(auth), session_(session) {
    auto* layout = column(this, ui::pt(12));
    layout->addWidget(buildHeader());
    layout->addWidget(buildModeRow());

    pendingSection_ = new QWidget;
    auto* pending = column(pendingSection_, ui::pt(4));
    pending->setContentsMargins(0, ui::pt(4), 0, 0);
    pending->addWidget(
        styledLabel(QStringLiteral("Requests"), ui::TextStyle::caption, QFont::DemiBold, true));
    pendingRows_ = new QVBoxLayout;
    pendingRows_->setSpacing(ui::pt(4));
    pending->addLayout(pendingRows_);
    layout->addWidget(pendingSection_);

    auto* rooms = new QWidget;
    auto* roomsLayout = column(rooms, ui::pt(6));
    sketchbook_ = new SketchbookRow(auth_, session_);
    roomsLayout->addWidget(sketchbook_);
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
    noFriends_ = styledLabel(QStringLiteral("No friends yet — click + to send a request."),
                             ui::TextStyle::caption, QFont::Normal, true);
    noFriends_->setWordWrap(true);
    roomsLayout->addWidget(noFriends_);
    friendRows_ = new QVBoxLayout;
    friendRows_->setSpacing(ui::pt(6));
    roomsLayout->addLayout(friendRows_);
    layout->addWidget(rooms);

    connect(&auth_, &AuthModel::stateChanged, this, &FriendsPanel::refreshHeader);
    connect(&auth_, &AuthModel::stateChanged, this, &FriendsPanel::refreshFriends);
    connect(&auth_, &AuthModel::friendsChanged, this, &FriendsPanel::refreshFriends);
    connect(&auth_, &AuthModel::pendingRequestsChanged, this, &FriendsPanel::refreshPending);
    connect(&session_, &SessionModel::isInCanvasModeChanged, this, &FriendsPanel::refreshMode);
    connect(&session_, &SessionModel::zoomChanged, this, &FriendsPanel::refreshMode);
    refreshHeader();
    refreshMode();
    refreshFriends();
    refreshPending();
}

FriendsPanel::~FriendsPanel() {
    // The sheet lies over the whole window, which outlives the panel (a log-out replaces it).
    if (sheet_) {
        sheet_->dismiss();
    }
}

QWidget* FriendsPanel::buildHeader() {
    header_ = new QWidget;
    auto* row = new QHBoxLayout(header_);
    row->setContentsMargins(0, 0, 0, 0);
    auto* avatar = new QLabel;
    ui::setSymbol(avatar, QStringLiteral("person.crop.circle.fill"), ui::accentColor(), ui::pt(22));
    row->addWidget(avatar);
    auto* lines = new QVBoxLayout;
    lines->setSpacing(0);
    userName_ = styledLabel({}, ui::TextStyle::subheadline, QFont::DemiBold, false);
    userHandle_ = styledLabel({}, ui::TextStyle::caption2, QFont::Normal, true);
    lines->addWidget(userName_);
    lines->addWidget(userHandle_);
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
    accountMenu_ = new QMenu(menuButton);
    QAction* logOut = accountMenu_->addAction(QStringLiteral("Log out"));
    connect(logOut, &QAction::triggered, this, [this] { auth_.logout(); });
    menuButton->setMenu(accountMenu_);
    row->addWidget(menuButton);
    return header_;
}

QWidget* FriendsPanel::buildModeRow() {
    auto* modeRow = new QWidget;
    auto* row = new QHBoxLayout(modeRow);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(ui::pt(8));
    modeIcon_ = new QLabel;
    modeText_ = styledLabel({}, ui::TextStyle::caption, QFont::Medium, false);
    zoom_ = styledLabel({}, ui::TextStyle::caption, QFont::Normal, true);
    zoom_->setAccessibleName(QStringLiteral("Zoom"));
    row->addWidget(modeIcon_);
    row->addWidget(modeText_);
    row->addStretch(1);
    row->addWidget(zoom_);
    return modeRow;
}

QList<FriendRow*> FriendsPanel::friendRows() const {
    QList<FriendRow*> rows;
    for (int i = 0; i < friendRows_->count(); ++i) {
        rows.append(qobject_cast<FriendRow*>(friendRows_->itemAt(i)->widget()));
    }
    return rows;
}

QList<PendingRequestRow*> FriendsPanel::pendingRows() const {
    QList<PendingRequestRow*> rows;
    for (int i = 0; i < pendingRows_->count(); ++i) {
        rows.append(qobject_cast<PendingRequestRow*>(pendingRows_->itemAt(i)->widget()));
    }
    return rows;
}

void FriendsPanel::showAddFriend() {
    if (sheet_) {
        sheet_->raise();
        return;
    }
    // A fresh sheet each time: every presentation starts empty.
    sheet_ = new AddFriendSheet(auth_, window());
}

void FriendsPanel::refreshHeader() {
    const AuthModel::Authenticated* signedIn = auth_.signedIn();
    header_->setVisible(signedIn != nullptr);
    if (signedIn) {
        userName_->setText(signedIn->user.displayName);
        userHandle_->setText(QLatin1Char('@') + signedIn->user.username);
    }
}

void FriendsPanel::refreshMode() {
    const bool canvas = session_.isInCanvasMode();
    ui::setSymbol(modeIcon_,
                  canvas ? QStringLiteral("pencil.tip.crop.circle.fill") : QStringLiteral("cursorarrow"),
                  canvas ? ui::accentColor() : ui::secondaryTextColor(), ui::pt(14));
    modeText_->setText(canvas ? QStringLiteral("Canvas mode") : QStringLiteral("Pointer mode"));
    zoom_->setText(zoomPercentText(session_.zoom()));
}

void FriendsPanel::refreshFriends() {
    const QList<FriendDTO>& friends = auth_.friends();
    noFriends_->setVisible(friends.isEmpty());
    syncRows<FriendRow>(
        friendRows_, friends, [this](const FriendDTO& f) { return new FriendRow(auth_, session_, f); },
        [](FriendRow* row, const FriendDTO& f) { row->setFriendInfo(f); });
}

void FriendsPanel::refreshPending() {
    const QList<PendingRequestDTO>& requests = auth_.pendingRequests();
    pendingSection_->setVisible(!requests.isEmpty());
    syncRows<PendingRequestRow>(
        pendingRows_, requests,
        [this](const PendingRequestDTO& r) { return new PendingRequestRow(auth_, r); },
        [](PendingRequestRow* row, const PendingRequestDTO& r) { row->setRequest(r); });
}

}  // namespace vellumora
