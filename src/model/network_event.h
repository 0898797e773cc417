#pragma once
// What the room connection reports to the session: connection lifecycle plus one event per
// decoded server message.

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "protocol.h"

namespace vellumora {

struct NetworkEvent {
    struct Closed {
        // What follows: another attempt, or none because the server ended the session (the
        // token is no longer valid) or refused this user the room.
        enum class Outcome { retrying, sessionEnded, refused };
        std::string text;
        Outcome outcome = Outcome::retrying;
        bool operator==(const Closed&) const = default;
    };
    struct Opened {
        bool operator==(const Opened&) const = default;
    };
    struct RoomState {
        std::vector<Stroke> strokes;
        std::vector<WirePeer> peers;
        std::optional<WirePage> page;
        bool operator==(const RoomState&) const = default;
    };
    struct PeerJoined {
        WirePeer peer;
        bool operator==(const PeerJoined&) const = default;
    };
    struct PeerLeft {
        std::string userId;
        bool operator==(const PeerLeft&) const = default;
    };
    struct StrokeStart {
        std::string userId;
        StrokeHeader header;
        StrokePoint firstPoint;
        bool operator==(const StrokeStart&) const = default;
    };
    struct StrokePoint {
        std::string userId;
        std::string strokeId;
        vellumora::StrokePoint point;
        bool operator==(const StrokePoint&) const = default;
    };
    struct StrokeEnd {
        std::string userId;
        std::string strokeId;
        bool operator==(const StrokeEnd&) const = default;
    };
    struct Cursor {
        std::string userId;
        double x = 0;
        double y = 0;
        bool operator==(const Cursor&) const = default;
    };
    struct PageChanged {
        std::string userId;
        std::optional<WirePage> page;
        bool operator==(const PageChanged&) const = default;
    };
    struct CanvasCleared {
        std::string userId;
        bool operator==(const CanvasCleared&) const = default;
    };

    struct StrokeUndo {
        std::string userId;
        std::string strokeId;
        bool operator==(const StrokeUndo&) const = default;
    };
    struct StrokeRedo {
        std::string userId;
        Stroke stroke;
        std::string after;  // empty: first in the room
        bool operator==(const StrokeRedo&) const = default;
    };

    using Value = std::variant<Closed, RoomState, PeerJoined, PeerLeft, StrokeStart, StrokePoint, StrokeEnd,
                               Cursor, PageChanged, CanvasCleared, Opened, StrokeUndo, StrokeRedo>;
    Value value;

    bool operator==(const NetworkEvent&) const = default;
};

// The event a decoded server record becomes ("you" of a room state is dropped).
NetworkEvent toNetworkEvent(ServerMessage&& message);
// Decode one incoming message into its event; none for anything undecodable or unknown.
std::optional<NetworkEvent> decodeNetworkEvent(std::string_view bytes,
                                               InputPadding padding = InputPadding::none);

}  // namespace vellumora
