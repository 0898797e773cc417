#pragma once
// Camera frames without a camera: a frame source the test starts, fails and feeds by hand.

#include "camera/frame_source.h"

#include <QImage>
#include <QTimer>
#include <QVideoFrameFormat>

#include <cstring>

namespace vellumora::testing {

class FakeFrameSource : public FrameSource {
  public:
    explicit FakeFrameSource(bool startsRunning = true) : m_startsRunning(startsRunning) {}

    void start(std::function<void(bool)> done) override {
        ++starts;
        running = m_startsRunning;
        QTimer::singleShot(0, this, [this, done = std::move(done)] {
            if (done) done(m_startsRunning);
        });
    }
    void stop() override { running = false; }

    void push(const QImage& image) { emit frameArrived(videoFrame(image)); }

    static QVideoFrame videoFrame(const QImage& image) {
        const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
        QVideoFrame frame(
            QVideoFrameFormat(rgb.size(), QVideoFrameFormat::pixelFormatFromImageFormat(rgb.format())));
        frame.map(QVideoFrame::WriteOnly);
        for (int y = 0; y < rgb.height(); ++y) {
            std::memcpy(frame.bits(0) + y * frame.bytesPerLine(0), rgb.constScanLine(y),
                        size_t(rgb.width()) * 4);
        }
        frame.unmap();
        return frame;
    }

    int starts = 0;
    bool running = false;

  private:
    bool m_startsRunning;
};

}  // namespace vellumora::testing
