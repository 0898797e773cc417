#pragma once
// What the canvas needs to know about Mesa's software rasteriser.

#include <sys/resource.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace vellumora {

// The software rasteriser's threads in this process (Linux; none elsewhere or on a GPU).
inline std::vector<id_t> rasterThreads() {
    std::vector<id_t> threads;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        if (std::getline(comm, name) && name.starts_with("llvmpipe-"))
            threads.push_back(static_cast<id_t>(std::stoul(task.path().filename().string())));
    }
    return threads;
}

// The software rasteriser paints on a thread per core. At the GUI thread's priority those
// threads fill every core while a backlog paints, and a woken event loop then waits up to a
// scheduler tick behind them, several times in a row (stalls of 20-30 ms on top of a frame).
// A few nice levels lower they still get every cycle the GUI thread leaves. Call from the GUI
// thread after a context is made; calling again is harmless.
inline void putRasterThreadsBehindCaller() {
    constexpr int kBehind = 5;
    const int caller = getpriority(PRIO_PROCESS, 0);  // Linux: the calling thread's
    for (const id_t tid : rasterThreads()) setpriority(PRIO_PROCESS, tid, std::min(caller + kBehind, 19));
}

}  // namespace vellumora
