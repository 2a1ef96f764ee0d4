#pragma once

// Creating, reading, writing and removing files and folders. Single files that must be plain
// regular files are opened so that a pipe, a device or a planted link in their place never
// blocks a read or redirects a write.

#include "installer/unique_fd.h"

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include <sys/types.h>

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

/// Removes a file or a whole tree, first giving its folders owner permission (an unpacked
/// folder with mode 000 cannot otherwise be emptied by its owner). Raises the first error as
/// std::filesystem::filesystem_error.
void removeTree(const std::filesystem::path& path);

/// Removes a tree like removeTree. Best effort: errors are ignored.
void removeTreeQuietly(const std::filesystem::path& path) noexcept;

/// read(2) that goes on when a signal interrupts it: the count read, 0 at the end, or -1 with
/// errno set.
ssize_t readRetrying(int fd, void* buffer, std::size_t size);

/// Writes all of `bytes`, going on after short writes and interrupting signals; false with
/// errno set when a write fails.
bool writeAll(int fd, std::string_view bytes);

/// Whether anything, even a dangling symbolic link, exists at `path`.
bool entryExists(const std::filesystem::path& path) noexcept;

/// Whether `path` is a folder itself, not a link to one.
bool isOwnFolder(const std::filesystem::path& path) noexcept;

enum class FinalLink {
    follow, ///< the user's own files: a link to a regular file is as good as the file
    refuse, ///< files below the root: a link there was planted
};

/// Opens `file` for reading when it is a regular file, without ever waiting on it: anything
/// else (a folder, pipe, device or socket; with `refuse`, a link too) raises a SetupFailure
/// that names the file. The type is judged on the open descriptor. Other open errors are
/// raised as std::filesystem::filesystem_error.
UniqueFd openRegularFile(const std::filesystem::path& file, FinalLink finalLink);

/// At most `limit` bytes of the open file; `truncated` tells whether more followed.
std::string readAtMost(int fd, const std::filesystem::path& file, std::size_t limit, bool& truncated);

/// Copies the open file `from` (from its current offset) into the new file `target`, which
/// must not exist yet (a link there is not followed), with exactly the permission bits `mode`
/// whatever the umask. A failed copy removes what it wrote. Raises
/// std::filesystem::filesystem_error.
void writeNewFile(int from, const std::filesystem::path& source, const std::filesystem::path& target, mode_t mode);

/// Raises the SetupFailure of openOwnFile when something other than a regular file with one
/// name stands at `file`; a missing file is no error. Reads only.
void refusePlantedFile(const std::filesystem::path& file);

/// Opens a file the program writes below the root. `flags` (O_WRONLY or O_RDWR, O_APPEND,
/// O_CREAT, O_EXCL) are used without following a final symbolic link and without waiting on a
/// pipe; the file is left with mode 0600 whatever it had.
/// Only a regular file with no second name is accepted: anything else raises SetupFailure
/// naming the file; other failures raise std::filesystem::filesystem_error.
UniqueFd openOwnFile(const std::filesystem::path& file, int flags);

} // namespace corvanel
