#pragma once
// The capture sheet's state and rules without any widget: the hold-still countdown that starts
// a capture once the page has been still long enough, the pause after a failed capture, review,
// and the one-line status. Times come from the caller, so tests need no clock.

#include "camera/quad.h"

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
    void quadDetected(const Quad& quad) { m_latestQuad = quad; }
    void quadLost();
    void cameraUnavailable() { m_permissionDenied = true; }

    // False when a capture is already under way.
    bool beginCapture();
    void captureFailed(const QString& message, TimePoint now);
    void captureSucceeded(const QByteArray& png, const QImage& image);
    // Back to the live picture; the camera is to be started again.
    void retake();

    QString statusText(bool cameraRunning) const;

    const std::optional<Quad>& latestQuad() const { return m_latestQuad; }
    bool permissionDenied() const { return m_permissionDenied; }
    double holdProgress() const { return m_holdProgress; }
    bool processing() const { return m_processing; }
    bool reviewing() const { return !m_reviewImage.isNull(); }
    const QImage& reviewImage() const { return m_reviewImage; }
    const std::optional<QByteArray>& reviewPNG() const { return m_reviewPNG; }
    const std::optional<QString>& captureError() const { return m_captureError; }

    static QString frameUnavailableText();
    static QString processingFailedText();

  private:
    void resetHold();

    std::optional<Quad> m_latestQuad;
    bool m_permissionDenied = false;
    double m_holdProgress = 0.0;
    std::optional<TimePoint> m_holdingSince;
    std::optional<QByteArray> m_reviewPNG;
    QImage m_reviewImage;
    bool m_processing = false;
    std::optional<TimePoint> m_retryCooldownUntil;
    std::optional<QString> m_captureError;
};

}  // namespace vellumora
