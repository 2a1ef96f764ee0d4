#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace corvanel::test_support {

/// What an installed root consists of, in a form two roots can be compared by: everything but
/// times and the root's own path.
struct InstallationSnapshot {
    std::string record; ///< format, launcher version and engine of installed.json
    std::string game; ///< Install/game: one line per entry with type, mode and content
    std::string runtime; ///< Runtime, the same way
    std::vector<std::string> drives; ///< the entries of the prefix's dosdevices
    std::string gameLink; ///< where drive_c/Games/Halo 2 points, relative to the root
    std::string decoder; ///< digest of drive_c/windows/syswow64/wmadmod.dll
    std::vector<std::string> downloads;
};

InstallationSnapshot snapshotOf(const std::filesystem::path& root);

/// What an interrupted setup can leave below `root` for the next one to sweep: staging folders,
/// partial downloads without their sidecar (and the reverse), header dumps, capture files and
/// half-written records. Sorted relative paths.
std::vector<std::string> leftoversIn(const std::filesystem::path& root);

} // namespace corvanel::test_support
