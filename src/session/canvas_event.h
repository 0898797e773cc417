#pragma once
// What the canvas must apply: the room's history on joining, peers' strokes as they grow,
// page changes, clears, undos and redos.

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "model/drawing_types.h"
#include "model/protocol.h"

namespace vellumora {

struct CanvasEvent {
    struct RoomState {
        std::vector<Stroke> strokes;
        bool operator==(const RoomState&) const = default;
    };
    struct PeerStrokeStart {
        std::string userId;
        StrokeHeader header;
        StrokePoint firstPoint;
        bool operator==(const PeerStrokeStart&) const = default;
    };
    struct PeerStrokePoint {
        std::string userId;
        std::string strokeId;
        StrokePoint point;
        bool operator==(const PeerStrokePoint&) const = default;
    };
    struct PeerStrokeEnd {
        std::string userId;
        std::string strokeId;
        bool operator==(const PeerStrokeEnd&) const = default;
    };
    struct PageChanged {
        std::optional<WirePage> page;
        bool operator==(const PageChanged&) const = default;
    };
    struct CanvasCleared {
        bool operator==(const CanvasCleared&) const = default;
    };

    // A stroke taken out of the picture (by its author, here or elsewhere).
    struct StrokeUndo {
        std::string strokeId;
        bool operator==(const StrokeUndo&) const = default;
    };
    // A stroke put back where it was. With the room's answer comes the stroke and the one it
    // follows (empty: the first), for a canvas that never had it; the author's own redo has none.
    struct StrokeRedo {
        std::string strokeId;
        std::optional<Stroke> stroke;
        std::string after;
        bool operator==(const StrokeRedo&) const = default;
    };

    using Value = std::variant<RoomState, PeerStrokeStart, PeerStrokePoint, PeerStrokeEnd, PageChanged,
                               CanvasCleared, StrokeUndo, StrokeRedo>;
    Value value;

    bool operator==(const CanvasEvent&) const = default;
};

}  // namespace vellumora
