#pragma once
// One room connection. Reads run on the connection's strand; anything sent to it goes
// through a bounded queue with one write in flight, in order. A reader that falls so far
// behind that the queue overflows is disconnected rather than allowed to grow memory.

#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>

#include <deque>
#include <memory>
#include <mutex>

#include "http_session.h"
#include "rate_limiter.h"
#include "room.h"
#include "room_registry.h"
#include "server_context.h"

namespace vellumora::server {

template <class Stream>
class WebSocketSession final : public RoomMember,
                               public std::enable_shared_from_this<WebSocketSession<Stream>> {
  public:
    WebSocketSession(Stream&& stream, ServerContext& context, RoomRegistry::Admission admission);
    ~WebSocketSession() override;

    void start(RoomRegistry::Request request);

    void deliver(const Payload& payload) override;
    const UserRecord& user() const override { return user_; }
    const std::string& color() const override { return color_; }
    void goAway() override;

  private:
    void onAccept(boost::beast::error_code ec);
    void readNext();
    void onRead(boost::beast::error_code ec, std::size_t bytes);
    void writeNext();
    void onWrite(boost::beast::error_code ec, std::size_t bytes);
    void disconnect(std::string_view why);
    void leaveRoom();
    void sendClose();

    boost::beast::websocket::stream<Stream> ws_;
    boost::beast::flat_buffer buffer_;
    ServerContext& context_;
    UserRecord user_;
    std::string roomId_;
    std::string color_;
    std::shared_ptr<Room> room_;
    MessageRate rate_;
    bool joined_ = false;  // strand only

    std::mutex queueMutex_;
    std::deque<Payload> queue_;
    std::size_t queuedBytes_ = 0;
    bool writing_ = false;
    bool closed_ = false;
    bool closeWanted_ = false;  // a goodbye waits for the write in flight
};

extern template class WebSocketSession<PlainStream>;
extern template class WebSocketSession<TlsStream>;

}  // namespace vellumora::server
