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
constexpr std::size_t kGatherBytes = 4096;
// Past this much queued for a peer, what it sends waits in its socket until it reads.
constexpr std::size_t kPauseReadingBytes = 1 << 20;
// Pings and pongs a peer may send per second (and in a burst); a client sends none of its own.
constexpr unsigned kControlFramesPerSecond = 20;
using Phase = SendQueue::Phase;

// Adds to a room traffic counter. With one I/O thread that thread is the counters' only writer,
// and a plain add spares every message the locked instructions of atomic ones.
template <class Stream>
void addCount(std::atomic<std::uint64_t>& counter, std::uint64_t n) {
    if constexpr (std::is_same_v<Stream, OneThreadSocket>) {
        counter.store(counter.load(std::memory_order_relaxed) + n, std::memory_order_relaxed);
    } else {
        counter.fetch_add(n, std::memory_order_relaxed);
    }
}

// Writes `frame`'s header into `out`: its size, 0 for a frame queued with its header in place.
std::size_t headerOf(const SendQueue::Frame& frame, std::array<unsigned char, 10>& out) {
    if (frame.kind == SendQueue::Frame::Kind::raw) return 0;
    return ws::writeFrameHeader(frame.opcode, frame.bytes->size(), out, frame.fin);
}
}  // namespace

