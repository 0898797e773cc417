#include "camera/capture_flow.h"

#include <algorithm>

namespace vellumora {

bool CaptureFlow::stabilityChanged(double score, TimePoint now) {
    if (reviewing() || m_processing) {
        return false;
    }
    if (m_retryCooldownUntil && now < *m_retryCooldownUntil) {
        resetHold();
        return false;
    }
    if (score < autoCaptureThreshold || !m_latestQuad) {
        resetHold();
        return false;
    }
    if (!m_holdingSince) {
        m_holdingSince = now;
    }
    const double elapsed = std::chrono::duration<double>(now - *m_holdingSince).count();
    m_holdProgress = std::min(elapsed / autoCaptureSeconds, 1.0);
    if (elapsed >= autoCaptureSeconds) {
        resetHold();
        return true;
    }
    return false;
}

void CaptureFlow::quadLost() {
    m_latestQuad.reset();
    resetHold();
}

bool CaptureFlow::beginCapture() {
    if (m_processing) {
        return false;
    }
    m_processing = true;
    m_captureError.reset();
    return true;
}

void CaptureFlow::captureFailed(const QString& message, TimePoint now) {
    m_captureError = message;
    m_retryCooldownUntil = now + retryCooldown;
    m_processing = false;
}

void CaptureFlow::captureSucceeded(const QByteArray& png, const QImage& image) {
    m_reviewPNG = png;
    m_reviewImage = image;
    m_processing = false;
}

void CaptureFlow::retake() {
    m_reviewImage = QImage();
    m_reviewPNG.reset();
    m_latestQuad.reset();
}

QString CaptureFlow::statusText(bool cameraRunning) const {
    if (m_permissionDenied) {
        return QStringLiteral("Camera disabled");
    }
    if (m_captureError) {
        return *m_captureError;
    }
    if (reviewing()) {
        return QStringLiteral("Looks good? Pick Use this page or Retake.");
    }
    if (m_processing) {
        return QStringLiteral("Enhancing scan…");
    }
    if (!cameraRunning) {
        return QStringLiteral("Starting camera…");
    }
    if (!m_latestQuad) {
        return QStringLiteral("Hold up a drawing — detection will light up when it finds the page.");
    }
    if (m_holdProgress > 0) {
        return QStringLiteral("Hold steady… capturing in %1s")
            .arg(autoCaptureSeconds * (1.0 - m_holdProgress), 0, 'f', 1);
    }
    return QStringLiteral("Page detected. Keep it still for auto-capture, or press ⏎.");
}

QString CaptureFlow::frameUnavailableText() {
    return QStringLiteral("Couldn't grab a frame. Try again.");
}

QString CaptureFlow::processingFailedText() {
    return QStringLiteral("Scan processing failed. Adjust the lighting or angle and try again.");
}

void CaptureFlow::resetHold() {
    m_holdingSince.reset();
    m_holdProgress = 0.0;
}

}  // namespace vellumora
