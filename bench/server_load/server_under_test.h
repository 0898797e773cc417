#pragma once
// A vellumora-server child process for the load generator, optionally pinned to one core,
// with the counters the report needs from /proc.

#include <cstdint>
#include <string>

#include "process_usage.h"

namespace vellumora::bench {

class ServerUnderTest : public ChildProcess {
  public:
    // cpu < 0: not pinned.
    ServerUnderTest(const std::string& binary, int cpu);
};

}  // namespace vellumora::bench
