#pragma once
// Servers on loopback whose behaviour each test scripts, for provoking the faults a real server
// would rarely show on demand: a WebSocket room server and an HTTP service.
//
// The HTTP responder answers per method and path (without the query); a route's answers are
// used in order and the last one repeats. Unscripted routes get 404 with an error envelope. Every request is
// recorded.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QUrl>
#include <QWebSocket>
#include <QWebSocketServer>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

class QTcpSocket;

namespace vellumora::testing {

class ScriptedServer : public QObject {
    Q_OBJECT

  public:
    struct Peer {
        QUrl requestUrl;
        QByteArray authorization;  // the handshake's header
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

  private:
    QWebSocketServer server_;
    std::vector<std::unique_ptr<Peer>> peers_;
    std::function<void(QWebSocket&)> onConnection_;
};

struct RecordedRequest {
    QByteArray method;
    QByteArray path;
    QList<std::pair<QByteArray, QByteArray>> headers;  // names in lower case, in order
    QByteArray body;

    QList<QByteArray> headerValues(const QByteArray& lowerCaseName) const;
};

// Every field has a default, so a test names only what it scripts: {.status = 401, .delay = 300ms}.
struct ScriptedAnswer {
    int status = 200;
    QByteArray body{};
    std::chrono::milliseconds delay{0};
    bool silent = false;  // never answer, keep the connection open
    QList<std::pair<QByteArray, QByteArray>> headers{};

    static ScriptedAnswer json(int status, QByteArray body) {
        return {status, std::move(body), {}, false, {}};
    }
    static ScriptedAnswer never() { return {200, {}, {}, true, {}}; }
};

class ScriptedResponder : public QObject {
    Q_OBJECT
  public:
    explicit ScriptedResponder(QObject* parent = nullptr);

    QUrl baseUrl() const;
    void script(const QByteArray& method, const QByteArray& path, QList<ScriptedAnswer> answers);
    const QList<RecordedRequest>& requests() const { return requests_; }
    QList<RecordedRequest> requestsTo(const QByteArray& method, const QByteArray& path) const;

  private:
    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const ScriptedAnswer& answer);
    ScriptedAnswer nextAnswer(const QByteArray& method, const QByteArray& path);

    QTcpServer server_;
    QHash<QByteArray, std::deque<ScriptedAnswer>> scripts_;
    QHash<QTcpSocket*, QByteArray> buffers_;
    QList<RecordedRequest> requests_;
};

// A loopback URL on which nothing listens.
QUrl unreachableUrl(const QString& scheme = QStringLiteral("http"));

}  // namespace vellumora::testing
