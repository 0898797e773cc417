#pragma once
// The rooms of this process: admission of handshakes, loading a room from the store when
// its first connection arrives, and letting it go when the last one leaves.

#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "rooms/room.h"
#include "server_context.h"

namespace vellumora::server {

class RoomRegistry {
  public:
    using Request = boost::beast::http::request<boost::beast::http::string_body>;

    struct Admission {
        unsigned status = 200;
        std::string message;  // why it was refused
        UserRecord user;
        std::string roomId;
        std::string color;
        bool ok() const { return status == 200; }
    };

    RoomRegistry(const ServerConfig& config, Store& store, AccountApi& accounts, Metrics& metrics,
                 RoomBus& bus, HistoryWriter& writer);

    // Decides a WebSocket handshake from its query: 401 bad token, 400 malformed room id,
    // 403 a room the user may not enter.
    Admission admit(const Request& request, const std::string& remoteAddress);
    // Completes the upgrade of an admitted handshake with `response`; `early` holds what the
    // client sent after its request. `context` outlives every session.
    void startSession(boost::beast::tcp_stream&& stream, std::string response, Admission admission,
                      std::string early, ServerContext& context);
    void startSession(boost::beast::ssl_stream<boost::beast::tcp_stream>&& stream, std::string response,
                      Admission admission, std::string early, ServerContext& context);

    // The room, loaded from the store when it is not in memory.
    std::shared_ptr<Room> acquire(const std::string& roomId);
    // Sends every open room connection a "going away" close.
    void closeAll();

  private:
    const ServerConfig& config_;
    Store& store_;
    AccountApi& accounts_;
    Metrics& metrics_;
    RoomBus& bus_;
    HistoryWriter& writer_;
    std::mutex mutex_;
    std::unordered_map<std::string, std::weak_ptr<Room>> rooms_;
    std::vector<std::weak_ptr<RoomMember>> sessions_;
    void track(std::shared_ptr<RoomMember> session);
};

}  // namespace vellumora::server
