#include "installer/display_text.h"
#include "installer/file_ops.h"
#include "installer/installer.h"
#include "installer/layout.h"
#include "installer/setup_failure.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <set>
#include <string_view>
#include <vector>

#include <sys/stat.h>

namespace corvanel {

namespace {

constexpr const char* gameFiles[] = {
    "halo2.exe", "xlive.dll", "maps/shared.map", "maps/mainmenu.map", "maps/single_player_shared.map",
};

std::string extensionOf(const fs::path& file)
{
    const std::string extension = file.extension().string();
    return lowerCased(extension.empty() ? extension : extension.substr(1));
}

/// What the root writes below itself: a source in there would be copied over by setup.
bool layoutName(const std::string& name)
{
    return std::find(std::begin(layout::rootEntries), std::end(layout::rootEntries), name)
        != std::end(layout::rootEntries)
        || std::any_of(std::begin(layout::stagingPrefixes), std::end(layout::stagingPrefixes),
                       [&](std::string_view prefix) { return name.starts_with(prefix); });
}

/// A folder's identity on disk, whichever path leads to it.
struct FolderId {
    dev_t device;
    ino_t inode;
    bool operator==(const FolderId&) const = default;
};

std::optional<FolderId> idOf(const fs::path& path)
{
    struct stat status { };
    if (::stat(path.c_str(), &status) != 0)
        return std::nullopt;
    return FolderId{status.st_dev, status.st_ino};
}

/// Whether `inner` is `outer` or lies below it. The ancestors of `inner` are compared by
/// identity, so links and other names for the same folder do not hide the nesting.
bool isWithin(const fs::path& inner, const FolderId& outer)
{
    std::error_code error;
    fs::path path = fs::weakly_canonical(fs::absolute(inner), error);
    if (error)
        return false;
    for (;;) {
        if (idOf(path) == outer)
            return true;
        if (path == path.parent_path())
            return false;
        path = path.parent_path();
    }
}

/// Refuses, at once and without waiting on it, a game file that setup could not read to its end:
/// a pipe, a socket or a device (through a link too), or a file the user may not read.
void requireReadableGameFile(const fs::path& file)
{
    try {
        openRegularFile(file, FinalLink::follow);
    } catch (const fs::filesystem_error& error) {
        if (error.code() == std::errc::permission_denied || error.code() == std::errc::operation_not_permitted)
            throw SetupFailure("Setup is not allowed to read " + shownPath(file)
                               + ". Give your account permission to read it, or copy it somewhere you can read, then "
                                 "choose it again.");
        throw;
    }
}

} // namespace

void Installer::requireSourceApart(const fs::path& source) const
{
    const auto sourceId = idOf(source);
    std::error_code error;
    if (sourceId && fs::is_directory(source, error) && isWithin(root_, *sourceId))
        throw SetupFailure(
            "The installation folder " + shownPath(root_)
            + " lies inside the game folder you chose, "
              "so setup would copy it into itself; choose an installation folder outside the game folder.");
    const auto rootId = idOf(root_);
    if (!rootId)
        return;
    fs::path path = fs::weakly_canonical(source, error);
    if (error)
        return;
    for (; path != path.parent_path(); path = path.parent_path()) {
        if (idOf(path.parent_path()) == rootId && layoutName(path.filename().string()))
            throw SetupFailure("The game files you chose lie inside the installation folder " + shownPath(root_)
                               + ", which setup replaces; choose game files from outside it.");
    }
}

fs::path Installer::gameInput(const fs::path& chosen) const
{
    const fs::path source = fs::absolute(chosen);
    std::error_code error;
    const auto status = fs::status(source, error);
    if (!fs::exists(status))
        throw SetupFailure(
            "The selected game files are no longer available. Choose your h2pc_installer_2.1 folder again.");
    requireSourceApart(source);
    if (!fs::is_directory(status)) {
        const std::string extension = extensionOf(source);
        if (extension == "exe")
            return gameInput(source.parent_path());
        if (extension == "bin" || extension == "zip") {
            requireReadableGameFile(source);
            return source;
        }
        throw SetupFailure("Choose your h2pc_installer_2.1 folder, its ZIP, or h2pc_data.bin.");
    }
    if (entryExists(source / "h2pc_data.bin")) {
        requireReadableGameFile(source / "h2pc_data.bin");
        return source / "h2pc_data.bin";
    }
    if (const auto game = locateGame(source)) {
        validateGame(*game);
        return *game;
    }
    throw SetupFailure(
        "Choose the h2pc_installer_2.1 folder containing h2pc_data.bin, or a complete Halo 2 game folder.");
}

std::optional<fs::path> Installer::locateGame(const fs::path& folder) const
{
    if (entryExists(folder / "halo2.exe"))
        return folder;
    // Hidden items and everything inside hidden folders stay unseen; links are not followed;
    // a folder that cannot be read is passed over. The root is never entered: its own
    // Install/game is no source.
    const auto rootId = idOf(root_);
    std::set<fs::path> found;
    std::vector<fs::path> pending{folder};
    bool started = false;
    while (!pending.empty()) {
        const fs::path current = std::move(pending.back());
        pending.pop_back();
        std::error_code error;
        fs::directory_iterator items(current, error), end;
        if (error) {
            if (!started)
                return std::nullopt;
            continue;
        }
        started = true;
        for (; !error && items != end; items.increment(error)) {
            const std::string name = items->path().filename().string();
            if (name.starts_with('.'))
                continue;
            if (lowerCased(name) == "halo2.exe")
                found.insert(current);
            std::error_code ignored;
            const bool isFolder = items->symlink_status(ignored).type() == fs::file_type::directory;
            if (isFolder && !(rootId && idOf(items->path()) == rootId))
                pending.push_back(items->path());
        }
    }
    if (found.size() > 1)
        throw SetupFailure("More than one Halo 2 installation was found. Choose the specific game folder.");
    if (found.empty())
        return std::nullopt;
    return *found.begin();
}

std::vector<std::string> Installer::missingGameFiles(const fs::path& folder)
{
    std::vector<std::string> missing;
    for (const char* file : gameFiles)
        if (!entryExists(folder / file))
            missing.emplace_back(file);
    return missing;
}

void Installer::validateGame(const fs::path& folder) const
{
    if (const auto missing = missingGameFiles(folder); !missing.empty())
        throw SetupFailure("Missing " + missing.front()
                           + ". Choose a complete Halo 2 Project Cartographer game folder or the h2pc_data.bin archive "
                             "from installer 2.1.");
}

} // namespace corvanel
