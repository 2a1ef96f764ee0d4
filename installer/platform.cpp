#include "installer/platform.h"

#include <cerrno>
#include <cstdlib>
#include <system_error>

#include <sys/statvfs.h>

namespace corvanel::platform {

namespace fs = std::filesystem;

#if defined(__APPLE__)

std::string archiver() { return "/usr/bin/tar"; }

std::vector<std::string> x86Probe() { return {"/usr/bin/arch", "-x86_64", "/usr/bin/true"}; }

std::map<std::string, std::string> utf8Locale() { return {{"LC_ALL", "en_US.UTF-8"}}; }

fs::path defaultRoot()
{
    const char* home = std::getenv("HOME");
    return fs::path(home ? home : "/") / "Library" / "Application Support" / "Corvanel";
}

#else

std::string archiver() { return "/usr/bin/bsdtar"; }

std::vector<std::string> x86Probe() { return {"/usr/bin/setarch", "x86_64", "/usr/bin/true"}; }

std::map<std::string, std::string> utf8Locale() { return {{"LC_ALL", "C.UTF-8"}}; }

fs::path defaultRoot()
{
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome && *dataHome == '/')
        return fs::path(dataHome) / "Corvanel";
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : "/") / ".local" / "share" / "Corvanel";
}

#endif

std::optional<std::uintmax_t> availableCapacity(const fs::path& path)
{
    struct statvfs volume {};
    if (statvfs(path.c_str(), &volume) != 0)
        throw std::system_error(errno, std::generic_category(), "Unable to read the free space of " + path.string());
    return static_cast<std::uintmax_t>(volume.f_bavail) * volume.f_frsize;
}

} // namespace corvanel::platform
