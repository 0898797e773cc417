#include "net/network_client.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTimer>
#include <QWebSocket>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cmath>
#include <utility>

namespace vellumora {

namespace {

// Query values are encoded strictly (only unreserved characters and ':' stay), so a '#' in the
// colour, or a '+' or '&' anywhere, reaches the server as the character it is.
QByteArray queryValue(const QString& value) {
    return QUrl::toPercentEncoding(value, QByteArrayLiteral(":"));
}

// The text a failed connection is reported with: the socket's error when it has one, else what
// the close handshake said, else why the opening handshake failed.
QString failureText(const QWebSocket& socket, bool wasOpen) {
    if (socket.error() != QAbstractSocket::UnknownSocketError) {
        return socket.errorString();
    }
    if (!socket.closeReason().isEmpty()) {
        return socket.closeReason();
    }
    if (socket.closeCode() != QWebSocketProtocol::CloseCodeNormal) {
        return QStringLiteral("The connection was closed (code %1)").arg(int(socket.closeCode()));
    }
    if (!wasOpen) {
        // Qt prefixes handshake errors with its internal function name.
        static const QRegularExpression internalPrefix(QStringLiteral("^\\w+::\\w+: "));
        QString text = socket.errorString();
        text.remove(internalPrefix);
        return text.isEmpty() ? QStringLiteral("The server refused the connection") : text;
    }
    return QStringLiteral("The server closed the connection");
}

// The HTTP status a refused handshake was answered with; Qt gives it only inside the error text
// ("...Unhandled http status code: 401 (Unauthorized).").
std::optional<int> handshakeStatus(const QWebSocket& socket) {
    static const QRegularExpression status(QStringLiteral("status code: (\\d{3})\\b"));
    const QRegularExpressionMatch match = status.match(socket.errorString());
    if (!match.hasMatch()) return std::nullopt;
    return match.captured(1).toInt();
}

NetworkEvent::Closed::Outcome outcomeOf(const QWebSocket& socket, bool wasOpen) {
    using Outcome = NetworkEvent::Closed::Outcome;
    if (wasOpen)
        return socket.closeCode() == kSessionEndedCloseCode ? Outcome::sessionEnded : Outcome::retrying;
    const std::optional<int> status = handshakeStatus(socket);
    if (status == 401) return Outcome::sessionEnded;
    if (status == 403) return Outcome::refused;
    return Outcome::retrying;
}

// A header value must not carry control characters: CR or LF would start a new header.
bool isSendableToken(const QString& token) {
    return std::none_of(token.begin(), token.end(),
                        [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; });
}

// Encoded once into a buffer with room after it, so the decoder parses it in place.
std::optional<NetworkEvent> decodeText(const QString& text) {
    QStringEncoder utf8(QStringEncoder::Utf8);
    QByteArray buffer(utf8.requiredSpace(text.size()) + qsizetype(kDecodePadding), Qt::Uninitialized);
    const char* end = utf8.appendToBuffer(buffer.data(), text);
    return decodeNetworkEvent(std::string_view(buffer.constData(), std::size_t(end - buffer.constData())),
                              InputPadding::padded);
}

}  // namespace

NetworkClient::NetworkClient(QUrl serverUrl, QObject* parent)
    : NetworkClient(std::move(serverUrl), nullptr, parent) {}

NetworkClient::NetworkClient(QUrl serverUrl, std::unique_ptr<PauseTimer> pause, QObject* parent)
    : QObject(parent),
      serverUrl_(std::move(serverUrl)),
      random_(std::random_device{}()),
      pause_(pause ? std::move(pause) : PauseTimer::precise()) {
    QObject::connect(&inboundWatcher_, &QFutureWatcherBase::finished, this, &NetworkClient::deliverDecoded);
}

NetworkClient::~NetworkClient() {
    // The sockets are children and die after this body; nothing they do then may reach us.
    for (QWebSocket* socket : findChildren<QWebSocket*>(Qt::FindDirectChildrenOnly)) {
        QObject::disconnect(socket, nullptr, this, nullptr);
    }
}

QUrl NetworkClient::webSocketUrl(const QUrl& baseUrl) {
    QUrl url = baseUrl;
    if (url.scheme() == QLatin1String("https")) {
        url.setScheme(QStringLiteral("wss"));
    } else if (url.scheme() == QLatin1String("http")) {
        url.setScheme(QStringLiteral("ws"));
    }
    return url.isValid() ? url : baseUrl;
}

std::optional<QNetworkRequest> NetworkClient::connectionRequest(const QUrl& serverUrl,
                                                                const ConnectionArgs& args) {
    QUrl url = serverUrl;
    // The token travels only in the header: a URL ends up in proxies' and servers' logs.
    const QByteArray query = "room=" + queryValue(args.room) + "&color=" + queryValue(args.color);
    url.setQuery(QString::fromLatin1(query), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || !isSendableToken(args.token)) {
        return std::nullopt;
    }
    QNetworkRequest request(url);
    request.setRawHeader("Authorization", "Bearer " + args.token.toUtf8());
    return request;
}

std::chrono::milliseconds NetworkClient::nextReconnectDelay() {
    const double base = static_cast<double>(kReconnectDelay.count());
    std::uniform_real_distribution<double> spread(base * (1 - kReconnectJitter),
                                                  base * (1 + kReconnectJitter));
    return std::chrono::milliseconds(std::llround(spread(random_)));
}

void NetworkClient::connect(const QString& room, const QString& token, const QString& color) {
    disconnect();
    shouldReconnect_ = true;
    connectionArgs_ = ConnectionArgs{room, token, color};
    openConnection();
}

void NetworkClient::disconnect() {
    shouldReconnect_ = false;
    pause_->stop();
    const bool wasPending = !inbound_.empty();
    inbound_.clear();
    inboundWatcher_.setFuture({});
    if (wasPending) emit largeMessagePending(false);
    if (socket_) {
        retire(socket_, true);
    }
    socket_ = nullptr;
    socketFailed_ = false;
}

void NetworkClient::openConnection() {
    if (!connectionArgs_) {
        return;
    }
    const std::optional<QNetworkRequest> request = connectionRequest(serverUrl_, *connectionArgs_);
    if (!request) {
        return;
    }
    if (socket_) {
        retire(socket_, false);
    }

    auto* socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    socket->setMaxAllowedIncomingMessageSize(kMaxMessageBytes);
    QObject::connect(socket, &QWebSocket::connected, this, [this, socket] { onConnected(socket); });
    QObject::connect(socket, &QWebSocket::textMessageReceived, this, [this, socket](const QString& text) {
        onMessage(socket, text.size(), [text] { return decodeText(text); });
    });
    QObject::connect(
        socket, &QWebSocket::binaryMessageReceived, this, [this, socket](const QByteArray& bytes) {
            onMessage(socket, bytes.size(), [bytes] {
                return decodeNetworkEvent(std::string_view(bytes.constData(), std::size_t(bytes.size())),
                                          InputPadding::none);
            });
        });
    QObject::connect(socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
                     [this, socket] { onFailure(socket); });
    QObject::connect(socket, &QWebSocket::disconnected, this, [this, socket] { onFailure(socket); });
    QObject::connect(socket, &QWebSocket::pong, this, [this, socket](quint64, const QByteArray& payload) {
        bool ok = false;
        const quint64 id = payload.toULongLong(&ok);
        if (ok && socket == socket_ && !socketFailed_) emit receipt(id);
    });

    socket_ = socket;
    socketFailed_ = false;
    socketOpen_ = false;
    pending_.clear();
    pendingBytes_ = 0;

    // Published before the handshake, as soon as the connection is started.
    publish(NetworkEvent{NetworkEvent::Opened{}});
    if (socket_ != socket) {
        return;  // a subscriber moved on while `opened` was handled
    }
    socket->open(*request);
}

void NetworkClient::onConnected(QWebSocket* socket) {
    if (socket != socket_ || socketFailed_) {
        return;
    }
    socketOpen_ = true;
    while (!pending_.empty() && socket == socket_ && !socketFailed_) {
        const QString text = std::move(pending_.front());
        pending_.pop_front();
        socket->sendTextMessage(text);
    }
    pending_.clear();
    pendingBytes_ = 0;
    if (socket == socket_ && !socketFailed_) emit handshakeCompleted();
}

void NetworkClient::onMessage(QWebSocket* socket, qsizetype size,
                              std::function<std::optional<NetworkEvent>()> decode) {
    if (socket != socket_ || socketFailed_) {
        return;
    }
    if (size < kWorkerDecodeBytes) {
        if (std::optional<NetworkEvent> event = decode()) {
            publish(std::move(*event));
        }
        return;
    }
    inbound_.push_back(QtConcurrent::run(std::move(decode)));
    if (inbound_.size() == 1) {
        inboundWatcher_.setFuture(inbound_.front());
        emit largeMessagePending(true);
    }
}

void NetworkClient::publish(NetworkEvent event) {
    if (inbound_.empty()) {
        emit events(event);
        return;
    }
    inbound_.push_back(QtFuture::makeReadyFuture(std::optional<NetworkEvent>(std::move(event))));
}

void NetworkClient::deliverDecoded() {
    // The watcher reports a cleared future (disconnect()) finished too; nothing waits then.
    if (inbound_.empty()) return;
    // A subscriber may leave or reconnect while an event is handled: that clears the queue.
    while (!inbound_.empty() && inbound_.front().isFinished()) {
        QFuture<std::optional<NetworkEvent>> next = std::move(inbound_.front());
        inbound_.pop_front();
        if (std::optional<NetworkEvent> event = next.takeResult()) {
            emit events(*event);
        }
    }
    // Not cleared when empty: a cleared future counts as finished, and would call this again,
    // turn after turn, with the event loop never sleeping.
    if (inbound_.empty()) {
        emit largeMessagePending(false);
    } else {
        inboundWatcher_.setFuture(inbound_.front());
    }
}

void NetworkClient::onFailure(QWebSocket* socket) {
    if (socket != socket_ || socketFailed_) {
        return;
    }
    socketFailed_ = true;
    pending_.clear();
    pendingBytes_ = 0;
    const QString text = failureText(*socket, socketOpen_);
    const NetworkEvent::Closed::Outcome outcome = outcomeOf(*socket, socketOpen_);
    // Dead from here on, also if Qt reported an error on a socket it keeps open.
    QObject::disconnect(socket, nullptr, this, nullptr);
    socket->abort();

    // Trying again with a token the server no longer takes, or for a room it refuses this
    // user, would fail the same way for ever.
    if (outcome != NetworkEvent::Closed::Outcome::retrying) shouldReconnect_ = false;
    publish(NetworkEvent{NetworkEvent::Closed{text.toStdString(), outcome}});
    if (shouldReconnect_ && socket == socket_) {
        pause_->start(nextReconnectDelay(), [this] {
            if (shouldReconnect_) {
                openConnection();
            }
        });
    }
}

void NetworkClient::retire(QWebSocket* socket, bool closeNormally) {
    QObject::disconnect(socket, nullptr, this, nullptr);
    pending_.clear();
    pendingBytes_ = 0;
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        socket->deleteLater();
        return;
    }
    // Give a normal close a moment to reach the server before the socket goes.
    QObject::connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(std::chrono::seconds(5), socket, &QObject::deleteLater);
    if (closeNormally && socket->state() == QAbstractSocket::ConnectedState) {
        socket->close(QWebSocketProtocol::CloseCodeNormal);
    } else {
        socket->abort();
    }
}

bool NetworkClient::isOpen() const {
    return socket_ && socketOpen_ && !socketFailed_;
}

void NetworkClient::requestReceipt(quint64 id) {
    if (isOpen()) socket_->ping(QByteArray::number(id));
}

void NetworkClient::send(const ClientMessage& message) {
    if (!socket_ || socketFailed_) {
        return;
    }
    const std::optional<std::string> json = encode(message);
    if (!json) {
        return;
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(QByteArrayView(json->data(), qsizetype(json->size())));
    if (utf8.hasError()) {
        return;
    }
    if (socket_->state() == QAbstractSocket::ConnectedState) {
        socket_->sendTextMessage(text);
        return;
    }
    if (pendingBytes_ + json->size() > kMaxPendingBytes) {
        return;
    }
    pendingBytes_ += json->size();
    pending_.push_back(std::move(text));
}

}  // namespace vellumora
