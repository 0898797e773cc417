#include "load_client.h"

#include "websocket_bits.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace vellumora::bench {

namespace {

constexpr std::size_t kHeaderRoom = 8;  // the largest client frame header we build: 2 + 2 + 4 (mask)
constexpr std::size_t kInitialBuffer = 16 * 1024;
constexpr std::size_t kMinRead = 4 * 1024;
constexpr std::uint64_t kMaxMessage = 64 * 1024 * 1024;
constexpr std::size_t kMaxResponseHead = 64 * 1024;

// Appends text and numbers into a fixed buffer; the messages are short and bounded by the ids.
class PayloadWriter {
  public:
    PayloadWriter(char* begin, char* end) : begin_(begin), at_(begin), end_(end) {}
    PayloadWriter& operator<<(std::string_view text) {
        if (text.size() > static_cast<std::size_t>(end_ - at_)) throw std::length_error("point message");
        std::memcpy(at_, text.data(), text.size());
        at_ += text.size();
        return *this;
    }
    PayloadWriter& operator<<(double value) {
        const auto result = std::to_chars(at_, end_, value);
        if (result.ec != std::errc()) throw std::length_error("point message");
        at_ = result.ptr;
        return *this;
    }
    std::size_t size() const { return static_cast<std::size_t>(at_ - begin_); }

  private:
    char* begin_;
    char* at_;
    char* end_;
};

bool wouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK;
}

}  // namespace

double monotonicSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

LoadClient::LoadClient(EventLoop& loop, LoadStats& stats, ConnectTally& tally, std::uint16_t port,
                       std::string target, std::string strokeId, bool peersMask)
    : loop_(loop),
      stats_(stats),
      tally_(tally),
      port_(port),
      target_(std::move(target)),
      strokeId_(std::move(strokeId)),
      peersMask_(peersMask),
      mask_(randomMaskKey()) {
    if (strokeId_.size() > 64) throw std::invalid_argument("stroke id too long");
}

LoadClient::~LoadClient() {
    if (fd_ >= 0) {
        loop_.remove(fd_);
        ::close(fd_);
    }
}

void LoadClient::connect() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "socket");
    const int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port_);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    state_ = State::Connecting;
    writable_ = true;
    loop_.add(fd_, EPOLLOUT, *this);
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        onConnected();
    else if (errno != EINPROGRESS)
        close();
}

void LoadClient::onConnected() {
    state_ = State::Handshaking;
    writable_ = false;
    loop_.modify(fd_, EPOLLIN, *this);
    const std::string request =
        "GET " + target_ + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) +
        "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: " + websocketKey() +
        "\r\nSec-WebSocket-Version: 13\r\n\r\n";
    sendBytes(request.data(), request.size());
}

void LoadClient::onEvents(std::uint32_t events) {
    if (state_ == State::Closed || state_ == State::Idle) return;
    if (state_ == State::Connecting) {
        int error = 0;
        socklen_t length = sizeof error;
        if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0)
            close();
        else if (events & EPOLLOUT)
            onConnected();
        else if (events & (EPOLLERR | EPOLLHUP))
            close();
        return;
    }
    if (events & EPOLLOUT) flush();
    if (state_ != State::Closed && (events & (EPOLLIN | EPOLLERR | EPOLLHUP))) onReadable();
}

void LoadClient::onReadable() {
    for (;;) {
        makeRoom();
        const std::size_t space = inSize_ - inEnd_;
        const ssize_t n = ::recv(fd_, in_.get() + inEnd_, space, 0);
        if (n > 0) {
            inEnd_ += static_cast<std::size_t>(n);
            const double now = monotonicSeconds();
            if (state_ == State::Handshaking && !readHandshake()) return;
            readFrames(now);
            // A short read emptied the socket; no need to hear that from another recv.
            if (state_ == State::Closed || static_cast<std::size_t>(n) < space) return;
        } else if (n == 0) {
            close();
            return;
        } else if (errno != EINTR) {
            if (!wouldBlock()) close();
            return;
        }
    }
}

