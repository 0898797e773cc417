#pragma once
// What the canvas needs to know about Mesa's drivers.

#include <dlfcn.h>
#include <link.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace vellumora {

// Mesa unloads its driver with the last GL context, before a leak checker scans at exit, and
// the driver's caches would then look leaked. Call this once a context exists: the driver
// stays mapped (it would be until exit anyway), so only real leaks show.
inline void keepGlDriversLoaded() {
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void*) {
            const std::string_view name = info->dlpi_name ? info->dlpi_name : "";
            if (name.find("_dri.so") != std::string_view::npos ||
                name.find("libgallium") != std::string_view::npos)
                dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
            return 0;
        },
        nullptr);
}

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
