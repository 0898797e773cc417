#pragma once
// The system's default camera through Qt Multimedia.

#include "camera/frame_source.h"

#include <QTimer>

#include <memory>

class QCamera;
class QMediaCaptureSession;
class QVideoSink;

namespace vellumora {

class QtCameraFrameSource : public FrameSource {
    Q_OBJECT

  public:
    explicit QtCameraFrameSource(QObject* parent = nullptr);
    ~QtCameraFrameSource() override;

    void start(std::function<void(bool running)> done) override;
    void stop() override;

  private:
    void release();
    void finishStart(bool running);

    std::unique_ptr<QMediaCaptureSession> m_session;
    std::unique_ptr<QVideoSink> m_sink;
    std::unique_ptr<QCamera> m_camera;
    std::function<void(bool)> m_pending;
    QTimer m_startTimeout;
};

}  // namespace vellumora
