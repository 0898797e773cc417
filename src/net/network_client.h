#pragma once
// The one WebSocket connection to the room the user is in: opens it with the session token as
// its bearer, publishes every decoded server message as a NetworkEvent, sends ClientMessages
// and reopens the connection after a failure for as long as the user stays in the room, unless
// the server ended the session or refused the room.

#include <QFuture>
#include <QFutureWatcher>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string_view>

#include "model/network_event.h"
#include "model/protocol.h"
#include "net/pause_timer.h"

class QWebSocket;

namespace vellumora {

class NetworkClient : public QObject {
    Q_OBJECT

  public:
    struct ConnectionArgs {
        QString room;
        QString token;
        QString color;
        bool operator==(const ConnectionArgs&) const = default;
    };

    // After a failure the room is opened again this long later, give or take this fraction of
    // it, so that the clients of a server that went away do not all come back at one instant.
    static constexpr std::chrono::milliseconds kReconnectDelay{1500};
    static constexpr double kReconnectJitter = 0.2;
    // Messages from this size on (characters of a text) are decoded on a worker thread: a full
    // room would hold the event loop too long. Every later event waits for them, in order.
    static constexpr qsizetype kWorkerDecodeBytes = 64 * 1024;
    // Messages sent while the handshake is still running wait for it, up to this many bytes.
    static constexpr std::size_t kMaxPendingBytes = 2 * kMaxMessageBytes;

    // `serverUrl` is the ws/wss form of the service's base URL (see webSocketUrl).
    explicit NetworkClient(QUrl serverUrl, QObject* parent = nullptr);
    // `pause` times the wait before each reconnect; none: a precise QTimer.
    NetworkClient(QUrl serverUrl, std::unique_ptr<PauseTimer> pause, QObject* parent = nullptr);
    ~NetworkClient() override;

    // https -> wss, http -> ws; host, port and path kept. An unusable URL is returned unchanged.
    static QUrl webSocketUrl(const QUrl& baseUrl);
    // The handshake: `serverUrl` with its query replaced by room and color, and the token as
    // bearer; none when the URL is not valid or the token cannot travel in a header.
    static std::optional<QNetworkRequest> connectionRequest(const QUrl& serverUrl,
                                                            const ConnectionArgs& args);

    // Closes any current connection and opens one to `room`, reopened after every failure
    // until disconnect(). (Hides QObject::connect inside this class; use QObject::connect.)
    void connect(const QString& room, const QString& token, const QString& color);
    // Closes the current connection normally and stops reconnecting. Nothing is published for it.
    void disconnect();
    // Sends one text frame on the current connection; dropped when there is none, when it has
    // failed, or when the message cannot be encoded.
    void send(const ClientMessage& message);
    // Asks the server to confirm that it has read everything sent so far: receipt(id) follows
    // once it has, unless the connection ends first. Nothing while the connection is not open.
    void requestReceipt(quint64 id);
    // The wait before the next reconnect, uniform in kReconnectDelay ± kReconnectJitter.
    std::chrono::milliseconds nextReconnectDelay();

    QUrl serverUrl() const { return serverUrl_; }
    std::optional<ConnectionArgs> connectionArgs() const { return connectionArgs_; }
    bool shouldReconnect() const { return shouldReconnect_; }
    bool isReconnectPending() const { return pause_->isActive(); }
    // The handshake of the current connection completed and it has not failed.
    bool isOpen() const;

  signals:
    // Every event of the current connection, in arrival order, on the thread that owns the client.
    void events(const vellumora::NetworkEvent& event);
    // The current connection's handshake completed: the server admitted it.
    void handshakeCompleted();
    // The server has read everything sent before requestReceipt(id).
    void receipt(quint64 id);
    // True once a large message is being decoded on a worker thread (a room's backlog, usually),
    // false once everything that arrived with or behind it has been published, or dropped.
    void largeMessagePending(bool pending);

  private:
    void openConnection();
    void onConnected(QWebSocket* socket);
    void onMessage(QWebSocket* socket, qsizetype size, std::function<std::optional<NetworkEvent>()> decode);
    // Emits `event` after everything still being decoded.
    void publish(NetworkEvent event);
    void deliverDecoded();
    void onFailure(QWebSocket* socket);
    void retire(QWebSocket* socket, bool closeNormally);

    const QUrl serverUrl_;
    std::minstd_rand random_;
    QPointer<QWebSocket> socket_;
    bool socketFailed_ = false;
    bool socketOpen_ = false;  // the handshake completed
    std::deque<QString> pending_;
    std::size_t pendingBytes_ = 0;
    bool shouldReconnect_ = false;
    const std::unique_ptr<PauseTimer> pause_;
    std::optional<ConnectionArgs> connectionArgs_;
    // Events of the current connection not yet emitted, in arrival order.
    std::deque<QFuture<std::optional<NetworkEvent>>> inbound_;
    QFutureWatcher<std::optional<NetworkEvent>> inboundWatcher_;
};

}  // namespace vellumora
