#include <type_traits>

#include "model/json_forms.h"
#include "model/overloaded.h"
#include "model/protocol.h"

namespace vellumora {

Stroke WireStroke::toStroke() const& {
    return {id, userId, tool, color, brushSize, points, complete};
}

Stroke WireStroke::toStroke() && {
    return {std::move(id), std::move(userId), tool, color, brushSize, std::move(points), complete};
}

WireStroke WireStroke::from(const Stroke& stroke) {
    return {stroke.id,        stroke.userId, stroke.tool,    stroke.color,
            stroke.brushSize, stroke.points, stroke.complete};
}

std::string_view typeName(const ClientMessage& message) {
    return std::visit(Overloaded{
                          [](const ClientMessage::StrokeStart&) { return std::string_view("stroke_start"); },
                          [](const ClientMessage::StrokePoint&) { return std::string_view("stroke_point"); },
                          [](const ClientMessage::StrokeEnd&) { return std::string_view("stroke_end"); },
                          [](const ClientMessage::Cursor&) { return std::string_view("cursor"); },
                          [](const ClientMessage::SetPage&) { return std::string_view("set_page"); },
                          [](const ClientMessage::ClearCanvas&) { return std::string_view("clear_canvas"); },
                          [](const ClientMessage::StrokeUndo&) { return std::string_view("stroke_undo"); },
                          [](const ClientMessage::StrokeRedo&) { return std::string_view("stroke_redo"); },
                      },
                      message.value);
}

std::string_view typeName(const ServerMessage& message) {
    return std::visit(Overloaded{
                          [](const RoomStateMessage&) { return std::string_view("room_state"); },
                          [](const PeerJoinedMessage&) { return std::string_view("peer_joined"); },
                          [](const PeerLeftMessage&) { return std::string_view("peer_left"); },
                          [](const StrokeStartMessage&) { return std::string_view("stroke_start"); },
                          [](const StrokePointMessage&) { return std::string_view("stroke_point"); },
                          [](const StrokeEndMessage&) { return std::string_view("stroke_end"); },
                          [](const CursorMessage&) { return std::string_view("cursor"); },
                          [](const PageChangedMessage&) { return std::string_view("page_changed"); },
                          [](const CanvasClearedMessage&) { return std::string_view("canvas_cleared"); },
                          [](const StrokeUndoMessage&) { return std::string_view("stroke_undo"); },
                          [](const StrokeRedoMessage&) { return std::string_view("stroke_redo"); },
                      },
                      message);
}

ServerMessage relayedFrom(const ClientMessage& message, const std::string& senderUserId) {
    return std::visit(Overloaded{
                          [&](const ClientMessage::StrokeStart& m) -> ServerMessage {
                              StrokeStartMessage relayed{senderUserId, m.stroke};
                              relayed.stroke.userId = senderUserId;
                              return relayed;
                          },
                          [&](const ClientMessage::StrokePoint& m) -> ServerMessage {
                              return StrokePointMessage{senderUserId, m.strokeId, m.point};
                          },
                          [&](const ClientMessage::StrokeEnd& m) -> ServerMessage {
                              return StrokeEndMessage{senderUserId, m.strokeId};
                          },
                          [&](const ClientMessage::Cursor& m) -> ServerMessage {
                              return CursorMessage{senderUserId, m.x, m.y};
                          },
                          [&](const ClientMessage::SetPage& m) -> ServerMessage {
                              return PageChangedMessage{senderUserId, m.page};
                          },
                          [&](const ClientMessage::ClearCanvas&) -> ServerMessage {
                              return CanvasClearedMessage{senderUserId};
                          },
                          [&](const ClientMessage::StrokeUndo& m) -> ServerMessage {
                              return StrokeUndoMessage{senderUserId, m.strokeId};
                          },
                          [&](const ClientMessage::StrokeRedo& m) -> ServerMessage {
                              return StrokeRedoMessage{senderUserId, m.strokeId, {}, {}};
                          },
                      },
                      message.value);
}

namespace {
using json::Writer;

void writeUserId(Writer& w, const std::string& userId) {
    w.member("userId", userId);
}

void writeMembers(Writer& w, const ClientMessage::StrokeStart& m) {
    w.key("stroke");
    json::write(w, m.stroke);
}
void writeMembers(Writer& w, const ClientMessage::StrokePoint& m) {
    w.member("strokeId", m.strokeId);
    w.key("point");
    json::write(w, m.point);
}
void writeMembers(Writer& w, const ClientMessage::StrokeEnd& m) {
    w.member("strokeId", m.strokeId);
}
void writeMembers(Writer& w, const ClientMessage::Cursor& m) {
    w.member("x", m.x);
    w.member("y", m.y);
}
void writeMembers(Writer& w, const ClientMessage::SetPage& m) {
    w.key("page");
    json::write(w, m.page);
}
void writeMembers(Writer&, const ClientMessage::ClearCanvas&) {}
void writeMembers(Writer& w, const ClientMessage::StrokeUndo& m) {
    writeMembers(w, ClientMessage::StrokeEnd{m.strokeId});
}
void writeMembers(Writer& w, const ClientMessage::StrokeRedo& m) {
    writeMembers(w, ClientMessage::StrokeEnd{m.strokeId});
}

void writeMembers(Writer& w, const RoomStateMessage& m) {
    w.key("strokes");
    w.beginArray();
    for (const auto& stroke : m.strokes) json::write(w, stroke);
    w.endArray();
    w.key("peers");
    w.beginArray();
    for (const auto& peer : m.peers) json::write(w, peer);
    w.endArray();
    w.key("you");
    w.beginObject();
    writeUserId(w, m.you.userId);
    w.endObject();
    w.key("page");
    json::write(w, m.page);
}
void writeMembers(Writer& w, const PeerJoinedMessage& m) {
    w.key("peer");
    json::write(w, m.peer);
}
void writeMembers(Writer& w, const PeerLeftMessage& m) {
    writeUserId(w, m.userId);
}
void writeMembers(Writer& w, const StrokeStartMessage& m) {
    writeUserId(w, m.userId);
    w.key("stroke");
    json::write(w, m.stroke);
}
void writeMembers(Writer& w, const StrokePointMessage& m) {
    writeUserId(w, m.userId);
    w.member("strokeId", m.strokeId);
    w.key("point");
    json::write(w, m.point);
}
void writeMembers(Writer& w, const StrokeEndMessage& m) {
    writeUserId(w, m.userId);
    w.member("strokeId", m.strokeId);
}
void writeMembers(Writer& w, const StrokeUndoMessage& m) {
    writeMembers(w, StrokeEndMessage{m.userId, m.strokeId});
}
void writeMembers(Writer& w, const CursorMessage& m) {
    writeUserId(w, m.userId);
    w.member("x", m.x);
    w.member("y", m.y);
}
void writeMembers(Writer& w, const PageChangedMessage& m) {
    writeUserId(w, m.userId);
    w.key("page");
    json::write(w, m.page);
}
void writeMembers(Writer& w, const CanvasClearedMessage& m) {
    writeUserId(w, m.userId);
}
void writeMembers(Writer& w, const StrokeRedoMessage& m) {
    writeMembers(w, StrokeEndMessage{m.userId, m.strokeId});
    w.key("stroke");
    json::write(w, m.stroke);
    w.member("after", m.after);
}

template <typename Message>
bool encodeMessage(const Message& message, std::string& out) {
    const std::size_t start = out.size();
    Writer writer(out);
    writer.beginObject();
    writer.member("type", typeName(message));
    std::visit([&](const auto& m) { writeMembers(writer, m); },
               [&]() -> const auto& {
                   if constexpr (std::is_same_v<Message, ClientMessage>) {
                       return message.value;
                   } else {
                       return message;
                   }
               }());
    writer.endObject();
    if (!writer.ok()) {
        out.resize(start);
        return false;
    }
    return true;
}

template <typename Message>
std::optional<std::string> encodeToString(const Message& message) {
    std::string out;
    out.reserve(256);  // every per-point message fits; avoids regrowing on the hot path
    if (!encodeMessage(message, out)) return std::nullopt;
    return out;
}
}  // namespace

bool encodeInto(const ClientMessage& message, std::string& out) {
    return encodeMessage(message, out);
}
bool encodeInto(const ServerMessage& message, std::string& out) {
    return encodeMessage(message, out);
}
std::optional<std::string> encode(const ClientMessage& message) {
    return encodeToString(message);
}
std::optional<std::string> encode(const ServerMessage& message) {
    return encodeToString(message);
}

}  // namespace vellumora
