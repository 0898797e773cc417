#include "session/session_model.h"

#include <algorithm>
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
      network_(new NetworkClient(NetworkClient::webSocketUrl(baseUrl), std::move(reconnectPause), this)) {
    // The client publishes on this thread; a direct call keeps the arrival order and means
    // nothing of a connection that was just closed can reach the model afterwards.
    QObject::connect(network_, &NetworkClient::events, this, &SessionModel::handleNetworkEvent);
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
    setPeerCursors({});
    setPeerColorById({});
    setCurrentPage(std::nullopt);
    setConnectionState(ConnectionState::connecting());
    network_->connect(id, *currentToken_, userColorHex_);
}

void SessionModel::clearAuth() {
    network_->disconnect();
    setCurrentUser(std::nullopt);
    currentToken_.reset();
    setRoomId(std::nullopt);
    setRoomDisplayName(std::nullopt);
    setConnectionState(ConnectionState::disconnected());
    setPeerCount(0);
    setPeerCursors({});
    setPeerColorById({});
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

void SessionModel::apply(const NetworkEvent::Opened&) {
    setConnectionState(ConnectionState::connected());
}

void SessionModel::apply(const NetworkEvent::Closed& event) {
    setConnectionState(ConnectionState::failed(QString::fromStdString(event.text)));
    setPeerCursors({});
    setPeerCount(0);
}

void SessionModel::apply(const NetworkEvent::RoomState& event) {
    setPeerCount(int(event.peers.size()));
    for (const WirePeer& peer : event.peers) {
        peerColorById_.insert(QString::fromStdString(peer.userId), QString::fromStdString(peer.color));
    }
    emit peerColorByIdChanged(peerColorById_);
    setCurrentPage(toOptionalCurrentPage(event.page));
    emit canvasEvents(CanvasEvent{CanvasEvent::RoomState{event.strokes}});
}

void SessionModel::apply(const NetworkEvent::PeerJoined& event) {
    setPeerCount(peerCount_ + 1);
    peerColorById_.insert(QString::fromStdString(event.peer.userId),
                          QString::fromStdString(event.peer.color));
    emit peerColorByIdChanged(peerColorById_);
}

void SessionModel::apply(const NetworkEvent::PeerLeft& event) {
    setPeerCount(std::max(peerCount_ - 1, 0));
    const QString userId = QString::fromStdString(event.userId);
    peerCursors_.remove(userId);
    emit peerCursorsChanged(peerCursors_);
    peerColorById_.remove(userId);
    emit peerColorByIdChanged(peerColorById_);
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
    emit canvasEvents(CanvasEvent{CanvasEvent::CanvasCleared{}});
}

}  // namespace vellumora
