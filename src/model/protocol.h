#pragma once
// The room connection's JSON messages, both directions, defined once for client and server.
//
// Client -> server: ClientMessage. Server -> client: ServerMessage.
// Decoding is strict (required members, exact JSON types, known tools) and drops anything
// else; extra members are ignored. Encoding is compact, writes every member, escapes '/' as
// "\/" and writes doubles as the shortest text that reads back to the same value.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "drawing_types.h"

namespace vellumora {

// Largest message either end accepts (WebSocket message size limit of the client).
inline constexpr std::size_t kMaxMessageBytes = 8 * 1024 * 1024;

// WebSocket close code of a room connection whose session ended (signed out, here or on another
// device, or expired): the client signs out instead of reconnecting.
inline constexpr std::uint16_t kSessionEndedCloseCode = 4001;

struct StrokeStartPayload {
    std::string id;
    std::string userId;
    Tool tool = Tool::sketchpen;
    WireColor color;
    double brushSize = 3.0;
    StrokePoint point;
    bool operator==(const StrokeStartPayload&) const = default;

    StrokeHeader header() const { return {id, userId, tool, color, brushSize}; }
};
// What the server relays of a StrokeStartPayload: the same six members.
using WireStrokeStart = StrokeStartPayload;

struct WirePage {
    std::string pageId;
    std::string displayName;
    std::string mimeType;
    std::string imageBase64;
    bool operator==(const WirePage&) const = default;
};

struct WirePeer {
    std::string userId;
    std::string name;
    std::string color;
    bool operator==(const WirePeer&) const = default;
};

struct WireStroke {
    std::string id;
    std::string userId;
    Tool tool = Tool::sketchpen;
    WireColor color;
    double brushSize = 3.0;
    std::vector<StrokePoint> points;
    bool complete = false;
    bool operator==(const WireStroke&) const = default;

    Stroke toStroke() const&;
    Stroke toStroke() &&;
    static WireStroke from(const Stroke& stroke);
};

// ---- client -> server -----------------------------------------------------------------

struct ClientMessage {
    struct StrokeStart {
        StrokeStartPayload stroke;
        bool operator==(const StrokeStart&) const = default;
    };
    struct StrokePoint {
        std::string strokeId;
        vellumora::StrokePoint point;
        bool operator==(const StrokePoint&) const = default;
    };
    struct StrokeEnd {
        std::string strokeId;
        bool operator==(const StrokeEnd&) const = default;
    };
    struct Cursor {
        double x = 0;
        double y = 0;
        bool operator==(const Cursor&) const = default;
    };
    struct SetPage {
        std::optional<WirePage> page;
        bool operator==(const SetPage&) const = default;
    };
    struct ClearCanvas {
        bool operator==(const ClearCanvas&) const = default;
    };
    // Takes the sender's own stroke out of the room, or puts an undone one back where it was.
    struct StrokeUndo {
        std::string strokeId;
        bool operator==(const StrokeUndo&) const = default;
    };
    struct StrokeRedo {
        std::string strokeId;
        bool operator==(const StrokeRedo&) const = default;
    };

    using Value = std::variant<StrokeStart, StrokePoint, StrokeEnd, Cursor, SetPage, ClearCanvas, StrokeUndo,
                               StrokeRedo>;
    Value value;

    bool operator==(const ClientMessage&) const = default;

