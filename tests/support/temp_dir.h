#pragma once

#include <filesystem>
#include <string>

namespace corvanel::testing {

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

} // namespace corvanel::testing
