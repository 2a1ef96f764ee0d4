#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <sys/types.h>

namespace corvanel::test_support {

/// A fresh folder below the system's temporary folder, removed (forcibly) when dropped.
class TempDir {
public:
    TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& child) const { return path_ / child; }

private:
    std::filesystem::path path_;
};

/// Writes `content` to `file`, creating its folders.
void writeText(const std::filesystem::path& file, const std::string& content);
std::string readText(const std::filesystem::path& file);

/// The lines of a text file, without their line feeds.
std::vector<std::string> readLines(const std::filesystem::path& file);

/// Removes from `file` each line that contains `text`.
void eraseLinesWith(const std::filesystem::path& file, const std::string& text);

/// Every entry below `folder`, as relative paths in sorted order.
std::vector<std::string> treeOf(const std::filesystem::path& folder);

/// A valid installation record, as setup writes it.
std::string validRecordText();

/// Makes `root` a complete installation: the record and every file the installed state needs.
void makeInstalledState(const std::filesystem::path& root);

/// Waits up to `seconds` for the process to be gone (a zombie counts as gone).
bool processGone(pid_t pid, double seconds = 2.0);

/// Permission bits of a file (the low nine bits of its mode).
unsigned permissionsOf(const std::filesystem::path& file);

} // namespace corvanel::test_support
