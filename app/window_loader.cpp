// Window mode from the executable's side: the Qt part lives in a module loaded only here, so
// command-line runs start without loading Qt at all.

#include "app/window_entry.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include <dlfcn.h>

namespace corvanel {

namespace {

namespace fs = std::filesystem;

bool isSet(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value;
}

/// True when Qt can open a window: a display server is named, or Qt was told to use a
/// platform that needs none (offscreen, minimal, vnc, a framebuffer).
bool displayAvailable()
{
    if (const char* platforms = std::getenv("QT_QPA_PLATFORM"); platforms && *platforms) {
        std::string_view list(platforms);
        while (!list.empty()) {
            const auto end = list.find(';');
            std::string_view entry = list.substr(0, end);
            entry = entry.substr(0, entry.find(':'));
            if (!entry.empty() && entry != "xcb" && !entry.starts_with("wayland"))
                return true;
            list = end == std::string_view::npos ? std::string_view() : list.substr(end + 1);
        }
    }
    return isSet("DISPLAY") || isSet("WAYLAND_DISPLAY");
}

/// The window module: beside the executable in the build tree, under lib/corvanel once installed.
fs::path windowModule()
{
    std::error_code error;
    const fs::path here = fs::read_symlink("/proc/self/exe", error).parent_path();
    for (const fs::path& candidate : {here / "libcorvanel_window.so", here / ".." / "lib" / "corvanel" / "libcorvanel_window.so"})
        if (fs::exists(candidate, error))
            return candidate;
    return here / "libcorvanel_window.so";
}

} // namespace

int runWindow(int argc, char** argv, const Catalogue& catalogue)
{
    if (!displayAvailable()) {
        std::fputs("Corvanel cannot open its window because no display was found (neither DISPLAY nor WAYLAND_DISPLAY "
                   "is set). Start it from a desktop session, or use the command line instead, for example: "
                   "corvanel --cli --status\n",
                   stderr);
        return 1;
    }

    const fs::path module = windowModule();
    void* handle = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    using Entry = int (*)(int, char**, const Catalogue*);
    auto entry = handle ? reinterpret_cast<Entry>(::dlsym(handle, "corvanel_window_main")) : nullptr;
    if (!entry) {
        const char* reason = ::dlerror();
        std::fprintf(stderr,
                     "Corvanel cannot open its window because its window module could not be loaded (%s). Reinstall "
                     "Corvanel, or use the command line instead, for example: corvanel --cli --status\n",
                     reason ? reason : module.c_str());
        return 1;
    }
    return entry(argc, argv, &catalogue);
}

} // namespace corvanel
