#include "installer/display_text.h"
#include "installer/file_ops.h"
#include "installer/installer.h"
#include "installer/layout.h"
#include "installer/platform.h"
#include "installer/setup_failure.h"
#include "installer/staging_folder.h"
#include "installer/unique_fd.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <system_error>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvanel {

namespace {

constexpr std::string_view configuration = "[H2ConfigurationVersion:1]\nskip_intro = true\nfps_limit = 60\n";

[[noreturn]] void fail(const char* what, const fs::path& path, int code = errno)
{
    throw fs::filesystem_error(what, path, std::error_code(code, std::generic_category()));
}

/// Copies one regular file's bytes in the kernel, falling back to reads and writes where the
/// file systems do not allow that.
void copyBytes(int from, int to, const fs::path& source)
{
    bool inKernel = true;
    char buffer[1 << 16];
    for (;;) {
        ssize_t done;
        if (inKernel) {
            done = platform::copyInKernel(from, to, 1 << 30);
            if (done < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
                inKernel = false;
                continue;
            }
        } else {
            done = readRetrying(from, buffer, sizeof buffer);
            if (done > 0 && !writeAll(to, std::string_view(buffer, static_cast<std::size_t>(done))))
                fail("Unable to copy", source);
        }
        if (done < 0 && errno == EINTR)
            continue;
        if (done < 0)
            fail("Unable to copy", source);
        if (done == 0)
            return;
    }
}

/// Copies the content of the open folder `from` into the open, empty folder `to`, keeping
/// permission bits and modification times. Never follows a link: anything that is neither a
/// regular file nor a folder (a link swapped in after the check included) is refused.
void copyFolder(int from, const fs::path& source, int to, const fs::path& target)
{
    DIR* stream = ::fdopendir(::dup(from));
    if (!stream)
        fail("Unable to read", source);
    std::unique_ptr<DIR, int (*)(DIR*)> closer(stream, ::closedir);
    for (;;) {
        errno = 0;
        const dirent* item = ::readdir(stream);
        if (!item) {
            if (errno)
                fail("Unable to read", source);
            return;
        }
        const std::string name = item->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat status { };
        if (::fstatat(from, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
            fail("Unable to read", source / name);
        const struct timespec times[2] = {status.st_atim, status.st_mtim};
        if (S_ISDIR(status.st_mode)) {
            UniqueFd child(::openat(from, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (child.get() < 0)
                fail("Unable to read", source / name);
            if (::mkdirat(to, name.c_str(), 0700) != 0)
                fail("Unable to create the folder", target / name);
            UniqueFd copy(::openat(to, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (copy.get() < 0)
                fail("Unable to create the folder", target / name);
            copyFolder(child.get(), source / name, copy.get(), target / name);
            // Folders stay open to their owner so that a later import can replace them.
            if (::fchmod(copy.get(), (status.st_mode & 0777) | 0700) != 0 || ::futimens(copy.get(), times) != 0)
                fail("Unable to copy", target / name);
        } else if (S_ISREG(status.st_mode)) {
            UniqueFd file(::openat(from, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
            struct stat opened { };
            if (file.get() < 0 || ::fstat(file.get(), &opened) != 0)
                fail("Unable to read", source / name);
            if (!S_ISREG(opened.st_mode))
                throw SetupFailure("Game imports must contain regular files and folders, without symbolic links.");
            UniqueFd copy(::openat(to, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
            if (copy.get() < 0)
                fail("Unable to copy", target / name);
            copyBytes(file.get(), copy.get(), source / name);
            if (::fchmod(copy.get(), status.st_mode & 0777) != 0 || ::futimens(copy.get(), times) != 0)
                fail("Unable to copy", target / name);
        } else {
            throw SetupFailure("Game imports must contain regular files and folders, without symbolic links.");
        }
    }
}

void copyGameFolder(const fs::path& source, const fs::path& target)
{
    UniqueFd from(::open(source.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (from.get() < 0)
        fail("Unable to read", source);
    makeDirectory(target);
    UniqueFd to(::open(target.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (to.get() < 0)
        fail("Unable to create the folder", target);
    copyFolder(from.get(), source, to.get(), target);
}

/// Gives `folder` and every folder below it full owner access and takes write access from
/// group and others, whatever the archive or the umask gave them: a read-only folder cannot be
/// moved into place or later replaced by its owner, and nobody else may write into the game.
void settleFolderModes(const fs::path& folder)
{
    struct stat status { };
    if (::lstat(folder.c_str(), &status) != 0)
        fail("Unable to read", folder);
    if (!S_ISDIR(status.st_mode))
        return;
    if (::chmod(folder.c_str(), (status.st_mode & 0755) | S_IRWXU) != 0)
        fail("Unable to change the permissions of", folder);
    for (const auto& item : fs::directory_iterator(folder))
        if (item.symlink_status().type() == fs::file_type::directory)
            settleFolderModes(item.path());
}

std::optional<fs::path> firstInnerArchive(const fs::path& folder)
{
    std::error_code error;
    for (fs::recursive_directory_iterator walk(folder, error), end; !error && walk != end; walk.increment(error)) {
        if (walk->path().filename() == "h2pc_data.bin")
            return walk->path();
    }
    return std::nullopt;
}

bool leftover(const std::string& original)
{
    const std::string name = lowerCased(original);
    return name.starts_with("halo2config") || name.starts_with("halo2accounts") || name == "imgui.ini"
        || name == "logs";
}

} // namespace

void Installer::importGame(const fs::path& source) const
{
    const StagingFolder staging(root_, layout::gameStaging);
    report("Importing your Halo 2 files");
    const fs::path input = gameInput(source);
    const fs::path imported = staging / "Imported";
    if (!fs::is_directory(input)) {
        unpackUserArchive(input, imported);
    } else {
        report("Copying your game folder. Large installations can take several minutes.");
        const auto found = locateGame(input);
        if (!found)
            throw SetupFailure("No Halo 2 game was found in that folder.");
        rejectSymlinks(*found);
        copyGameFolder(*found, imported);
    }

    fs::path searched = imported;
    if (const auto inner = firstInnerArchive(imported)) {
        searched = staging / "Expanded";
        unpackUserArchive(*inner, searched);
    }

    report("Checking the imported game");
    const auto found = locateGame(searched);
    if (!found)
        throw SetupFailure("The archive does not contain Halo 2. Select h2pc_data.bin from installer 2.1.");
    validateGame(*found);

    makeDirectory(root_ / layout::install);
    settleFolderModes(*found);
    if (entryExists(game()))
        removeTree(game());
    fs::rename(*found, game());
    std::vector<fs::path> leftovers;
    for (const auto& item : fs::directory_iterator(game()))
        if (leftover(item.path().filename().string()))
            leftovers.push_back(item.path());
    for (const auto& item : leftovers)
        removeTree(item);
    writeFileAtomically(game() / "halo2config1.ini", configuration);
}

} // namespace corvanel