bool LoadClient::readHandshake() {
    const std::string_view data(in_.get() + inBegin_, inEnd_ - inBegin_);
    const auto end = data.find("\r\n\r\n");
    if (end == std::string_view::npos) {
        if (data.size() > kMaxResponseHead) close();
        return false;
    }
    // "HTTP/1.1 101 Switching Protocols"; anything else is a refusal.
    const std::string_view line = data.substr(0, data.find("\r\n"));
    const auto space = line.find(' ');
    const bool switching = line.rfind("HTTP/", 0) == 0 && space != std::string_view::npos &&
                           line.substr(space + 1, 3) == "101" &&
                           (line.size() == space + 4 || line[space + 4] == ' ');
    if (!switching) {
        close();
        return false;
    }
    // The server may send room_state right behind the headers: those bytes stay in the buffer.
    inBegin_ += end + 4;
    state_ = State::Open;
    return true;
}

void LoadClient::readFrames(double now) {
    while (state_ == State::Open || state_ == State::Ready) {
        const std::size_t available = inEnd_ - inBegin_;
        if (available < 2) return;
        const auto* head = reinterpret_cast<const unsigned char*>(in_.get() + inBegin_);
        const bool fin = (head[0] & 0x80) != 0;
        const auto opcode = static_cast<Opcode>(head[0] & 0x0Fu);
        const bool masked = (head[1] & 0x80) != 0;
        if (head[0] & 0x70) return close();  // no extension was negotiated
        std::size_t header = 2;
        std::uint64_t size = head[1] & 0x7Fu;
        if (size == 126) {
            header = 4;
            if (available < header) return;
            size = (std::uint64_t{head[2]} << 8) | head[3];
        } else if (size == 127) {
            header = 10;
            if (available < header) return;
            size = 0;
            for (std::size_t i = 2; i < 10; ++i) size = (size << 8) | head[i];
        }
        if (size > kMaxMessage) return close();
        if (masked) {
            if (!peersMask_) return close();  // a server never masks
            header += 4;
        }
        const std::size_t total = header + static_cast<std::size_t>(size);
        if (available < total) {
            wantFrame_ = total;
            return;
        }
        wantFrame_ = 0;
        char* payload = in_.get() + inBegin_ + header;
        if (masked) applyMask(payload, static_cast<std::size_t>(size), head + header - 4);
        inBegin_ += total;
        onFrame(fin, opcode, payload, static_cast<std::size_t>(size), now);
    }
}

void LoadClient::onFrame(bool fin, Opcode opcode, char* payload, std::size_t size, double now) {
    if (opcode >= Opcode::close) {
        if (!fin || size > 125) return close();
        if (opcode == Opcode::ping) {
            sendFrame(Opcode::pong, payload, size);
        } else if (opcode == Opcode::close) {
            sendFrame(Opcode::close, payload, std::min<std::size_t>(size, 2));  // echo the status code
            close();
        } else if (opcode != Opcode::pong) {
            close();
        }
        return;
    }
    if (opcode == Opcode::continuation) {
        if (!fragmented_ || message_.size() + size > kMaxMessage) return close();
        message_.append(payload, size);
        if (fin) {
            fragmented_ = false;
            onMessage(message_, now);
            message_.clear();
        }
    } else if (opcode == Opcode::text || opcode == Opcode::binary) {
        if (fragmented_) return close();
        if (fin) {
            onMessage(std::string_view(payload, size), now);
        } else {
            fragmented_ = true;
            message_.assign(payload, size);
        }
    } else {
        close();
    }
}

void LoadClient::onMessage(std::string_view text, double now) {
    if (state_ != State::Ready && text.find("\"type\":\"room_state\"") != std::string_view::npos) {
        state_ = State::Ready;
        ++tally_.ready;
        return;
    }
    if (text.find("\"type\":\"stroke_point\"") == std::string_view::npos) return;
    const auto at = text.rfind("\"t\":");
    if (at == std::string_view::npos) return;
    double t = 0;
    std::from_chars(text.data() + at + 4, text.data() + text.size(), t);
    ++stats_.receivedTotal;
    if (stats_.measuring) {
        ++stats_.received;
        stats_.latencyMicros.push_back((now - t) * 1e6);
    }
}

void LoadClient::sendPoint() {
    PayloadWriter w(frame_.data() + kHeaderRoom, frame_.data() + frame_.size());
    const double t = monotonicSeconds();
    const double x = static_cast<double>(points_ % 1000) / 1000.0;
    if (points_ == 0) {
        w << R"({"type":"stroke_start","stroke":{"id":")" << strokeId_
          << R"(","userId":"u","tool":"pencil","color":{"r":0.9,"g":0.2,"b":0.1,"a":1},"brushSize":4,)"
          << R"("point":{"x":)" << x << R"(,"y":0.5,"pressure":1,"t":)" << t << "}}}";
    } else {
        w << R"({"type":"stroke_point","strokeId":")" << strokeId_ << R"(","point":{"x":)" << x
          << R"(,"y":0.5,"pressure":1,"t":)" << t << "}}";
        ++stats_.sentTotal;
        if (stats_.measuring) ++stats_.sent;
    }
    ++points_;
    sendBuilt(Opcode::text, w.size());
}

