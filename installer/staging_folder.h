#pragma once

#include <filesystem>
#include <string_view>

namespace corvanel {

/// A private work folder directly below the root, named by a fixed prefix and a fresh
/// upper-case UUID, created at once and removed, with everything in it, on every way out.
class StagingFolder {
public:
    /// Creates root/<prefix><UUID>; raises std::filesystem::filesystem_error.
    StagingFolder(const std::filesystem::path& root, std::string_view prefix);
    StagingFolder(const StagingFolder&) = delete;
    StagingFolder& operator=(const StagingFolder&) = delete;
    ~StagingFolder();

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& child) const { return path_ / child; }

private:
    std::filesystem::path path_;
};

} // namespace corvanel
