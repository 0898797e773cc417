#include "account/auth_client.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <memory>

namespace vellumora {
namespace {

constexpr bool isNetworkLayerError(QNetworkReply::NetworkError error) {
    // 1-99: connection, timeout, TLS, cancellation; the answer is incomplete or absent.
    return error > QNetworkReply::NoError && error <= QNetworkReply::UnknownNetworkError;
}

// A header value must not carry control characters: CR or LF would start a new header.
bool isSendableToken(const QString& token) {
    for (const QChar c : token) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) {
            return false;
        }
    }
    return true;
}

}  // namespace

QUrl endpointUrl(const QUrl& base, QStringView path) {
    while (path.startsWith(u'/')) {
        path = path.mid(1);
    }
    QString full = base.path(QUrl::FullyEncoded);
    if (!full.endsWith(u'/')) {
        full += u'/';
    }
    full += QString::fromLatin1(QUrl::toPercentEncoding(path.toString(), "/"));
    QUrl url = base;
    url.setPath(full, QUrl::TolerantMode);
    return url;
}

std::optional<APIError> checkResponse(std::optional<int> httpStatus, QByteArrayView body) {
    if (!httpStatus) {
        return APIError{QStringLiteral("Bad server response"), -1};
    }
    const int status = *httpStatus;
    if (status >= 200 && status <= 299) {
        return std::nullopt;
    }
    auto envelope = decodeRecord<APIErrorEnvelope>(body);
    if (envelope.ok()) {
        return APIError{std::move(envelope).value().error, status};
    }
    return APIError{QStringLiteral("HTTP %1").arg(status), status};
}

AuthClient::AuthClient(const QUrl& base, QObject* parent)
    : QObject(parent), base_(base), network_(new QNetworkAccessManager(this)) {
    network_->setTransferTimeout(static_cast<int>(kTransferTimeout.count()));
    // The bearer token must never follow a redirect to another origin.
    network_->setRedirectPolicy(QNetworkRequest::SameOriginRedirectPolicy);
}

AuthClient::~AuthClient() {
    // Replies die with the network manager; none of them may call back into a half-destroyed
    // owner on the way out.
    for (QNetworkReply* reply : network_->findChildren<QNetworkReply*>()) {
        reply->disconnect(this);
    }
}

void AuthClient::setTransferTimeout(std::chrono::milliseconds timeout) {
    network_->setTransferTimeout(static_cast<int>(timeout.count()));
}

void AuthClient::signup(const QString& username, const QString& password, Callback<AuthResponse> done) {
    post<AuthResponse>(u"/auth/signup",
                       {{QStringLiteral("username"), username}, {QStringLiteral("password"), password}},
                       std::nullopt, std::move(done));
}

void AuthClient::login(const QString& username, const QString& password, Callback<AuthResponse> done) {
    post<AuthResponse>(u"/auth/login",
                       {{QStringLiteral("username"), username}, {QStringLiteral("password"), password}},
                       std::nullopt, std::move(done));
}

void AuthClient::me(const QString& token, Callback<MeResponse> done) {
    getURL<MeResponse>(endpointUrl(base_, u"/auth/me"), token, std::move(done));
}

void AuthClient::logout(const QString& token, Callback<Done> done) {
    postVoid(u"/auth/logout", {}, token, std::move(done));
}

void AuthClient::friends(const QString& token, Callback<FriendsResponse> done) {
    getURL<FriendsResponse>(endpointUrl(base_, u"/friends"), token, std::move(done));
}

void AuthClient::pendingRequests(const QString& token, Callback<PendingResponse> done) {
    getURL<PendingResponse>(endpointUrl(base_, u"/friends/requests"), token, std::move(done));
}

void AuthClient::sendFriendRequest(const QString& token, const QString& username,
                                   Callback<FriendRequestResult> done) {
    post<FriendRequestResult>(u"/friends/request", {{QStringLiteral("username"), username}}, token,
                              std::move(done));
}

