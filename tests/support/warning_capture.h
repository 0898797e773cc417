#pragma once
// Collects the warnings logged (from any thread) while it exists, for tests of log lines.

#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QtGlobal>

#include <utility>

namespace vellumora::testing {

class WarningCapture {
  public:
    WarningCapture() : previous_(qInstallMessageHandler(&record)) { current() = this; }
    ~WarningCapture() {
        qInstallMessageHandler(previous_);
        current() = nullptr;
    }
    WarningCapture(const WarningCapture&) = delete;
    WarningCapture& operator=(const WarningCapture&) = delete;

    QStringList take() {
        QMutexLocker lock(&mutex_);
        return std::exchange(warnings_, {});
    }

  private:
    static WarningCapture*& current() {
        static WarningCapture* capture = nullptr;
        return capture;
    }
    static void record(QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (WarningCapture* capture = current(); capture && type == QtWarningMsg) {
            QMutexLocker lock(&capture->mutex_);
            capture->warnings_ << text;
        }
    }

    QtMessageHandler previous_;
    QMutex mutex_;
    QStringList warnings_;
};

}  // namespace vellumora::testing
