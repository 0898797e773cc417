#include "canvas/stamp_runs.h"

namespace vellumora {

void planStampRuns(std::span<const PendingStamp> stamps, float maxPointSize, float canvasSize,
                   std::vector<StampRun>& runs) {
    runs.clear();
    for (std::size_t i = 0; i < stamps.size(); ++i) {
        const PendingStamp& s = stamps[i];
        const bool points = 2.0f * kTipExtent * s.radius <= maxPointSize && s.center.x >= 0 &&
                            s.center.y >= 0 && s.center.x <= canvasSize && s.center.y <= canvasSize;
        if (runs.empty() || runs.back().tool != s.tool || runs.back().points != points)
            runs.push_back({s.tool, i, 0, points});
        ++runs.back().count;
    }
}

}  // namespace vellumora
