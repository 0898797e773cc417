#pragma once
// A relay should start the moment its message arrives, even while the history writer or a
// password hash holds the core. Since Linux 6.6 a thread that was woken waits for the running
// thread to use up its time slice, whatever their nice levels, unless its own slice is shorter.
// So the I/O threads ask for the shortest slice there is. Where the kernel has no per-thread
// slices (before 6.12) or refuses, nothing changes.

namespace vellumora::server {

void useShortTimeSlices();

}  // namespace vellumora::server
