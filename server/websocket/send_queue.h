#pragma once
// What one room connection has to send, in order, within bounds. Producers (room relays on any
// thread) push; the connection's strand takes batches, writes them and settles them. A queue
// made for one thread (`Threads::one`: the server runs a single I/O thread) takes no locks. Every
// frame counts against the connection's limits and the process's outgoing budget: messages,
// the handshake answer, pings, pongs and the close. At most one pong waits at a time (a newer
// ping's answer replaces it, as the WebSocket RFC allows), so a peer that pings and never reads
// cannot make it grow. The close phases are one state.

#include <array>
#include <cstddef>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/thread_annotations.h"
#include "websocket/byte_budget.h"
#include "websocket/ws_frame.h"

namespace vellumora::server {

using Payload = std::shared_ptr<const std::string>;

class SendQueue {
  public:
    struct Limits {
        std::size_t messages;
        std::size_t bytes;
        // Past this many bytes queued the connection stops reading until it drains.
        std::size_t pauseReadingBytes;
    };

    enum class Phase {
        open,         // everything accepted
        leaving,      // messages refused (the connection left its room); control frames still go
        closeQueued,  // our close frame is queued; nothing more is accepted
        closeSent,    // our close frame is written
        closed,       // the socket is closed; nothing is written any more
    };

    struct Frame {
        enum class Kind { message, control, raw } kind = Kind::message;
        ws::Opcode opcode = ws::Opcode::text;
        bool fin = true;
        Payload bytes;
    };

    enum class Push {
        queued,     // a write is under way and will take it
        startWrite, // queued; the caller must start writing
        refused,    // not accepted in this phase
        overflow,   // over the limits: everything queued was dropped and the phase is `leaving`
    };

    enum class Threads { one, many };

    SendQueue(Limits limits, ByteBudget& budget, Threads threads = Threads::many)
        : shared_(threads == Threads::many), limits_(limits), budget_(budget) {}
    ~SendQueue();
    SendQueue(const SendQueue&) = delete;
    SendQueue& operator=(const SendQueue&) = delete;

    // One message, one frame per part (a message in parts shares them with other queues).
    Push push(std::span<const Payload> parts);
    // The 101 answer, before any frame.
    Push pushRaw(Payload bytes);
    Push pushPing();
    // The answer to the latest ping.
    Push pushPong(Payload payload);
    // Our close frame; refused when one is queued already.
    Push pushClose(Payload payload);

    // Stops taking messages (control frames still go). Returns the phase before.
    Phase leave();
    // The socket is closed: drops everything and accepts nothing more. Returns the phase before.
    Phase markClosed();
    Phase phase() const;

    // Moves up to `max` frames into `batch` for one write; false (and the writer idle) when there
    // are none or the socket is closed.
    bool take(std::vector<Frame>& batch, std::size_t max);
    struct Settled {
        std::size_t messages = 0;
        std::size_t messageBytes = 0;
        bool closeWritten = false;
    };
    // Accounts a batch written (or failed: what is queued is then dropped) and clears it.
    Settled settle(std::vector<Frame>& batch, bool ok);
    // Called when nothing more will be written now: the next push starts a write.
    void idle();

    bool readingPaused() const;
    std::size_t queuedBytes() const;

  private:
    Push pushLocked(Frame frame) REQUIRES(mutex_);
    void dropLocked() REQUIRES(mutex_);

    // Declared before the mutex they are guarded by, so that a push or a take reads one or two
    // cache lines, not three; with one thread the mutex is never touched.
    Phase phase_ GUARDED_BY(mutex_) = Phase::open;
    bool writing_ GUARDED_BY(mutex_) = false;
    const bool shared_;
    std::size_t bytes_ GUARDED_BY(mutex_) = 0;  // queued and in flight
    std::size_t count_ GUARDED_BY(mutex_) = 0;
    const Limits limits_;
    ByteBudget& budget_;
    std::deque<Frame> queue_ GUARDED_BY(mutex_);
    mutable Mutex mutex_;
};

}  // namespace vellumora::server
