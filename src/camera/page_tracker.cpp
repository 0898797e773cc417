#include "camera/page_tracker.h"

#include <QLineF>

#include <algorithm>
#include <cmath>
#include <limits>

namespace vellumora {

double PageTracker::pageFound(const Quad& quad, QSize frameSize) {
    m_lastDiag = std::hypot(double(frameSize.width()), double(frameSize.height()));
    m_framesWithoutQuad = 0;
    m_recentQuads.push_back(quad);
    while (m_recentQuads.size() > size_t(kWindow)) {
        m_recentQuads.pop_front();
    }
    return computeStability();
}

bool PageTracker::pageMissing() {
    ++m_framesWithoutQuad;
    if (m_framesWithoutQuad < kLostAfterFrames) {
        return false;
    }
    m_recentQuads.clear();
    return true;
}

double PageTracker::computeStability() const {
    if (m_recentQuads.size() < size_t(kMinimumQuads)) {
        return 0.0;
    }
    double maxJump = 0.0;
    for (size_t i = 1; i < m_recentQuads.size(); ++i) {
        maxJump =
            std::max(maxJump, QLineF(m_recentQuads[i - 1].centroid(), m_recentQuads[i].centroid()).length());
    }
    const double limit = kMotionLimit * m_lastDiag;
    const double motion = limit > 0 ? std::clamp(1.0 - maxJump / limit, 0.0, 1.0) : 0.0;

    double minDiagonal = std::numeric_limits<double>::max(), maxDiagonal = 0.0;
    for (const Quad& q : m_recentQuads) {
        const double d = QLineF(q.topLeft, q.bottomRight).length();
        minDiagonal = std::min(minDiagonal, d);
        maxDiagonal = std::max(maxDiagonal, d);
    }
    const double shape = maxDiagonal > 0 ? minDiagonal / maxDiagonal : 0.0;
    return motion * shape;
}

}  // namespace vellumora
