#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace corvanel {

/// A Wine installed on this computer, as setup found it.
struct SystemWine {
    std::filesystem::path loader; ///< absolute path of the program that runs Windows programs
    std::string versionLine; ///< what `loader --version` printed, e.g. "wine-8.0 (Debian 8.0~repack-4)"

    std::filesystem::path server() const { return loader.parent_path() / "wineserver"; }

    /// The record's engine: the version line, then " at " and the loader's path.
    std::string engine() const;
    /// The loader named by a record's engine; nullopt for an engine that names none.
    static std::optional<std::filesystem::path> recordedLoader(std::string_view engine);
};

/// Major and minor number of a version line that starts "wine-X.Y"; nullopt for anything else.
std::optional<std::pair<int, int>> wineVersion(std::string_view versionLine);

/// Whether `versionLine` names Wine 8.0 or later.
bool isSupportedWine(std::string_view versionLine);

/// The program to try for the candidate `loader`: its 64-bit sibling `wine64` when `loader` is a
/// plain `wine` that has one. (A plain `wine` may be a wrapper that starts the 32-bit loader, under
/// which registry rows meant for 32-bit programs land one WOW6432Node too deep.)
std::filesystem::path preferredLoader(const std::filesystem::path& loader);

/// Whether the Wine whose loader is `loader` can run 32-bit Windows programs: a 32-bit loader
/// beside a 64-bit one, with the i386 Windows libraries; or, for a single `wine`, i386 Windows
/// libraries (a new-WoW64 build keeps them beside its x86_64 ones).
bool hasThirtyTwoBitSide(const std::filesystem::path& loader);

} // namespace corvanel
