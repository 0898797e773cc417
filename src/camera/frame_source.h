#pragma once
// Where camera frames come from: the webcam through Qt Multimedia, or anything a test feeds in.

#include <QObject>
#include <QVideoFrame>

#include <functional>

namespace vellumora {

class FrameSource : public QObject {
    Q_OBJECT

  public:
    using QObject::QObject;

    // Starts delivering frames. `done` runs later on this object's thread, with whether frames
    // now flow (false: no camera, or it may not be used). Starting a running source reports
    // true again. Never blocks.
    virtual void start(std::function<void(bool running)> done) = 0;
    virtual void stop() = 0;

  signals:
    // Every frame, possibly on a capture thread of the platform.
    void frameArrived(const QVideoFrame& frame);
};

}  // namespace vellumora
