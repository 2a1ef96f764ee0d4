#pragma once

#include "installer/unique_fd.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace corvanel {

/// A fresh random UUID in its canonical upper-case form (36 characters).
std::string newUuid();

/// Whether `text` is a UUID in the form newUuid() writes: 8-4-4-4-12 upper-case hexadecimal digits.
bool isCanonicalUuid(std::string_view text);

/// Creates `folder` and its missing parents, each with mode 0755 at most whatever the umask; an
/// existing folder is no error. Raises std::filesystem::filesystem_error.
void createFolders(const std::filesystem::path& folder);

/// Creates `folder` with its missing parents like createFolders, after refusing it when it is a
/// symbolic link (refuseLinkedFolder): the way every folder below the root is made.
void makeDirectory(const std::filesystem::path& folder);

/// Creates the installation root like createFolders, following it when it is a link to a
/// folder; a link whose target is missing raises SetupFailure naming both.
void createRootFolder(const std::filesystem::path& root);

/// Raises SetupFailure, naming the link, when `folder` is a symbolic link: a folder the program
/// writes into must be its own, never a way out of the root.
void refuseLinkedFolder(const std::filesystem::path& folder);

/// Raises SetupFailure when a folder of the root's layout is a link or a file the program
/// writes is not a plain file of its own: what setup and repair write must stay inside `root`.
void requireOwnLayout(const std::filesystem::path& root);

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

/// Whether `path` is a folder itself, not a link to one.
bool isOwnFolder(const std::filesystem::path& path) noexcept;

} // namespace corvanel
