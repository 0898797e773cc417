#include "canvasview/picture_export.h"

#include "canvas/canvas_picture.h"
#include "canvasview/canvas_coordinator.h"
#include "canvasview/canvas_input_view.h"

#include <QClipboard>
#include <QDir>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QStandardPaths>
#include <QtConcurrent/QtConcurrentRun>

#include <memory>
#include <utility>

namespace vellumora {

namespace {

const QString kUnreadable = QStringLiteral("the canvas could not be read back from the graphics driver");

// Runs `work` on the thread pool and hands its result to `done` on `context`'s thread.
template <typename Work, typename Done>
void offThread(QObject* context, Work work, Done done) {
    using Result = decltype(work());
    auto* watcher = new QFutureWatcher<Result>(context);
    QObject::connect(watcher, &QFutureWatcher<Result>::finished, context, [watcher, done] {
        done(watcher->result());
        watcher->deleteLater();
    });
    watcher->setFuture(QtConcurrent::run(std::move(work)));
}

}  // namespace

PictureExport::PictureExport(CanvasInputView& view, CanvasCoordinator& coordinator, QObject* parent)
    : QObject(parent), view_(view), coordinator_(coordinator) {
    connect(&poll_, &QTimer::timeout, this, &PictureExport::pollReadBack);
}

QString PictureExport::suggestedPath(const QString& folder, const std::optional<QString>& roomName,
                                     QDate date) {
    QString name;
    for (const QChar c : roomName.value_or(QString()).simplified())
        name += c.isPrint() && !QStringLiteral("/\\:*?\"<>|").contains(c) ? c : QChar(u'-');
    // A name of dots alone would be a folder, or hidden.
    while (name.startsWith(u'.')) name.remove(0, 1);
    if (name.trimmed().isEmpty()) name = QStringLiteral("Vellumora");
    return QDir(folder).filePath(name.trimmed() + u' ' + date.toString(Qt::ISODate) + QStringLiteral(".png"));
}

QString PictureExport::picturesFolder() {
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (!pictures.isEmpty() && QDir().mkpath(pictures)) return pictures;
    return QDir::homePath();
}

void PictureExport::saveTo(const QString& path) {
    withPicture([this, path](QImage readBack) {
        if (readBack.isNull()) {
            emit failed(QStringLiteral("Could not export the picture: ") + kUnreadable + u'.');
            return;
        }
        offThread(
            this, [readBack, path] { return writePicturePng(finishPicture(readBack), path); },
            [this, path](const QString& error) {
                if (error.isEmpty()) {
                    emit saved(path);
                } else {
                    emit failed(QStringLiteral("Could not export the picture to %1: %2.")
                                    .arg(QDir::toNativeSeparators(path), error));
                }
            });
    });
}

void PictureExport::copy() {
    withPicture([this](QImage readBack) {
        if (readBack.isNull()) {
            emit failed(QStringLiteral("Could not copy the picture: ") + kUnreadable + u'.');
            return;
        }
        offThread(
            this, [readBack] { return finishPicture(readBack); },
            [this](const QImage& picture) {
                QGuiApplication::clipboard()->setImage(picture);
                emit copied();
            });
    });
}

void PictureExport::withPicture(std::function<void(QImage)> job) {
    jobs_.push_back(std::move(job));
    if (jobs_.size() > 1) return;
    if (!coordinator_.replayProgress()) {
        readBack();
        return;
    }
    // A single-shot connection: the picture is taken the first time the room is caught up.
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = connect(&coordinator_, &CanvasCoordinator::replayProgressChanged, this,
                          [this, connection](std::optional<double> progress) {
                              if (progress) return;
                              disconnect(*connection);
                              readBack();
                          });
}

void PictureExport::readBack() {
    if (view_.startPicture()) {
        poll_.start(kPollInterval);
    } else {
        pollReadBack();
    }
}

void PictureExport::pollReadBack() {
    const std::optional<QImage> picture = view_.finishedPicture();
    if (!picture) return;
    poll_.stop();
    for (const auto& job : std::exchange(jobs_, {})) job(*picture);
}

}  // namespace vellumora
