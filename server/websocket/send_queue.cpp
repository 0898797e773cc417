#include "websocket/send_queue.h"

#include <algorithm>
#include <utility>

namespace vellumora::server {

namespace {
// A queue holding less than this is not the one to blame when the budget runs out.
constexpr std::size_t kFairShare = 256 * 1024;
}  // namespace

SendQueue::~SendQueue() {
    const LockIfShared held(mutex_, shared_);
    dropLocked();
    budget_.give(bytes_);  // frames still in flight
}

SendQueue::Push SendQueue::pushLocked(Frame frame) {
    const std::size_t size = frame.bytes->size();
    if (!budget_.take(size)) {
        if (bytes_ > kFairShare) return Push::overflow;
        budget_.force(size);
    }
    bytes_ += size;
    ++count_;
    queue_.push_back(std::move(frame));
    return std::exchange(writing_, true) ? Push::queued : Push::startWrite;
}

SendQueue::Push SendQueue::push(std::span<const Payload> parts) {
    const LockIfShared held(mutex_, shared_);
    if (phase_ != Phase::open) return Push::refused;
    std::size_t size = 0;
    for (const Payload& p : parts) size += p->size();
    Push result = count_ >= limits_.messages || bytes_ + size > limits_.bytes ? Push::overflow : Push::queued;
    bool start = false;
    for (std::size_t i = 0; i < parts.size() && result != Push::overflow; ++i) {
        const auto opcode = i == 0 ? ws::Opcode::text : ws::Opcode::continuation;
        result = pushLocked({Frame::Kind::message, opcode, i + 1 == parts.size(), parts[i]});
        start |= result == Push::startWrite;
    }
    if (result == Push::overflow) {
        dropLocked();
        phase_ = Phase::leaving;
        // A first part took the writer's turn, but nobody was told to write: the next push must.
        if (start) writing_ = false;
        return Push::overflow;
    }
    return start ? Push::startWrite : Push::queued;
}

SendQueue::Push SendQueue::pushRaw(Payload bytes) {
    const LockIfShared held(mutex_, shared_);
    if (phase_ >= Phase::closeQueued) return Push::refused;
    return pushLocked({Frame::Kind::raw, ws::Opcode::text, true, std::move(bytes)});
}

SendQueue::Push SendQueue::pushPing() {
    const LockIfShared held(mutex_, shared_);
    if (phase_ >= Phase::closeQueued) return Push::refused;
    static const Payload empty = std::make_shared<const std::string>();
    return pushLocked({Frame::Kind::control, ws::Opcode::ping, true, empty});
}

SendQueue::Push SendQueue::pushPong(Payload payload) {
    const LockIfShared held(mutex_, shared_);
    if (phase_ >= Phase::closeQueued) return Push::refused;
    const auto waiting = std::ranges::find_if(queue_, [](const Frame& f) { return f.opcode == ws::Opcode::pong; });
    if (waiting == queue_.end()) return pushLocked({Frame::Kind::control, ws::Opcode::pong, true, std::move(payload)});
    budget_.give(waiting->bytes->size());
    budget_.force(payload->size());  // at most 125 bytes, in place of as many
    bytes_ = bytes_ - waiting->bytes->size() + payload->size();
    waiting->bytes = std::move(payload);
    return Push::queued;
}

SendQueue::Push SendQueue::pushClose(Payload payload) {
    const LockIfShared held(mutex_, shared_);
    if (phase_ >= Phase::closeQueued) return Push::refused;
    phase_ = Phase::closeQueued;
    return pushLocked({Frame::Kind::control, ws::Opcode::close, true, std::move(payload)});
}

SendQueue::Phase SendQueue::leave() {
    const LockIfShared held(mutex_, shared_);
    const Phase before = phase_;
    phase_ = std::max(phase_, Phase::leaving);
    return before;
}

SendQueue::Phase SendQueue::markClosed() {
    const LockIfShared held(mutex_, shared_);
    dropLocked();
    return std::exchange(phase_, Phase::closed);
}

SendQueue::Phase SendQueue::phase() const {
    const LockIfShared held(mutex_, shared_);
    return phase_;
}

bool SendQueue::take(std::vector<Frame>& batch, std::size_t max) {
    const LockIfShared held(mutex_, shared_);
    if (queue_.empty() || phase_ == Phase::closed) {
        writing_ = false;
        return false;
    }
    while (!queue_.empty() && batch.size() < max) {
        batch.push_back(std::move(queue_.front()));
        queue_.pop_front();
    }
    return true;
}

SendQueue::Settled SendQueue::settle(std::vector<Frame>& batch, bool ok) {
    Settled s;
    std::size_t bytes = 0;
    for (const Frame& f : batch) {
        bytes += f.bytes->size();
        if (f.kind == Frame::Kind::message) {
            s.messages += f.fin;
            s.messageBytes += f.bytes->size();
        }
        s.closeWritten |= f.opcode == ws::Opcode::close;
    }
    const std::size_t count = batch.size();
    batch.clear();
    const LockIfShared held(mutex_, shared_);
    bytes_ -= bytes;
    count_ -= count;
    budget_.give(bytes);
    if (!ok) {
        phase_ = std::max(phase_, Phase::leaving);
        writing_ = false;
        dropLocked();
        return {};
    }
    if (s.closeWritten) phase_ = std::max(phase_, Phase::closeSent);
    return s;
}

void SendQueue::idle() {
    const LockIfShared held(mutex_, shared_);
    writing_ = false;
}

bool SendQueue::readingPaused() const {
    const LockIfShared held(mutex_, shared_);
    return bytes_ > limits_.pauseReadingBytes;
}

std::size_t SendQueue::queuedBytes() const {
    const LockIfShared held(mutex_, shared_);
    return bytes_;
}

void SendQueue::dropLocked() {
    std::size_t bytes = 0;
    for (const Frame& f : queue_) bytes += f.bytes->size();
    budget_.give(bytes);
    bytes_ -= bytes;
    count_ -= queue_.size();
    queue_.clear();
}

}  // namespace vellumora::server
