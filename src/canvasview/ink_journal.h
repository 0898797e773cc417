#pragma once
// Everything the canvas has been told to draw since the room's last room state or clear, in
// order, and how much of it the renderer has been given so far.
//
// The renderer's canvas image is the only copy of the ink and goes with its GL context; this
// record paints it again. It also lets a long backlog reach the renderer in slices, with live
// strokes waiting behind it in the order they came.
//
// As it is applied, the renderer saves a copy of the ink every so many stamps (a checkpoint:
// the ink of exactly the operations before it). A stroke taken out or put back somewhere in the
// past then costs a replay from the nearest checkpoint before it, not from the start. Recent
// checkpoints are kept dense and older ones thinned out, so recent undos are quick and old ones
// still quicker than a whole replay.

#include "canvas/canvas_types.h"
#include "model/drawing_types.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace vellumora {

class Renderer;

class InkJournal {
  public:
    // About 48 MiB of operations; beyond it the oldest applied part is forgotten.
    static constexpr std::size_t kDefaultMaxOps = 2'000'000;

    // Stamps between two checkpoints: on llvmpipe (two busy cores), replaying up to twice this
    // many and presenting the frame takes about 100 ms.
    static constexpr std::size_t kDefaultCheckpointStamps = 16'000;
    // Checkpoints kept, 16 MiB of GL memory each.
    static constexpr std::size_t kDefaultMaxCheckpoints = 8;

    explicit InkJournal(std::size_t maxOps = kDefaultMaxOps,
                        std::size_t checkpointStamps = kDefaultCheckpointStamps,
                        std::size_t maxCheckpoints = kDefaultMaxCheckpoints)
        : maxOps_(maxOps), checkpointStamps_(checkpointStamps), maxCheckpoints_(maxCheckpoints) {}

    // Forgets everything: the canvas starts empty (a room state or a clear).
    void restart();
    // Makes the renderer's ink right again up to operation `from`, for applying the rest anew:
    // the nearest checkpoint at or before it comes back, or, without one, the ink is cleared.
    void rewindTo(Renderer& renderer, std::size_t from);
    // The renderer's copies of the ink are gone (with its GL context).
    void forgetCheckpoints() { checkpoints_.clear(); }
    // The next call to applyTo() takes a checkpoint first if the renderer holds no unpainted
    // stamps then; it is best made when the GPU has finished painting, too.
    bool checkpointDue() const;
    // Where the checkpoints are, oldest first.
    std::vector<std::size_t> checkpointPositions() const;

    void beginStroke(const std::string& id, CanvasPoint at, Tool tool, Color4f color, float radius);
    void appendPoint(const std::string& id, CanvasPoint point);
    void endStroke(const std::string& id);
    // A room's backlog: strokes without points are skipped, incomplete ones stay open.
    void addStrokes(const std::vector<Stroke>& strokes);

    // Takes a stroke out of the picture or puts it back in its place. When the painted ink no
    // longer matches, the first operation from which it is wrong (for rewindTo).
    std::optional<std::size_t> setUndone(const std::string& id, bool undone);
    // Puts back a stroke this record never had, right after stroke `after` (empty: first) and
    // before the next stroke that began after it; where painted ink is wrong from, as above.
    std::optional<std::size_t> insertStroke(const Stroke& stroke, const std::string& after);
    bool knows(const std::string& id) const { return byId_.contains(id); }

    enum class Stop { caughtUp, stampBudget, timeBudget };
    // Hands operations to the renderer, in order, until every one is applied, the renderer
    // holds `maxPendingStamps` unpainted stamps, or `deadline` has passed.
    Stop applyTo(Renderer& renderer, std::size_t maxPendingStamps,
                 std::chrono::steady_clock::time_point deadline);

    bool isBehind() const { return applied_ < ops_.size(); }
    std::size_t appliedCount() const { return applied_; }
    std::size_t size() const { return ops_.size(); }
    // Operations forgotten to stay within the cap since the last restart.
    std::size_t droppedCount() const { return dropped_; }

  private:
    enum class Kind : std::uint8_t { begin, append, end };
    struct Op {
        std::uint32_t stroke = 0;  // index into strokes_
        Kind kind = Kind::append;
        CanvasPoint point;
    };
    struct StrokeInfo {
        std::string id;
        Tool tool = Tool::sketchpen;
        Color4f color;
        float radius = 0;
        bool undone = false;
    };

    struct Checkpoint {
        std::size_t at = 0;  // the ink of ops_[0, at)
        std::size_t slot = 0;
    };

    void push(Op op);
    // The painted ink is wrong from operation `from` on: so are the checkpoints after it.
    std::size_t invalidateFrom(std::size_t from);
    void takeCheckpoint(Renderer& renderer);
    // Makes room for one more by dropping the one whose loss widens the gaps the least,
    // measured against how far back it lies; false when none may go.
    bool thinCheckpoints();
    // The operations of `stroke` (all of them, ended when complete), for stroke index `index`.
    static void opsOf(const Stroke& stroke, std::uint32_t index, std::vector<Op>& out);
    void dropAppliedPrefix();

    std::size_t maxOps_;
    std::vector<StrokeInfo> strokes_;
    // Open strokes by id; points for any other id are not recorded.
    std::unordered_map<std::string, std::uint32_t> open_;
    // Every stroke by id (the latest of that id).
    std::unordered_map<std::string, std::uint32_t> byId_;
    std::vector<Op> ops_;
    std::size_t applied_ = 0;
    std::size_t dropped_ = 0;

    std::size_t checkpointStamps_;
    std::size_t maxCheckpoints_;
    std::vector<Checkpoint> checkpoints_;  // by position
    std::size_t stampsSinceCheckpoint_ = 0;
    // Since the last restart, for the stamps an operation makes on average.
    std::size_t opsApplied_ = 0;
    std::size_t stampsApplied_ = 0;
};

// Radius in canvas pixels of a brush size.
inline float strokeRadius(double brushSize) {
    return static_cast<float>(brushSize * 1.5);
}

}  // namespace vellumora
