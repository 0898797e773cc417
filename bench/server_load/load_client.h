#pragma once
// One drawing participant of the load test: a WebSocket client on the generator's epoll loop
// that sends stroke points on demand and times the points relayed to it. Lean on purpose:
// the generator must stay far cheaper than the server it measures.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "event_loop.h"
#include "websocket_bits.h"

namespace vellumora::bench {

struct LoadStats {
    bool measuring = false;
    std::uint64_t sent = 0;      // points sent in the window
    std::uint64_t received = 0;  // relayed points received in the window
    std::uint64_t sentTotal = 0;
    std::uint64_t receivedTotal = 0;
    std::vector<double> latencyMicros;  // of the points received in the window
};

// How many clients of a batch have settled either way.
struct ConnectTally {
    int ready = 0;
    int failed = 0;
};

// Seconds on the monotonic clock; what the points carry as `t`.
double monotonicSeconds();

class LoadClient final : public EpollHandler {
  public:
    // `peersMask`: the far end forwards other clients' frames as they were sent, masked.
    LoadClient(EventLoop& loop, LoadStats& stats, ConnectTally& tally, std::uint16_t port, std::string target,
               std::string strokeId, bool peersMask = false);
    ~LoadClient();
    LoadClient(const LoadClient&) = delete;
    LoadClient& operator=(const LoadClient&) = delete;

    // Connects and handshakes; counts in the tally once the room_state has arrived or it failed.
    void connect();
    // Sends the next point of this client's stroke (its start first).
    void sendPoint();
    void close();
    bool isReady() const { return state_ == State::Ready; }
    // Bytes accepted from sendPoint() that the kernel has not taken yet.
    std::size_t queuedBytes() const { return out_.size() - outAt_; }

    void onEvents(std::uint32_t events) override;

  private:
    enum class State { Idle, Connecting, Handshaking, Open, Ready, Closed };

    void onConnected();
    void onReadable();
    bool readHandshake();
    void readFrames(double now);
    void onFrame(bool fin, Opcode opcode, char* payload, std::size_t size, double now);
    void onMessage(std::string_view text, double now);
    void sendFrame(Opcode opcode, const char* payload, std::size_t size);
    void sendBuilt(Opcode opcode, std::size_t payloadSize);
    void sendBytes(const char* data, std::size_t size);
    void flush();
    void watchWritable(bool on);
    void makeRoom();

    EventLoop& loop_;
    LoadStats& stats_;
    ConnectTally& tally_;
    std::uint16_t port_;
    std::string target_;
    std::string strokeId_;
    bool peersMask_;
    State state_ = State::Idle;
    int fd_ = -1;
    bool writable_ = false;  // EPOLLOUT is in the interest set
    std::uint32_t mask_ = 0;
    std::uint64_t points_ = 0;

    // Received bytes not yet parsed are in_[inBegin_, inEnd_).
    std::unique_ptr<char[]> in_;
    std::size_t inSize_ = 0;
    std::size_t inBegin_ = 0;
    std::size_t inEnd_ = 0;
    std::size_t wantFrame_ = 0;  // size of the frame at inBegin_ once its header is in, else 0
    std::string message_;        // a fragmented message being assembled
    bool fragmented_ = false;

    // Bytes the kernel would not take yet are out_[outAt_, end); sent in order before any new frame.
    std::string out_;
    std::size_t outAt_ = 0;
    // Outgoing frames are built here, never allocated per message.
    std::array<char, 512> frame_{};
};

}  // namespace vellumora::bench
