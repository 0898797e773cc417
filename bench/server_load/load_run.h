#pragma once
// What bench_server_load and bench_loopback_floor share: options, one measured run of R rooms x
// 2 clients against a target process, and the table and JSON they print.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "event_loop.h"
#include "load_client.h"

namespace vellumora::bench {

struct Options {
    std::vector<int> rooms{100, 500, 1000};
    double rate = 120;
    double seconds = 10;
    int serverCpu = 0;
    int clientCpu = 1;
    int idle = 2000;
    std::string server;
    std::string haproxy;  // a configuration to put HAProxy in front of the server with
    std::string jsonOut;
};

struct Row {
    int rooms = 0;
    double offered = 0;  // points per second the generator meant to send
    double relayedPerSec = 0;
    double delivered = 0;      // share of the points sent that arrived
    double p50 = 0, p99 = 0;   // microseconds
    double cpuPerMessage = 0;  // target CPU microseconds per relayed message
    double serverCpuShare = 0;
    double generatorCpuShare = 0;  // near 100 %: the generator, not the target, is the limit
    double rssMiB = 0;
    // Shares of the window each side was runnable but had to wait for its core: large values
    // mean other processes on the machine, not the load, shaped the row.
    double serverWaitShare = 0;
    double generatorWaitShare = 0;
    // Ticks the generator reached over 1 ms late: it sent nothing meanwhile, then sent the
    // overdue points at once, and the target drains that burst at its own speed.
    int lateTicks = 0;
    double longestTickGapMs = 0;
    double storedBytesPerPoint = 0;  // 0: the target stores nothing
};

// The process the clients talk to, started for one row.
class LoadTarget {
  public:
    virtual ~LoadTarget() = default;
    virtual std::uint16_t port() const = 0;
    virtual double cpuMicros() const = 0;
    virtual double runDelayMicros() const = 0;
    virtual std::int64_t rssBytes() const = 0;
    // The request target that puts a client into the room called `name` (two clients share one).
    virtual std::string roomTarget(const std::string& name) = 0;
    // Whether clients receive their peers' frames as sent (masked) rather than re-framed.
    virtual bool peersMask() const = 0;
    // Stops the target and returns the bytes of what it stored on disk (0 when it keeps nothing).
    virtual std::int64_t stopAndMeasureStore() { return 0; }
};

// Both clients of each room, connected and ready (room_state received); throws if any fails.
class ClientGroup {
  public:
    ClientGroup(EventLoop& loop, LoadStats& stats, LoadTarget& target, const std::vector<std::string>& rooms);
    ClientGroup(const ClientGroup&) = delete;
    ClientGroup& operator=(const ClientGroup&) = delete;

    std::size_t size() const { return clients_.size(); }
    LoadClient& operator[](std::size_t i) { return *clients_[i]; }
    void closeAll();

  private:
    ConnectTally tally_;
    std::vector<std::unique_ptr<LoadClient>> clients_;
};

// `serverOptions`: --idle and --server are accepted.
Options parseOptions(int argc, char** argv, bool serverOptions);

// Raises the open-file limit and pins the generator to its core.
void prepareGenerator(const Options& o);

Row runLoad(const Options& o, LoadTarget& target, int rooms);

void printRow(const Row& r);
// The CPU each side lost to other processes, one line per row.
void printWaits(const std::vector<Row>& rows);

// One row per room count, each against a fresh Target(o), printed as it completes.
template <class Target>
std::vector<Row> runRows(const Options& o) {
    std::vector<Row> rows;
    for (int rooms : o.rooms) {
        Target target(o);
        rows.push_back(runLoad(o, target, rooms));
        printRow(rows.back());
    }
    printWaits(rows);
    return rows;
}

// Server memory per connected idle client, with one warm room connected beforehand.
double idleBytesPerConnection(const Options& o, LoadTarget& target);

void printHeader(const Options& o, const char* targetName);
void writeJson(const std::string& path, const std::vector<Row>& rows, double idleBytes);

}  // namespace vellumora::bench
