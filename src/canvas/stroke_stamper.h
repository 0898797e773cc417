#pragma once
// The renderer's logic without GPU: the table of open strokes and the queue of brush stamps
// spaced along their paths, waiting for the next frame.

#include "canvas/canvas_types.h"
#include "model/drawing_types.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace vellumora {

struct ActiveStroke {
    Vec2f lastPoint;  // canvas pixels
    Color4f color;
    float radius = 0;  // canvas pixels
    Tool tool = Tool::sketchpen;
};

struct PendingStamp {
    Tool tool = Tool::sketchpen;
    Vec2f center;  // canvas pixels
    Color4f color;
    float radius = 0;
    float opacity = 1.0f;
    float seed = 0;  // in [0, 1000)
};

// Distance between stamps as a fraction of the radius.
float spacingFactor(Tool tool);

// Peers may send anything the protocol accepts (coordinates like 1e300, brush sizes like 1e9).
// These caps keep the work per message bounded without touching legitimate strokes: brush
// sizes top out at 20 (radius 30 px), and a segment inside the canvas never needs more stamps
// than its diagonal holds at the minimum spacing.
inline constexpr float kMinStampSpacing = 0.5f;
inline constexpr float kMaxStampRadius = 256.0f;
inline constexpr std::size_t kMaxStampsPerSegment = 5793;  // ⌈2048 × √2 / 0.5⌉

class StrokeStamper {
  public:
    // Returns a stamp seed, uniform in [0, 1000). Tests fix it to compare with the oracle.
    using SeedSource = std::function<float()>;

    // Without a source, seeds come from a generator seeded by the system.
    explicit StrokeStamper(SeedSource seeds = {});

    // Opens (or replaces) stroke `id` and queues one stamp at its first point. A start at a
    // non-finite position or with a non-finite radius opens nothing.
    void beginStroke(const std::string& id, CanvasPoint at, Tool tool, Color4f color, float radius);
    // Queues the stamps from the stroke's last point to `point`; unknown ids are ignored.
    void appendPoint(const std::string& id, CanvasPoint point);
    void endStroke(const std::string& id);
    // Forgets every open stroke and every stamp not yet painted.
    void reset();

    using StrokeTable = std::unordered_map<std::string, ActiveStroke>;

    const std::vector<PendingStamp>& pendingStamps() const { return pending_; }
    // Empties the queue and keeps its storage for the next frame.
    void clearPending() { pending_.clear(); }
    const StrokeTable& activeStrokes() const { return strokes_; }
    // Goes back to an earlier state: the first `keepStamps` queued stamps and the open strokes
    // as they were then.
    void rewind(std::size_t keepStamps, StrokeTable strokes);

  private:
    void queueStamp(const ActiveStroke& stroke, Vec2f center);

    SeedSource seeds_;
    StrokeTable strokes_;
    std::vector<PendingStamp> pending_;
};

}  // namespace vellumora
