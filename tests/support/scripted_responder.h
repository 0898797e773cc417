#pragma once
// A scripted HTTP/1.1 server on loopback for provoking the answers a real service rarely
// gives. Answers are scripted per method and path; a route's answers are used in order and the
// last one repeats. Unscripted routes get 404 with an error envelope. Every request is recorded.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QUrl>
#include <chrono>
#include <deque>
#include <utility>

class QTcpSocket;

namespace vellumora::testing {

struct RecordedRequest {
    QByteArray method;
    QByteArray path;
    QList<std::pair<QByteArray, QByteArray>> headers;  // names in lower case, in order
    QByteArray body;

    QList<QByteArray> headerValues(const QByteArray& lowerCaseName) const;
};

struct ScriptedAnswer {
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
    std::chrono::milliseconds delay{0};
    bool silent = false;  // never answer, keep the connection open
    QList<std::pair<QByteArray, QByteArray>> headers;

    static ScriptedAnswer json(int status, QByteArray body) {
        return raw(status, std::move(body), "application/json");
    }
    static ScriptedAnswer raw(int status, QByteArray body, QByteArray contentType) {
        ScriptedAnswer answer;
        answer.status = status;
        answer.body = std::move(body);
        answer.contentType = std::move(contentType);
        return answer;
    }
    static ScriptedAnswer never() {
        ScriptedAnswer answer;
        answer.silent = true;
        return answer;
    }
};

class ScriptedResponder : public QObject {
    Q_OBJECT
  public:
    explicit ScriptedResponder(QObject* parent = nullptr);

    QUrl baseUrl() const;
    void script(const QByteArray& method, const QByteArray& path, QList<ScriptedAnswer> answers);
    const QList<RecordedRequest>& requests() const { return m_requests; }
    QList<RecordedRequest> requestsTo(const QByteArray& method, const QByteArray& path) const;

  signals:
    void requestReceived();

  private:
    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const ScriptedAnswer& answer);
    ScriptedAnswer nextAnswer(const QByteArray& method, const QByteArray& path);

    QTcpServer m_server;
    QHash<QByteArray, std::deque<ScriptedAnswer>> m_scripts;
    QHash<QTcpSocket*, QByteArray> m_buffers;
    QList<RecordedRequest> m_requests;
};

// A loopback URL on which nothing listens.
QUrl unreachableUrl(const QString& scheme = QStringLiteral("http"));

}  // namespace vellumora::testing
