#include "account/auth_model.h"

#include <memory>

#include "account/auth_client.h"
#include "account/token_store.h"

namespace vellumora {
namespace {

void call(const std::function<void()>& done) {
    if (done) {
        done();
    }
}

}  // namespace

QString restoreFailureMessage(const AuthFailure& failure) {
    if (const auto* transport = std::get_if<TransportError>(&failure)) {
        return QStringLiteral(
                   "Could not reach the server (%1). You stay signed in: relaunch to try "
                   "again, or log in.")
            .arg(transport->description);
    }
    return QStringLiteral(
               "The server could not restore your session (%1). You stay signed in: "
               "relaunch to try again, or log in.")
        .arg(userMessage(failure));
}

AuthModel::AuthModel(const QUrl& base, QObject* parent) : AuthModel(AuthModelConfig{base, {}, {}}, parent) {}

AuthModel::AuthModel(const AuthModelConfig& config, QObject* parent)
    : QObject(parent),
      client_(new AuthClient(config.base, this)),
      tokenStore_(config.keychainService.isEmpty()
                      ? new TokenStore(TokenStore::defaultService(), TokenStore::keyFor(config.base), this)
                      : new TokenStore(config.keychainService, config.keychainKey, this)),
      pollInterval_(config.pollInterval) {
    pollTimer_.setSingleShot(true);
    connect(&pollTimer_, &QTimer::timeout, this, [this] { pollPass(pollGeneration_); });
}

AuthModel::~AuthModel() = default;

void AuthModel::bootstrap(std::function<void()> done) {
    if (!std::holds_alternative<Unauthenticated>(state_) || restoring_) {
        later(std::move(done));
        return;
    }
    restoring_ = true;
    tokenStore_->loadToken([this, done = std::move(done)](std::optional<QString> token) {
        // A log-in may have finished while the keychain was read; it wins over the old token.
        if (!token || !std::holds_alternative<Unauthenticated>(state_)) {
            restoring_ = false;
            call(done);
            return;
        }
        setState(Loading{});
        client_->me(*token, [this, token = *token, done](AuthResult<MeResponse> result) {
            restoring_ = false;
            // A log-out or log-in overtook the check; its outcome stands and its token stays.
            if (!std::holds_alternative<Loading>(state_)) {
                call(done);
                return;
            }
            if (result.ok()) {
                setState(Authenticated{std::move(result).value().user, token});
                startFriendsRefresh();
                call(done);
                return;
            }
            // Only the service saying no ends the stored sign-in; an outage must not log the
            // user out for good, so the token stays for the next launch.
            const APIError* refusal = result.apiError();
            if (!refusal || refusal->statusCode != 401) {
                setErrorMessage(restoreFailureMessage(result.failure()));
                setState(Unauthenticated{});
                call(done);
                return;
            }
            tokenStore_->deleteToken([this, done] {
                if (std::holds_alternative<Loading>(state_)) {
                    setState(Unauthenticated{});
                }
                call(done);
            });
        });
    });
}

void AuthModel::login(const QString& username, const QString& password, std::function<void()> done) {
    run(
        [this, username, password](AuthClient::Callback<AuthResponse> answer) {
            client_->login(username, password, std::move(answer));
        },
        std::move(done));
}

void AuthModel::signup(const QString& username, const QString& password, std::function<void()> done) {
    run(
        [this, username, password](AuthClient::Callback<AuthResponse> answer) {
            client_->signup(username, password, std::move(answer));
        },
        std::move(done));
}

template <class Call>
void AuthModel::run(Call call, std::function<void()> done) {
    setBusy(true);
    setErrorMessage(std::nullopt);
    call([this, done = std::move(done)](AuthResult<AuthResponse> result) {
        if (!result.ok()) {
            setErrorMessage(userMessage(result.failure()));
            setBusy(false);
            vellumora::call(done);
            return;
        }
        AuthResponse response = std::move(result).value();
        const QString token = response.token;
        tokenStore_->saveToken(token, [this, response = std::move(response), done] {
            setState(Authenticated{response.user, response.token});
            startFriendsRefresh();
            setBusy(false);
            vellumora::call(done);
        });
    });
}

void AuthModel::logout(std::function<void()> done) {
    auto signOutLocally = [this, done = std::move(done)] {
        stopFriendsRefresh();
        tokenStore_->deleteToken([this, done] {
            setFriends({});
            setPendingRequests({});
            setState(Unauthenticated{});
            call(done);
        });
    };
    if (const Authenticated* session = signedIn()) {
        // The outcome does not matter: a failed log-out still signs out here.
        client_->logout(session->token, [signOutLocally](AuthResult<Done>) { signOutLocally(); });
    } else {
        signOutLocally();
    }
}

void AuthModel::endSession(const QString& message, std::function<void()> done) {
    if (!signedIn()) {
        later(std::move(done));
        return;
    }
    stopFriendsRefresh();
    tokenStore_->deleteToken([this, message, done = std::move(done)] {
        setFriends({});
        setPendingRequests({});
        setErrorMessage(message);
        setState(Unauthenticated{});
        call(done);
    });
}

void AuthModel::refreshFriends(std::function<void()> done) {
    const Authenticated* session = signedIn();
    if (!session) {
        later(std::move(done));
        return;
    }
    struct Pass {
        bool friendsAnswered = false;
        bool pendingAnswered = false;
        std::optional<QList<PendingRequestDTO>> pending;
        std::function<void()> done;
    };
    auto pass = std::make_shared<Pass>();
    pass->done = std::move(done);
    const QString token = session->token;

    // Friends are applied as soon as they arrive, requests only after the friends.
    auto finishWhenBoth = [this, pass, token] {
        if (!pass->friendsAnswered || !pass->pendingAnswered) {
            return;
        }
        if (pass->pending && stillSignedInWith(token)) {
            setPendingRequests(std::move(*pass->pending));
        }
        call(pass->done);
    };
    client_->friends(token, [this, pass, token, finishWhenBoth](AuthResult<FriendsResponse> result) {
        pass->friendsAnswered = true;
        if (result.ok() && stillSignedInWith(token)) {
            setFriends(std::move(result).value().friends);
        }
        finishWhenBoth();
    });
    client_->pendingRequests(token, [pass, finishWhenBoth](AuthResult<PendingResponse> result) {
        pass->pendingAnswered = true;
        if (result.ok()) {
            pass->pending = std::move(result).value().requests;
        }
        finishWhenBoth();
    });
}

void AuthModel::sendFriendRequest(const QString& username, std::function<void(QString)> done) {
    const Authenticated* session = signedIn();
    if (!session) {
        later([done = std::move(done)] { done(QStringLiteral("Not signed in.")); });
        return;
    }
    client_->sendFriendRequest(session->token, username,
                               [this, done = std::move(done)](AuthResult<FriendRequestResult> result) {
                                   if (!result.ok()) {
                                       done(userMessage(result.failure()));
                                       return;
                                   }
                                   refreshFriends([done, answer = std::move(result).value()] {
                                       const QString& name = answer.target.displayName;
                                       done(answer.status == QLatin1String("accepted")
                                                ? QStringLiteral("You're now friends with %1.").arg(name)
                                                : QStringLiteral("Request sent to %1.").arg(name));
                                   });
                               });
}

void AuthModel::accept(const QString& requesterId, std::function<void()> done) {
    const Authenticated* session = signedIn();
    if (!session) {
        later(std::move(done));
        return;
    }
    client_->acceptRequest(session->token, requesterId,
                           [this, done = std::move(done)](AuthResult<Done>) { refreshFriends(done); });
}

void AuthModel::decline(const QString& requesterId, std::function<void()> done) {
    const Authenticated* session = signedIn();
    if (!session) {
        later(std::move(done));
        return;
    }
    client_->declineRequest(session->token, requesterId,
                            [this, done = std::move(done)](AuthResult<Done>) { refreshFriends(done); });
}

void AuthModel::startFriendsRefresh() {
    stopFriendsRefresh();
    polling_ = true;
    pollPass(pollGeneration_);
}

void AuthModel::stopFriendsRefresh() {
    // A pass still in flight belongs to an older generation and schedules nothing more.
    ++pollGeneration_;
    pollTimer_.stop();
    polling_ = false;
}

void AuthModel::pollPass(quint64 generation) {
    refreshFriends([this, generation] {
        if (generation == pollGeneration_) {
            pollTimer_.start(pollInterval_);
        }
    });
}

void AuthModel::later(std::function<void()> done) {
    if (done) {
        QMetaObject::invokeMethod(this, std::move(done), Qt::QueuedConnection);
    }
}

bool AuthModel::stillSignedInWith(const QString& token) const {
    const Authenticated* session = signedIn();
    return session && session->token == token;
}

void AuthModel::setState(State state) {
    state_ = std::move(state);
    emit stateChanged();
}

void AuthModel::setFriends(QList<FriendDTO> friends) {
    friends_ = std::move(friends);
    emit friendsChanged();
}

void AuthModel::setPendingRequests(QList<PendingRequestDTO> requests) {
    pendingRequests_ = std::move(requests);
    emit pendingRequestsChanged();
}

void AuthModel::setErrorMessage(std::optional<QString> message) {
    errorMessage_ = std::move(message);
    emit errorMessageChanged();
}

void AuthModel::setBusy(bool busy) {
    busy_ = busy;
    emit busyChanged();
}

}  // namespace vellumora
