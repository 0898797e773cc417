#pragma once
// The capture sheet's state and rules without any widget: the hold-still countdown that starts
// a capture once the page has been still long enough, the pause after a failed capture, review,
// and the one-line status. Times come from the caller, so tests need no clock.

#include "scan/quad.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <chrono>
#include <optional>

namespace vellumora {

class CaptureFlow {
  public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;

    static constexpr double autoCaptureSeconds = 1.5;
    static constexpr double autoCaptureThreshold = 0.8;
    static constexpr std::chrono::seconds retryCooldown{3};

    // A stability score was published (every analysed frame with the page, and every frame
    // reporting it lost). True when a capture should start now.
    bool stabilityChanged(double score, TimePoint now);
    void quadDetected(const Quad& quad) { latestQuad_ = quad; }
    void quadLost();
    void cameraUnavailable() { permissionDenied_ = true; }

    // False when a capture is already under way.
    bool beginCapture();
    void captureFailed(const QString& message, TimePoint now);
    void captureSucceeded(const QByteArray& png, const QImage& image);
    // Back to the live picture; the camera is to be started again.
    void retake();

    QString statusText(bool cameraRunning) const;

    const std::optional<Quad>& latestQuad() const { return latestQuad_; }
    bool permissionDenied() const { return permissionDenied_; }
    double holdProgress() const { return holdProgress_; }
    bool processing() const { return processing_; }
    bool reviewing() const { return !reviewImage_.isNull(); }
    const QImage& reviewImage() const { return reviewImage_; }
    const std::optional<QByteArray>& reviewPNG() const { return reviewPNG_; }
    const std::optional<QString>& captureError() const { return captureError_; }

    static QString frameUnavailableText();
    static QString processingFailedText();

  private:
    void resetHold();

    std::optional<Quad> latestQuad_;
    bool permissionDenied_ = false;
    double holdProgress_ = 0.0;
    std::optional<TimePoint> holdingSince_;
    std::optional<QByteArray> reviewPNG_;
    QImage reviewImage_;
    bool processing_ = false;
    std::optional<TimePoint> retryCooldownUntil_;
    std::optional<QString> captureError_;
};

}  // namespace vellumora
