#pragma once
// Who is signed in: restores the stored sign-in at launch, logs in, signs up and out, keeps the
// friends list and the incoming requests fresh by polling, and carries out the friend-request
// actions. Lives on the main thread; every operation is asynchronous and reports its end through
// an optional callback. Every assignment of a published field emits its …Changed signal, also
// when the value did not change.

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <functional>
#include <optional>
#include <variant>

#include "account/auth_error.h"
#include "account/auth_records.h"
#include "session/auth_user.h"

namespace vellumora {

class AuthClient;
class TokenStore;

// What the login screen says when a stored sign-in could not be checked at launch.
QString restoreFailureMessage(const AuthFailure& failure);

struct AuthModelConfig {
    QUrl base;
    // Empty: the application's own keychain service, and the key of `base`'s origin.
    QString keychainService;
    QString keychainKey;
    std::chrono::milliseconds pollInterval{5000};
};

class AuthModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(vellumora::AuthModel::State state READ state NOTIFY stateChanged)
    Q_PROPERTY(QList<vellumora::FriendDTO> friends READ friends NOTIFY friendsChanged)
    Q_PROPERTY(QList<vellumora::PendingRequestDTO> pendingRequests READ pendingRequests NOTIFY
                   pendingRequestsChanged)
    Q_PROPERTY(std::optional<QString> errorMessage READ errorMessage WRITE setErrorMessage NOTIFY
                   errorMessageChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
  public:
    struct Authenticated {
        AuthUser user;
        QString token;
        bool operator==(const Authenticated&) const = default;
    };
    struct Unauthenticated {
        bool operator==(const Unauthenticated&) const = default;
    };
    struct Loading {
        bool operator==(const Loading&) const = default;
    };
    // Equal when the same case and, when signed in, the same user and token.
    using State = std::variant<Authenticated, Unauthenticated, Loading>;

    explicit AuthModel(const QUrl& base, QObject* parent = nullptr);
    explicit AuthModel(const AuthModelConfig& config, QObject* parent = nullptr);
    ~AuthModel() override;

    const State& state() const { return state_; }
    const Authenticated* signedIn() const { return std::get_if<Authenticated>(&state_); }
    const QList<FriendDTO>& friends() const { return friends_; }
    const QList<PendingRequestDTO>& pendingRequests() const { return pendingRequests_; }
    const std::optional<QString>& errorMessage() const { return errorMessage_; }
    bool busy() const { return busy_; }
    // The login screen clears the message when the user switches between log-in and sign-up.
    void setErrorMessage(std::optional<QString> message);

    AuthClient& client() { return *client_; }
    bool isPolling() const { return polling_; }

    // Restores a stored sign-in; does nothing unless signed out and not already restoring. The
    // token is forgotten only when the service rejects it (401); any other failure keeps it
    // for the next launch and sets errorMessage.
    void bootstrap(std::function<void()> done = {});
    void login(const QString& username, const QString& password, std::function<void()> done = {});
    void signup(const QString& username, const QString& password, std::function<void()> done = {});
    // Signs out locally once the service has answered (or failed to).
    void logout(std::function<void()> done = {});
    // The service ended the session (the room connection said so): signs out here with
    // `message` for the login screen, and forgets the token.
    void endSession(const QString& message, std::function<void()> done = {});
    void refreshFriends(std::function<void()> done = {});
    // Delivers the text to show for the outcome.
    void sendFriendRequest(const QString& username, std::function<void(QString)> done);
    void accept(const QString& requesterId, std::function<void()> done = {});
    void decline(const QString& requesterId, std::function<void()> done = {});

  signals:
    void stateChanged();
    void friendsChanged();
    void pendingRequestsChanged();
    void errorMessageChanged();
    void busyChanged();

  private:
    template <class Call>
    void run(Call call, std::function<void()> done);
    void startFriendsRefresh();
    void stopFriendsRefresh();
    void pollPass(quint64 generation);
    // Runs done from the event loop: results never arrive inside the call that asked.
    void later(std::function<void()> done);

    void setState(State state);
    void setFriends(QList<FriendDTO> friends);
    void setPendingRequests(QList<PendingRequestDTO> requests);
    void setBusy(bool busy);
    bool stillSignedInWith(const QString& token) const;

    AuthClient* client_;
    TokenStore* tokenStore_;
    State state_ = Unauthenticated{};
    QList<FriendDTO> friends_;
    QList<PendingRequestDTO> pendingRequests_;
    std::optional<QString> errorMessage_;
    bool busy_ = false;
    bool restoring_ = false;

    std::chrono::milliseconds pollInterval_;
    QTimer pollTimer_;
    quint64 pollGeneration_ = 0;
    bool polling_ = false;
};

}  // namespace vellumora
