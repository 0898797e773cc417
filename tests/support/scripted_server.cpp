#include "support/scripted_server.h"
#include "support/scripted_responder.h"

#include <QHostAddress>
#include <QTcpSocket>

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
            peer->socket = socket;
            peer->requestUrl = socket->requestUrl();
            Peer* raw = peer.get();
            peers_.push_back(std::move(peer));
            QObject::connect(socket, &QWebSocket::textMessageReceived, this,
                             [raw](const QString& text) { raw->received.append(text); });
            QObject::connect(socket, &QWebSocket::disconnected, this, [raw, socket] {
                raw->closed = true;
                raw->closeCode = int(socket->closeCode());
            });
            if (onConnection_) {
                onConnection_(*socket);
            }
        }
    });
}

ScriptedServer::~ScriptedServer() {
    for (QObject* child : children()) {
        QObject::disconnect(child, nullptr, this, nullptr);
    }
}

QUrl ScriptedServer::url() const {
    return QUrl(QStringLiteral("ws://127.0.0.1:%1/").arg(server_.serverPort()));
}

RefusingServer::RefusingServer(QObject* parent) : QObject(parent) {
    if (!server_.listen(QHostAddress::LocalHost, 0)) {
        throw std::runtime_error("refusing server cannot listen");
    }
    QObject::connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            ++attempts_;
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                if (socket->peek(socket->bytesAvailable()).contains("\r\n\r\n")) {
                    socket->readAll();
                    socket->write(
                        "HTTP/1.1 401 Unauthorized\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
                    socket->disconnectFromHost();
                }
            });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

QUrl RefusingServer::url() const {
    return QUrl(QStringLiteral("ws://127.0.0.1:%1/").arg(server_.serverPort()));
}

QUrl closedPortUrl() {
    return unreachableUrl(QStringLiteral("ws"));
}

QUrl unreachableUrl(const QString& scheme) {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return QUrl(QStringLiteral("%1://127.0.0.1:%2/").arg(scheme).arg(probe.serverPort()));
}

}  // namespace vellumora::testing