template <class Stream>
WebSocketSession<Stream>::WebSocketSession(Stream&& stream, ServerContext& context, Admission admission,
                                           std::string early)
    : stream_(std::move(stream)),
      context_(context),
      rate_(context.config.messageRateLimit),
      in_(early.begin(), early.end()),
      inUsed_(early.size()),
      reader_(kMaxMessageBytes),
      queue_({context.config.sendQueueMessages, context.config.sendQueueBytes, kPauseReadingBytes},
             context.output,
             std::is_same_v<Stream, OneThreadSocket> ? SendQueue::Threads::one : SendQueue::Threads::many),
      user_(std::move(admission.user)),
      roomId_(std::move(admission.roomId)),
      color_(std::move(admission.color)),
      tokenHash_(std::move(admission.tokenHash)),
      controlRate_(kControlFramesPerSecond),
      timer_(stream_.get_executor()) {
    if constexpr (kBareSocket<Stream>) {
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
    pushed(queue_.pushRaw(std::make_shared<const std::string>(std::move(response))));
    context_.rooms.acquire(roomId_, [self = this->shared_from_this()](std::shared_ptr<Room> room) {
        asio::post(self->stream_.get_executor(),
                   [self, room = std::move(room)]() mutable { self->enter(std::move(room)); });
    });
}

template <class Stream>
void WebSocketSession<Stream>::enter(std::shared_ptr<Room> room) {
    if (queue_.phase() == Phase::closed) return;
    if (!room) return closeWith(ws::close_code::tryAgainLater, "Server busy");
    if (!context_.presence.tryConnect(user_.id, context_.config.maxUserConnections)) {
        logLine("refused a room connection of " + user_.id + ": too many connections of that user");
        return closeWith(ws::close_code::tryAgainLater, "Too many connections");
    }
    if (!room->join(this->shared_from_this())) {
        context_.presence.disconnected(user_.id);
        return closeWith(ws::close_code::tryAgainLater, "Room is full");
    }
    room_ = std::move(room);
    joined_ = true;
    context_.metrics.connections.fetch_add(1, std::memory_order_relaxed);
    context_.sessions.add(tokenHash_, user_.id, this->shared_from_this());
    keepAlive();
    if (inUsed_ > 0 && !handleFrames()) return;
    readNext();
}

template <class Stream>
bool WebSocketSession<Stream>::holdInput(std::size_t bufferBytes) {
    const std::size_t want = (bufferBytes > kReadChunk ? bufferBytes - kReadChunk : 0) + reader_.heldBytes();
    if (want > inputHeld_) {
        const std::size_t more = want - inputHeld_;
        if (!context_.inputShares.take(user_.id, more)) return false;
        if (!context_.input.take(more)) {
            context_.inputShares.give(user_.id, more);
            return false;
        }
    } else if (want < inputHeld_) {
        context_.input.give(inputHeld_ - want);
        context_.inputShares.give(user_.id, inputHeld_ - want);
    }
    inputHeld_ = want;
    return true;
}

template <class Stream>
void WebSocketSession<Stream>::releaseInput() {
    context_.inputShares.give(user_.id, inputHeld_);
    context_.input.give(std::exchange(inputHeld_, 0));
}

template <class Stream>
void WebSocketSession<Stream>::readNext() {
    if (context_.writer.backlogged()) {
        return context_.writer.afterBacklog([self = this->shared_from_this()] {
            asio::post(self->stream_.get_executor(), [self] {
                if (self->queue_.phase() != Phase::closed) self->readNext();
            });
        });
    }
    // Nothing more is read while our answers pile up; the write that drains them reads on.
    if (queue_.readingPaused()) {
        readPaused_ = true;
        return;
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
    if (size > in_.size()) in_.resize(size);
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
    inUsed_ += bytes;
    addCount<Stream>(context_.metrics.roomBytesRead, bytes);
    if constexpr (std::is_same_v<Stream, OneThreadSocket>) {
        DeferredWrites& deferred = deferredWrites();
        deferred.reading = this;
        const bool more = handleFrames();
        deferred.reading = nullptr;  // what these writes start in turn is posted
        for (std::size_t i = 0; i < deferred.sessions.size(); ++i) deferred.sessions[i]->writeNext();
        deferred.sessions.clear();
        if (more) readNext();
    } else if (handleFrames()) {
        readNext();
    }
}

template <class Stream>
auto WebSocketSession<Stream>::deferredWrites() -> DeferredWrites& {
    thread_local DeferredWrites deferred;
    return deferred;
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
        const bool control = event.kind == FrameEvent::Kind::ping || event.kind == FrameEvent::Kind::pong;
        if (control && !controlRate_.tryAcquire()) {
            logLine("closing a room connection of " + user_.id + ": too many control frames");
            leaveRoom();
            closeWith(ws::close_code::policyViolation, "Too many control frames");
            keepReading = false;
            break;
        }
        switch (event.kind) {
            case FrameEvent::Kind::message:
                heard_ = true;
                addCount<Stream>(context_.metrics.messagesIn, 1);
                addCount<Stream>(context_.metrics.bytesIn, event.payload.size());
                if (!joined_) break;
                if (rate_.tryAcquire()) {
                    room_->handle(*this, event.payload);
                } else {
                    context_.metrics.messagesDropped.fetch_add(1, std::memory_order_relaxed);
                }
                break;
            case FrameEvent::Kind::ping:
                pushed(queue_.pushPong(std::make_shared<const std::string>(event.payload)));
                break;
            case FrameEvent::Kind::pong:
                heard_ = true;
                break;
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
    // Since when a message has been arriving, for its deadline.
    if (inUsed_ == 0 && !reader_.inMessage()) {
        unfinishedSince_.reset();
    } else if (!unfinishedSince_) {
        unfinishedSince_ = std::chrono::steady_clock::now();
    }
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
bool WebSocketSession<Stream>::enqueue(std::span<const Payload> parts) {
    const SendQueue::Push result = queue_.push(parts);
    if (result != SendQueue::Push::overflow) return result == SendQueue::Push::startWrite;
    pushed(result);
    return false;
}

template <class Stream>
void WebSocketSession<Stream>::pushed(SendQueue::Push result) {
    if (result == SendQueue::Push::startWrite) return send();
    if (result != SendQueue::Push::overflow) return;
    context_.metrics.slowConsumersClosed.fetch_add(1, std::memory_order_relaxed);
    asio::post(stream_.get_executor(), [self = this->shared_from_this()] { self->disconnect("fell too far behind"); });
}

template <class Stream>
void WebSocketSession<Stream>::send() {
    if constexpr (std::is_same_v<Stream, OneThreadSocket>) {
        // Not the reading connection's own: its frame loop and next read are under way.
        if (DeferredWrites& deferred = deferredWrites(); deferred.reading && deferred.reading != this)
            return deferred.sessions.push_back(this->shared_from_this());
    }
    asio::post(stream_.get_executor(), [self = this->shared_from_this()] { self->writeNext(); });
}

template <class Stream>
void WebSocketSession<Stream>::closeWith(std::uint16_t code, std::string_view reason) {
    const SendQueue::Push result = queue_.pushClose(std::make_shared<const std::string>(ws::closePayload(code, reason)));
    // Our close went first: the peer's answer ends the connection once ours is out.
    if (result == SendQueue::Push::refused && queue_.phase() == Phase::closeSent && closeReceived_) closeSocket();
    pushed(result);
}

template <class Stream>
void WebSocketSession<Stream>::writeNext() {
    if (!queue_.take(inflight_, kMaxFramesPerWrite)) return;
    if constexpr (kBareSocket<Stream>) {
        // Most writes fit the socket buffer at once: send now, and leave only a remainder to
        // an asynchronous write. A small write is gathered in the thread's buffer, which is in
        // cache, and goes out as one plain send: a sendmsg makes the kernel import and walk an
        // iovec of a header and a payload per frame.
        thread_local std::array<char, kGatherBytes> gathered;
        const std::size_t total = gather(gathered);
        if (total == 0) frameBuffers();
        const std::size_t size = total > 0 ? total : asio::buffer_size(buffers_);
        beast::error_code ec;
        std::size_t sent = total > 0 ? stream_.write_some(asio::buffer(gathered.data(), total), ec)
                                     : stream_.write_some(buffers_, ec);
        if (ec == asio::error::would_block || ec == asio::error::try_again) {
            ec = {};
            sent = 0;
        }
        if (ec || sent == size) {
            if (finishWrite(ec)) writeNext();
            return;
        }
        if (total > 0) {
            rest_.assign(gathered.data() + sent, gathered.data() + total);
            buffers_.assign(1, asio::buffer(rest_));
        } else {
            consumeBuffers(sent);
        }
    } else {
        frameBuffers();
    }
    // Only a write left to the socket's pace is watched: one that went out whole needs no clock.
    writeProgress_ = std::chrono::steady_clock::now();
    writeRest();
}

template <class Stream>
std::size_t WebSocketSession<Stream>::gather(std::span<char> out) const {
    std::size_t at = 0;
    for (const Frame& frame : inflight_) {
        std::array<unsigned char, 10> header{};
        const std::size_t headerSize = headerOf(frame, header);
        if (headerSize + frame.bytes->size() > out.size() - at) return 0;
        std::memcpy(out.data() + at, header.data(), headerSize);
        std::memcpy(out.data() + at + headerSize, frame.bytes->data(), frame.bytes->size());
        at += headerSize + frame.bytes->size();
    }
    return at;
}

template <class Stream>
void WebSocketSession<Stream>::frameBuffers() {
    headers_.resize(inflight_.size());
    buffers_.clear();
    for (std::size_t i = 0; i < inflight_.size(); ++i) {
        const Frame& out = inflight_[i];
        if (const std::size_t headerSize = headerOf(out, headers_[i]))
            buffers_.emplace_back(headers_[i].data(), headerSize);
        buffers_.emplace_back(out.bytes->data(), out.bytes->size());
    }
}

template <class Stream>
void WebSocketSession<Stream>::consumeBuffers(std::size_t sent) {
    std::size_t done = 0;
    while (done < buffers_.size() && sent >= buffers_[done].size()) sent -= buffers_[done++].size();
    if (done < buffers_.size()) buffers_[done] += sent;
    buffers_.erase(buffers_.begin(), buffers_.begin() + static_cast<std::ptrdiff_t>(done));
}

template <class Stream>
void WebSocketSession<Stream>::writeRest() {
    // Piece by piece, so that the keep-alive tick sees whether the peer takes anything at all.
    stream_.async_write_some(buffers_, [self = this->shared_from_this()](beast::error_code ec, std::size_t sent) {
        if (!ec) {
            self->writeProgress_ = std::chrono::steady_clock::now();
            self->consumeBuffers(sent);
            if (!self->buffers_.empty()) return self->writeRest();
        }
        if (self->finishWrite(ec)) self->writeNext();
    });
}

template <class Stream>
bool WebSocketSession<Stream>::finishWrite(beast::error_code ec) {
    const SendQueue::Settled settled = queue_.settle(inflight_, !ec);
    if (ec) {
        leaveRoom();
        closeSocket();
        return false;
    }
    addCount<Stream>(context_.metrics.messagesOut, settled.messages);
    addCount<Stream>(context_.metrics.bytesOut, settled.messageBytes);
    // Wait for the peer's close only while it is still being read.
    if (settled.closeWritten && (closeReceived_ || !reading_)) {
        queue_.idle();
        closeSocket();
        return false;
    }
    if (readPaused_ && !queue_.readingPaused()) {
        readPaused_ = false;
        readNext();
    }
    return true;
}

template <class Stream>
void WebSocketSession<Stream>::keepAlive() {
    if (context_.config.idleTimeout.count() <= 0) return;
    // Silence is fine (a watcher sends nothing); a peer that answers no ping is not, nor one whose
    // socket takes nothing we write.
    timer_.expires_after(std::chrono::duration_cast<std::chrono::milliseconds>(context_.config.idleTimeout) /
                         2);
    timer_.async_wait([self = this->shared_from_this()](beast::error_code ec) {
        const Phase phase = self->queue_.phase();
        if (ec || phase == Phase::closed) return;
        const auto now = std::chrono::steady_clock::now();
        if (!self->inflight_.empty() && now - self->writeProgress_ > self->context_.config.writeTimeout)
            return self->disconnect("its socket took nothing we wrote");
        if (self->unfinishedSince_ && now - *self->unfinishedSince_ > self->context_.config.messageDeadline &&
            phase < Phase::closeQueued) {
            logLine("closing a room connection of " + self->user_.id + ": a message took too long to arrive");
            self->unfinishedSince_.reset();
            self->leaveRoom();
            self->closeWith(ws::close_code::policyViolation, "Message took too long");
        }
        if (phase == Phase::closeSent) {
            // The peer had a whole tick to answer our close.
            if (std::exchange(self->closeTicked_, true)) return self->closeSocket();
        } else if (self->heard_) {
            self->heard_ = false;
            self->pinged_ = false;
        } else if (self->pinged_) {
            return self->disconnect("answered no ping");
        } else {
            self->pinged_ = true;
            self->pushed(self->queue_.pushPing());
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
void WebSocketSession<Stream>::endSession(const char* reason) {
    asio::post(stream_.get_executor(), [self = this->shared_from_this(), reason] {
        self->leaveRoom();
        self->closeWith(kSessionEndedCloseCode, reason);
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
    if (queue_.markClosed() == Phase::closed) return;
    timer_.cancel();
    releaseInput();
    beast::error_code ec;
    if constexpr (kBareSocket<Stream>) {
        stream_.close(ec);
    } else {
        beast::get_lowest_layer(stream_).socket().close(ec);
    }
}

template <class Stream>
void WebSocketSession<Stream>::leaveRoom() {
    queue_.leave();
    if (!joined_) return;
    joined_ = false;
    room_->leave(*this);
    context_.sessions.remove(tokenHash_, *this);
    context_.presence.disconnected(user_.id);
    context_.metrics.connections.fetch_sub(1, std::memory_order_relaxed);
}

template class WebSocketSession<RawSocket>;
template class WebSocketSession<OneThreadSocket>;
template class WebSocketSession<TlsStream>;

}  // namespace vellumora::server
