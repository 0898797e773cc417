#pragma once
// A vellumora-server child process for the load generator, optionally pinned to one core,
// with the counters the report needs from /proc.

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace vellumora::bench {

class ServerUnderTest {
  public:
    // cpu < 0: not pinned.
    ServerUnderTest(const std::string& binary, int cpu);
    ~ServerUnderTest();
    ServerUnderTest(const ServerUnderTest&) = delete;
    ServerUnderTest& operator=(const ServerUnderTest&) = delete;

    std::uint16_t port() const { return port_; }
    // User plus system CPU time the process has used, in microseconds.
    double cpuMicros() const;
    // Time its threads waited for a CPU while runnable, in microseconds.
    double runDelayMicros() const;
    // Resident set size in bytes.
    std::int64_t rssBytes() const;

  private:
    std::string dir_;
    pid_t pid_ = -1;
    std::uint16_t port_ = 0;
};

}  // namespace vellumora::bench
