#pragma once
// HAProxy in front of a server under test, on a configuration such as deploy/haproxy.cfg
// with every instance address pointed at that server, pinned to the server's core.

#include <cstdint>
#include <string>

#include "process_usage.h"

namespace vellumora::bench {

class ProxyUnderTest : public ChildProcess {
  public:
    ProxyUnderTest(const std::string& config, std::uint16_t serverPort, int cpu);
};

}  // namespace vellumora::bench
