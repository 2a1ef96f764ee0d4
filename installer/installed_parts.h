#pragma once

// What each part of a finished installation must be, not only that something stands at its
// name: the installed-state test, repair's survey and repair's own success test all read this
// one table. A part that is damaged counts as missing.

#include "installer/installer.h"

#include <cstddef>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvanel {

/// One value the configured prefix holds in its registry, written as REG_SZ.
struct RegistryValue {
    const char* key; ///< from its hive: HKCU\... or HKLM\...
    const char* name;
    const char* data;
};

/// Our settings, in the order they are written.
inline constexpr RegistryValue registrySettings[] = {
    {R"(HKCU\Software\Wine)", "Version", "win7"},
    {R"(HKCU\Software\Wine\Direct3D)", "renderer", "gl"},
    {R"(HKCU\Software\Wine\Direct3D)", "VideoMemorySize", "2048"},
    {R"(HKCU\Software\Wine\Mac Driver)", "RetinaMode", "N"},
    {R"(HKCU\SOFTWARE\Microsoft\Halo 2\Video Settings)", "DisplayMode", "1"},
    {R"(HKLM\Software\WOW6432Node\Microsoft\Microsoft Games\Halo 2\1.0)", "GameInstallDir", R"(C:\Games\Halo 2\)"},
    {R"(HKCU\Software\Wine\DllOverrides)", "wmadmod", "native,builtin"},
};

/// Where the 32-bit decoder's class is registered, as the 32-bit side sees it.
inline constexpr const char* decoderRegistration
    = R"(HKLM\Software\Classes\Wow6432Node\CLSID\{2EEB4ADF-4578-4D10-BCA7-BB955F56320A}\InprocServer32)";

/// The values of one registry file as Wine saves it (system.reg or user.reg): key paths from
/// the hive, with single backslashes; string values only. Keys and names compare without case.
class RegistryFile {
public:
    /// The registry in `text`, or nullopt when it does not start with Wine's header. Lines it
    /// cannot read are skipped. Never fails.
    static std::optional<RegistryFile> parse(std::string_view text);
    /// The file at `file` when it is a regular file of at most `sizeLimit` bytes (a pipe or a
    /// device is never waited on, a link is not followed) that parses; nullopt otherwise.
    static std::optional<RegistryFile> read(const std::filesystem::path& file) noexcept;

    /// The text of a string value; `name` "@" is the key's default value.
    std::optional<std::string> value(std::string_view key, std::string_view name) const;
    /// The keys that end with `suffix`, compared without case.
    std::vector<std::string> keysEndingWith(std::string_view suffix) const;

    /// Far above what a configured prefix holds (a few megabytes); a longer file is damaged.
    static constexpr std::size_t sizeLimit = 256 * 1024 * 1024;

private:
    std::map<std::string, std::map<std::string, std::string>> keys_; ///< lower-cased key → lower-cased name → text
};

/// Whether the decoder's class registration is in `system`.
bool holdsDecoderRegistration(const RegistryFile& system);

/// Whether `registry` holds each of our settings of `hive` ("HKCU" or "HKLM") with its text.
bool holdsSettings(const RegistryFile& registry, std::string_view hive);

/// Whether `file` is a regular file (not a link) that starts as a Windows program or library does.
bool isWindowsBinary(const std::filesystem::path& file) noexcept;

/// Whether the prefix's Wine set-up finished: its core library is in place on both sides.
bool prefixWasBooted(const std::filesystem::path& prefix) noexcept;

/// Whether `a` and `b` lead to one and the same folder or file (device and inode).
bool sameEntry(const std::filesystem::path& a, const std::filesystem::path& b) noexcept;

/// The links Wine makes in a user's profile folder that lead out of the prefix; none in a
/// prefix whose user folders are its own.
std::vector<std::filesystem::path> linkedUserFolders(const std::filesystem::path& prefix);

/// Every part besides the record and the game files that is missing or damaged, in repair's
/// order. Never fails.
std::vector<MissingPart> damagedParts(const Installer& installer);

} // namespace corvanel
