#include "account/token_store.h"

#include <qt6keychain/keychain.h>
#include <QStringDecoder>

namespace vellumora {

std::optional<QString> decodeUtf8Strict(const QByteArray& bytes) {
    // Stateless: a truncated sequence at the end is an error, not something to wait for.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        return std::nullopt;
    }
    return text;
}

QString TokenStore::keyFor(const QUrl& base) {
    const QUrl origin =
        base.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::RemoveUserInfo);
    QUrl withPort = origin;
    withPort.setPort(origin.port(origin.scheme() == u"https" ? 443 : 80));
    return defaultKey() + u'@' + withPort.toString();
}

TokenStore::TokenStore(QObject* parent) : TokenStore(defaultService(), defaultKey(), parent) {}

TokenStore::TokenStore(QString service, QString key, QObject* parent)
    : QObject(parent), service_(std::move(service)), key_(std::move(key)) {}

TokenStore::~TokenStore() = default;

// Jobs own themselves (auto-delete once finished) rather than being our children: the keychain
// backend still refers to a job while its call is under way, so a job must not die with us.
// Their callbacks are bound to this store and simply stop when it is gone.
template <class Job>
Job* TokenStore::makeJob() const {
    auto* job = new Job(service_);
    job->setAutoDelete(true);
    job->setKey(key_);
    return job;
}

void TokenStore::saveToken(const QString& token, std::function<void()> done) {
    enqueue([this, token, done = std::move(done)](std::function<void()> finished) {
        removeItem([this, token, done, finished = std::move(finished)] {
            auto* job = makeJob<QKeychain::WritePasswordJob>();
            job->setTextData(token);
            connect(job, &QKeychain::Job::finished, this, [done, finished](QKeychain::Job*) {
                if (done) {
                    done();
                }
                finished();
            });
            job->start();
        });
    });
}

void TokenStore::loadToken(std::function<void(std::optional<QString>)> done) {
    enqueue([this, done = std::move(done)](std::function<void()> finished) {
        auto* job = makeJob<QKeychain::ReadPasswordJob>();
        connect(job, &QKeychain::Job::finished, this, [done, finished](QKeychain::Job* finishedJob) {
            auto* read = static_cast<QKeychain::ReadPasswordJob*>(finishedJob);
            std::optional<QString> token;
            if (read->error() == QKeychain::NoError) {
                token = decodeUtf8Strict(read->binaryData());
            }
            done(std::move(token));
            finished();
        });
        job->start();
    });
}

void TokenStore::deleteToken(std::function<void()> done) {
    enqueue([this, done = std::move(done)](std::function<void()> finished) {
        removeItem([done, finished = std::move(finished)] {
            if (done) {
                done();
            }
            finished();
        });
    });
}

void TokenStore::removeItem(std::function<void()> then) {
    auto* job = makeJob<QKeychain::DeletePasswordJob>();
    connect(job, &QKeychain::Job::finished, this, [then = std::move(then)](QKeychain::Job*) { then(); });
    job->start();
}

void TokenStore::enqueue(Operation operation) {
    queue_.push_back(std::move(operation));
    if (!running_) {
        runNext();
    }
}

void TokenStore::runNext() {
    if (queue_.empty()) {
        running_ = false;
        return;
    }
    running_ = true;
    Operation operation = std::move(queue_.front());
    queue_.pop_front();
    operation([this] { runNext(); });
}

}  // namespace vellumora
