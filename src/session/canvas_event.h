#pragma once
// What the canvas must apply: the room's history on joining, peers' strokes as they grow,
// page changes and clears.

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

    using Value =
        std::variant<RoomState, PeerStrokeStart, PeerStrokePoint, PeerStrokeEnd, PageChanged, CanvasCleared>;
    Value value;

    bool operator==(const CanvasEvent&) const = default;
};

}  // namespace vellumora