    static ClientMessage strokeStart(StrokeStartPayload stroke) { return {StrokeStart{std::move(stroke)}}; }
    static ClientMessage strokePoint(std::string strokeId, vellumora::StrokePoint point) {
        return {StrokePoint{std::move(strokeId), point}};
    }
    static ClientMessage strokeEnd(std::string strokeId) { return {StrokeEnd{std::move(strokeId)}}; }
    static ClientMessage cursor(double x, double y) { return {Cursor{x, y}}; }
    static ClientMessage setPage(std::optional<WirePage> page) { return {SetPage{std::move(page)}}; }
    static ClientMessage clearCanvas() { return {ClearCanvas{}}; }
    static ClientMessage strokeUndo(std::string strokeId) { return {StrokeUndo{std::move(strokeId)}}; }
    static ClientMessage strokeRedo(std::string strokeId) { return {StrokeRedo{std::move(strokeId)}}; }
};

// The "type" text of a client message.
std::string_view typeName(const ClientMessage& message);

// ---- server -> client -----------------------------------------------------------------

struct RoomStateMessage {
    struct You {
        std::string userId;
        bool operator==(const You&) const = default;
    };
    std::vector<WireStroke> strokes;
    std::vector<WirePeer> peers;
    You you;
    std::optional<WirePage> page;
    bool operator==(const RoomStateMessage&) const = default;
};
struct PeerJoinedMessage {
    WirePeer peer;
    bool operator==(const PeerJoinedMessage&) const = default;
};
struct PeerLeftMessage {
    std::string userId;
    bool operator==(const PeerLeftMessage&) const = default;
};
struct StrokeStartMessage {
    std::string userId;
    WireStrokeStart stroke;
    bool operator==(const StrokeStartMessage&) const = default;
};
struct StrokePointMessage {
    std::string userId;
    std::string strokeId;
    StrokePoint point;
    bool operator==(const StrokePointMessage&) const = default;
};
struct StrokeEndMessage {
    std::string userId;
    std::string strokeId;
    bool operator==(const StrokeEndMessage&) const = default;
};
struct CursorMessage {
    std::string userId;
    double x = 0;
    double y = 0;
    bool operator==(const CursorMessage&) const = default;
};
struct PageChangedMessage {
    std::string userId;
    std::optional<WirePage> page;
    bool operator==(const PageChangedMessage&) const = default;
};
struct CanvasClearedMessage {
    std::string userId;
    bool operator==(const CanvasClearedMessage&) const = default;
};

// Undo and redo reach every connection of the room, the author's too: the room's answer is
// what places a redone stroke, and an author who reconnected may no longer hold it.
struct StrokeUndoMessage {
    std::string userId;
    std::string strokeId;
    bool operator==(const StrokeUndoMessage&) const = default;
};
struct StrokeRedoMessage {
    std::string userId;
    std::string strokeId;
    WireStroke stroke;
    // The nearest stroke before it that is still in the room; empty: it is the first.
    std::string after;
    bool operator==(const StrokeRedoMessage&) const = default;
};

using ServerMessage = std::variant<RoomStateMessage, PeerJoinedMessage, PeerLeftMessage, StrokeStartMessage,
                                   StrokePointMessage, StrokeEndMessage, CursorMessage, PageChangedMessage,
                                   CanvasClearedMessage, StrokeUndoMessage, StrokeRedoMessage>;

std::string_view typeName(const ServerMessage& message);

// ---- encoding ---------------------------------------------------------------------------

// Compact JSON text; none when a number is NaN or infinite (the message is then dropped).
std::optional<std::string> encode(const ClientMessage& message);
std::optional<std::string> encode(const ServerMessage& message);
// Appends to `out` (reused buffers on hot paths); false, with `out` restored, on a non-finite number.
bool encodeInto(const ClientMessage& message, std::string& out);
bool encodeInto(const ServerMessage& message, std::string& out);

// The server-side rewrite of a relayed client message: the sender's id added (and, for a
// stroke start, written into the stroke), "set_page" -> "page_changed",
// "clear_canvas" -> "canvas_cleared". A redo's stroke and place are the room's to fill in.
ServerMessage relayedFrom(const ClientMessage& message, const std::string& senderUserId);

// ---- decoding ---------------------------------------------------------------------------

// Readable bytes a caller may leave after a message so that it is parsed in place, without a
// copy (see InputPadding).
inline constexpr std::size_t kDecodePadding = 64;
enum class InputPadding {
    none,    // the bytes end where the message ends
    padded,  // at least kDecodePadding more bytes after the message may be read
};

// Bytes of one incoming message (text or binary frame) -> one server record, or none.
std::optional<ServerMessage> decodeServerMessage(std::string_view bytes,
                                                 InputPadding padding = InputPadding::none);
// Bytes of one message a client sent -> one client message, or none.
std::optional<ClientMessage> decodeClientMessage(std::string_view bytes,
                                                 InputPadding padding = InputPadding::none);

}  // namespace vellumora
