#include "account/token_store.h"

#include <QStringDecoder>
#include <qt6keychain/keychain.h>

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

TokenStore::TokenStore(QObject* parent) : TokenStore(defaultService(), defaultKey(), parent) {}

TokenStore::TokenStore(QString service, QString key, QObject* parent)
    : QObject(parent), m_service(std::move(service)), m_key(std::move(key)) {}

TokenStore::~TokenStore() {
    for (QKeychain::Job* job : findChildren<QKeychain::Job*>()) {
        job->disconnect(this);
    }
}

void TokenStore::saveToken(const QString& token, std::function<void()> done) {
    enqueue([this, token, done = std::move(done)](std::function<void()> finished) {
        removeItem([this, token, done, finished = std::move(finished)] {
            auto* job = new QKeychain::WritePasswordJob(m_service, this);
            job->setKey(m_key);
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
        auto* job = new QKeychain::ReadPasswordJob(m_service, this);
        job->setKey(m_key);
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
    auto* job = new QKeychain::DeletePasswordJob(m_service, this);
    job->setKey(m_key);
    connect(job, &QKeychain::Job::finished, this, [then = std::move(then)](QKeychain::Job*) { then(); });
    job->start();
}

void TokenStore::enqueue(Operation operation) {
    m_queue.push_back(std::move(operation));
    if (!m_running) {
        runNext();
    }
}

void TokenStore::runNext() {
    if (m_queue.empty()) {
        m_running = false;
        return;
    }
    m_running = true;
    Operation operation = std::move(m_queue.front());
    m_queue.pop_front();
    operation([this] { runNext(); });
}

}  // namespace vellumora
