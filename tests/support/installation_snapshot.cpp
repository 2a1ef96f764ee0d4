#include "support/installation_snapshot.h"

#include "installer/assets/sha256.h"
#include "installer/installation_record.h"
#include "installer/installer.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <map>

#include <sys/stat.h>

namespace corvanel::test_support {

namespace fs = std::filesystem;

namespace {

std::string digestOrEmpty(const fs::path& file)
{
    try {
        return sha256(file);
    } catch (const std::exception&) {
        return "";
    }
}

std::string contentTree(const fs::path& folder)
{
    std::map<std::string, std::string> lines;
    std::error_code error;
    for (fs::recursive_directory_iterator walk(folder, error), end; !error && walk != end; walk.increment(error)) {
        struct stat status { };
        if (::lstat(walk->path().c_str(), &status) != 0)
            continue;
        std::string line = std::to_string(status.st_mode);
        if (S_ISREG(status.st_mode))
            line += " " + digestOrEmpty(walk->path());
        else if (S_ISLNK(status.st_mode))
            line += " -> " + fs::read_symlink(walk->path()).string();
        lines[walk->path().lexically_relative(folder).string()] = line;
    }
    std::string text;
    for (const auto& [path, line] : lines)
        text += path + ": " + line + "\n";
    return text;
}

std::vector<std::string> namesIn(const fs::path& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error))
        names.push_back(entry->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

InstallationSnapshot snapshotOf(const fs::path& root)
{
    const Installer installer(root);
    InstallationSnapshot snapshot;
    if (const auto record = InstallationRecord::decode(readText(installer.record())))
        snapshot.record = std::to_string(record->format) + " " + record->launcherVersion + " " + record->engine;
    snapshot.game = contentTree(installer.game());
    snapshot.runtime = contentTree(installer.runtime());
    snapshot.drives = namesIn(installer.prefix() / "dosdevices");
    std::error_code error;
    const fs::path link = fs::read_symlink(installer.prefix() / "drive_c" / "Games" / "Halo 2", error);
    snapshot.gameLink = error ? "" : link.lexically_relative(fs::absolute(root)).string();
    snapshot.decoder = digestOrEmpty(installer.prefix() / "drive_c" / "windows" / "syswow64" / "wmadmod.dll");
    snapshot.downloads = namesIn(root / "Downloads");
    return snapshot;
}

std::vector<std::string> leftoversIn(const fs::path& root)
{
    std::vector<std::string> found;
    for (const auto& name : namesIn(root))
        if (name.find("-staging-") != std::string::npos || name.starts_with(".installed.json."))
            found.push_back(name);
    // A partial download with its sidecar is kept for the next download to continue.
    const fs::path downloads = root / "Downloads";
    for (const auto& name : namesIn(downloads))
        if ((name.ends_with(".partial") && !fs::exists(downloads / (name + ".json")))
            || (name.ends_with(".partial.json") && !fs::exists(downloads / name.substr(0, name.size() - 5)))
            || name.ends_with(".partial.headers") || (name.starts_with(".") && name.ends_with(".tmp")))
            found.push_back("Downloads/" + name);
    for (const auto& name : namesIn(root / "Logs"))
        if (name.starts_with("capture-"))
            found.push_back("Logs/" + name);
    std::sort(found.begin(), found.end());
    return found;
}

} // namespace corvanel::test_support
