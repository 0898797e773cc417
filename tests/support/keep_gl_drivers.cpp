// Mesa unloads its driver with the last GL context, before LeakSanitizer scans at exit, and
// the driver's caches then look leaked. This dlclose() marks Mesa's driver libraries
// (*_dri.so, libgallium*) as never to be unloaded before passing the call on, so they stay
// mapped (as they would until exit anyway) and only real leaks show.
//
// Linked into the GL test executables, which export the symbol so that it takes the place of
// the C library's for every library; preloaded into an app process after the sanitizer's
// runtime, whose own dlclose() then passes the call on to this one.

#include <dlfcn.h>
#include <link.h>

#include <string_view>

extern "C" __attribute__((visibility("default"))) int dlclose(void* handle) {
    using Close = int (*)(void*);
    static const auto next = reinterpret_cast<Close>(dlsym(RTLD_NEXT, "dlclose"));
    link_map* library = nullptr;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &library) == 0 && library && library->l_name) {
        const std::string_view name = library->l_name;
        if (name.find("_dri.so") != std::string_view::npos ||
            name.find("libgallium") != std::string_view::npos)
            dlopen(library->l_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    }
    return next(handle);
}
