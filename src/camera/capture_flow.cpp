#include "camera/capture_flow.h"

#include <algorithm>

namespace vellumora {

bool CaptureFlow::stabilityChanged(double score, TimePoint now) {
    if (reviewing() || processing_) {
        return false;
    }
    if (retryCooldownUntil_ && now < *retryCooldownUntil_) {
        resetHold();
        return false;
    }
    if (score < autoCaptureThreshold || !latestQuad_) {
        resetHold();
        return false;
    }
    if (!holdingSince_) {
        holdingSince_ = now;
    }
    const double elapsed = std::chrono::duration<double>(now - *holdingSince_).count();
    holdProgress_ = std::min(elapsed / autoCaptureSeconds, 1.0);
    if (elapsed >= autoCaptureSeconds) {
        resetHold();
        return true;
    }
    return false;
}

void CaptureFlow::quadLost() {
    latestQuad_.reset();
    resetHold();
}

bool CaptureFlow::beginCapture() {
    if (processing_) {
        return false;
    }
    processing_ = true;
    captureError_.reset();
    return true;
}

void CaptureFlow::captureFailed(const QString& message, TimePoint now) {
    captureError_ = message;
    retryCooldownUntil_ = now + retryCooldown;
    processing_ = false;
}

void CaptureFlow::captureSucceeded(const QByteArray& png, const QImage& image) {
    reviewPNG_ = png;
    reviewImage_ = image;
    processing_ = false;
}

void CaptureFlow::retake() {
    reviewImage_ = QImage();
    reviewPNG_.reset();
    latestQuad_.reset();
}

QString CaptureFlow::statusText(bool cameraRunning) const {
    if (permissionDenied_) {
        return QStringLiteral("Camera disabled");
    }
    if (captureError_) {
        return *captureError_;
    }
    if (reviewing()) {
        return QStringLiteral("Looks good? Pick Use this page or Retake.");
    }
    if (processing_) {
        return QStringLiteral("Enhancing scan…");
    }
    if (!cameraRunning) {
        return QStringLiteral("Starting camera…");
    }
    if (!latestQuad_) {
        return QStringLiteral("Hold up a drawing — detection will light up when it finds the page.");
    }
    if (holdProgress_ > 0) {
        return QStringLiteral("Hold steady… capturing in %1s")
            .arg(autoCaptureSeconds * (1.0 - holdProgress_), 0, 'f', 1);
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
    holdingSince_.reset();
    holdProgress_ = 0.0;
}

}  // namespace vellumora
