#pragma once
// Child processes for the benchmarks: started pinned, stopped, and their CPU time and memory
// read from /proc.

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vellumora::bench {

// User plus system CPU time the process has used, in microseconds.
double processCpuMicros(pid_t pid);
// Time the process's threads spent runnable but waiting for a CPU, in microseconds: what other
// processes on the same core took from it.
double processRunDelayMicros(pid_t pid);
// Resident set size in bytes.
std::int64_t processRssBytes(pid_t pid);
// The whole text of a (small) file; empty when it cannot be read.
std::string readAll(const std::string& path);
// Pins the calling thread (and what it spawns from now on) to one core; cpu < 0 leaves it free.
void pinToCpu(int cpu);
// Starts args[0] with `args`, its stderr into `log`, pinned to `cpu` (< 0: free); throws if it
// cannot be started.
pid_t spawnPinned(std::vector<std::string> args, const std::string& log, int cpu);
// Asks a child to stop (SIGTERM) and waits for it; nothing for pid <= 0.
void stopChild(pid_t pid);

// A child process the benchmark measures: stopped when this goes, together with its scratch
// directory if it has one.
class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    std::uint16_t port() const { return port_; }
    double cpuMicros() const { return processCpuMicros(pid_); }
    double runDelayMicros() const { return processRunDelayMicros(pid_); }
    std::int64_t rssBytes() const { return processRssBytes(pid_); }
    // Stops it (SIGTERM) and waits.
    void stop();
    // The size of the files in the scratch directory whose names start with `prefix`.
    std::int64_t fileBytes(const std::string& prefix) const;

  protected:
    std::string dir_;  // empty: none
    pid_t pid_ = -1;
    std::uint16_t port_ = 0;
};

}  // namespace vellumora::bench
