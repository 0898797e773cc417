#pragma once
// The observable state of one user's drawing session: local drawing settings, the signed-in
// user, the room and its connection, the peers, the page, and the stream of canvas events.
// It owns the room connection and turns its events into state and canvas events, and the room's
// outbox, through which everything the user makes reaches the room without loss.
//
// Every published field notifies on every assignment, also when the value is unchanged.
// Everything runs on the main thread.

#include <QHash>
#include <QMap>
#include <QObject>
#include <QPointF>
#include <QSizeF>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>

#include "model/drawing_types.h"
#include "model/network_event.h"
#include "net/network_client.h"
#include "session/auth_user.h"
#include "session/canvas_event.h"
#include "session/connection_state.h"
#include "session/current_page.h"
#include "session/peer_cursor.h"
#include "session/room_outbox.h"
#include "session/undo_history.h"

namespace vellumora {

using PeerCursorMap = QMap<QString, PeerCursor>;
using PeerColorMap = QMap<QString, QString>;
using PeerNameMap = QMap<QString, QString>;
using OptionalAuthUser = std::optional<AuthUser>;
using OptionalCurrentPage = std::optional<CurrentPage>;
using OptionalString = std::optional<QString>;

class SessionModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(vellumora::Tool tool READ tool WRITE setTool NOTIFY toolChanged)
    Q_PROPERTY(vellumora::ArtColor color READ color WRITE setColor NOTIFY colorChanged)
    Q_PROPERTY(double brushSize READ brushSize WRITE setBrushSize NOTIFY brushSizeChanged)
    Q_PROPERTY(bool isInCanvasMode READ isInCanvasMode WRITE setIsInCanvasMode NOTIFY isInCanvasModeChanged)
    Q_PROPERTY(vellumora::OptionalCurrentPage currentPage READ currentPage WRITE setCurrentPage NOTIFY
                   currentPageChanged)
    Q_PROPERTY(double zoom READ zoom WRITE setZoom NOTIFY zoomChanged)
    Q_PROPERTY(QSizeF pan READ pan WRITE setPan NOTIFY panChanged)
    Q_PROPERTY(vellumora::ConnectionState connectionState READ connectionState NOTIFY connectionStateChanged)
    Q_PROPERTY(int peerCount READ peerCount NOTIFY peerCountChanged)
    Q_PROPERTY(vellumora::PeerCursorMap peerCursors READ peerCursors NOTIFY peerCursorsChanged)
    Q_PROPERTY(vellumora::PeerColorMap peerColorById READ peerColorById NOTIFY peerColorByIdChanged)
    Q_PROPERTY(vellumora::PeerNameMap peerNameById READ peerNameById NOTIFY peerNameByIdChanged)
    Q_PROPERTY(vellumora::OptionalAuthUser currentUser READ currentUser WRITE setCurrentUser NOTIFY
                   currentUserChanged)
    Q_PROPERTY(vellumora::OptionalString roomId READ roomId NOTIFY roomIdChanged)
    Q_PROPERTY(vellumora::OptionalString roomDisplayName READ roomDisplayName NOTIFY roomDisplayNameChanged)

  public:
    static constexpr double kMinZoom = 0.25;
    static constexpr double kMaxZoom = 6.0;
    static constexpr double kDefaultBrushSize = 3.0;
    // Colour of a peer whose colour has not been announced.
    static constexpr const char* kUnknownPeerColor = "#888888";

    // `baseUrl` is the service's https/http origin; the room connection uses its wss/ws form.
    // Nothing is opened until switchRoom.
    explicit SessionModel(const QUrl& baseUrl, QObject* parent = nullptr);
    // `reconnectPause` times the room connection's wait before each reconnect.
    SessionModel(const QUrl& baseUrl, std::unique_ptr<PauseTimer> reconnectPause, QObject* parent = nullptr);

    Tool tool() const { return tool_; }
    void setTool(Tool tool);
    const ArtColor& color() const { return color_; }
    void setColor(const ArtColor& color);
    double brushSize() const { return brushSize_; }
    void setBrushSize(double brushSize);
    bool isInCanvasMode() const { return isInCanvasMode_; }
    void setIsInCanvasMode(bool isInCanvasMode);
    const std::optional<CurrentPage>& currentPage() const { return currentPage_; }
    void setCurrentPage(const std::optional<CurrentPage>& page);
    double zoom() const { return zoom_; }
    void setZoom(double zoom);
    // Canvas-normalized display offset.
    QSizeF pan() const { return pan_; }
    void setPan(QSizeF pan);

    const ConnectionState& connectionState() const { return connectionState_; }
    int peerCount() const { return peerCount_; }
    const PeerCursorMap& peerCursors() const { return peerCursors_; }
    const PeerColorMap& peerColorById() const { return peerColorById_; }
    // The names of the peers in the room now, as the server announced them.
    const PeerNameMap& peerNameById() const { return peerNameById_; }

    const std::optional<AuthUser>& currentUser() const { return currentUser_; }
    void setCurrentUser(const std::optional<AuthUser>& user);
    // The empty text when nobody is signed in.
    QString currentUserId() const { return currentUser_ ? currentUser_->id : QString(); }
    const std::optional<QString>& currentToken() const { return currentToken_; }
    void setCurrentToken(const std::optional<QString>& token) { currentToken_ = token; }
    // This user's colour for this run, announced to the peers.
    const QString& userColorHex() const { return userColorHex_; }

