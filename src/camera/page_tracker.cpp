#include "camera/page_tracker.h"

#include <QLineF>

#include <algorithm>
#include <cmath>
#include <limits>

namespace vellumora {

double PageTracker::pageFound(const Quad& quad, QSize frameSize) {
    lastDiag_ = std::hypot(double(frameSize.width()), double(frameSize.height()));
    framesWithoutQuad_ = 0;
    recentQuads_.push_back(quad);
    while (recentQuads_.size() > size_t(kWindow)) {
        recentQuads_.pop_front();
    }
    return computeStability();
}

bool PageTracker::pageMissing() {
    ++framesWithoutQuad_;
    if (framesWithoutQuad_ < kLostAfterFrames) {
        return false;
    }
    recentQuads_.clear();
    return true;
}

double PageTracker::computeStability() const {
    if (recentQuads_.size() < size_t(kMinimumQuads)) {
        return 0.0;
    }
    double maxJump = 0.0;
    for (size_t i = 1; i < recentQuads_.size(); ++i) {
        maxJump =
            std::max(maxJump, QLineF(recentQuads_[i - 1].centroid(), recentQuads_[i].centroid()).length());
    }
    const double limit = kMotionLimit * lastDiag_;
    const double motion = limit > 0 ? std::clamp(1.0 - maxJump / limit, 0.0, 1.0) : 0.0;

    double minDiagonal = std::numeric_limits<double>::max(), maxDiagonal = 0.0;
    for (const Quad& q : recentQuads_) {
        const double d = QLineF(q.topLeft, q.bottomRight).length();
        minDiagonal = std::min(minDiagonal, d);
        maxDiagonal = std::max(maxDiagonal, d);
    }
    const double shape = maxDiagonal > 0 ? minDiagonal / maxDiagonal : 0.0;
    return motion * shape;
}

}  // namespace vellumora
