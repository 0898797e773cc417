#pragma once
// Everything the canvas has been told to draw since the room's last room state or clear, in
// order, and how much of it the renderer has been given so far.
//
// The renderer's canvas image is the only copy of the ink and goes with its GL context; this
// record paints it again. It also lets a long backlog reach the renderer in slices, with live
// strokes waiting behind it in the order they came.

#include "canvas/canvas_types.h"
#include "model/drawing_types.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace vellumora {

class Renderer;

class InkJournal {
  public:
    // About 48 MiB of operations; beyond it the oldest applied part is forgotten.
    static constexpr std::size_t kDefaultMaxOps = 2'000'000;

    explicit InkJournal(std::size_t maxOps = kDefaultMaxOps) : maxOps_(maxOps) {}

    // Forgets everything: the canvas starts empty (a room state or a clear).
    void restart();
    // Gives everything to the renderer again from the start (its canvas was emptied).
    void rewind() { applied_ = 0; }

    void beginStroke(const std::string& id, CanvasPoint at, Tool tool, Color4f color, float radius);
    void appendPoint(const std::string& id, CanvasPoint point);
    void endStroke(const std::string& id);
    // A room's backlog: strokes without points are skipped, incomplete ones stay open.
    void addStrokes(const std::vector<Stroke>& strokes);

    // Takes a stroke out of the picture or puts it back in its place; true when the painted
    // ink no longer matches and must be painted again.
    bool setUndone(const std::string& id, bool undone);
    // Puts back a stroke this record never had, right after stroke `after` (empty: first) and
    // before the next stroke that began after it; true when painted ink must be painted again.
    bool insertStroke(const Stroke& stroke, const std::string& after);
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

    void push(Op op);
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
};

// Radius in canvas pixels of a brush size.
inline float strokeRadius(double brushSize) {
    return static_cast<float>(brushSize * 1.5);
}

}  // namespace vellumora
