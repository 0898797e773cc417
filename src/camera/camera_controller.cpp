#include "camera/camera_controller.h"

#include "camera/page_tracker.h"
#include "camera/qt_camera_frame_source.h"
#include "scan/image_matrix.h"
#include "scan/page_detector.h"

#include <QPointer>
#include <QVideoFrameFormat>

#include <mutex>

namespace vellumora {

namespace {

// RGB frames are copied straight out; only other formats (YUV) take Qt's general conversion,
// which may set up a GPU context on the calling thread.
QImage imageOf(QVideoFrame frame) {
    const QImage::Format format = QVideoFrameFormat::imageFormatFromPixelFormat(frame.pixelFormat());
    if (format != QImage::Format_Invalid && frame.map(QVideoFrame::ReadOnly)) {
        QImage copy =
            QImage(frame.bits(0), frame.width(), frame.height(), frame.bytesPerLine(0), format).copy();
        frame.unmap();
        return copy;
    }
    return frame.toImage();
}

}  // namespace

// What the frame callback shares with the controller; it may run on a capture thread while
// the controller is being destroyed, so it holds this state, never the controller.
struct CameraController::Shared {
    std::mutex mutex;
    QVideoFrame latest;
    bool analysing = false;    // a frame is with the worker
    bool framePosted = false;  // a frame notification is on its way to the main thread
    bool closed = false;       // the controller is going away: post nothing more
};

CameraController::CameraController(QObject* parent)
    : CameraController(std::make_unique<QtCameraFrameSource>(), &CameraController::detectPageInFrame,
                       parent) {}

CameraController::CameraController(std::unique_ptr<FrameSource> source, Detector detector, QObject* parent)
    : QObject(parent),
      source_(std::move(source)),
      detector_(std::move(detector)),
      shared_(std::make_shared<Shared>()),
      tracker_(std::make_unique<PageTracker>()),
      workerContext_(std::make_unique<QObject>()) {
    worker_.setObjectName(QStringLiteral("vellumora.camera"));
    workerContext_->moveToThread(&worker_);
    worker_.start();
    connect(
        source_.get(), &FrameSource::frameArrived, this, [this](const QVideoFrame& f) { onFrame(f); },
        Qt::DirectConnection);
}

CameraController::~CameraController() {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->closed = true;
    }
    disconnect(source_.get(), nullptr, this, nullptr);
    source_->stop();
    worker_.quit();
    worker_.wait();
    workerContext_.reset();
    source_.reset();
}

void CameraController::start(std::function<void(bool running)> done) {
    source_->start([self = QPointer(this), done = std::move(done)](bool running) {
        if (self) {
            self->setIsRunning(running);
        }
        if (done) {
            done(running);
        }
    });
}

void CameraController::stop() {
    source_->stop();
}

QVideoFrame CameraController::latestFrame() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->latest;
}

void CameraController::onFrame(const QVideoFrame& frame) {
    if (!frame.isValid()) {
        return;
    }
    std::lock_guard lock(shared_->mutex);
    if (shared_->closed) {
        return;
    }
    shared_->latest = frame;
    if (!shared_->framePosted) {
        shared_->framePosted = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                QSize size;
                {
                    std::lock_guard lock(shared_->mutex);
                    shared_->framePosted = false;
                    size = shared_->latest.size();
                }
                setLastImageSize(size);
                emit frameChanged();
            },
            Qt::QueuedConnection);
    }
    if (!shared_->analysing) {
        shared_->analysing = true;
        QMetaObject::invokeMethod(
            workerContext_.get(), [this, frame] { analyse(frame); }, Qt::QueuedConnection);
    }
}

void CameraController::analyse(const QVideoFrame& frame) {
    const QImage image = imageOf(frame);
    std::optional<Quad> quad;
    try {
        quad = image.isNull() ? std::nullopt : detector_(image);
    } catch (const std::exception&) {
        quad.reset();  // a detector that fails on a frame saw no page in it
    }
    std::optional<double> score;
    bool lost = false;
    if (quad) {
        score = tracker_->pageFound(*quad, image.size());
    } else {
        lost = tracker_->pageMissing();
    }
    std::lock_guard lock(shared_->mutex);
    shared_->analysing = false;
    if (!quad && !lost) {
        return;  // a frame or five without the page change nothing yet
    }
    // The destructor waits for this thread before the controller goes, and its pending calls go
    // with it.
    QMetaObject::invokeMethod(
        this,
        [this, quad, score] {
            setStabilityScore(score.value_or(0.0));
            if (quad) {
                if (onQuadDetected) {
                    onQuadDetected(*quad);
                }
            } else if (onQuadLost) {
                onQuadLost();
            }
        },
        Qt::QueuedConnection);
}

void CameraController::captureFrame(std::function<void(std::optional<QImage>)> completion) {
    QMetaObject::invokeMethod(
        workerContext_.get(),
        [this, completion = std::move(completion)]() mutable {
            const QVideoFrame frame = latestFrame();
            std::optional<QImage> image;
            if (frame.isValid()) {
                if (QImage converted = imageOf(frame); !converted.isNull()) {
                    image = std::move(converted);
                }
            }
            QMetaObject::invokeMethod(
                this, [completion = std::move(completion), image = std::move(image)] { completion(image); },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

std::optional<Quad> CameraController::detectPageInFrame(const QImage& frame) {
    QImage holder;
    const cv::Mat pixels = scan::bgraView(frame, holder);
    return scan::detectPage(pixels);
}

void CameraController::setIsRunning(bool value) {
    isRunning_ = value;
    emit isRunningChanged(value);
}

void CameraController::setLastImageSize(QSize value) {
    lastImageSize_ = value;
    emit lastImageSizeChanged(value);
}

void CameraController::setStabilityScore(double value) {
    stabilityScore_ = value;
    emit stabilityScoreChanged(value);
}

}  // namespace vellumora