    const std::optional<QString>& roomId() const { return roomId_; }
    const std::optional<QString>& roomDisplayName() const { return roomDisplayName_; }

    // Sends to the room: strokes, pages and clears through the outbox (kept until the server
    // has them), cursors only while the room is live.
    void send(const ClientMessage& message);
    NetworkClient& network() { return *network_; }
    RoomOutbox& outbox() { return *outbox_; }

    // Where the rooms' journals are kept; by default PendingWorkJournal::defaultDirectory().
    void setJournalDirectory(const QString& directory) { journalDirectory_ = directory; }
    struct PendingRoom {
        QString id;
        QString displayName;
        bool operator==(const PendingRoom&) const = default;
    };
    // The room of the signed-in user where work waits since an earlier run (the latest such).
    std::optional<PendingRoom> pendingRoom() const;

    // Enters a room (reconnecting also when it is the current one) with what waits in its
    // journal; ignored without a token.
    void switchRoom(const QString& id, const QString& displayName);
    // Leaves the room and forgets the user; drawing settings, zoom and pan stay.
    void clearAuth();

    // Zooms by `factor` within [kMinZoom, kMaxZoom], keeping the canvas point under the
    // anchor (view-normalized, 0...1 on each axis) in place.
    void applyPinchFactor(double factor, QPointF anchorViewUV);
    // Pans by canvas-normalized amounts.
    void applyPanDelta(double dx, double dy);
    // Keeps the pan where the canvas still covers the view's centre.
    void clampPan();

    // Takes the user's latest stroke still in the room back out, for everybody; puts the last
    // one taken back in its place again. Nothing happens when there is nothing to do.
    void undo();
    void redo();
    const UndoHistory& undoHistory() const { return undo_; }

    // Applies one event of the room connection; called for every event of `network()`.
    void handleNetworkEvent(const NetworkEvent& event);
    // For producers outside the room connection (the page picker's clear).
    void publishCanvasEvent(const CanvasEvent& event) { emit canvasEvents(event); }

  signals:
    void toolChanged(vellumora::Tool tool);
    void colorChanged(const vellumora::ArtColor& color);
    void brushSizeChanged(double brushSize);
    void isInCanvasModeChanged(bool isInCanvasMode);
    void currentPageChanged(const vellumora::OptionalCurrentPage& page);
    void zoomChanged(double zoom);
    void panChanged(QSizeF pan);
    void connectionStateChanged(const vellumora::ConnectionState& state);
    void peerCountChanged(int peerCount);
    void peerCursorsChanged(const vellumora::PeerCursorMap& cursors);
    void peerColorByIdChanged(const vellumora::PeerColorMap& colors);
    void peerNameByIdChanged(const vellumora::PeerNameMap& names);
    void currentUserChanged(const vellumora::OptionalAuthUser& user);
    void roomIdChanged(const vellumora::OptionalString& roomId);
    void roomDisplayNameChanged(const vellumora::OptionalString& displayName);
    // What the canvas must apply, in order; state changes of the same event come first.
    void canvasEvents(const vellumora::CanvasEvent& event);
    // What undo() and redo() can do changed.
    void undoHistoryChanged();
    // The server ended the session (signed out elsewhere, expired): `message` says so to the user.
    void sessionEnded(const QString& message);

  private:
    void setConnectionState(const ConnectionState& state);
    void setPeerCount(int count);
    void setPeerCursors(const PeerCursorMap& cursors);
    void setPeerColorById(const PeerColorMap& colors);
    void setPeerNameById(const PeerNameMap& names);
    void setRoomId(const std::optional<QString>& roomId);
    void setRoomDisplayName(const std::optional<QString>& displayName);

    void apply(const NetworkEvent::Opened&);
    void apply(const NetworkEvent::Closed& event);
    void apply(const NetworkEvent::RoomState& event);
    void apply(const NetworkEvent::PeerJoined& event);
    void apply(const NetworkEvent::PeerLeft& event);
    void apply(const NetworkEvent::StrokeStart& event);
    void apply(const NetworkEvent::StrokePoint& event);
    void apply(const NetworkEvent::StrokeEnd& event);
    void apply(const NetworkEvent::Cursor& event);
    void apply(const NetworkEvent::PageChanged& event);
    void apply(const NetworkEvent::CanvasCleared& event);
    void apply(const NetworkEvent::StrokeUndo& event);
    void apply(const NetworkEvent::StrokeRedo& event);
    void noteSent(const ClientMessage& message);

    Tool tool_ = Tool::sketchpen;
    ArtColor color_;
    double brushSize_ = kDefaultBrushSize;
    bool isInCanvasMode_ = false;
    std::optional<CurrentPage> currentPage_;
    double zoom_ = 1.0;
    QSizeF pan_{0, 0};
    ConnectionState connectionState_ = ConnectionState::disconnected();
    int peerCount_ = 0;
    PeerCursorMap peerCursors_;
    PeerColorMap peerColorById_;
    PeerNameMap peerNameById_;
    QHash<QString, int> connectionsOf_;  // each peer's connections to the room
    std::optional<AuthUser> currentUser_;
    std::optional<QString> currentToken_;
    const QString userColorHex_;
    std::optional<QString> roomId_;
    std::optional<QString> roomDisplayName_;
    const QUrl baseUrl_;
    NetworkClient* const network_;
    RoomOutbox* const outbox_;
    QString journalDirectory_;
    UndoHistory undo_;
    std::optional<QString> undoRoom_;  // the room undo_ belongs to
};

}  // namespace vellumora
