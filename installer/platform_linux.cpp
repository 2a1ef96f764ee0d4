#include "installer/platform.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <system_error>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace corvanel::platform {

namespace fs = std::filesystem;

std::string archiver()
{
    return "/usr/bin/bsdtar";
}

std::vector<std::string> x86Probe()
{
    return {"/usr/bin/setarch", "x86_64", "/usr/bin/true"};
}

std::string x86Missing()
{
    return "This computer cannot run x86-64 programs, which Wine and Halo 2 need. Set up Halo 2 on an x86-64 "
           "computer instead.";
}

std::map<std::string, std::string> utf8Locale()
{
    return {{"LC_ALL", "C.UTF-8"}};
}

fs::path defaultRoot()
{
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome && *dataHome == '/')
        return fs::path(dataHome) / "Corvanel";
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : "/") / ".local" / "share" / "Corvanel";
}

std::optional<std::uintmax_t> availableCapacity(const fs::path& path)
{
    struct statvfs volume { };
    if (statvfs(path.c_str(), &volume) != 0)
        throw std::system_error(errno, std::generic_category(), "Unable to read the free space of " + path.string());
    return static_cast<std::uintmax_t>(volume.f_bavail) * volume.f_frsize;
}

std::optional<std::vector<fs::path>> systemWineSearch()
{
    // Debian and Ubuntu keep the real loaders below /usr/lib/wine; Wine's own packages use /opt.
    return std::vector<fs::path>{"/usr/lib/wine/wine64", "/usr/bin/wine64", "/usr/bin/wine",
                                 "/opt/wine-stable/bin/wine64", "/opt/wine-stable/bin/wine"};
}

bool emulatesThirtyTwoBit()
{
    // An enabled binfmt_misc entry for 32-bit x86 ELF programs comes before the kernel's own
    // loader, so every such program runs through its interpreter.
    std::error_code error;
    for (fs::directory_iterator entry("/proc/sys/fs/binfmt_misc", error), end; !error && entry != end;
         entry.increment(error)) {
        std::ifstream file(entry->path());
        std::string line;
        bool enabled = false;
        bool i386 = false;
        while (std::getline(file, line)) {
            if (line == "enabled")
                enabled = true;
            // ELF, 32-bit, little-endian, version 1, an executable for machine 3 (i386).
            if (line.starts_with("magic 7f454c460101010000000000000000000") && line.ends_with("0300"))
                i386 = true;
        }
        if (enabled && i386)
            return true;
    }
    return false;
}

std::map<std::string, std::string> wineVariables(const fs::path&)
{
    return {};
}

bool isForeignWineVariable(std::string_view)
{
    return false;
}

bool closeOnExecPipe(int ends[2])
{
    return ::pipe2(ends, O_CLOEXEC) == 0;
}

int processHandle(pid_t pid)
{
#if defined(SYS_pidfd_open)
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); // always close-on-exec
#else
    (void)pid;
    return -1;
#endif
}

bool endWithParent()
{
    return ::prctl(PR_SET_PDEATHSIG, SIGKILL) == 0;
}

ssize_t copyInKernel(int from, int to, std::size_t limit)
{
    return ::copy_file_range(from, nullptr, to, nullptr, limit, 0);
}

fs::path executablePath()
{
    std::error_code error;
    return fs::read_symlink("/proc/self/exe", error);
}

std::vector<fs::path> iconFontFiles()
{
    return {"/usr/share/fonts/truetype/material-design-icons-iconfont/MaterialIcons-Regular.ttf"};
}

std::string computerNoun()
{
    return "computer";
}

std::string systemName()
{
    return "Linux";
}

std::string requirements()
{
    return "Wine 8.0 or later, with its 32-bit side\n12 GB available space\nAn x86-64 processor";
}

} // namespace corvanel::platform