void AuthClient::acceptRequest(const QString& token, const QString& requesterId, Callback<Done> done) {
    postVoid(u"/friends/accept", {{QStringLiteral("requesterId"), requesterId}}, token, std::move(done));
}

void AuthClient::declineRequest(const QString& token, const QString& requesterId, Callback<Done> done) {
    postVoid(u"/friends/decline", {{QStringLiteral("requesterId"), requesterId}}, token, std::move(done));
}

template <class T>
void AuthClient::post(QStringView path, const StringMap& body, const std::optional<QString>& token,
                      Callback<T> done) {
    send(endpointUrl(base_, path), body, token, [done = std::move(done)](Answer answer) {
        if (!answer.ok()) {
            done(answer.failure());
            return;
        }
        done(decodeRecord<T>(answer.value()));
    });
}

void AuthClient::postVoid(QStringView path, const StringMap& body, const std::optional<QString>& token,
                          Callback<Done> done) {
    send(endpointUrl(base_, path), body, token, [done = std::move(done)](Answer answer) {
        if (!answer.ok()) {
            done(answer.failure());
            return;
        }
        done(Done{});
    });
}

template <class T>
void AuthClient::getURL(const QUrl& url, const std::optional<QString>& token, Callback<T> done) {
    send(url, std::nullopt, token, [done = std::move(done)](Answer answer) {
        if (!answer.ok()) {
            done(answer.failure());
            return;
        }
        done(decodeRecord<T>(answer.value()));
    });
}

void AuthClient::send(const QUrl& url, const std::optional<StringMap>& body,
                      const std::optional<QString>& token, std::function<void(Answer)> done) {
    QByteArray encoded;
    if (body) {
        auto result = encodeStringMap(*body);
        if (!result.ok()) {
            failLater(std::move(done), result.failure());
            return;
        }
        encoded = std::move(result).value();
    }
    if (token && !isSendableToken(*token)) {
        failLater(std::move(done),
                  CodingError{QStringLiteral("The sign-in token contains characters that cannot be sent.")});
        return;
    }

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::AuthenticationReuseAttribute, QNetworkRequest::Manual);
    if (token) {
        request.setRawHeader("Authorization", "Bearer " + token->toUtf8());
    }

    QNetworkReply* reply = nullptr;
    if (body) {
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
        reply = network_->post(request, encoded);
    } else {
        reply = network_->get(request);
    }
    watch(reply, std::move(done));
}

void AuthClient::failLater(std::function<void(Answer)> done, AuthFailure failure) {
    // Results always arrive from the event loop, never from inside the call that asked.
    QMetaObject::invokeMethod(
        this, [done = std::move(done), failure = std::move(failure)] { done(failure); },
        Qt::QueuedConnection);
}

void AuthClient::watch(QNetworkReply* reply, std::function<void(Answer)> done) {
    auto tooLarge = std::make_shared<bool>(false);
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply, tooLarge](qint64 received, qint64) {
        if (received > kMaxAnswerBytes && !*tooLarge) {
            *tooLarge = true;
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, [reply, tooLarge, done = std::move(done)] {
        reply->deleteLater();
        if (*tooLarge) {
            done(AuthFailure(CodingError{QStringLiteral("The server's answer is too large.")}));
            return;
        }
        done(check(reply, reply->isOpen() ? reply->readAll() : QByteArray()));
    });
}

AuthClient::Answer AuthClient::check(QNetworkReply* reply, const QByteArray& body) {
    // Qt fakes a status for some other schemes (file: answers 200), so the scheme decides too.
    const QString scheme = reply->url().scheme();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const bool isHttp = status.isValid() && (scheme == u"http" || scheme == u"https");
    const auto error = reply->error();
    if ((!isHttp && error != QNetworkReply::NoError) || isNetworkLayerError(error)) {
        return AuthFailure(TransportError{static_cast<int>(error), reply->errorString()});
    }
    const auto failure = checkResponse(isHttp ? std::optional<int>(status.toInt()) : std::nullopt, body);
    if (failure) {
        return AuthFailure(*failure);
    }
    return body;
}

}  // namespace vellumora
