#pragma once
// CPU time and memory of a child process, read from /proc.

#include <sys/types.h>

#include <cstdint>
#include <string>

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

}  // namespace vellumora::bench
