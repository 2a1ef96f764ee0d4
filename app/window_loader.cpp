// Window mode from the executable's side: the Qt part lives in a module loaded only here, so
// command-line runs start without loading Qt at all.

#include "app/window_entry.h"
#include "installer/platform.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace corvanel {

namespace {

namespace fs = std::filesystem;

std::string variable(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

/// True when a Unix socket at `path` (a leading '@' names an abstract one) accepts a connection.
bool socketAnswers(std::string path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address.sun_path))
        return false;
    std::memcpy(address.sun_path, path.data(), path.size());
    socklen_t length = offsetof(sockaddr_un, sun_path) + path.size();
    if (path.front() == '@')
        address.sun_path[0] = '\0';
    else
        ++length;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool answered = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0;
    ::close(fd);
    return answered;
}

/// A local X display (":0", "unix:0.0") whose server listens; other hosts are trusted.
bool xDisplayAnswers(const std::string& display)
{
    const auto colon = display.rfind(':');
    if (colon == std::string::npos)
        return false;
    const std::string host = display.substr(0, colon);
    if (!host.empty() && host != "unix")
        return true;
    const std::string number = display.substr(colon + 1, display.find('.', colon) - colon - 1);
    const std::string socket = "/tmp/.X11-unix/X" + number;
    return socketAnswers("@" + socket) || socketAnswers(socket);
}

bool waylandDisplayAnswers(const std::string& display)
{
    if (display.starts_with('/'))
        return socketAnswers(display);
    const std::string runtime = variable("XDG_RUNTIME_DIR");
    return !runtime.empty() && socketAnswers(runtime + "/" + display);
}

/// Why Qt could not open a window here, or nothing when it can: a display server answers, or
/// Qt was told to use a platform that needs none (offscreen, minimal, vnc, a framebuffer).
std::optional<std::string> missingDisplay()
{
    if (const std::string platforms = variable("QT_QPA_PLATFORM"); !platforms.empty()) {
        std::string_view list(platforms);
        while (!list.empty()) {
            const auto end = list.find(';');
            std::string_view entry = list.substr(0, end);
            entry = entry.substr(0, entry.find(':'));
            if (!entry.empty() && entry != "xcb" && !entry.starts_with("wayland"))
                return std::nullopt;
            list = end == std::string_view::npos ? std::string_view() : list.substr(end + 1);
        }
    }
    const std::string x = variable("DISPLAY"), wayland = variable("WAYLAND_DISPLAY");
    if (x.empty() && wayland.empty())
        return "no display was found (neither DISPLAY nor WAYLAND_DISPLAY is set)";
    if ((!x.empty() && xDisplayAnswers(x)) || (!wayland.empty() && waylandDisplayAnswers(wayland)))
        return std::nullopt;
    return "its display does not answer (" + (x.empty() ? "WAYLAND_DISPLAY=" + wayland : "DISPLAY=" + x) + ")";
}

/// The window module: beside the executable in the build tree, in the module folder below the
/// install prefix (the executable's folder's parent) once installed.
fs::path windowModule()
{
    std::error_code error;
    const fs::path here = platform::executablePath().parent_path();
    for (const fs::path& candidate :
         {here / "libcorvanel_window.so", here / ".." / CORVANEL_MODULE_DIR / "libcorvanel_window.so"})
        if (fs::exists(candidate, error))
            return candidate;
    return here / "libcorvanel_window.so";
}

} // namespace

int runWindow(int argc, char** argv, const Catalogue& catalogue)
{
    if (const auto reason = missingDisplay()) {
        std::fprintf(stderr,
                     "Corvanel cannot open its window because %s. Start it from a desktop session, or use the command "
                     "line instead, for example: corvanel --cli --status\n",
                     reason->c_str());
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
