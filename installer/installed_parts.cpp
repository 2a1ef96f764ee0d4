#include "installer/installed_parts.h"

#include "installer/display_text.h"
#include "installer/file_ops.h"
#include "installer/layout.h"
#include "installer/windows/graphics_libraries.h"

#include <algorithm>
#include <functional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvanel {

namespace {

constexpr std::string_view registryHeader = "WINE REGISTRY Version 2";

/// The names Wine gives the registry's keys as its files write them: `HKCU\A\B` is `a\b` in user.reg.
std::string keyFromHive(std::string_view key, std::string_view& hive)
{
    const auto slash = key.find('\\');
    hive = key.substr(0, slash);
    return lowerCased(std::string(key.substr(slash + 1)));
}

/// Reads a quoted string starting at `text[at]` (the opening quote), undoing Wine's escapes;
/// `at` ends after the closing quote. nullopt when the text ends first.
std::optional<std::string> quoted(std::string_view text, std::size_t& at)
{
    if (at >= text.size() || text[at] != '"')
        return std::nullopt;
    std::string result;
    for (++at; at < text.size(); ++at) {
        const char c = text[at];
        if (c == '"') {
            ++at;
            return result;
        }
        if (c == '\\' && at + 1 < text.size())
            ++at;
        result += text[at];
    }
    return std::nullopt;
}

/// The key of a section line `[a\\b] 1234`, with single backslashes; nullopt for another line.
std::optional<std::string> sectionKey(std::string_view line)
{
    const auto close = line.rfind(']');
    if (line.empty() || line.front() != '[' || close == std::string_view::npos)
        return std::nullopt;
    std::string key;
    for (std::size_t i = 1; i < close; ++i) {
        if (line[i] == '\\' && i + 1 < close)
            ++i;
        key += line[i];
    }
    return lowerCased(key);
}

/// A string value line `"name"="text"` or `@="text"`; nullopt for anything else.
std::optional<std::pair<std::string, std::string>> stringValue(std::string_view line)
{
    std::size_t at = 0;
    std::string name;
    if (line.starts_with('@')) {
        name = "@";
        at = 1;
    } else if (auto read = quoted(line, at)) {
        name = std::move(*read);
    } else {
        return std::nullopt;
    }
    if (at >= line.size() || line[at] != '=')
        return std::nullopt;
    ++at;
    auto data = quoted(line, at);
    if (!data)
        return std::nullopt;
    return std::pair{lowerCased(name), std::move(*data)};
}

bool startsWith(const fs::path& file, std::string_view magic) noexcept
{
    try {
        const UniqueFd fd = openRegularFile(file, FinalLink::refuse);
        bool longer = false;
        return readAtMost(fd.get(), file, magic.size(), longer) == magic;
    } catch (const std::exception&) {
        return false;
    }
}

/// Whether `file` is a regular file (not a link) with content.
bool isFilledFile(const fs::path& file) noexcept
{
    struct stat status { };
    return ::lstat(file.c_str(), &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0;
}

/// Whether `link` is a symbolic link that leads to `target`.
bool linksTo(const fs::path& link, const fs::path& target) noexcept
{
    std::error_code error;
    return fs::is_symlink(fs::symlink_status(link, error)) && sameEntry(link, target);
}

/// Whether the runtime can start programs: its loader is a non-empty executable regular file,
/// with the computer's Wine server beside it, or with the unpacked runtime's libraries.
bool runtimeIsWhole(const Installer& installer)
{
    struct stat status { };
    const fs::path wine = installer.wine();
    if (wine.empty() || ::stat(wine.c_str(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size < 4
        || ::access(wine.c_str(), X_OK) != 0 || !installer.wineIsPresent())
        return false;
    return installer.usesSystemWine() || entryExists(installer.runtime() / layout::runtimeLibraries / "libinotify.0.dylib");
}

/// One check of the table: the part it belongs to, how a message names it, and the test, which
/// gives the sentence saying what is wrong, or nothing for a part that is whole.
struct PartCheck {
    InstallationPart part;
    std::string item;
    std::function<std::optional<std::string>()> problem;
    std::string advice = {}; ///< what the user does before a repair, when repair cannot do it
};

/// A test that knows a single way of being wrong.
std::function<std::optional<std::string>()> unless(std::function<bool()> whole, std::string description)
{
    return [whole = std::move(whole), description = std::move(description)]() -> std::optional<std::string> {
        if (whole())
            return std::nullopt;
        return description;
    };
}

std::vector<PartCheck> partChecks(const Installer& installer)
{
    const fs::path prefix = installer.prefix();
    const fs::path game = installer.game();
    std::vector<PartCheck> checks;
    if (installer.usesSystemWine())
        checks.push_back({InstallationPart::Runtime, "Wine",
                          [&installer]() -> std::optional<std::string> {
                              if (runtimeIsWhole(installer))
                                  return std::nullopt;
                              if (installer.wine().empty())
                                  return "The installation record names no Wine.";
                              return "Wine is no longer at " + printable(installer.wine().string()) + ".";
                          },
                          "Install your distribution's Wine 8.0 or later (on Debian: sudo apt install wine wine64 "
                          "wine32:i386) before repairing."});
    else
        checks.push_back({InstallationPart::Runtime, "the compatibility runtime",
                          unless([&installer] { return runtimeIsWhole(installer); },
                                 "The compatibility runtime is missing or incomplete.")});

    for (const auto& graphics : graphicsLibraries) {
        const std::string library = graphics.library;
        checks.push_back({InstallationPart::GraphicsLibraries, "the graphics library " + library,
                          unless([game, library] { return isFilledFile(game / library); },
                                 "The graphics library " + library + " is missing from the game folder.")});
    }

    const auto environment = [&](std::function<bool()> whole, std::string description) {
        checks.push_back({InstallationPart::WindowsEnvironment, "the private Windows environment",
                          unless(std::move(whole), std::move(description))});
    };
    environment(
        [prefix] {
            const auto system = RegistryFile::read(prefix / "system.reg");
            return system && holdsSettings(*system, "HKLM");
        },
        "The private Windows environment is missing its system registry.");
    environment(
        [prefix] {
            const auto user = RegistryFile::read(prefix / "user.reg");
            return user && holdsSettings(*user, "HKCU");
        },
        "The private Windows environment is missing its user registry.");
    environment([prefix] { return prefixWasBooted(prefix); },
                "The private Windows environment was not set up completely.");
    environment(
        [prefix] {
            return linksTo(prefix / "dosdevices" / "c:", prefix / "drive_c")
                && linksTo(prefix / "dosdevices" / "z:", "/");
        },
        "The private Windows environment is missing its drive C: or Z:.");
    environment([prefix, game] { return linksTo(prefix / "drive_c" / "Games" / "Halo 2", game); },
                "The private Windows environment no longer leads to the game folder.");
    environment([prefix] { return linkedUserFolders(prefix).empty(); },
                "The private Windows environment's user folders lead outside it.");

    const fs::path decoder = prefix / layout::prefixDecoder;
    checks.push_back({InstallationPart::AudioDecoder, "the audio decoder", [decoder]() -> std::optional<std::string> {
                          if (!entryExists(decoder))
                              return "The audio decoder is missing from the private Windows environment.";
                          if (!isWindowsBinary(decoder))
                              return "The audio decoder in the private Windows environment is not the verified one.";
                          return std::nullopt;
                      }});
    // A registry that cannot be read at all is reported above, as the registry.
    checks.push_back({InstallationPart::AudioDecoder, "the audio decoder",
                      unless(
                          [prefix] {
                              const auto system = RegistryFile::read(prefix / "system.reg");
                              return !system || holdsDecoderRegistration(*system);
                          },
                          "The audio decoder is not registered in the private Windows environment.")});
    return checks;
}

} // namespace

std::optional<RegistryFile> RegistryFile::parse(std::string_view text)
{
    if (!text.starts_with(registryHeader))
        return std::nullopt;
    RegistryFile registry;
    std::map<std::string, std::string>* current = nullptr;
    for (std::size_t start = 0; start < text.size();) {
        auto end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        if (auto key = sectionKey(line)) {
            current = &registry.keys_[std::move(*key)];
        } else if (current) {
            if (auto value = stringValue(line))
                (*current)[std::move(value->first)] = std::move(value->second);
        }
    }
    return registry;
}

std::optional<RegistryFile> RegistryFile::read(const fs::path& file) noexcept
{
    try {
        const UniqueFd fd = openRegularFile(file, FinalLink::refuse);
        bool longer = false;
        const std::string text = readAtMost(fd.get(), file, sizeLimit, longer);
        if (longer)
            return std::nullopt;
        return parse(text);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<std::string> RegistryFile::value(std::string_view key, std::string_view name) const
{
    const auto found = keys_.find(lowerCased(std::string(key)));
    if (found == keys_.end())
        return std::nullopt;
    const auto named = found->second.find(lowerCased(std::string(name)));
    if (named == found->second.end())
        return std::nullopt;
    return named->second;
}

std::vector<std::string> RegistryFile::keysEndingWith(std::string_view suffix) const
{
    const std::string lower = lowerCased(std::string(suffix));
    std::vector<std::string> keys;
    for (const auto& [key, values] : keys_)
        if (key.ends_with(lower))
            keys.push_back(key);
    return keys;
}

bool holdsDecoderRegistration(const RegistryFile& system)
{
    // The 32-bit classes live below a Wow6432Node key; Wine saves them under the key that
    // name leads to, so only the class's own path is matched exactly.
    std::string_view hive;
    const std::string registration = keyFromHive(decoderRegistration, hive);
    const std::string classPath = registration.substr(registration.find("\\clsid\\"));
    for (const auto& key : system.keysEndingWith(classPath)) {
        const auto library = system.value(key, "@");
        if (key.find("wow6432node") != std::string::npos && library
            && lowerCased(*library).find(layout::keptDecoder) != std::string::npos)
            return true;
    }
    return false;
}

bool holdsSettings(const RegistryFile& registry, std::string_view hive)
{
    for (const auto& setting : registrySettings) {
        std::string_view settingHive;
        const std::string key = keyFromHive(setting.key, settingHive);
        if (settingHive == hive && registry.value(key, setting.name) != setting.data)
            return false;
    }
    return true;
}

bool isWindowsBinary(const fs::path& file) noexcept
{
    return startsWith(file, "MZ");
}

bool prefixWasBooted(const fs::path& prefix) noexcept
{
    const fs::path windows = prefix / "drive_c" / "windows";
    return isWindowsBinary(windows / "system32" / "kernel32.dll")
        && isWindowsBinary(windows / "syswow64" / "kernel32.dll");
}

bool sameEntry(const fs::path& a, const fs::path& b) noexcept
{
    struct stat first {
    }, second{};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev
        && first.st_ino == second.st_ino;
}

std::vector<fs::path> linkedUserFolders(const fs::path& prefix)
{
    std::vector<fs::path> links;
    const fs::path users = prefix / "drive_c" / "users";
    if (!isOwnFolder(users))
        return links;
    std::error_code error;
    for (fs::directory_iterator user(users, error), end; !error && user != end; user.increment(error)) {
        if (!isOwnFolder(user->path()))
            continue;
        std::error_code unreadable;
        for (fs::directory_iterator entry(user->path(), unreadable), last; !unreadable && entry != last;
             entry.increment(unreadable))
            if (fs::is_symlink(fs::symlink_status(entry->path(), unreadable)))
                links.push_back(entry->path());
    }
    std::sort(links.begin(), links.end());
    return links;
}

std::vector<MissingPart> damagedParts(const Installer& installer)
{
    std::vector<MissingPart> parts;
    for (const auto& check : partChecks(installer)) {
        std::optional<std::string> problem;
        try {
            problem = check.problem();
        } catch (const std::exception&) {
            problem
                = "The " + (check.item.starts_with("the ") ? check.item.substr(4) : check.item) + " cannot be checked.";
        }
        if (problem)
            parts.push_back({check.part, check.item, std::move(*problem), check.advice});
    }
    return parts;
}

} // namespace corvanel
