#pragma once
// Process-wide counters for /metrics, in Prometheus text format. Relaxed atomics: the
// numbers are for watching, not for synchronising.

#include <atomic>
#include <cstdint>
#include <string>

namespace vellumora::server {

struct Metrics {
    std::atomic<std::int64_t> connections{0};      // open room connections
    std::atomic<std::int64_t> rooms{0};            // rooms held in memory
    std::atomic<std::int64_t> historyBytes{0};     // encoded size of every loaded room's history
    std::atomic<std::int64_t> unfinishedBytes{0};  // held for room messages still arriving
    std::atomic<std::int64_t> outgoingBytes{0};    // queued for room connections to send
    std::atomic<std::uint64_t> messagesIn{0};
    std::atomic<std::uint64_t> messagesOut{0};
    std::atomic<std::uint64_t> messagesDropped{0};
    std::atomic<std::uint64_t> bytesIn{0};
    std::atomic<std::uint64_t> roomBytesRead{0};  // everything read from room sockets, frames and all
    std::atomic<std::uint64_t> bytesOut{0};
    std::atomic<std::uint64_t> refusedLogins{0};
    std::atomic<std::uint64_t> refusedConnections{0};
    std::atomic<std::uint64_t> slowConsumersClosed{0};
    std::atomic<std::uint64_t> httpRequests{0};
    std::atomic<std::uint64_t> historyCommits{0};

    std::string render() const;
};

}  // namespace vellumora::server
