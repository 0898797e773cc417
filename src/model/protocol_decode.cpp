#include <array>
#include <utility>

#include "model/json_reader.h"
#include "model/protocol.h"

namespace vellumora {

namespace {
using json::Object;
using json::readArray;
using json::readMember;
using json::readNumber;
using json::readString;

// ---- server records ----

std::optional<ServerMessage> readRoomState(Object o) {
    RoomStateMessage m;
    Object you;
    if (!readArray(o, "strokes", m.strokes) || !readArray(o, "peers", m.peers) ||
        !json::readObject(o, "you", you) || !readString(you, "userId", m.you.userId) ||
        !json::readOptionalPage(o, "page", m.page)) {
        return std::nullopt;
    }
    return m;
}
std::optional<ServerMessage> readPeerJoined(Object o) {
    PeerJoinedMessage m;
    if (!readMember(o, "peer", m.peer)) return std::nullopt;
    return m;
}
std::optional<ServerMessage> readPeerLeft(Object o) {
    PeerLeftMessage m;
    if (!readString(o, "userId", m.userId)) return std::nullopt;
    return m;
}
std::optional<ServerMessage> readStrokeStart(Object o) {
    StrokeStartMessage m;
    if (!readString(o, "userId", m.userId) || !readMember(o, "stroke", m.stroke)) return std::nullopt;
    return m;
}
std::optional<ServerMessage> readStrokePoint(Object o) {
    StrokePointMessage m;
    if (!readString(o, "userId", m.userId) || !readString(o, "strokeId", m.strokeId) ||
        !readMember(o, "point", m.point)) {
        return std::nullopt;
    }
    return m;
}
// A record of the two members "userId" and "strokeId".
template <class Message>
std::optional<ServerMessage> readUserStroke(Object o) {
    Message m;
    if (!readString(o, "userId", m.userId) || !readString(o, "strokeId", m.strokeId)) return std::nullopt;
    return m;
}
std::optional<ServerMessage> readCursor(Object o) {
    CursorMessage m;
    if (!readString(o, "userId", m.userId) || !readNumber(o, "x", m.x) || !readNumber(o, "y", m.y)) {
        return std::nullopt;
    }
    return m;
}
std::optional<ServerMessage> readPageChanged(Object o) {
    PageChangedMessage m;
    if (!readString(o, "userId", m.userId) || !json::readOptionalPage(o, "page", m.page)) return std::nullopt;
    return m;
}
std::optional<ServerMessage> readCanvasCleared(Object o) {
    CanvasClearedMessage m;
    if (!readString(o, "userId", m.userId)) return std::nullopt;
    return m;
}

std::optional<ServerMessage> readStrokeRedo(Object o) {
    StrokeRedoMessage m;
    if (!readString(o, "userId", m.userId) || !readString(o, "strokeId", m.strokeId) ||
        !readMember(o, "stroke", m.stroke) || !readString(o, "after", m.after)) {
        return std::nullopt;
    }
    return m;
}

// ---- client messages ----

std::optional<ClientMessage> readClientStrokeStart(Object o) {
    ClientMessage::StrokeStart m;
    if (!readMember(o, "stroke", m.stroke)) return std::nullopt;
    return ClientMessage{std::move(m)};
}
std::optional<ClientMessage> readClientStrokePoint(Object o) {
    ClientMessage::StrokePoint m;
    if (!readString(o, "strokeId", m.strokeId) || !readMember(o, "point", m.point)) return std::nullopt;
    return ClientMessage{std::move(m)};
}
// A message whose one member is "strokeId".
template <class Message>
std::optional<ClientMessage> readClientStroke(Object o) {
    Message m;
    if (!readString(o, "strokeId", m.strokeId)) return std::nullopt;
    return ClientMessage{std::move(m)};
}
std::optional<ClientMessage> readClientCursor(Object o) {
    ClientMessage::Cursor m;
    if (!readNumber(o, "x", m.x) || !readNumber(o, "y", m.y)) return std::nullopt;
    return ClientMessage{m};
}
std::optional<ClientMessage> readClientSetPage(Object o) {
    ClientMessage::SetPage m;
    if (!json::readRequiredNullablePage(o, "page", m.page)) return std::nullopt;
    return ClientMessage{std::move(m)};
}
std::optional<ClientMessage> readClientClearCanvas(Object) {
    return ClientMessage{ClientMessage::ClearCanvas{}};
}

template <typename Result>
using Reader = std::optional<Result> (*)(Object);

constexpr std::array<std::pair<std::string_view, Reader<ServerMessage>>, 11> kServerReaders{{
    {"room_state", readRoomState},
    {"peer_joined", readPeerJoined},
    {"peer_left", readPeerLeft},
    {"stroke_start", readStrokeStart},
    {"stroke_point", readStrokePoint},
    {"stroke_end", readUserStroke<StrokeEndMessage>},
    {"cursor", readCursor},
    {"page_changed", readPageChanged},
    {"canvas_cleared", readCanvasCleared},
    {"stroke_undo", readUserStroke<StrokeUndoMessage>},
    {"stroke_redo", readStrokeRedo},
}};

constexpr std::array<std::pair<std::string_view, Reader<ClientMessage>>, 8> kClientReaders{{
    {"stroke_start", readClientStrokeStart},
    {"stroke_point", readClientStrokePoint},
    {"stroke_end", readClientStroke<ClientMessage::StrokeEnd>},
    {"cursor", readClientCursor},
    {"set_page", readClientSetPage},
    {"clear_canvas", readClientClearCanvas},
    {"stroke_undo", readClientStroke<ClientMessage::StrokeUndo>},
    {"stroke_redo", readClientStroke<ClientMessage::StrokeRedo>},
}};

// Envelope first (an object with a string "type"), then the record that type names.
template <typename Result, std::size_t N>
std::optional<Result> decodeWith(std::string_view bytes, InputPadding padding,
                                 const std::array<std::pair<std::string_view, Reader<Result>>, N>& readers) {
    const auto root = json::parseDocument(bytes, padding == InputPadding::padded);
    if (!root) return std::nullopt;
    Object object;
    if (root->get_object().get(object) != simdjson::SUCCESS) return std::nullopt;
    std::string_view type;
    if (object.at_key("type").get_string().get(type) != simdjson::SUCCESS) return std::nullopt;
    for (const auto& [name, reader] : readers) {
        if (name == type) return reader(object);
    }
    return std::nullopt;
}
}  // namespace

std::optional<ServerMessage> decodeServerMessage(std::string_view bytes, InputPadding padding) {
    return decodeWith(bytes, padding, kServerReaders);
}

std::optional<ClientMessage> decodeClientMessage(std::string_view bytes, InputPadding padding) {
    return decodeWith(bytes, padding, kClientReaders);
}

}  // namespace vellumora
