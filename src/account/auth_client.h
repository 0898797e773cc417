#pragma once
// The client of the account service's REST API. It holds no token and no user; every
// authenticated call takes the bearer token. Calls run on the thread that owns the client and
// deliver their result to the callback there, exactly once, unless the client is destroyed
// first (then never). Nothing is retried, refreshed or cached.

#include <QObject>
#include <QUrl>
#include <chrono>
#include <functional>
#include <optional>

#include "account/auth_error.h"
#include "account/auth_json.h"
#include "account/auth_records.h"

class QNetworkAccessManager;
class QNetworkReply;

namespace vellumora {

// The request URL for an endpoint path: every leading '/' is removed and the rest appended to
// the base's path as one more component; inner slashes stay separators.
QUrl endpointUrl(const QUrl& base, QStringView path);

// The status check of an answer: nothing for 2xx, else the error the caller reports. A
// missing status means the answer was not HTTP at all.
std::optional<APIError> checkResponse(std::optional<int> httpStatus, QByteArrayView body);

class AuthClient : public QObject {
    Q_OBJECT
  public:
    template <class T>
    using Callback = std::function<void(AuthResult<T>)>;

    // A transfer that moves no data for this long is abandoned.
    static constexpr std::chrono::milliseconds kTransferTimeout{15000};
    // Answers above this size are refused rather than held in memory.
    static constexpr qint64 kMaxAnswerBytes = 16 * 1024 * 1024;

    explicit AuthClient(const QUrl& base, QObject* parent = nullptr);
    ~AuthClient() override;

    QUrl base() const { return base_; }
    void setTransferTimeout(std::chrono::milliseconds timeout);

    void signup(const QString& username, const QString& password, Callback<AuthResponse> done);
    void login(const QString& username, const QString& password, Callback<AuthResponse> done);
    void me(const QString& token, Callback<MeResponse> done);
    void logout(const QString& token, Callback<Done> done);
    void friends(const QString& token, Callback<FriendsResponse> done);
    void pendingRequests(const QString& token, Callback<PendingResponse> done);
    void sendFriendRequest(const QString& token, const QString& username, Callback<FriendRequestResult> done);
    void acceptRequest(const QString& token, const QString& requesterId, Callback<Done> done);
    void declineRequest(const QString& token, const QString& requesterId, Callback<Done> done);

  private:
    // The checked body of an answer, or why there is none.
    using Answer = AuthResult<QByteArray>;

    template <class T>
    void post(QStringView path, const StringMap& body, const std::optional<QString>& token, Callback<T> done);
    void postVoid(QStringView path, const StringMap& body, const std::optional<QString>& token,
                  Callback<Done> done);
    template <class T>
    void getURL(const QUrl& url, const std::optional<QString>& token, Callback<T> done);

    // POST when there is a body, GET otherwise.
    void send(const QUrl& url, const std::optional<StringMap>& body, const std::optional<QString>& token,
              std::function<void(Answer)> done);
    void failLater(std::function<void(Answer)> done, AuthFailure failure);
    void watch(QNetworkReply* reply, std::function<void(Answer)> done);
    static Answer check(QNetworkReply* reply, const QByteArray& body);

    QUrl base_;
    QNetworkAccessManager* network_;
};

}  // namespace vellumora
