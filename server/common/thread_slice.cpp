#include "thread_slice.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace vellumora::server {

namespace {

// The kernel's struct sched_attr (version 1); libc offers no wrapper.
struct SchedAttr {
    std::uint32_t size;
    std::uint32_t policy;
    std::uint64_t flags;
    std::int32_t nice;
    std::uint32_t priority;
    std::uint64_t runtime;  // for the normal policy: the slice, clamped to 0.1–100 ms
    std::uint64_t deadline;
    std::uint64_t period;
    std::uint32_t utilMin;
    std::uint32_t utilMax;
};

constexpr std::uint64_t kShortestSliceNs = 100'000;

}  // namespace

void useShortTimeSlices() {
#ifdef SYS_sched_setattr
    // A policy someone chose for the process (batch, idle, real-time) is theirs to keep.
    if (sched_getscheduler(0) != SCHED_OTHER) return;
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, 0);
    if (errno != 0) return;
    SchedAttr attr{};
    attr.size = sizeof attr;
    attr.policy = SCHED_OTHER;
    attr.nice = nice;
    attr.runtime = kShortestSliceNs;
    syscall(SYS_sched_setattr, 0, &attr, 0);
#endif
}

}  // namespace vellumora::server
