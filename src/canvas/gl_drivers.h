#pragma once
// Mesa unloads its driver with the last GL context, before a leak checker scans at exit, and
// the driver's caches would then look leaked. Call this once a context exists: the driver
// stays mapped (it would be until exit anyway), so only real leaks show.

#include <dlfcn.h>
#include <link.h>

#include <cstddef>
#include <string_view>

namespace vellumora {

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

}  // namespace vellumora
