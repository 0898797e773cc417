#pragma once
// A WebSocket server on loopback whose behaviour each test scripts, for provoking the faults a
// real room server would rarely show on demand.

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QUrl>
#include <QWebSocket>
#include <QWebSocketServer>

#include <functional>
#include <memory>
#include <vector>

namespace vellumora::testing {

class ScriptedServer : public QObject {
    Q_OBJECT

  public:
    struct Peer {
        QPointer<QWebSocket> socket;
        QUrl requestUrl;
        QList<QString> received;
        bool closed = false;
        int closeCode = -1;
    };

    explicit ScriptedServer(QObject* parent = nullptr);
    ~ScriptedServer() override;

    // Runs for every accepted connection, right after the handshake.
    void setOnConnection(std::function<void(QWebSocket&)> script) { onConnection_ = std::move(script); }

    QUrl url() const;
    int connectionCount() const { return int(peers_.size()); }
    Peer& peer(int index) { return *peers_.at(std::size_t(index)); }
    Peer& last() { return *peers_.back(); }

  private:
    QWebSocketServer server_;
    std::vector<std::unique_ptr<Peer>> peers_;
    std::function<void(QWebSocket&)> onConnection_;
};

// Accepts TCP connections and answers every WebSocket handshake with "401 Unauthorized".
class RefusingServer : public QObject {
    Q_OBJECT

  public:
    explicit RefusingServer(QObject* parent = nullptr);
    QUrl url() const;
    int attempts() const { return attempts_; }

  private:
    QTcpServer server_;
    int attempts_ = 0;
};

// A loopback URL on which nothing listens.
QUrl closedPortUrl();

}  // namespace vellumora::testing
