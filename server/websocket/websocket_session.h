#pragma once
// One room connection. Reads, frame handling and writes run on the connection's strand.
// Anything sent to it goes through a bounded queue, and whatever has queued up while a
// write was in flight goes out together in the next one. A reader that falls so far behind
// that the queue overflows is disconnected rather than allowed to grow memory.
//
// The read buffer grows with the bytes that arrive, never with the length a frame header
// announces, and what it holds beyond its first chunk counts against the process-wide
// InputBudget. While the history writer is backlogged the connection stops reading.

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/ssl.hpp>

#include <array>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "accounts/rate_limiter.h"
#include "rooms/room.h"
#include "rooms/room_admission.h"
#include "server_context.h"
#include "websocket/ws_frame.h"

namespace vellumora::server {

// Room traffic runs on the connection's strand with its concrete type: the type-erased
// executor of the HTTP stream costs a little on every operation.
using RoomStrand = boost::asio::strand<boost::asio::io_context::executor_type>;
using RawSocket = boost::asio::basic_stream_socket<boost::asio::ip::tcp, RoomStrand>;
using TlsStream = boost::beast::ssl_stream<boost::beast::tcp_stream>;

template <class Stream>
class WebSocketSession final : public RoomMember,
                               public std::enable_shared_from_this<WebSocketSession<Stream>> {
  public:
    // `early` holds bytes the client sent after its upgrade request.
    WebSocketSession(Stream&& stream, ServerContext& context, Admission admission, std::string early);
    ~WebSocketSession() override;

    // Answers the handshake with `response` and joins the room once it is loaded.
    void start(std::string response);

    bool enqueue(const Payload& payload) override;
    void send() override;
    const UserRecord& user() const override { return user_; }
    const std::string& color() const override { return color_; }
    void goAway(const char* reason) override;

  private:
    struct Outgoing {
        enum class Kind { message, control, raw } kind;
        ws::Opcode opcode;
        Payload bytes;
    };

    void enter(std::shared_ptr<Room> room);
    void readNext();
    void onRead(boost::beast::error_code ec, std::size_t bytes);
    // Handles every complete frame received; false once reading should stop.
    bool handleFrames();
    // Accounts `bufferBytes` of read buffer plus the reader's fragments; false past the budget.
    bool holdInput(std::size_t bufferBytes);
    void releaseInput();
    void queueControl(ws::Opcode opcode, std::string payload);
    void closeWith(std::uint16_t code, std::string_view reason);
    void dropQueuedLocked();
    // Queues one outgoing frame; true when no write is under way and the caller must start one.
    bool pushLocked(typename Outgoing::Kind kind, ws::Opcode opcode, Payload bytes);
    void writeNext();
    // Settles the frames of a finished write; true when writing should go on.
    bool finishWrite(boost::beast::error_code ec);
    void keepAlive();
    void disconnect(std::string_view why);
    void closeSocket();
    void leaveRoom();

    Stream stream_;
    ServerContext& context_;
    UserRecord user_;
    std::string roomId_;
    std::string color_;
    std::shared_ptr<Room> room_;
    MessageRate rate_;
    boost::asio::steady_timer timer_;

    // Strand only.
    std::vector<char> in_;
    std::size_t inUsed_ = 0;
    std::size_t inNeeded_ = 0;
    std::size_t inputHeld_ = 0;  // taken from the InputBudget
    ws::FrameReader reader_;
    bool joined_ = false;
    bool reading_ = false;
    bool heard_ = true;  // something arrived since the last keep-alive tick
    bool pinged_ = false;
    bool closeReceived_ = false;
    bool closeSent_ = false;
    bool closeTicked_ = false;
    bool socketClosed_ = false;
    std::vector<Outgoing> inflight_;
    std::vector<std::array<unsigned char, 10>> headers_;
    std::vector<boost::asio::const_buffer> buffers_;

    std::mutex queueMutex_;
    std::deque<Outgoing> queue_;
    std::size_t queuedBytes_ = 0;  // queued and in flight
    std::size_t queuedCount_ = 0;
    bool writing_ = false;
    bool closed_ = false;  // nothing more is accepted for sending
    bool closeQueued_ = false;
};

extern template class WebSocketSession<RawSocket>;
extern template class WebSocketSession<TlsStream>;

}  // namespace vellumora::server
