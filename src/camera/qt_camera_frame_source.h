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

    std::unique_ptr<QMediaCaptureSession> session_;
    std::unique_ptr<QVideoSink> sink_;
    std::unique_ptr<QCamera> camera_;
    std::function<void(bool)> pending_;
    QTimer startTimeout_;
};

}  // namespace vellumora
