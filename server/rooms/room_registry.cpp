#include "rooms/room_registry.h"

#include <unistd.h>

#include "common/log.h"
#include "rooms/room_admission.h"
#include "websocket/websocket_session.h"

namespace vellumora::server {

RoomRegistry::RoomRegistry(const ServerConfig& config, Store& store, AccountApi& accounts, Metrics& metrics,
                           RoomBus& bus, HistoryWriter& writer)
    : config_(config), store_(store), accounts_(accounts), metrics_(metrics), bus_(bus), writer_(writer) {}

RoomRegistry::Admission RoomRegistry::admit(const Request& request, const std::string& remoteAddress) {
    Admission a;
    auto refuse = [&](unsigned status, std::string message) {
        metrics_.refusedConnections.fetch_add(1, std::memory_order_relaxed);
        logLine("refused room connection from " + remoteAddress + ": " + message);
        a.status = status;
        a.message = std::move(message);
        return a;
    };
    const std::string_view target = request.target();
    const auto q = target.find('?');
    const std::string_view query = q == std::string_view::npos ? std::string_view{} : target.substr(q + 1);

    std::optional<UserRecord> user;
    try {
        if (auto token = queryValue(query, "token")) user = accounts_.userForToken(*token);
    } catch (const StoreError& e) {
        logLine(std::string("database error: ") + e.what());
        return refuse(500, "Internal server error");
    }
    if (!user) return refuse(401, "Not signed in");

    std::optional<std::string> roomText = queryValue(query, "room");
    const std::optional<RoomId> room = roomText ? parseRoomId(*roomText) : std::nullopt;
    if (!room) return refuse(400, "Malformed room id");
    if (room->kind == RoomId::Kind::solo) {
        if (room->first != user->id) return refuse(403, "Not your sketchbook");
    } else {
        const bool first = room->first == user->id;
        if (!first && room->second != user->id) return refuse(403, "Not your room");
        const std::string& other = first ? room->second : room->first;
        bool friends = false;
        try {
            friends = store_.areFriends(user->id, other);
        } catch (const StoreError& e) {
            logLine(std::string("database error: ") + e.what());
            return refuse(500, "Internal server error");
        }
        if (!friends) return refuse(403, "Only friends share a room");
    }
    a.user = std::move(*user);
    a.roomId = std::move(*roomText);
    a.color = peerColor(queryValue(query, "color").value_or(""));
    return a;
}

void RoomRegistry::startSession(boost::beast::tcp_stream&& stream, std::string response, Admission admission,
                                std::string early, ServerContext& context) {
    // Room traffic goes straight to the socket, without the HTTP stream's timeout machinery.
    auto plain = stream.release_socket();
    const RoomStrand* strand = plain.get_executor().target<RoomStrand>();
    if (!strand) throw std::logic_error("room connections must be accepted on a strand of the io_context");
    boost::system::error_code ec;
    const auto protocol = plain.local_endpoint(ec).protocol();
    if (ec) return;  // already gone
    const auto fd = plain.release(ec);
    if (ec) return;
    // Not the throwing constructor: out of epoll watches, this connection fails, not the server.
    RawSocket socket(*strand);
    socket.assign(protocol, fd, ec);
    if (ec) {
        ::close(fd);
        return;
    }
    auto session = std::make_shared<WebSocketSession<RawSocket>>(std::move(socket), context,
                                                                 std::move(admission), std::move(early));
    track(session);
    session->start(std::move(response));
}

void RoomRegistry::startSession(boost::beast::ssl_stream<boost::beast::tcp_stream>&& stream,
                                std::string response, Admission admission, std::string early,
                                ServerContext& context) {
    auto session = std::make_shared<WebSocketSession<TlsStream>>(std::move(stream), context,
                                                                 std::move(admission), std::move(early));
    track(session);
    session->start(std::move(response));
}

void RoomRegistry::track(std::shared_ptr<RoomMember> session) {
    std::lock_guard lock(mutex_);
    if (sessions_.size() >= 64 && sessions_.size() % 64 == 0)
        std::erase_if(sessions_, [](const auto& s) { return s.expired(); });
    sessions_.push_back(std::move(session));
}

void RoomRegistry::closeAll() {
    std::vector<std::shared_ptr<RoomMember>> open;
    {
        std::lock_guard lock(mutex_);
        for (const auto& weak : sessions_) {
            if (auto s = weak.lock()) open.push_back(std::move(s));
        }
    }
    for (const auto& s : open) s->goAway();
}

std::shared_ptr<Room> RoomRegistry::acquire(const std::string& roomId) {
    std::lock_guard lock(mutex_);
    if (rooms_.size() > 1024) std::erase_if(rooms_, [](const auto& entry) { return entry.second.expired(); });
    auto& slot = rooms_[roomId];
    if (auto room = slot.lock()) return room;
    // A room that was let go may still have changes on their way to disk.
    writer_.flush();
    auto room = std::make_shared<Room>(roomId, store_.loadRoom(roomId), bus_.channel(roomId), writer_,
                                       metrics_, config_.maxRoomConnections);
    slot = room;
    return room;
}

}  // namespace vellumora::server
