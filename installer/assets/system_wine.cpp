#include "installer/assets/system_wine.h"

#include <charconv>
#include <initializer_list>

#include <unistd.h>

namespace corvanel {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view engineSeparator = " at /";

bool isProgram(const fs::path& file)
{
    std::error_code error;
    return fs::is_regular_file(file, error) && ::access(file.c_str(), X_OK) == 0;
}

/// The folder Wine was installed into: /usr for /usr/bin/wine64 and /usr/lib/wine/wine64.
fs::path installationPrefix(const fs::path& loader)
{
    const fs::path folder = loader.parent_path();
    if (folder.filename() == "wine" && folder.parent_path().filename() == "lib")
        return folder.parent_path().parent_path();
    return folder.parent_path();
}

/// Whether one of the places Wine builds keep their i386 Windows libraries holds them; the
/// 64-bit package's own i386 folder holds a single helper library, so ntdll.dll is what counts.
bool hasI386Libraries(const fs::path& prefix)
{
    for (const char* folder : {"lib/i386-linux-gnu/wine/i386-windows", "lib/wine/i386-windows",
                               "lib32/wine/i386-windows", "lib64/wine/i386-windows"}) {
        std::error_code error;
        if (fs::is_regular_file(prefix / folder / "ntdll.dll", error))
            return true;
    }
    return false;
}

int number(std::string_view text, std::size_t& at)
{
    int value = -1;
    const auto [end, error] = std::from_chars(text.data() + at, text.data() + text.size(), value);
    if (error != std::errc())
        return -1;
    at = static_cast<std::size_t>(end - text.data());
    return value;
}

} // namespace

std::string SystemWine::engine() const
{
    return versionLine + " at " + loader.string();
}

std::optional<fs::path> SystemWine::recordedLoader(std::string_view engine)
{
    const auto at = engine.find(engineSeparator);
    if (at == std::string_view::npos)
        return std::nullopt;
    return fs::path(engine.substr(at + engineSeparator.size() - 1));
}

std::optional<std::pair<int, int>> wineVersion(std::string_view versionLine)
{
    if (!versionLine.starts_with("wine-"))
        return std::nullopt;
    std::size_t at = 5;
    const int major = number(versionLine, at);
    if (major < 0 || at >= versionLine.size() || versionLine[at] != '.')
        return std::nullopt;
    ++at;
    const int minor = number(versionLine, at);
    if (minor < 0)
        return std::nullopt;
    return std::pair{major, minor};
}

bool isSupportedWine(std::string_view versionLine)
{
    const auto version = wineVersion(versionLine);
    return version && version->first >= 8;
}

fs::path preferredLoader(const fs::path& loader)
{
    if (loader.filename() == "wine" && isProgram(loader.parent_path() / "wine64"))
        return loader.parent_path() / "wine64";
    return loader;
}

bool hasThirtyTwoBitSide(const fs::path& loader)
{
    if (!hasI386Libraries(installationPrefix(loader)))
        return false;
    // Beside a 64-bit loader, the 32-bit programs need the 32-bit loader too.
    return loader.filename() != "wine64" || isProgram(loader.parent_path() / "wine");
}

} // namespace corvanel
