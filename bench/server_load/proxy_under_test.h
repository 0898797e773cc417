#pragma once
// HAProxy in front of a server under test, on a configuration such as deploy/haproxy.cfg
// with every instance address pointed at that server, pinned to the server's core.

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace vellumora::bench {

class ProxyUnderTest {
  public:
    ProxyUnderTest(const std::string& config, std::uint16_t serverPort, int cpu);
    ~ProxyUnderTest();
    ProxyUnderTest(const ProxyUnderTest&) = delete;
    ProxyUnderTest& operator=(const ProxyUnderTest&) = delete;

    std::uint16_t port() const { return port_; }
    double cpuMicros() const;
    double runDelayMicros() const;

  private:
    std::string dir_;
    pid_t pid_ = -1;
    std::uint16_t port_ = 0;
};

}  // namespace vellumora::bench
