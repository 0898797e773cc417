#include "model/network_event.h"

namespace vellumora {

namespace {
struct ToEvent {
    NetworkEvent operator()(RoomStateMessage&& m) const {
        std::vector<Stroke> strokes;
        strokes.reserve(m.strokes.size());
        for (auto& stroke : m.strokes) strokes.push_back(std::move(stroke).toStroke());
        return {NetworkEvent::RoomState{std::move(strokes), std::move(m.peers), std::move(m.page)}};
    }
    NetworkEvent operator()(PeerJoinedMessage&& m) const {
        return {NetworkEvent::PeerJoined{std::move(m.peer)}};
    }
    NetworkEvent operator()(PeerLeftMessage&& m) const {
        return {NetworkEvent::PeerLeft{std::move(m.userId)}};
    }
    NetworkEvent operator()(StrokeStartMessage&& m) const {
        return {NetworkEvent::StrokeStart{std::move(m.userId), m.stroke.header(), m.stroke.point}};
    }
    NetworkEvent operator()(StrokePointMessage&& m) const {
        return {NetworkEvent::StrokePoint{std::move(m.userId), std::move(m.strokeId), m.point}};
    }
    NetworkEvent operator()(StrokeEndMessage&& m) const {
        return {NetworkEvent::StrokeEnd{std::move(m.userId), std::move(m.strokeId)}};
    }
    NetworkEvent operator()(CursorMessage&& m) const {
        return {NetworkEvent::Cursor{std::move(m.userId), m.x, m.y}};
    }
    NetworkEvent operator()(PageChangedMessage&& m) const {
        return {NetworkEvent::PageChanged{std::move(m.userId), std::move(m.page)}};
    }
    NetworkEvent operator()(CanvasClearedMessage&& m) const {
        return {NetworkEvent::CanvasCleared{std::move(m.userId)}};
    }
    NetworkEvent operator()(StrokeUndoMessage&& m) const {
        return {NetworkEvent::StrokeUndo{std::move(m.userId), std::move(m.strokeId)}};
    }
    NetworkEvent operator()(StrokeRedoMessage&& m) const {
        Stroke stroke = std::move(m.stroke).toStroke();
        stroke.id = std::move(m.strokeId);
        return {NetworkEvent::StrokeRedo{std::move(m.userId), std::move(stroke), std::move(m.after)}};
    }
};
}  // namespace

NetworkEvent toNetworkEvent(ServerMessage&& message) {
    return std::visit(ToEvent{}, std::move(message));
}

std::optional<NetworkEvent> decodeNetworkEvent(std::string_view bytes, InputPadding padding) {
    auto message = decodeServerMessage(bytes, padding);
    if (!message) return std::nullopt;
    return toNetworkEvent(std::move(*message));
}

}  // namespace vellumora
