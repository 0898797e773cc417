#pragma once
// Splits a frame's stamp queue into runs of the same tool: one pipeline selection and one
// instanced draw per run, in queue order.

#include "canvas/stroke_stamper.h"

#include <cstddef>
#include <span>
#include <vector>

namespace vellumora {

struct StampRun {
    Tool tool = Tool::sketchpen;
    std::size_t first = 0;
    std::size_t count = 0;
    bool operator==(const StampRun&) const = default;
};

// Refills `runs` (keeping its storage) with the maximal runs of consecutive same-tool stamps.
void planStampRuns(std::span<const PendingStamp> stamps, std::vector<StampRun>& runs);

}  // namespace vellumora
