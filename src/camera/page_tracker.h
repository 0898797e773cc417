#pragma once
// Follows the page from one analysed frame to the next: the outlines of the recent frames for
// the stability score, and the run of frames without a page that decides when it is lost.

#include "scan/quad.h"

#include <QSize>

#include <deque>

namespace vellumora {

class PageTracker {
  public:
    static constexpr int kWindow = 8;        // outlines the score looks at
    static constexpr int kMinimumQuads = 4;  // fewer give no score
    static constexpr int kLostAfterFrames = 6;
    // A centroid jump of this share of the frame's diagonal between two frames is full motion.
    static constexpr double kMotionLimit = 0.02;

    // A frame of the given size showed the page; returns the new stability score.
    double pageFound(const Quad& quad, QSize frameSize);
    // A frame without the page; true when the page now counts as lost, which empties the window
    // (and so on for every further frame without it).
    bool pageMissing();

    // How still and undistorted the page has been over the window: 0...1.
    double computeStability() const;

    const std::deque<Quad>& recentQuads() const { return recentQuads_; }
    int framesWithoutQuad() const { return framesWithoutQuad_; }

  private:
    std::deque<Quad> recentQuads_;
    double lastDiag_ = 1.0;
    int framesWithoutQuad_ = 0;
};

}  // namespace vellumora
