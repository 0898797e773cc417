#include "session/session_model.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <set>
#include <variant>

#include "session/pleasant_color.h"

namespace vellumora {

namespace {

ArtColor defaultColor() {
    const ArtColor* color = ArtColor::byId("cherry-red");
    return color ? *color : ArtColor{"cherry-red", "Cherry Red", 0.86, 0.18, 0.18};
}

std::optional<CurrentPage> toOptionalCurrentPage(const std::optional<WirePage>& page) {
    if (!page) {
        return std::nullopt;
    }
    return toCurrentPage(*page);
}

}  // namespace

SessionModel::SessionModel(const QUrl& baseUrl, QObject* parent) : SessionModel(baseUrl, nullptr, parent) {}

SessionModel::SessionModel(const QUrl& baseUrl, std::unique_ptr<PauseTimer> reconnectPause, QObject* parent)
    : QObject(parent),
      color_(defaultColor()),
      userColorHex_(randomPleasantColorHex()),
      baseUrl_(baseUrl),
      network_(new NetworkClient(NetworkClient::webSocketUrl(baseUrl), std::move(reconnectPause), this)),
      outbox_(new RoomOutbox(*network_, this)),
      journalDirectory_(PendingWorkJournal::defaultDirectory()) {
    // The client publishes on this thread; a direct call keeps the arrival order and means
    // nothing of a connection that was just closed can reach the model afterwards.
    QObject::connect(network_, &NetworkClient::events, this, &SessionModel::handleNetworkEvent);
    QObject::connect(network_, &NetworkClient::handshakeCompleted, this,
                     [this] { setConnectionState(ConnectionState::connected()); });
}

void SessionModel::setTool(Tool tool) {
    tool_ = tool;
    emit toolChanged(tool_);
}

void SessionModel::setColor(const ArtColor& color) {
    color_ = color;
    emit colorChanged(color_);
}

void SessionModel::setBrushSize(double brushSize) {
    brushSize_ = brushSize;
    emit brushSizeChanged(brushSize_);
}

void SessionModel::setIsInCanvasMode(bool isInCanvasMode) {
    isInCanvasMode_ = isInCanvasMode;
    emit isInCanvasModeChanged(isInCanvasMode_);
}

void SessionModel::setCurrentPage(const std::optional<CurrentPage>& page) {
    currentPage_ = page;
    emit currentPageChanged(currentPage_);
}

void SessionModel::setZoom(double zoom) {
    zoom_ = zoom;
    emit zoomChanged(zoom_);
}

void SessionModel::setPan(QSizeF pan) {
    pan_ = pan;
    emit panChanged(pan_);
}

void SessionModel::setConnectionState(const ConnectionState& state) {
    connectionState_ = state;
    emit connectionStateChanged(connectionState_);
}

void SessionModel::setPeerCount(int count) {
    peerCount_ = count;
    emit peerCountChanged(peerCount_);
}

void SessionModel::setPeerCursors(const PeerCursorMap& cursors) {
    peerCursors_ = cursors;
    emit peerCursorsChanged(peerCursors_);
}

void SessionModel::setPeerColorById(const PeerColorMap& colors) {
    peerColorById_ = colors;
    emit peerColorByIdChanged(peerColorById_);
}

void SessionModel::setPeerNameById(const PeerNameMap& names) {
    peerNameById_ = names;
    emit peerNameByIdChanged(peerNameById_);
}

void SessionModel::setCurrentUser(const std::optional<AuthUser>& user) {
    currentUser_ = user;
    emit currentUserChanged(currentUser_);
}

void SessionModel::setRoomId(const std::optional<QString>& roomId) {
    roomId_ = roomId;
    emit roomIdChanged(roomId_);
}

void SessionModel::setRoomDisplayName(const std::optional<QString>& displayName) {
    roomDisplayName_ = displayName;
    emit roomDisplayNameChanged(roomDisplayName_);
}

void SessionModel::switchRoom(const QString& id, const QString& displayName) {
    if (!currentToken_) {
        return;
    }
    setRoomId(id);
    setRoomDisplayName(displayName);
    if (undoRoom_ != id) {
        undoRoom_ = id;
        undo_.reset();
        emit undoHistoryChanged();
    }
    setPeerCursors({});
    setPeerColorById({});
    setPeerNameById({});
    setCurrentPage(std::nullopt);
    std::unique_ptr<PendingWorkJournal> journal;
    if (currentUser_) {
        journal = std::make_unique<PendingWorkJournal>(
            PendingWorkJournal::pathFor(journalDirectory_, baseUrl_, currentUser_->id, id));
        journal->setRoomName(displayName);
    }
    outbox_->open(std::move(journal));
    setConnectionState(ConnectionState::connecting());
    network_->connect(id, *currentToken_, userColorHex_);
}

void SessionModel::send(const ClientMessage& message) {
    if (std::holds_alternative<ClientMessage::Cursor>(message.value)) {
        if (outbox_->isLive()) network_->send(message);
        return;
    }
    noteSent(message);
    outbox_->send(message);
}

void SessionModel::noteSent(const ClientMessage& message) {
    if (const auto* start = std::get_if<ClientMessage::StrokeStart>(&message.value)) {
        undo_.strokeStarted(start->stroke.id);
    } else if (std::holds_alternative<ClientMessage::ClearCanvas>(message.value)) {
        undo_.cleared();
    } else {
        return;
    }
    emit undoHistoryChanged();
}

void SessionModel::undo() {
    const std::optional<std::string> id = undo_.takeUndo();
    if (!id) return;
    outbox_->send(ClientMessage::strokeUndo(*id));
    emit undoHistoryChanged();
    emit canvasEvents(CanvasEvent{CanvasEvent::StrokeUndo{*id}});
}

void SessionModel::redo() {
    const std::optional<std::string> id = undo_.takeRedo();
    if (!id) return;
    outbox_->send(ClientMessage::strokeRedo(*id));
    emit undoHistoryChanged();
    emit canvasEvents(CanvasEvent{CanvasEvent::StrokeRedo{*id, std::nullopt, {}}});
}

std::optional<SessionModel::PendingRoom> SessionModel::pendingRoom() const {
    if (!currentUser_) return std::nullopt;
    const QDir rooms(PendingWorkJournal::userDirectory(journalDirectory_, baseUrl_, currentUser_->id));
    for (const QFileInfo& file :
         rooms.entryInfoList({QStringLiteral("*.journal")}, QDir::Files, QDir::Time)) {
        if (const std::optional<QString> name = pendingRoomName(file.filePath()))
            return PendingRoom{QUrl::fromPercentEncoding(file.completeBaseName().toLatin1()), *name};
    }
    return std::nullopt;
}

void SessionModel::clearAuth() {
    network_->disconnect();
    outbox_->close();
    setCurrentUser(std::nullopt);
    currentToken_.reset();
    setRoomId(std::nullopt);
    setRoomDisplayName(std::nullopt);
    setConnectionState(ConnectionState::disconnected());
    setPeerCount(0);
    setPeerCursors({});
    setPeerColorById({});
    setPeerNameById({});
    setCurrentPage(std::nullopt);
}

void SessionModel::applyPinchFactor(double factor, QPointF anchorViewUV) {
    const double oldZoom = zoom_;
    const double newZoom = std::min(std::max(oldZoom * factor, kMinZoom), kMaxZoom);
    if (newZoom != oldZoom) {
        const double d = 1.0 / oldZoom - 1.0 / newZoom;
        setPan(QSizeF(pan_.width() + (anchorViewUV.x() - 0.5) * d,
                      pan_.height() + (anchorViewUV.y() - 0.5) * d));
    }
    setZoom(newZoom);
    clampPan();
}

void SessionModel::applyPanDelta(double dx, double dy) {
    setPan(QSizeF(pan_.width() + dx, pan_.height() + dy));
    clampPan();
}

void SessionModel::clampPan() {
    const double m = std::max((1.0 - 1.0 / zoom_) * 0.5, 0.0);
    const auto limit = [m](double v) { return std::min(std::max(v, -m), m); };
    setPan(QSizeF(limit(pan_.width()), limit(pan_.height())));
}

void SessionModel::handleNetworkEvent(const NetworkEvent& event) {
    std::visit([this](const auto& payload) { apply(payload); }, event.value);
}

// Connected only once the server admits the connection: `opened` comes before the handshake.
void SessionModel::apply(const NetworkEvent::Opened&) {
    setConnectionState(ConnectionState::connecting());
}

void SessionModel::apply(const NetworkEvent::Closed& event) {
    using Outcome = NetworkEvent::Closed::Outcome;
    outbox_->connectionLost();
    const QString reason = QString::fromStdString(event.text);
    setConnectionState(event.outcome == Outcome::refused ? ConnectionState::refused(reason)
                                                         : ConnectionState::failed(reason));
    setPeerCursors({});
    setPeerCount(0);
    setPeerNameById({});
    connectionsOf_.clear();
    if (event.outcome == Outcome::sessionEnded) {
        emit sessionEnded(QStringLiteral(
            "You were signed out: your session ended on another device or expired. Log in again to go "
            "on drawing; what you drew is kept."));
    }
}

void SessionModel::apply(const NetworkEvent::RoomState& event) {
    setPeerCount(int(event.peers.size()));
    PeerNameMap names;
    connectionsOf_.clear();
    for (const WirePeer& peer : event.peers) {
        ++connectionsOf_[QString::fromStdString(peer.userId)];
        peerColorById_.insert(QString::fromStdString(peer.userId), QString::fromStdString(peer.color));
        names.insert(QString::fromStdString(peer.userId), QString::fromStdString(peer.name));
    }
    emit peerColorByIdChanged(peerColorById_);
    setPeerNameById(names);
    // What the user made that the server does not hold yet goes out now, and shows on top of
    // what everybody else drew meanwhile.
    const std::vector<Outgoing> own = outbox_->roomStateArrived(event.strokes, event.page);
    const auto keepShownUndoable = [this](const std::vector<Stroke>& shown) {
        std::set<std::string> ids;
        for (const Stroke& stroke : shown) ids.insert(stroke.id);
        undo_.keepOnly(ids);
        emit undoHistoryChanged();
    };
    if (own.empty()) {
        keepShownUndoable(event.strokes);
        setCurrentPage(toOptionalCurrentPage(event.page));
        emit canvasEvents(CanvasEvent{CanvasEvent::RoomState{event.strokes}});
        return;
    }
    std::vector<Stroke> strokes = event.strokes;
    std::optional<WirePage> page = event.page;
    applyOwnMessages(own, currentUserId().toStdString(), strokes, page);
    keepShownUndoable(strokes);
    setCurrentPage(toOptionalCurrentPage(page));
    emit canvasEvents(CanvasEvent{CanvasEvent::RoomState{std::move(strokes)}});
}

void SessionModel::apply(const NetworkEvent::PeerJoined& event) {
    setPeerCount(peerCount_ + 1);
    const QString userId = QString::fromStdString(event.peer.userId);
    ++connectionsOf_[userId];
    peerColorById_.insert(userId, QString::fromStdString(event.peer.color));
    emit peerColorByIdChanged(peerColorById_);
    peerNameById_.insert(userId, QString::fromStdString(event.peer.name));
    emit peerNameByIdChanged(peerNameById_);
}

void SessionModel::apply(const NetworkEvent::PeerLeft& event) {
    setPeerCount(std::max(peerCount_ - 1, 0));
    const QString userId = QString::fromStdString(event.userId);
    // Someone present on two devices is still here when one of them leaves.
    if (const auto it = connectionsOf_.find(userId); it != connectionsOf_.end() && --it.value() > 0) return;
    connectionsOf_.remove(userId);
    peerCursors_.remove(userId);
    emit peerCursorsChanged(peerCursors_);
    peerColorById_.remove(userId);
    emit peerColorByIdChanged(peerColorById_);
    peerNameById_.remove(userId);
    emit peerNameByIdChanged(peerNameById_);
}

void SessionModel::apply(const NetworkEvent::StrokeStart& event) {
    emit canvasEvents(
        CanvasEvent{CanvasEvent::PeerStrokeStart{event.userId, event.header, event.firstPoint}});
}

void SessionModel::apply(const NetworkEvent::StrokePoint& event) {
    emit canvasEvents(CanvasEvent{CanvasEvent::PeerStrokePoint{event.userId, event.strokeId, event.point}});
}

void SessionModel::apply(const NetworkEvent::StrokeEnd& event) {
    emit canvasEvents(CanvasEvent{CanvasEvent::PeerStrokeEnd{event.userId, event.strokeId}});
}

void SessionModel::apply(const NetworkEvent::Cursor& event) {
    const QString userId = QString::fromStdString(event.userId);
    peerCursors_.insert(userId,
                        PeerCursor{userId, event.x, event.y,
                                   peerColorById_.value(userId, QString::fromLatin1(kUnknownPeerColor))});
    emit peerCursorsChanged(peerCursors_);
}

void SessionModel::apply(const NetworkEvent::PageChanged& event) {
    setCurrentPage(toOptionalCurrentPage(event.page));
    emit canvasEvents(CanvasEvent{CanvasEvent::PageChanged{event.page}});
}

void SessionModel::apply(const NetworkEvent::CanvasCleared&) {
    undo_.cleared();
    emit undoHistoryChanged();
    emit canvasEvents(CanvasEvent{CanvasEvent::CanvasCleared{}});
}

void SessionModel::apply(const NetworkEvent::StrokeUndo& event) {
    emit canvasEvents(CanvasEvent{CanvasEvent::StrokeUndo{event.strokeId}});
}

void SessionModel::apply(const NetworkEvent::StrokeRedo& event) {
    emit canvasEvents(CanvasEvent{CanvasEvent::StrokeRedo{event.stroke.id, event.stroke, event.after}});
}

}  // namespace vellumora
