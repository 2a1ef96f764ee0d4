#include "installer/file_ops.h"
#include "installer/installer.h"
#include "installer/setup_failure.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <vector>

namespace corvanel {

namespace {

constexpr const char* gameFiles[] = {
    "halo2.exe", "xlive.dll", "maps/shared.map", "maps/mainmenu.map", "maps/single_player_shared.map",
};

std::string lowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::string extensionOf(const fs::path& file)
{
    const std::string extension = file.extension().string();
    return lowerCase(extension.empty() ? extension : extension.substr(1));
}

} // namespace

fs::path Installer::gameInput(const fs::path& chosen) const
{
    const fs::path source = fs::absolute(chosen);
    std::error_code error;
    const auto status = fs::status(source, error);
    if (!fs::exists(status))
        throw SetupFailure("The selected game files are no longer available. Choose your h2pc_installer_2.1 folder again.");
    if (!fs::is_directory(status)) {
        const std::string extension = extensionOf(source);
        if (extension == "exe")
            return gameInput(source.parent_path());
        if (extension == "bin" || extension == "zip")
            return source;
        throw SetupFailure("Choose your h2pc_installer_2.1 folder, its ZIP, or h2pc_data.bin.");
    }
    if (entryExists(source / "h2pc_data.bin"))
        return source / "h2pc_data.bin";
    if (const auto game = locateGame(source)) {
        validateGame(*game);
        return *game;
    }
    throw SetupFailure("Choose the h2pc_installer_2.1 folder containing h2pc_data.bin, or a complete Halo 2 game folder.");
}

std::optional<fs::path> Installer::locateGame(const fs::path& folder) const
{
    if (entryExists(folder / "halo2.exe"))
        return folder;
    // Hidden items and everything inside hidden folders stay unseen; links are not followed;
    // a folder that cannot be read is passed over.
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
            if (lowerCase(name) == "halo2.exe")
                found.insert(current);
            std::error_code ignored;
            if (items->symlink_status(ignored).type() == fs::file_type::directory)
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
                           + ". Choose a complete Halo 2 Project Cartographer game folder or the h2pc_data.bin archive from installer 2.1.");
}

} // namespace corvanel
