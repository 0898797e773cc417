#include "canvas/stamp_runs.h"

namespace vellumora {

void planStampRuns(std::span<const PendingStamp> stamps, std::vector<StampRun>& runs) {
    runs.clear();
    for (std::size_t i = 0; i < stamps.size(); ++i) {
        if (runs.empty() || runs.back().tool != stamps[i].tool) runs.push_back({stamps[i].tool, i, 0});
        ++runs.back().count;
    }
}

}  // namespace vellumora
