#pragma once
// Splits a frame's stamp queue into runs of the same tool and the same shape: one pipeline
// selection and one instanced draw per run, in queue order.

#include "canvas/stroke_stamper.h"

#include <cstddef>
#include <span>
#include <vector>

namespace vellumora {

// Half the side of a stamp's square over its radius; brush_vertex.glsl uses the same factor.
inline constexpr float kTipExtent = 1.3f;

struct StampRun {
    Tool tool = Tool::sketchpen;
    std::size_t first = 0;
    std::size_t count = 0;
    // Drawn as point sprites rather than two-triangle quads: the same pixels, but the software
    // rasteriser shades the blocks along a quad's diagonal twice and sets up two triangles.
    bool points = false;
    bool operator==(const StampRun&) const = default;
};

// Refills `runs` (keeping its storage) with the maximal runs of consecutive stamps of the same
// tool and shape. A stamp is a point when its square fits `maxPointSize` and its centre lies
// on the `canvasSize` canvas: a point whose centre is outside is clipped whole.
void planStampRuns(std::span<const PendingStamp> stamps, float maxPointSize, float canvasSize,
                   std::vector<StampRun>& runs);

}  // namespace vellumora
