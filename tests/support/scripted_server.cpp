#include "support/scripted_server.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <stdexcept>

namespace vellumora::testing {

ScriptedServer::ScriptedServer(QObject* parent)
    : QObject(parent), server_(QStringLiteral("scripted"), QWebSocketServer::NonSecureMode) {
    if (!server_.listen(QHostAddress::LocalHost, 0)) {
        throw std::runtime_error("scripted server cannot listen");
    }
    QObject::connect(&server_, &QWebSocketServer::newConnection, this, [this] {
        while (QWebSocket* socket = server_.nextPendingConnection()) {
            socket->setParent(this);
            auto peer = std::make_unique<Peer>();
            peer->requestUrl = socket->requestUrl();
            peer->authorization = socket->request().rawHeader("Authorization");
            Peer* raw = peer.get();
            peers_.push_back(std::move(peer));
            QObject::connect(socket, &QWebSocket::textMessageReceived, this,
                             [raw](const QString& text) { raw->received.append(text); });
            QObject::connect(socket, &QWebSocket::disconnected, this, [raw, socket] {
                raw->closed = true;
                raw->closeCode = int(socket->closeCode());
            });
            if (onConnection_) onConnection_(*socket);
        }
    });
}

ScriptedServer::~ScriptedServer() {
    for (QObject* child : children()) QObject::disconnect(child, nullptr, this, nullptr);
}

QUrl ScriptedServer::url() const {
    return QUrl(QStringLiteral("ws://127.0.0.1:%1/").arg(server_.serverPort()));
}

QList<QByteArray> RecordedRequest::headerValues(const QByteArray& lowerCaseName) const {
    QList<QByteArray> values;
    for (const auto& [name, value] : headers)
        if (name == lowerCaseName) values.push_back(value);
    return values;
}

ScriptedResponder::ScriptedResponder(QObject* parent) : QObject(parent) {
    connect(&server_, &QTcpServer::newConnection, this, &ScriptedResponder::onNewConnection);
    if (!server_.listen(QHostAddress::LocalHost, 0)) {
        qFatal("scripted responder cannot listen: %s", qPrintable(server_.errorString()));
    }
}

QUrl ScriptedResponder::baseUrl() const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(server_.serverPort()));
}

void ScriptedResponder::script(const QByteArray& method, const QByteArray& path,
                               QList<ScriptedAnswer> answers) {
    scripts_[method + ' ' + path] = std::deque<ScriptedAnswer>(answers.begin(), answers.end());
}

QList<RecordedRequest> ScriptedResponder::requestsTo(const QByteArray& method, const QByteArray& path) const {
    QList<RecordedRequest> matching;
    for (const auto& request : requests_) {
        if (request.method == method && request.path == path) matching.push_back(request);
    }
    return matching;
}

void ScriptedResponder::onNewConnection() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            buffers_.remove(socket);
            socket->deleteLater();
        });
    }
}

void ScriptedResponder::onReadyRead(QTcpSocket* socket) {
    QByteArray& buffer = buffers_[socket];
    buffer += socket->readAll();
    for (;;) {
        const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0) return;
        const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
        const QList<QByteArray> requestLine = lines.front().trimmed().split(' ');
        RecordedRequest request;
        request.method = requestLine.value(0);
        request.path = requestLine.value(1);
        qsizetype contentLength = 0;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon < 0) continue;
            const QByteArray name = lines[i].left(colon).trimmed().toLower();
            const QByteArray value = lines[i].mid(colon + 1).trimmed();
            request.headers.push_back({name, value});
            if (name == "content-length") contentLength = value.toLongLong();
        }
        const qsizetype total = headerEnd + 4 + contentLength;
        if (buffer.size() < total) return;
        request.body = buffer.mid(headerEnd + 4, contentLength);
        buffer.remove(0, total);
        const ScriptedAnswer scripted = nextAnswer(request.method, request.path);
        requests_.push_back(std::move(request));
        if (!scripted.silent) {
            QTimer::singleShot(scripted.delay, this, [this, socket = QPointer<QTcpSocket>(socket), scripted] {
                if (socket) answer(socket, scripted);
            });
        }
    }
}

ScriptedAnswer ScriptedResponder::nextAnswer(const QByteArray& method, const QByteArray& path) {
    // Routes are scripted without the query.
    const qsizetype query = path.indexOf('?');
    auto it = scripts_.find(method + ' ' + (query < 0 ? path : path.left(query)));
    if (it == scripts_.end() || it->empty()) {
        return ScriptedAnswer::json(404, R"({"error":"no such route"})");
    }
    ScriptedAnswer next = it->front();
    if (it->size() > 1) it->pop_front();
    return next;
}

void ScriptedResponder::answer(QTcpSocket* socket, const ScriptedAnswer& scripted) {
    QByteArray response = "HTTP/1.1 " + QByteArray::number(scripted.status) + " Scripted\r\n";
    const bool bodyless = scripted.status == 204;
    if (!bodyless) {
        response +=
            "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(scripted.body.size()) +
            "\r\n";
    }
    for (const auto& [name, value] : scripted.headers) response += name + ": " + value + "\r\n";
    response += "Connection: keep-alive\r\n\r\n";
    if (!bodyless) response += scripted.body;
    socket->write(response);
}

QUrl unreachableUrl(const QString& scheme) {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return QUrl(QStringLiteral("%1://127.0.0.1:%2/").arg(scheme).arg(probe.serverPort()));
}

}  // namespace vellumora::testing
