#include "support/temp_dir.h"

#include "installer/file_ops.h"
#include "installer/installation_record.h"
#include "support/stand_in_prefix.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <sys/stat.h>

namespace corvanel::test_support {

namespace fs = std::filesystem;

TempDir::TempDir()
{
    std::string pattern = (fs::temp_directory_path() / "corvanel-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir()
{
    removeTreeQuietly(path_);
}

void writeText(const fs::path& file, const std::string& content)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
}

std::string readText(const fs::path& file)
{
    std::ifstream stream(file, std::ios::binary);
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

std::vector<std::string> readLines(const fs::path& file)
{
    std::vector<std::string> lines;
    std::istringstream text(readText(file));
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    return lines;
}

void eraseLinesWith(const fs::path& file, const std::string& text)
{
    std::string kept;
    for (const auto& line : readLines(file))
        if (line.find(text) == std::string::npos)
            kept += line + "\n";
    writeText(file, kept);
}

std::vector<std::string> treeOf(const fs::path& folder)
{
    std::vector<std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        entries.push_back(entry.path().lexically_relative(folder).string());
    std::sort(entries.begin(), entries.end());
    return entries;
}

std::string validRecordText()
{
    return InstallationRecord{
        .format = 1, .launcherVersion = "0.2.1", .engine = "WS12WineCX24.0.7_7.tar.xz", .installedAt = 786'625'592.25}
        .encode();
}

void makeInstalledState(const fs::path& root)
{
    // The stand-in Wine serves both runtimes: the unpacked one's place, and the record names it.
    const fs::path wine = fs::absolute(root / "Runtime/wswine.bundle/bin/wine");
    writeText(root / "installed.json",
              InstallationRecord{.format = 1,
                                 .launcherVersion = "0.2.1",
                                 .engine = "wine-8.0 (stand-in) at " + wine.string(),
                                 .installedAt = 786'625'592.25}
                  .encode());
    for (const char* file : {"halo2.exe", "xlive.dll", "d3dx9_31.dll", "d3dx9_43.dll", "D3DCompiler_43.dll"})
        writeText(root / "Install/game" / file, "MZ");
    for (const char* map : {"shared.map", "mainmenu.map", "single_player_shared.map"})
        writeText(root / "Install/game/maps" / map, "map");
    for (const char* program : {"wine", "wineserver"}) {
        writeText(wine.parent_path() / program, "#!/bin/sh\n");
        fs::permissions(wine.parent_path() / program, fs::perms(0755));
    }
    writeText(root / "Runtime/lib/libinotify.0.dylib", "");
    writeStandInPrefix(root / "Install/prefix");
    writeText(root / "Install/prefix/drive_c/windows/syswow64/wmadmod.dll", "MZ");
    fs::create_directories(root / "Install/prefix/drive_c/Games");
    fs::create_directory_symlink(fs::absolute(root / "Install/game"), root / "Install/prefix/drive_c/Games/Halo 2");
}

bool processGone(pid_t pid, double seconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string text;
        std::getline(stat, text);
        const auto close = text.rfind(')');
        if (!stat || close == std::string::npos || text.compare(close, 4, ") Z ") == 0)
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

unsigned permissionsOf(const fs::path& file)
{
    struct stat info { };
    if (::stat(file.c_str(), &info) != 0)
        throw std::runtime_error("stat failed: " + file.string());
    return info.st_mode & 0777;
}

} // namespace corvanel::test_support
