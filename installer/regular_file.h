#pragma once

// Reading and writing single files that must be plain regular files: a pipe, a device or a
// planted link in their place must never block a read or redirect a write.

#include "installer/unique_fd.h"

#include <cstddef>
#include <filesystem>
#include <string>

#include <sys/types.h>

namespace corvanel {

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
