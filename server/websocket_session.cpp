#include "websocket_session.h"

#include <boost/asio/post.hpp>

#include "log.h"

namespace vellumora::server {

namespace beast = boost::beast;
namespace websocket = beast::websocket;

namespace {
constexpr std::size_t kKeepReadBufferBytes = 64 * 1024;
}

template <class Stream>
WebSocketSession<Stream>::WebSocketSession(Stream&& stream, ServerContext& context,
                                           RoomRegistry::Admission admission)
    : ws_(std::move(stream)),
      context_(context),
      user_(std::move(admission.user)),
      roomId_(std::move(admission.roomId)),
      color_(std::move(admission.color)),
      rate_(context.config.messageRateLimit) {}

template <class Stream>
WebSocketSession<Stream>::~WebSocketSession() {
    if (joined_) {
        // Only at shutdown, when pending handlers are destroyed without running.
        context_.presence.disconnected(user_.id);
        context_.metrics.connections.fetch_sub(1, std::memory_order_relaxed);
    }
}

template <class Stream>
void WebSocketSession<Stream>::start(RoomRegistry::Request request) {
    websocket::stream_base::timeout timeout{};
    timeout.handshake_timeout = std::chrono::seconds(30);
    // Silence is fine (a watcher sends nothing); a peer that answers no ping is not.
    timeout.idle_timeout = context_.config.idleTimeout;
    timeout.keep_alive_pings = true;
    ws_.set_option(timeout);
    ws_.set_option(websocket::stream_base::decorator([](websocket::response_type& response) {
        response.set(beast::http::field::server, "vellumora-server");
    }));
    ws_.read_message_max(kMaxMessageBytes);
    ws_.auto_fragment(false);
    ws_.async_accept(request,
                     [self = this->shared_from_this()](beast::error_code ec) { self->onAccept(ec); });
}

template <class Stream>
void WebSocketSession<Stream>::onAccept(beast::error_code ec) {
    if (ec) return;
    try {
        room_ = context_.rooms.acquire(roomId_);
    } catch (const StoreError& e) {
        logLine(std::string("database error: ") + e.what());
        ws_.async_close({websocket::close_code::internal_error},
                        [self = this->shared_from_this()](beast::error_code) {});
        return;
    }
    if (!room_->join(this->shared_from_this())) {
        room_.reset();
        ws_.async_close({websocket::close_code::try_again_later, "Room is full"},
                        [self = this->shared_from_this()](beast::error_code) {});
        return;
    }
    joined_ = true;
    context_.presence.connected(user_.id);
    context_.metrics.connections.fetch_add(1, std::memory_order_relaxed);
    readNext();
}

template <class Stream>
void WebSocketSession<Stream>::readNext() {
    ws_.async_read(buffer_, [self = this->shared_from_this()](beast::error_code ec, std::size_t bytes) {
        self->onRead(ec, bytes);
    });
}

template <class Stream>
void WebSocketSession<Stream>::onRead(beast::error_code ec, std::size_t bytes) {
    if (ec) {
        if (ec == websocket::error::message_too_big)
            logLine("closed a room connection for a message over 8 MiB");
        leaveRoom();
        return;
    }
    context_.metrics.messagesIn.fetch_add(1, std::memory_order_relaxed);
    context_.metrics.bytesIn.fetch_add(bytes, std::memory_order_relaxed);
    const auto data = buffer_.cdata();
    if (rate_.tryAcquire()) {
        room_->handle(*this, std::string_view(static_cast<const char*>(data.data()), data.size()));
    } else {
        context_.metrics.messagesDropped.fetch_add(1, std::memory_order_relaxed);
    }
    buffer_.consume(buffer_.size());
    // One large page must not pin megabytes to an otherwise idle connection.
    if (buffer_.capacity() > kKeepReadBufferBytes) buffer_.shrink_to_fit();
    readNext();
}

template <class Stream>
void WebSocketSession<Stream>::deliver(const Payload& payload) {
    std::lock_guard lock(queueMutex_);
    if (closed_) return;
    const ServerConfig& config = context_.config;
    if (queue_.size() >= config.sendQueueMessages || queuedBytes_ + payload->size() > config.sendQueueBytes) {
        closed_ = true;
        queue_.clear();
        queuedBytes_ = 0;
        context_.metrics.slowConsumersClosed.fetch_add(1, std::memory_order_relaxed);
        boost::asio::post(ws_.get_executor(),
                          [self = this->shared_from_this()] { self->disconnect("fell too far behind"); });
        return;
    }
    queue_.push_back(payload);
    queuedBytes_ += payload->size();
    if (!writing_) {
        writing_ = true;
        boost::asio::post(ws_.get_executor(), [self = this->shared_from_this()] { self->writeNext(); });
    }
}

template <class Stream>
void WebSocketSession<Stream>::writeNext() {
    Payload next;
    {
        std::unique_lock lock(queueMutex_);
        if (closed_ || queue_.empty()) {
            writing_ = false;
            if (std::exchange(closeWanted_, false)) {
                lock.unlock();
                sendClose();
            }
            return;
        }
        next = queue_.front();
    }
    ws_.text(true);
    ws_.async_write(boost::asio::buffer(*next),
                    [self = this->shared_from_this(), next](beast::error_code ec, std::size_t bytes) {
                        self->onWrite(ec, bytes);
                    });
}

template <class Stream>
void WebSocketSession<Stream>::onWrite(beast::error_code ec, std::size_t bytes) {
    {
        std::lock_guard lock(queueMutex_);
        if (ec) {
            closed_ = true;
            writing_ = false;
            queue_.clear();
            queuedBytes_ = 0;
            return;
        }
        if (!queue_.empty()) {
            queuedBytes_ -= queue_.front()->size();
            queue_.pop_front();
        }
    }
    context_.metrics.messagesOut.fetch_add(1, std::memory_order_relaxed);
    context_.metrics.bytesOut.fetch_add(bytes, std::memory_order_relaxed);
    writeNext();
}

template <class Stream>
void WebSocketSession<Stream>::goAway() {
    boost::asio::post(ws_.get_executor(), [self = this->shared_from_this()] {
        bool idle = false;
        {
            std::lock_guard lock(self->queueMutex_);
            if (self->closed_) return;
            self->closed_ = true;
            self->queue_.clear();
            self->queuedBytes_ = 0;
            idle = !self->writing_;
            self->closeWanted_ = !idle;
        }
        if (idle) self->sendClose();
    });
}

template <class Stream>
void WebSocketSession<Stream>::sendClose() {
    ws_.async_close({websocket::close_code::going_away, "Server stopping"},
                    [self = this->shared_from_this()](beast::error_code) {});
}

template <class Stream>
void WebSocketSession<Stream>::disconnect(std::string_view why) {
    logLine("closing a room connection of " + user_.id + ": " + std::string(why));
    // No close handshake: a peer that does not read would never see it.
    beast::get_lowest_layer(ws_).close();
}

template <class Stream>
void WebSocketSession<Stream>::leaveRoom() {
    {
        std::lock_guard lock(queueMutex_);
        closed_ = true;
        queue_.clear();
        queuedBytes_ = 0;
    }
    if (!joined_) return;
    joined_ = false;
    room_->leave(*this);
    context_.presence.disconnected(user_.id);
    context_.metrics.connections.fetch_sub(1, std::memory_order_relaxed);
}

template class WebSocketSession<PlainStream>;
template class WebSocketSession<TlsStream>;

}  // namespace vellumora::server
