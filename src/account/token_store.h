#pragma once
// The session token in the system keychain (the Secret Service on Linux): one item under a
// service and a key. No failure reaches the caller: a failed load looks like an empty store,
// a failed save leaves no token, deleting nothing is fine.
//
// The keychain answers asynchronously. Operations run one after another in the order they were
// asked for, so a delete asked after a save always wins, and each callback runs on the owning
// thread once its operation is over (never if the store is destroyed first).

#include <QObject>
#include <QString>
#include <QUrl>
#include <deque>
#include <functional>
#include <optional>

namespace vellumora {

class TokenStore : public QObject {
    Q_OBJECT
  public:
    static QString defaultService() { return QStringLiteral("com.vellumora.app"); }
    static QString defaultKey() { return QStringLiteral("session.token"); }
    // The key of the token issued by the service at `base`: one per origin, so a launch against
    // another server never finds, let alone sends, a token that is not its own.
    static QString keyFor(const QUrl& base);

    explicit TokenStore(QObject* parent = nullptr);
    TokenStore(QString service, QString key, QObject* parent = nullptr);
    ~TokenStore() override;

    QString service() const { return service_; }
    QString key() const { return key_; }

    // Replaces any stored token: the old item is deleted, then the new one written.
    void saveToken(const QString& token, std::function<void()> done = {});
    // The stored token, or nothing when there is none, the keychain fails, or the stored
    // bytes are not valid UTF-8. An empty stored token loads as an empty string.
    void loadToken(std::function<void(std::optional<QString>)> done);
    void deleteToken(std::function<void()> done = {});

  private:
    using Operation = std::function<void(std::function<void()> finished)>;

    void enqueue(Operation operation);
    void runNext();
    void removeItem(std::function<void()> then);
    template <class Job>
    Job* makeJob() const;

    QString service_;
    QString key_;
    std::deque<Operation> queue_;
    bool running_ = false;
};

// Strict UTF-8: nothing for invalid bytes, an empty string for no bytes.
std::optional<QString> decodeUtf8Strict(const QByteArray& bytes);

}  // namespace vellumora
