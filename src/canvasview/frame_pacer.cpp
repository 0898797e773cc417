#include "canvasview/frame_pacer.h"

#include <algorithm>
#include <cmath>

namespace vellumora {

FramePacer::FramePacer(QObject* parent) : QObject(parent) {
    next_.setSingleShot(true);
    next_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&next_, &QTimer::timeout, this, &FramePacer::frameDue);
}

void FramePacer::frameStarted() {
    frameStart_.start();
}

double FramePacer::framePresented() {
    const double elapsedMs =
        frameStart_.isValid() ? static_cast<double>(frameStart_.nsecsElapsed()) / 1e6 : 0;
    if (continuous()) next_.start(static_cast<int>(std::floor(std::max(0.0, intervalMs() - elapsedMs))));
    return elapsedMs;
}

void FramePacer::setOnRequest(bool onRequest) {
    if (onRequest == onRequest_) return;
    onRequest_ = onRequest;
    if (onRequest) {
        next_.stop();
    } else if (presenting_) {
        // Continuous frames go on from this one's presentation.
        emit frameDue();
    }
}

void FramePacer::setPresenting(bool presenting) {
    if (presenting == presenting_) return;
    presenting_ = presenting;
    if (!presenting) {
        next_.stop();
    } else if (!onRequest_) {
        emit frameDue();
    }
}

void FramePacer::setSlow(bool slow) {
    if (slow == slow_) return;
    slow_ = slow;
    // A frame under way schedules the next at the new rate itself.
    if (continuous() && next_.isActive()) next_.start(slow ? static_cast<int>(kSlowFrameIntervalMs) : 0);
}

}  // namespace vellumora