void LoadClient::sendFrame(Opcode opcode, const char* payload, std::size_t size) {
    if (size > frame_.size() - kHeaderRoom) throw std::length_error("control frame");
    if (size > 0) std::memcpy(frame_.data() + kHeaderRoom, payload, size);
    sendBuilt(opcode, size);
}

void LoadClient::sendBuilt(Opcode opcode, std::size_t payloadSize) {
    // The header goes right in front of the payload, which already sits at kHeaderRoom.
    auto* bytes = reinterpret_cast<unsigned char*>(frame_.data());
    std::size_t start = 2;
    if (payloadSize < 126) {
        bytes[3] = static_cast<unsigned char>(0x80 | payloadSize);
    } else {
        start = 0;
        bytes[1] = 0x80 | 126;
        bytes[2] = static_cast<unsigned char>(payloadSize >> 8);
        bytes[3] = static_cast<unsigned char>(payloadSize & 0xFF);
    }
    bytes[start] = static_cast<unsigned char>(0x80 | static_cast<unsigned>(opcode));
    std::memcpy(bytes + 4, &mask_, 4);
    applyMask(frame_.data() + kHeaderRoom, payloadSize, bytes + 4);
    sendBytes(frame_.data() + start, kHeaderRoom - start + payloadSize);
}

void LoadClient::sendBytes(const char* data, std::size_t size) {
    if (state_ == State::Closed) return;
    if (outAt_ < out_.size()) {  // earlier bytes still wait for the socket: keep the order
        out_.append(data, size);
        return;
    }
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::send(fd_, data + done, size - done, MSG_NOSIGNAL);
        if (n >= 0) {
            done += static_cast<std::size_t>(n);
        } else if (wouldBlock()) {
            break;
        } else if (errno != EINTR) {
            return close();
        }
    }
    if (done < size) {
        out_.assign(data + done, size - done);
        outAt_ = 0;
        watchWritable(true);
    }
}

void LoadClient::flush() {
    while (outAt_ < out_.size()) {
        const ssize_t n = ::send(fd_, out_.data() + outAt_, out_.size() - outAt_, MSG_NOSIGNAL);
        if (n >= 0) {
            outAt_ += static_cast<std::size_t>(n);
        } else if (wouldBlock()) {
            if (outAt_ > out_.size() / 2) {  // keep the backlog from creeping along the string
                out_.erase(0, outAt_);
                outAt_ = 0;
            }
            return;
        } else if (errno != EINTR) {
            return close();
        }
    }
    out_.clear();
    outAt_ = 0;
    watchWritable(false);
}

void LoadClient::watchWritable(bool on) {
    if (on == writable_ || fd_ < 0) return;
    writable_ = on;
    loop_.modify(fd_, on ? EPOLLIN | EPOLLOUT : EPOLLIN, *this);
}

void LoadClient::makeRoom() {
    if (inBegin_ == inEnd_) inBegin_ = inEnd_ = 0;
    if (inSize_ - inEnd_ >= kMinRead && inSize_ - inBegin_ >= wantFrame_) return;
    if (inBegin_ > 0) {
        std::memmove(in_.get(), in_.get() + inBegin_, inEnd_ - inBegin_);
        inEnd_ -= inBegin_;
        inBegin_ = 0;
    }
    std::size_t size = std::max(inSize_, kInitialBuffer);
    while (size - inEnd_ < kMinRead || size < wantFrame_) size *= 2;
    if (size == inSize_) return;
    auto bigger = std::make_unique_for_overwrite<char[]>(size);
    if (inEnd_ > 0) std::memcpy(bigger.get(), in_.get(), inEnd_);
    in_ = std::move(bigger);
    inSize_ = size;
}

void LoadClient::close() {
    if (state_ == State::Closed) return;
    if (state_ != State::Ready) ++tally_.failed;
    state_ = State::Closed;
    if (fd_ >= 0) {
        loop_.remove(fd_);
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace vellumora::bench
