#pragma once
// Owns the camera while the capture sheet is open: runs the frame source, keeps the latest
// frame, finds the page in frames on its own worker thread ("vellumora.camera", one frame at a
// time; frames arriving meanwhile are only kept as the latest) and judges how still the page is
// held. Published values change on the main thread and notify on every assignment.

#include "camera/frame_source.h"
#include "scan/quad.h"

#include <QImage>
#include <QObject>
#include <QSize>
#include <QThread>
#include <QVideoFrame>

#include <functional>
#include <memory>
#include <optional>

namespace vellumora {

class PageTracker;

class CameraController : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isRunning READ isRunning NOTIFY isRunningChanged)
    Q_PROPERTY(QSize lastImageSize READ lastImageSize NOTIFY lastImageSizeChanged)
    Q_PROPERTY(double stabilityScore READ stabilityScore NOTIFY stabilityScoreChanged)

  public:
    // Finds the page in one frame; runs on the worker thread.
    using Detector = std::function<std::optional<Quad>(const QImage& frame)>;

    // The system's default camera and the page detector.
    explicit CameraController(QObject* parent = nullptr);
    CameraController(std::unique_ptr<FrameSource> source, Detector detector, QObject* parent = nullptr);
    ~CameraController() override;

    // Starts the camera; `done` (optional) learns on the main thread whether it runs.
    void start(std::function<void(bool running)> done = {});
    // Stops the frames; the published values keep their last state.
    void stop();
    // The latest frame as an image, or none without a frame, handed to `completion` on the
    // main thread once the worker is free.
    void captureFrame(std::function<void(std::optional<QImage>)> completion);

    bool isRunning() const { return isRunning_; }
    QSize lastImageSize() const { return lastImageSize_; }  // invalid until a frame arrived
    double stabilityScore() const { return stabilityScore_; }
    // The most recent frame, for the preview. Any thread.
    QVideoFrame latestFrame() const;

    // Main thread: the page's outline in each analysed frame that shows it, and every analysed
    // frame from the sixth in a row without it.
    std::function<void(const Quad&)> onQuadDetected;
    std::function<void()> onQuadLost;

    // The default detector: the page as the still path finds it (scan::detectPage).
    static std::optional<Quad> detectPageInFrame(const QImage& frame);

  signals:
    void isRunningChanged(bool isRunning);
    void lastImageSizeChanged(QSize size);
    void stabilityScoreChanged(double score);
    // A new frame is there to show; several frames may be folded into one notification.
    void frameChanged();

  private:
    struct Shared;

    void onFrame(const QVideoFrame& frame);
    void analyse(const QVideoFrame& frame);
    void setIsRunning(bool value);
    void setLastImageSize(QSize value);
    void setStabilityScore(double value);

    std::unique_ptr<FrameSource> source_;
    Detector detector_;
    std::shared_ptr<Shared> shared_;
    std::unique_ptr<PageTracker> tracker_;  // worker thread only
    QThread worker_;
    std::unique_ptr<QObject> workerContext_;

    bool isRunning_ = false;
    QSize lastImageSize_;
    double stabilityScore_ = 0.0;
};

}  // namespace vellumora
