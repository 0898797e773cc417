#pragma once
// One drawing participant of the load test: a WebSocket in the generator's single-threaded
// io_context that sends stroke points on demand and times the points relayed to it.

#include <boost/asio/io_context.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vellumora::bench {

struct LoadStats {
    bool measuring = false;
    std::uint64_t sent = 0;      // points sent in the window
    std::uint64_t received = 0;  // relayed points received in the window
    std::uint64_t sentTotal = 0;
    std::uint64_t receivedTotal = 0;
    std::vector<double> latencyMicros;  // of the points received in the window
};

// Seconds on the monotonic clock; what the points carry as `t`.
double monotonicSeconds();

class LoadClient : public std::enable_shared_from_this<LoadClient> {
  public:
    LoadClient(boost::asio::io_context& ioc, LoadStats& stats, std::uint16_t port, std::string target,
               std::string strokeId);

    // Connects and handshakes; `done(true)` once the room_state has arrived.
    void connect(std::function<void(bool)> done);
    // Queues the next point of this client's stroke (its start first).
    void sendPoint();
    void close();
    std::size_t queued() const { return queue_.size(); }

  private:
    void readNext();
    void onMessage(std::string_view text);
    void enqueue(std::string text);
    void writeNext();

    boost::beast::websocket::stream<boost::beast::tcp_stream> ws_;
    boost::beast::flat_buffer buffer_;
    LoadStats& stats_;
    std::uint16_t port_;
    std::string target_;
    std::string strokeId_;
    std::function<void(bool)> ready_;
    std::deque<std::string> queue_;
    bool writing_ = false;
    bool started_ = false;
    std::uint64_t points_ = 0;
};

}  // namespace vellumora::bench
