#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace corvanel {

/// A fresh random UUID in its canonical upper-case form (36 characters).
std::string newUuid();

/// Writes `content` beside `file` and renames it into place, so readers see the old file or
/// the new one, never a part. Raises std::filesystem::filesystem_error.
void writeFileAtomically(const std::filesystem::path& file, std::string_view content);

/// Reads a whole file; raises std::filesystem::filesystem_error.
std::string readFile(const std::filesystem::path& file);

/// Removes a tree even where its folders lack owner permissions (an unpacked folder with mode
/// 000 cannot otherwise be emptied by its owner). Best effort: errors are ignored.
void removeTreeQuietly(const std::filesystem::path& path) noexcept;

/// Whether anything, even a dangling symbolic link, exists at `path`.
bool entryExists(const std::filesystem::path& path) noexcept;

} // namespace corvanel
