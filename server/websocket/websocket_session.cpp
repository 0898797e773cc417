#include "websocket/websocket_session.h"

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>

#include <algorithm>
#include <cstring>

#include "common/log.h"
#include "websocket/socket_read_buffer.h"

namespace vellumora::server {

namespace asio = boost::asio;
namespace beast = boost::beast;
using ws::FrameEvent;
using ws::Opcode;

namespace {
constexpr std::size_t kReadChunk = 4096;
constexpr std::size_t kKeepReadBufferBytes = 64 * 1024;
constexpr std::size_t kMaxFramesPerWrite = 64;
}  // namespace

template <class Stream>
WebSocketSession<Stream>::WebSocketSession(Stream&& stream, ServerContext& context, Admission admission,
                                           std::string early)
    : stream_(std::move(stream)),
      context_(context),
      user_(std::move(admission.user)),
      roomId_(std::move(admission.roomId)),
      color_(std::move(admission.color)),
      rate_(context.config.messageRateLimit),
      timer_(stream_.get_executor()),
      in_(early.begin(), early.end()),
      inUsed_(early.size()),
      reader_(kMaxMessageBytes) {
    if constexpr (std::is_same_v<Stream, RawSocket>) {
        beast::error_code ec;
        stream_.non_blocking(true, ec);  // for the direct sends; asynchronous operations are unaffected
    }
}

template <class Stream>
WebSocketSession<Stream>::~WebSocketSession() {
    releaseInput();
    if (joined_) {
        // Only at shutdown, when pending handlers are destroyed without running.
        context_.presence.disconnected(user_.id);
        context_.metrics.connections.fetch_sub(1, std::memory_order_relaxed);
    }
}

template <class Stream>
void WebSocketSession<Stream>::start(std::string response) {
    bool start = false;
    {
        std::lock_guard lock(queueMutex_);
        start = pushLocked(Outgoing::Kind::raw, Opcode::text,
                           std::make_shared<const std::string>(std::move(response)));
    }
    if (start) send();
    context_.rooms.acquire(roomId_, [self = this->shared_from_this()](std::shared_ptr<Room> room) {
        asio::post(self->stream_.get_executor(),
                   [self, room = std::move(room)]() mutable { self->enter(std::move(room)); });
    });
}

template <class Stream>
void WebSocketSession<Stream>::enter(std::shared_ptr<Room> room) {
    if (socketClosed_) return;
    if (!room) return closeWith(ws::close_code::tryAgainLater, "Server busy");
    if (!room->join(this->shared_from_this()))
        return closeWith(ws::close_code::tryAgainLater, "Room is full");
    room_ = std::move(room);
    joined_ = true;
    context_.presence.connected(user_.id);
    context_.metrics.connections.fetch_add(1, std::memory_order_relaxed);
    keepAlive();
    if (inUsed_ > 0 && !handleFrames()) return;
    readNext();
}

template <class Stream>
bool WebSocketSession<Stream>::holdInput(std::size_t bufferBytes) {
    const std::size_t want = (bufferBytes > kReadChunk ? bufferBytes - kReadChunk : 0) + reader_.heldBytes();
    if (want > inputHeld_) {
        if (!context_.input.take(want - inputHeld_)) return false;
    } else {
        context_.input.give(inputHeld_ - want);
    }
    inputHeld_ = want;
    return true;
}

template <class Stream>
void WebSocketSession<Stream>::releaseInput() {
    context_.input.give(std::exchange(inputHeld_, 0));
}

template <class Stream>
void WebSocketSession<Stream>::readNext() {
    if (context_.writer.backlogged()) {
        return context_.writer.afterBacklog([self = this->shared_from_this()] {
            asio::post(self->stream_.get_executor(), [self] {
                if (!self->socketClosed_) self->readNext();
            });
        });
    }
    // Grow with the bytes that arrive, not with what a header announces: at most double per read.
    const std::size_t missing = inNeeded_ > inUsed_ ? inNeeded_ - inUsed_ : 0;
    const std::size_t want = std::clamp(missing, kReadChunk, std::max(kReadChunk, inUsed_));
    const std::size_t size = std::max(in_.size(), inUsed_ + want);
    if (!holdInput(size)) {
        logLine("closing a room connection of " + user_.id + ": unfinished messages over the server's limit");
        leaveRoom();
        return closeWith(ws::close_code::tryAgainLater, "Server busy");
    }
    in_.resize(size);
    reading_ = true;
    stream_.async_read_some(ws::SocketReadBuffer{asio::buffer(in_.data() + inUsed_, in_.size() - inUsed_)},
                            [self = this->shared_from_this()](beast::error_code ec, std::size_t bytes) {
                                self->onRead(ec, bytes);
                            });
}

template <class Stream>
void WebSocketSession<Stream>::onRead(beast::error_code ec, std::size_t bytes) {
    reading_ = false;
    if (ec) {
        leaveRoom();
        closeSocket();
        return;
    }
    heard_ = true;
    inUsed_ += bytes;
    context_.metrics.roomBytesRead.fetch_add(bytes, std::memory_order_relaxed);
    if (handleFrames()) readNext();
}

template <class Stream>
bool WebSocketSession<Stream>::handleFrames() {
    std::size_t offset = 0;
    bool keepReading = true;
    while (keepReading) {
        const auto step = reader_.next(std::span<char>(in_.data() + offset, inUsed_ - offset));
        offset += step.consumed;
        const FrameEvent& event = step.event;
        if (event.kind == FrameEvent::Kind::none) {
            if (step.consumed == 0) {
                inNeeded_ = step.needed;
                break;
            }
            continue;
        }
        switch (event.kind) {
            case FrameEvent::Kind::message:
                context_.metrics.messagesIn.fetch_add(1, std::memory_order_relaxed);
                context_.metrics.bytesIn.fetch_add(event.payload.size(), std::memory_order_relaxed);
                if (!joined_) break;
                if (rate_.tryAcquire()) {
                    room_->handle(*this, event.payload);
                } else {
                    context_.metrics.messagesDropped.fetch_add(1, std::memory_order_relaxed);
                }
                break;
            case FrameEvent::Kind::ping:
                queueControl(Opcode::pong, std::string(event.payload));
                break;
            case FrameEvent::Kind::pong:
            case FrameEvent::Kind::none:
                break;
            case FrameEvent::Kind::close:
                closeReceived_ = true;
                leaveRoom();
                closeWith(event.code == ws::close_code::noStatus ? ws::close_code::normal : event.code, "");
                keepReading = false;
                break;
            case FrameEvent::Kind::error:
                if (event.code == ws::close_code::tooBig)
                    logLine("closed a room connection for a message over 8 MiB");
                leaveRoom();
                closeWith(event.code, event.reason);
                keepReading = false;
                break;
        }
    }
    inUsed_ -= offset;
    if (offset > 0 && inUsed_ > 0) std::memmove(in_.data(), in_.data() + offset, inUsed_);
    if (inNeeded_ <= inUsed_) inNeeded_ = 0;
    // One large message must not pin megabytes to an otherwise idle connection.
    if (in_.size() > kKeepReadBufferBytes && std::max(inUsed_, inNeeded_) <= kReadChunk) {
        in_.resize(kReadChunk);
        in_.shrink_to_fit();
    }
    if (!keepReading) releaseInput();
    return keepReading;
}

template <class Stream>
bool WebSocketSession<Stream>::enqueue(const Payload& payload) {
    std::lock_guard lock(queueMutex_);
    if (closed_) return false;
    const ServerConfig& config = context_.config;
    if (queuedCount_ >= config.sendQueueMessages || queuedBytes_ + payload->size() > config.sendQueueBytes) {
        closed_ = true;
        dropQueuedLocked();
        context_.metrics.slowConsumersClosed.fetch_add(1, std::memory_order_relaxed);
        asio::post(stream_.get_executor(),
                   [self = this->shared_from_this()] { self->disconnect("fell too far behind"); });
        return false;
    }
    return pushLocked(Outgoing::Kind::message, Opcode::text, payload);
}

template <class Stream>
void WebSocketSession<Stream>::send() {
    asio::post(stream_.get_executor(), [self = this->shared_from_this()] { self->writeNext(); });
}

template <class Stream>
void WebSocketSession<Stream>::queueControl(Opcode opcode, std::string payload) {
    bool start = false;
    {
        std::lock_guard lock(queueMutex_);
        if (closeQueued_) return;
        start = pushLocked(Outgoing::Kind::control, opcode,
                           std::make_shared<const std::string>(std::move(payload)));
    }
    if (start) send();
}

template <class Stream>
void WebSocketSession<Stream>::closeWith(std::uint16_t code, std::string_view reason) {
    bool start = false;
    bool alreadyClosing = false;
    {
        std::lock_guard lock(queueMutex_);
        closed_ = true;
        if (closeQueued_) {
            alreadyClosing = true;
        } else {
            closeQueued_ = true;
            start = pushLocked(Outgoing::Kind::control, Opcode::close,
                               std::make_shared<const std::string>(ws::closePayload(code, reason)));
        }
    }
    // Our close went first: the peer's answer ends the connection once ours is out.
    if (alreadyClosing && closeSent_ && closeReceived_) closeSocket();
    if (start) send();
}

template <class Stream>
bool WebSocketSession<Stream>::pushLocked(typename Outgoing::Kind kind, Opcode opcode, Payload bytes) {
    queuedBytes_ += bytes->size();
    ++queuedCount_;
    queue_.push_back({kind, opcode, std::move(bytes)});
    return !std::exchange(writing_, true);
}

template <class Stream>
void WebSocketSession<Stream>::dropQueuedLocked() {
    for (const Outgoing& out : queue_) queuedBytes_ -= out.bytes->size();
    queuedCount_ -= queue_.size();
    queue_.clear();
}

template <class Stream>
void WebSocketSession<Stream>::writeNext() {
    while (true) {
        {
            std::lock_guard lock(queueMutex_);
            if (queue_.empty() || socketClosed_) {
                writing_ = false;
                return;
            }
            while (!queue_.empty() && inflight_.size() < kMaxFramesPerWrite) {
                inflight_.push_back(std::move(queue_.front()));
                queue_.pop_front();
            }
        }
        headers_.resize(inflight_.size());
        buffers_.clear();
        for (std::size_t i = 0; i < inflight_.size(); ++i) {
            const Outgoing& out = inflight_[i];
            if (out.kind != Outgoing::Kind::raw)
                buffers_.emplace_back(headers_[i].data(),
                                      ws::writeFrameHeader(out.opcode, out.bytes->size(), headers_[i]));
            buffers_.emplace_back(out.bytes->data(), out.bytes->size());
        }
        if constexpr (std::is_same_v<Stream, RawSocket>) {
            // Most writes fit the socket buffer at once: send now, and leave only a remainder to
            // an asynchronous write.
            beast::error_code ec;
            std::size_t sent = stream_.write_some(buffers_, ec);
            if (ec == asio::error::would_block || ec == asio::error::try_again) {
                ec = {};
                sent = 0;
            }
            if (!ec && sent < asio::buffer_size(buffers_)) {
                std::size_t done = 0;
                while (sent >= buffers_[done].size()) sent -= buffers_[done++].size();
                buffers_[done] += sent;
                buffers_.erase(buffers_.begin(), buffers_.begin() + static_cast<std::ptrdiff_t>(done));
                break;
            }
            if (!finishWrite(ec)) return;
        } else {
            break;
        }
    }
    asio::async_write(stream_, buffers_,
                      [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
                          if (self->finishWrite(ec)) self->writeNext();
                      });
}

template <class Stream>
bool WebSocketSession<Stream>::finishWrite(beast::error_code ec) {
    std::size_t bytes = 0;
    std::size_t messages = 0;
    std::size_t messageBytes = 0;
    bool closeWritten = false;
    for (const Outgoing& out : inflight_) {
        bytes += out.bytes->size();
        if (out.kind == Outgoing::Kind::message) {
            ++messages;
            messageBytes += out.bytes->size();
        }
        closeWritten |= out.kind == Outgoing::Kind::control && out.opcode == Opcode::close;
    }
    const std::size_t count = inflight_.size();
    inflight_.clear();
    {
        std::lock_guard lock(queueMutex_);
        queuedBytes_ -= bytes;
        queuedCount_ -= count;
        if (ec) {
            closed_ = true;
            writing_ = false;
            dropQueuedLocked();
        }
    }
    if (ec) {
        leaveRoom();
        closeSocket();
        return false;
    }
    context_.metrics.messagesOut.fetch_add(messages, std::memory_order_relaxed);
    context_.metrics.bytesOut.fetch_add(messageBytes, std::memory_order_relaxed);
    if (closeWritten) {
        closeSent_ = true;
        // Wait for the peer's close only while it is still being read.
        if (closeReceived_ || !reading_) {
            {
                std::lock_guard lock(queueMutex_);
                writing_ = false;
            }
            closeSocket();
            return false;
        }
    }
    return true;
}

template <class Stream>
void WebSocketSession<Stream>::keepAlive() {
    if (context_.config.idleTimeout.count() <= 0) return;
    // Silence is fine (a watcher sends nothing); a peer that answers no ping is not.
    timer_.expires_after(std::chrono::duration_cast<std::chrono::milliseconds>(context_.config.idleTimeout) /
                         2);
    timer_.async_wait([self = this->shared_from_this()](beast::error_code ec) {
        if (ec || self->socketClosed_) return;
        if (self->closeSent_) {
            // The peer had a whole tick to answer our close.
            if (std::exchange(self->closeTicked_, true)) return self->closeSocket();
        } else if (self->heard_) {
            self->heard_ = false;
            self->pinged_ = false;
        } else if (self->pinged_) {
            return self->disconnect("answered no ping");
        } else {
            self->pinged_ = true;
            self->queueControl(Opcode::ping, {});
        }
        self->keepAlive();
    });
}

template <class Stream>
void WebSocketSession<Stream>::goAway(const char* reason) {
    asio::post(stream_.get_executor(), [self = this->shared_from_this(), reason] {
        self->closeWith(ws::close_code::goingAway, reason);
    });
}

template <class Stream>
void WebSocketSession<Stream>::disconnect(std::string_view why) {
    logLine("closing a room connection of " + user_.id + ": " + std::string(why));
    // No close handshake: a peer that does not read would never see it.
    leaveRoom();
    closeSocket();
}

template <class Stream>
void WebSocketSession<Stream>::closeSocket() {
    if (std::exchange(socketClosed_, true)) return;
    timer_.cancel();
    releaseInput();
    beast::error_code ec;
    if constexpr (std::is_same_v<Stream, RawSocket>) {
        stream_.close(ec);
    } else {
        beast::get_lowest_layer(stream_).socket().close(ec);
    }
}

template <class Stream>
void WebSocketSession<Stream>::leaveRoom() {
    {
        std::lock_guard lock(queueMutex_);
        closed_ = true;
    }
    if (!joined_) return;
    joined_ = false;
    room_->leave(*this);
    context_.presence.disconnected(user_.id);
    context_.metrics.connections.fetch_sub(1, std::memory_order_relaxed);
}

template class WebSocketSession<RawSocket>;
template class WebSocketSession<TlsStream>;

}  // namespace vellumora::server
