#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace corvanel::test_support {

/// Runs a program (absolute path) in `directory`, output discarded; returns its exit status.
int runProgram(const std::vector<std::string>& command, const std::filesystem::path& directory = {});

/// Writes a small complete game folder (the five files the game needs, with small contents).
void writeGameFolder(const std::filesystem::path& folder);

/// Archives `members` of `directory` with the system archiver; `format` is an archiver format
/// name such as "zip", "7zip" or "ustar".
void makeArchive(const std::filesystem::path& archive, const std::string& format,
                 const std::filesystem::path& directory, const std::vector<std::string>& members);

/// Writes the hostile archive `kind` of tests/support/hostile_archives.py aimed at `outside`.
void makeHostileArchive(const std::string& kind, const std::filesystem::path& archive,
                        const std::filesystem::path& outside);

/// Every item below `folder` (hidden ones included, links not followed), one sorted line each:
/// path, type and permission bits, modification time, link count, and a digest of the content
/// or the link target.
std::string treeState(const std::filesystem::path& folder);

} // namespace corvanel::test_support
