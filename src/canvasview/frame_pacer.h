#pragma once
// When the canvas draws its next frame: continuously at 60 per second (also where buffer swaps
// do not wait for the display), four a second while a large message is decoded, and only when
// asked while a backlog is painted, whose painter then asks for its own frames. Nothing while
// nobody can see the canvas; at once when they can again.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

namespace vellumora {

class FramePacer : public QObject {
    Q_OBJECT

  public:
    static constexpr double kFrameIntervalMs = 1000.0 / 60.0;
    // While a large message is decoded on a worker thread: on a software rasteriser each frame
    // takes the cores the decoding needs, and nothing it would show changes but the cursor.
    static constexpr double kSlowFrameIntervalMs = 250.0;

    explicit FramePacer(QObject* parent = nullptr);

    // Around every frame: when drawing starts, and once it is presented, which schedules the
    // next one. Returns how long the frame took from start to presentation, in milliseconds.
    void frameStarted();
    double framePresented();

    // Frames only on request: continuous frames stop, and one is asked for when they resume.
    void setOnRequest(bool onRequest);
    bool isOnRequest() const { return onRequest_; }
    void setSlow(bool slow);
    void setPresenting(bool presenting);
    bool isPresenting() const { return presenting_; }

  signals:
    // Time to draw a frame.
    void frameDue();

  private:
    bool continuous() const { return !onRequest_ && presenting_; }
    double intervalMs() const { return slow_ ? kSlowFrameIntervalMs : kFrameIntervalMs; }

    QElapsedTimer frameStart_;
    QTimer next_;
    bool onRequest_ = false;
    bool slow_ = false;
    bool presenting_ = true;
};

}  // namespace vellumora
