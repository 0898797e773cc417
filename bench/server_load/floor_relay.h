#pragma once
// The cheapest relay this machine can run, as a yardstick for the server: a forked child on
// one core that pairs the two connections of each room and copies whatever one socket has to
// its partner. No WebSocket and no JSON: it answers the upgrade request with a canned 101 and
// an empty room_state so the same clients can drive it, then forwards bytes as a stream, so
// each client receives its partner's frames exactly as sent, masked.

#include "process_usage.h"

namespace vellumora::bench {

class FloorRelay : public ChildProcess {
  public:
    // cpu < 0: not pinned.
    explicit FloorRelay(int cpu);
};

}  // namespace vellumora::bench
