#include "support/archives.h"

#include "installer/child_process.h"
#include "installer/platform.h"
#include "support/temp_dir.h"

#include <functional>
#include <map>
#include <stdexcept>

#include <sys/stat.h>

namespace corvanel::test_support {

namespace fs = std::filesystem;

int runProgram(const std::vector<std::string>& command, const fs::path& directory)
{
    SpawnRequest request{.executable = command.front(), .arguments = {command.begin() + 1, command.end()}};
    if (!directory.empty())
        request.directory = directory;
    return ChildProcess::spawn(request).wait();
}

void writeGameFolder(const fs::path& folder)
{
    writeText(folder / "halo2.exe", "MZ game");
    writeText(folder / "xlive.dll", "MZ xlive");
    writeText(folder / "maps" / "shared.map", "shared");
    writeText(folder / "maps" / "mainmenu.map", "mainmenu");
    writeText(folder / "maps" / "single_player_shared.map", "single player");
}

void makeArchive(const fs::path& archive, const std::string& format, const fs::path& directory,
                 const std::vector<std::string>& members)
{
    fs::create_directories(archive.parent_path());
    std::vector<std::string> command{platform::archiver(), "--format", format, "-cf", archive.string(), "-C",
                                     directory.string()};
    command.insert(command.end(), members.begin(), members.end());
    if (runProgram(command) != 0)
        throw std::runtime_error("could not write " + archive.string());
}

void makeHostileArchive(const std::string& kind, const fs::path& archive, const fs::path& outside)
{
    const fs::path script = fs::path(CORVANEL_SOURCE_DIR) / "tests" / "support" / "hostile_archives.py";
    fs::create_directories(archive.parent_path());
    if (runProgram({"/usr/bin/python3", script.string(), kind, archive.string(), outside.string()}) != 0)
        throw std::runtime_error("could not write the hostile archive " + kind);
}

std::string treeState(const fs::path& folder)
{
    std::map<std::string, std::string> lines;
    const auto describe = [&](const fs::path& item) {
        struct stat status { };
        if (::lstat(item.c_str(), &status) != 0)
            return;
        std::string line = std::to_string(status.st_mode) + " " + std::to_string(status.st_mtim.tv_sec) + "."
            + std::to_string(status.st_mtim.tv_nsec) + " links " + std::to_string(status.st_nlink);
        if (S_ISREG(status.st_mode))
            line += " content " + std::to_string(std::hash<std::string>{}(readText(item)));
        else if (S_ISLNK(status.st_mode))
            line += " -> " + fs::read_symlink(item).string();
        lines[fs::relative(item, folder).string()] = line;
    };
    describe(folder);
    for (const auto& item : fs::recursive_directory_iterator(folder))
        describe(item.path());
    std::string text;
    for (const auto& [path, line] : lines)
        text += path + ": " + line + "\n";
    return text;
}

} // namespace corvanel::test_support
