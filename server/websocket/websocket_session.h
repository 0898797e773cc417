#pragma once
// One room connection. Reads, frame handling and writes run on the connection's strand (with one
// I/O thread, simply on that thread).
// Anything sent to it goes through its SendQueue, and whatever has queued up while a write was
// in flight goes out together in the next one. A reader that falls so far behind that the
// queue overflows, or whose socket takes nothing for --write-timeout, is disconnected rather
// than allowed to grow memory; while much is queued the connection stops reading, so a peer
// that sends without reading answers only to TCP.
//
// The read buffer grows with the bytes that arrive, never with the length a frame header
// announces, and what it holds beyond its first chunk counts against the process-wide
// input ByteBudget. While the history writer is backlogged the connection stops reading.

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/ssl.hpp>

#include <array>
#include <chrono>
#include <optional>
#include <memory>
#include <span>
#include <type_traits>
#include <vector>

#include "accounts/rate_limiter.h"
#include "rooms/room.h"
#include "rooms/room_admission.h"
#include "server_context.h"
#include "websocket/send_queue.h"
#include "websocket/ws_frame.h"

namespace vellumora::server {

// Room traffic runs on the connection's strand with its concrete type: the type-erased
// executor of the HTTP stream costs a little on every operation.
using RoomStrand = boost::asio::strand<boost::asio::io_context::executor_type>;
using RawSocket = boost::asio::basic_stream_socket<boost::asio::ip::tcp, RoomStrand>;
// With one I/O thread every handler already runs in turn: no strand, whose locks and second
// scheduling of every completion were a fifth of the I/O thread's instructions per message.
using OneThreadSocket =
    boost::asio::basic_stream_socket<boost::asio::ip::tcp, boost::asio::io_context::executor_type>;
using TlsStream = boost::beast::ssl_stream<boost::beast::tcp_stream>;

template <class Stream>
constexpr bool kBareSocket = std::is_same_v<Stream, RawSocket> || std::is_same_v<Stream, OneThreadSocket>;

template <class Stream>
class WebSocketSession final : public RoomMember,
                               public std::enable_shared_from_this<WebSocketSession<Stream>> {
  public:
    // `early` holds bytes the client sent after its upgrade request.
    WebSocketSession(Stream&& stream, ServerContext& context, Admission admission, std::string early);
    ~WebSocketSession() override;

    // Answers the handshake with `response` and joins the room once it is loaded.
    void start(std::string response);

    bool enqueue(std::span<const Payload> parts) override;
    void send() override;
    const UserRecord& user() const override { return user_; }
    const std::string& color() const override { return color_; }
    void goAway(const char* reason) override;
    void endSession(const char* reason) override;

  private:
    using Frame = SendQueue::Frame;

    void enter(std::shared_ptr<Room> room);
    void readNext();
    void onRead(boost::beast::error_code ec, std::size_t bytes);
    // Handles every complete frame received; false once reading should stop.
    bool handleFrames();
    // Accounts `bufferBytes` of read buffer plus the reader's fragments; false past the budget.
    bool holdInput(std::size_t bufferBytes);
    void releaseInput();
    // Acts on what a push answered: starts writing, or drops a connection that fell behind.
    void pushed(SendQueue::Push result);
    void closeWith(std::uint16_t code, std::string_view reason);
    void writeNext();
    // Writes the frames in flight, headers and payloads in order, into `out`; their size, or 0 when
    // they do not fit.
    std::size_t gather(std::span<char> out) const;
    // Points buffers_ at the frames in flight: a header of its own and the payload of each.
    void frameBuffers();
    // The rest of a write the socket did not take at once.
    void writeRest();
    void consumeBuffers(std::size_t sent);
    // Settles the frames of a finished write; true when writing should go on.
    bool finishWrite(boost::beast::error_code ec);
    void keepAlive();
    void disconnect(std::string_view why);
    // With one I/O thread, the writes that a read's messages start on other connections run when
    // that read is handled rather than as handlers of their own: each of those cost a pass of
    // the scheduler and, when nothing else was ready, an extra epoll_wait.
    struct DeferredWrites {
        const WebSocketSession* reading = nullptr;
        std::vector<std::shared_ptr<WebSocketSession>> sessions;
    };
    static DeferredWrites& deferredWrites();
    void closeSocket();
    void leaveRoom();

    // What a relayed message touches, on either side, comes first and together: with hundreds of
    // connections taking turns it is cold each time, and every cache line it spans costs a miss.
    Stream stream_;
    ServerContext& context_;
    std::shared_ptr<Room> room_;
    MessageRate rate_;

    // Strand only.
    std::vector<char> in_;
    std::size_t inUsed_ = 0;
    std::size_t inNeeded_ = 0;
    std::size_t inputHeld_ = 0;  // taken from the input ByteBudget
    ws::FrameReader reader_;
    bool joined_ = false;
    bool reading_ = false;
    bool readPaused_ = false;  // stopped reading while much is queued
    bool heard_ = true;        // a pong or a message arrived since the last keep-alive tick
    bool pinged_ = false;
    bool closeReceived_ = false;
    bool closeTicked_ = false;
    std::optional<std::chrono::steady_clock::time_point> unfinishedSince_;  // a message is arriving
    std::vector<Frame> inflight_;
    std::vector<std::array<unsigned char, 10>> headers_;
    std::vector<char> rest_;  // what a gathered write left for the socket to take later
    std::vector<boost::asio::const_buffer> buffers_;

    SendQueue queue_;

    UserRecord user_;
    std::string roomId_;
    std::string color_;
    std::string tokenHash_;
    MessageRate controlRate_;
    boost::asio::steady_timer timer_;
    // Strand only: the last time bytes left while writing.
    std::chrono::steady_clock::time_point writeProgress_{};
};

extern template class WebSocketSession<RawSocket>;
extern template class WebSocketSession<OneThreadSocket>;
extern template class WebSocketSession<TlsStream>;

}  // namespace vellumora::server
