// bench_loopback_floor: the load of bench_server_load against a bare relay that only copies
// bytes between the two sockets of each room: what loopback TCP alone costs per relayed
// message on this machine, the floor under any server's figures.
//
//   bench_loopback_floor [--rooms 100,500,1000] [--rate 120] [--seconds 10] [--server-cpu 0]
//                        [--client-cpu 1]
// "server CPU" in its table is the relay's.
#include <cstdio>
#include <exception>
#include <vector>

#include "floor_relay.h"
#include "load_run.h"

using namespace vellumora::bench;

namespace {

class RelayTarget final : public LoadTarget {
  public:
    explicit RelayTarget(const Options& o) : relay_(o.serverCpu) {}
    std::uint16_t port() const override { return relay_.port(); }
    double cpuMicros() const override { return relay_.cpuMicros(); }
    double runDelayMicros() const override { return relay_.runDelayMicros(); }
    std::int64_t rssBytes() const override { return relay_.rssBytes(); }
    std::string roomTarget(const std::string& name) override { return "/?room=" + name; }
    // The relay forwards the clients' frames untouched.
    bool peersMask() const override { return true; }

  private:
    FloorRelay relay_;
};

}  // namespace

int main(int argc, char** argv) {
    try {
        const Options o = parseOptions(argc, argv, false);
        prepareGenerator(o);
        printHeader(o, "bare relay");
        const std::vector<Row> rows = runRows<RelayTarget>(o);
        if (!o.jsonOut.empty()) writeJson(o.jsonOut, rows, 0);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_loopback_floor: %s\n", e.what());
        return 2;
    }
}
