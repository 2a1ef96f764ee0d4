#include "installer/platform.h"

#include <cerrno>
#include <cstdlib>
#include <system_error>

#include <fcntl.h>
#include <mach-o/dyld.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace corvanel::platform {

namespace fs = std::filesystem;

std::string archiver()
{
    return "/usr/bin/tar";
}

std::vector<std::string> x86Probe()
{
    return {"/usr/bin/arch", "-x86_64", "/usr/bin/true"};
}

std::string x86Missing()
{
    return "This Mac needs Rosetta before it can run the compatibility engine. Install Rosetta through macOS, then "
           "retry. The setup guide includes instructions.";
}

std::map<std::string, std::string> utf8Locale()
{
    return {{"LC_ALL", "en_US.UTF-8"}};
}

fs::path defaultRoot()
{
    const char* home = std::getenv("HOME");
    return fs::path(home ? home : "/") / "Library" / "Application Support" / "Corvanel";
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
    return std::nullopt;
}

bool emulatesThirtyTwoBit()
{
    return false;
}

std::map<std::string, std::string> wineVariables(const fs::path& runtime)
{
    return {
        {"DYLD_FALLBACK_LIBRARY_PATH", fs::absolute(runtime / "lib").string() + ":/usr/lib"},
        {"MVK_CONFIG_LOG_LEVEL", "1"},
    };
}

bool isForeignWineVariable(std::string_view name)
{
    return name.starts_with("DYLD_");
}

bool closeOnExecPipe(int ends[2])
{
    if (::pipe(ends) != 0)
        return false;
    for (int i = 0; i < 2; ++i) {
        if (::fcntl(ends[i], F_SETFD, FD_CLOEXEC) != 0) {
            const int error = errno;
            ::close(ends[0]);
            ::close(ends[1]);
            errno = error;
            return false;
        }
    }
    return true;
}

int processHandle(pid_t)
{
    return -1;
}

bool endWithParent()
{
    return false;
}

ssize_t copyInKernel(int, int, std::size_t)
{
    errno = ENOSYS;
    return -1;
}

fs::path executablePath()
{
    char path[4096];
    std::uint32_t size = sizeof path;
    if (_NSGetExecutablePath(path, &size) != 0)
        return {};
    std::error_code error;
    const fs::path resolved = fs::canonical(path, error);
    return error ? fs::path(path) : resolved;
}

std::vector<fs::path> iconFontFiles()
{
    return {};
}

std::string computerNoun()
{
    return "Mac";
}

std::string systemName()
{
    return "Mac";
}

std::string requirements()
{
    return "macOS 14 or later\n12 GB available space\nRosetta on Apple silicon";
}

} // namespace corvanel::platform
