#include "camera/qt_camera_frame_source.h"

#include <QCamera>
#include <QCameraDevice>
#include <QCameraFormat>
#include <QMediaCaptureSession>
#include <QMediaDevices>
#include <QVideoSink>

#include <utility>

namespace vellumora {

namespace {

// A camera that neither runs nor fails within this time counts as unavailable.
constexpr int kStartTimeoutMs = 8000;

// The largest picture that still keeps the preview fluid: the page is read from it, but analysis
// of every frame must keep up.
QCameraFormat preferredFormat(const QCameraDevice& device) {
    QCameraFormat best;
    auto pixels = [](const QCameraFormat& f) {
        return qint64(f.resolution().width()) * f.resolution().height();
    };
    for (const QCameraFormat& f : device.videoFormats()) {
        if (f.maxFrameRate() < 24 || pixels(f) > 1920 * 1080) {
            continue;
        }
        if (best.isNull() || pixels(f) > pixels(best)) {
            best = f;
        }
    }
    return best;
}

}  // namespace

QtCameraFrameSource::QtCameraFrameSource(QObject* parent) : FrameSource(parent) {
    startTimeout_.setSingleShot(true);
    startTimeout_.setInterval(kStartTimeoutMs);
    connect(&startTimeout_, &QTimer::timeout, this, [this] {
        release();
        finishStart(false);
    });
}

QtCameraFrameSource::~QtCameraFrameSource() {
    release();
}

void QtCameraFrameSource::release() {
    if (camera_) {
        disconnect(camera_.get(), nullptr, this, nullptr);
        camera_->stop();
    }
    if (sink_) {
        disconnect(sink_.get(), nullptr, this, nullptr);
    }
    // The session refers to camera and sink; it goes first.
    session_.reset();
    sink_.reset();
    camera_.reset();
}

void QtCameraFrameSource::start(std::function<void(bool running)> done) {
    if (pending_) {
        // A start is under way; the later caller learns the same outcome.
        pending_ = [first = std::move(pending_), second = std::move(done)](bool running) {
            first(running);
            if (second) {
                second(running);
            }
        };
        return;
    }
    pending_ = done ? std::move(done) : [](bool) {};
    if (camera_ && camera_->isActive()) {
        QTimer::singleShot(0, this, [this] { finishStart(true); });
        return;
    }
    if (!camera_) {
        const QCameraDevice device = QMediaDevices::defaultVideoInput();
        if (device.isNull()) {
            QTimer::singleShot(0, this, [this] { finishStart(false); });
            return;
        }
        camera_ = std::make_unique<QCamera>(device);
        if (const QCameraFormat format = preferredFormat(device); !format.isNull()) {
            camera_->setCameraFormat(format);
        }
        sink_ = std::make_unique<QVideoSink>();
        session_ = std::make_unique<QMediaCaptureSession>();
        session_->setCamera(camera_.get());
        session_->setVideoSink(sink_.get());
        // Frames arrive on the platform's capture thread and go straight on from there.
        connect(
            sink_.get(), &QVideoSink::videoFrameChanged, this,
            [this](const QVideoFrame& frame) { emit frameArrived(frame); }, Qt::DirectConnection);
        connect(camera_.get(), &QCamera::activeChanged, this, [this](bool active) {
            if (active) {
                finishStart(true);
            }
        });
        connect(camera_.get(), &QCamera::errorOccurred, this, [this] {
            // Not from within the camera's own signal: releasing deletes it.
            QTimer::singleShot(0, this, [this] {
                if (pending_) {
                    release();
                    finishStart(false);
                }
            });
        });
    }
    startTimeout_.start();
    camera_->start();
}

void QtCameraFrameSource::stop() {
    // Stopped means the device is closed and free for other programs, not merely paused.
    release();
    finishStart(false);
}

void QtCameraFrameSource::finishStart(bool running) {
    startTimeout_.stop();
    if (auto done = std::exchange(pending_, nullptr)) {
        done(running);
    }
}

}  // namespace vellumora
