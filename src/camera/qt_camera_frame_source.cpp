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
    m_startTimeout.setSingleShot(true);
    m_startTimeout.setInterval(kStartTimeoutMs);
    connect(&m_startTimeout, &QTimer::timeout, this, [this] {
        release();
        finishStart(false);
    });
}

QtCameraFrameSource::~QtCameraFrameSource() {
    release();
}

void QtCameraFrameSource::release() {
    if (m_camera) {
        disconnect(m_camera.get(), nullptr, this, nullptr);
        m_camera->stop();
    }
    if (m_sink) {
        disconnect(m_sink.get(), nullptr, this, nullptr);
    }
    // The session refers to camera and sink; it goes first.
    m_session.reset();
    m_sink.reset();
    m_camera.reset();
}

void QtCameraFrameSource::start(std::function<void(bool running)> done) {
    if (m_pending) {
        // A start is under way; the later caller learns the same outcome.
        m_pending = [first = std::move(m_pending), second = std::move(done)](bool running) {
            first(running);
            if (second) {
                second(running);
            }
        };
        return;
    }
    m_pending = done ? std::move(done) : [](bool) {};
    if (m_camera && m_camera->isActive()) {
        QTimer::singleShot(0, this, [this] { finishStart(true); });
        return;
    }
    if (!m_camera) {
        const QCameraDevice device = QMediaDevices::defaultVideoInput();
        if (device.isNull()) {
            QTimer::singleShot(0, this, [this] { finishStart(false); });
            return;
        }
        m_camera = std::make_unique<QCamera>(device);
        if (const QCameraFormat format = preferredFormat(device); !format.isNull()) {
            m_camera->setCameraFormat(format);
        }
        m_sink = std::make_unique<QVideoSink>();
        m_session = std::make_unique<QMediaCaptureSession>();
        m_session->setCamera(m_camera.get());
        m_session->setVideoSink(m_sink.get());
        // Frames arrive on the platform's capture thread and go straight on from there.
        connect(
            m_sink.get(), &QVideoSink::videoFrameChanged, this,
            [this](const QVideoFrame& frame) { emit frameArrived(frame); }, Qt::DirectConnection);
        connect(m_camera.get(), &QCamera::activeChanged, this, [this](bool active) {
            if (active) {
                finishStart(true);
            }
        });
        connect(m_camera.get(), &QCamera::errorOccurred, this, [this] {
            // Not from within the camera's own signal: releasing deletes it.
            QTimer::singleShot(0, this, [this] {
                if (m_pending) {
                    release();
                    finishStart(false);
                }
            });
        });
    }
    m_startTimeout.start();
    m_camera->start();
}

void QtCameraFrameSource::stop() {
    // Stopped means the device is closed and free for other programs, not merely paused.
    release();
    finishStart(false);
}

void QtCameraFrameSource::finishStart(bool running) {
    m_startTimeout.stop();
    if (auto done = std::exchange(m_pending, nullptr)) {
        done(running);
    }
}

}  // namespace vellumora
