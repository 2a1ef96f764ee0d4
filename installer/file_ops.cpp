#include "installer/file_ops.h"

#include "installer/display_text.h"
#include "installer/layout.h"
#include "installer/setup_failure.h"

#include <cerrno>
#include <cstdio>
#include <random>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvanel {

namespace fs = std::filesystem;

namespace {

std::error_code lastError()
{
    return std::error_code(errno, std::generic_category());
}

} // namespace

std::string newUuid()
{
    static thread_local std::random_device device;
    unsigned char bytes[16];
    for (auto& byte : bytes)
        byte = static_cast<unsigned char>(device());
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
    char text[37];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", bytes[0],
                  bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8], bytes[9], bytes[10],
                  bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return text;
}

bool isCanonicalUuid(std::string_view text)
{
    if (text.size() != 36)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

void createFolders(const fs::path& folder)
{
    if (::mkdir(folder.c_str(), 0755) != 0) {
        int error = errno;
        if (error == ENOENT && folder.has_relative_path() && folder.parent_path() != folder) {
            createFolders(folder.parent_path());
            error = ::mkdir(folder.c_str(), 0755) == 0 ? 0 : errno;
        }
        if (error != 0 && error != EEXIST)
            throw fs::filesystem_error("Unable to create the folder", folder,
                                       std::error_code(error, std::generic_category()));
    }
    struct stat status { };
    if (::stat(folder.c_str(), &status) != 0)
        throw fs::filesystem_error("Unable to create the folder", folder, lastError());
    if (!S_ISDIR(status.st_mode))
        throw fs::filesystem_error("Unable to create the folder", folder,
                                   std::make_error_code(std::errc::not_a_directory));
}

void makeDirectory(const fs::path& folder)
{
    refuseLinkedFolder(folder);
    createFolders(folder);
}

void refuseLinkedFolder(const fs::path& folder)
{
    struct stat status { };
    if (::lstat(folder.c_str(), &status) == 0 && S_ISLNK(status.st_mode))
        throw SetupFailure("Corvanel cannot write into " + shownPath(folder)
                           + ": it is a symbolic link, not a folder of its own. Remove the link, then retry.");
}

void createRootFolder(const fs::path& root)
{
    // The root itself is the user's choice and may be a link to a folder; a link whose target
    // is gone would otherwise read as "File exists".
    struct stat status { };
    if (::lstat(root.c_str(), &status) == 0 && S_ISLNK(status.st_mode) && ::stat(root.c_str(), &status) != 0
        && errno == ENOENT) {
        std::error_code unreadable;
        const fs::path target = fs::read_symlink(root, unreadable);
        throw SetupFailure("The installation folder " + shownPath(root) + " is a symbolic link to " + shownPath(target)
                           + ", which does not exist. Create that folder or choose another "
                             "installation folder, then retry.");
    }
    createFolders(root);
}

void writeFileAtomically(const fs::path& file, std::string_view content)
{
    const fs::path aside = file.parent_path() / ("." + file.filename().string() + "." + newUuid() + ".tmp");
    int fd = ::open(aside.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        throw fs::filesystem_error("Unable to write", aside, std::error_code(errno, std::generic_category()));
    if (!writeAll(fd, content)) {
        std::error_code error(errno, std::generic_category());
        ::close(fd);
        ::unlink(aside.c_str());
        throw fs::filesystem_error("Unable to write", aside, error);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        std::error_code error(errno, std::generic_category());
        ::unlink(aside.c_str());
        throw fs::filesystem_error("Unable to write", aside, error);
    }
    std::error_code error;
    fs::rename(aside, file, error);
    if (error) {
        ::unlink(aside.c_str());
        throw fs::filesystem_error("Unable to replace", file, error);
    }
}

void requireOwnLayout(const fs::path& root)
{
    using namespace layout;
    for (const fs::path& folder :
         {fs::path(install), fs::path(runtime), fs::path(logs), fs::path(downloads), fs::path(audioImport),
          install / fs::path(gameFolder), install / fs::path(prefixFolder)})
        refuseLinkedFolder(root / folder);
    for (const fs::path& file : {fs::path(lock), logs / fs::path(setupLog), logs / fs::path(gameLog)})
        refusePlantedFile(root / file);
}

std::string readFile(const fs::path& file)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        throw fs::filesystem_error("Unable to read", file, std::error_code(errno, std::generic_category()));
    std::string content;
    char buffer[65536];
    for (;;) {
        const ssize_t count = readRetrying(fd, buffer, sizeof buffer);
        if (count == 0)
            break;
        if (count < 0) {
            const std::error_code error(errno, std::generic_category());
            ::close(fd);
            throw fs::filesystem_error("Unable to read", file, error);
        }
        content.append(buffer, static_cast<size_t>(count));
    }
    ::close(fd);
    return content;
}

namespace {

/// Gives the folder at `path` and every folder below it owner permission, as far as it can.
void openToOwner(const fs::path& path) noexcept
{
    std::error_code error;
    if (fs::symlink_status(path, error).type() != fs::file_type::directory)
        return;
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, error);
    for (fs::recursive_directory_iterator walk(path, fs::directory_options::skip_permission_denied, error), end;
         !error && walk != end; walk.increment(error)) {
        std::error_code ignored;
        if (walk->symlink_status(ignored).type() == fs::file_type::directory)
            fs::permissions(walk->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
}

} // namespace

void removeTree(const fs::path& path)
{
    openToOwner(path);
    fs::remove_all(path);
}

void removeTreeQuietly(const fs::path& path) noexcept
{
    openToOwner(path);
    std::error_code error;
    fs::remove_all(path, error);
}

ssize_t readRetrying(int fd, void* buffer, std::size_t size)
{
    ssize_t count;
    while ((count = ::read(fd, buffer, size)) < 0 && errno == EINTR) { }
    return count;
}

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

bool entryExists(const fs::path& path) noexcept
{
    std::error_code error;
    return fs::symlink_status(path, error).type() != fs::file_type::not_found && !error;
}

bool isOwnFolder(const fs::path& path) noexcept
{
    struct stat status { };
    return ::lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

namespace {

[[noreturn]] void fail(const char* what, const fs::path& path, int code = errno)
{
    throw fs::filesystem_error(what, path, std::error_code(code, std::generic_category()));
}

/// What stands at a path, as a message names it.
std::string kindOf(const struct stat& status)
{
    const mode_t mode = status.st_mode;
    if (S_ISLNK(mode))
        return "a symbolic link";
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISFIFO(mode))
        return "a named pipe";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    if (S_ISREG(mode) && status.st_nlink > 1)
        return "a second name of another file (a hard link)";
    return "not a regular file";
}

std::string kindOf(mode_t mode)
{
    struct stat status { };
    status.st_mode = mode;
    status.st_nlink = 1;
    return kindOf(status);
}

[[noreturn]] void refuse(const fs::path& file, mode_t mode)
{
    throw SetupFailure("Only regular files can be used, but " + shownPath(file) + " is " + kindOf(mode)
                       + ". Choose a regular file and try again.");
}

[[noreturn]] void refuseFile(const fs::path& file, const std::string& kind)
{
    throw SetupFailure("Corvanel cannot write to " + shownPath(file) + ": it is " + kind
                       + ", not a regular file of its own. Remove it, then retry.");
}

/// Errors of an open that mean the entry is of the wrong kind rather than out of reach.
bool wrongKind(int error)
{
    return error == ELOOP || error == ENXIO || error == EISDIR || error == ENODEV || error == EOPNOTSUPP;
}

} // namespace

UniqueFd openRegularFile(const fs::path& file, FinalLink finalLink)
{
    // Judged before opening too: opening a device or a pipe can itself have effects.
    struct stat status { };
    const int found = finalLink == FinalLink::follow ? ::stat(file.c_str(), &status) : ::lstat(file.c_str(), &status);
    if (found != 0)
        fail("Unable to open", file);
    if (!S_ISREG(status.st_mode))
        refuse(file, status.st_mode);

    const int noFollow = finalLink == FinalLink::refuse ? O_NOFOLLOW : 0;
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | noFollow));
    if (!fd) {
        if (errno == ELOOP && noFollow)
            refuse(file, S_IFLNK);
        fail("Unable to open", file);
    }
    // Whatever was swapped in since the first look, the descriptor tells what was opened.
    if (::fstat(fd.get(), &status) != 0)
        fail("Unable to read", file);
    if (!S_ISREG(status.st_mode))
        refuse(file, status.st_mode);
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        fail("Unable to read", file);
    return fd;
}

std::string readAtMost(int fd, const fs::path& file, std::size_t limit, bool& truncated)
{
    std::string content;
    char buffer[16384];
    truncated = false;
    for (;;) {
        const ssize_t count = readRetrying(fd, buffer, sizeof buffer);
        if (count < 0)
            fail("Unable to read", file);
        if (count == 0)
            return content;
        if (content.size() + static_cast<std::size_t>(count) > limit) {
            content.append(buffer, limit - content.size());
            truncated = true;
            return content;
        }
        content.append(buffer, static_cast<std::size_t>(count));
    }
}

void writeNewFile(int from, const fs::path& source, const fs::path& target, mode_t mode)
{
    UniqueFd to(::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!to)
        fail("Unable to write", target);
    try {
        char buffer[1 << 16];
        for (;;) {
            const ssize_t count = readRetrying(from, buffer, sizeof buffer);
            if (count < 0)
                fail("Unable to read", source);
            if (count == 0)
                break;
            if (!writeAll(to.get(), std::string_view(buffer, static_cast<std::size_t>(count))))
                fail("Unable to write", target);
        }
        if (::fchmod(to.get(), mode) != 0 || to.reset() != 0)
            fail("Unable to write", target);
    } catch (...) {
        to.reset();
        ::unlink(target.c_str());
        throw;
    }
}

UniqueFd openOwnFile(const fs::path& file, int flags)
{
    UniqueFd fd(::open(file.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    if (!fd) {
        const int error = errno;
        struct stat status { };
        if (wrongKind(error) && ::lstat(file.c_str(), &status) == 0)
            refuseFile(file, kindOf(status));
        throw fs::filesystem_error("Unable to open", file, std::error_code(error, std::generic_category()));
    }
    struct stat status { };
    if (::fstat(fd.get(), &status) != 0)
        fail("Unable to open", file);
    if (!S_ISREG(status.st_mode) || status.st_nlink > 1)
        refuseFile(file, kindOf(status));
    // Blocking again from here on: writes to a regular file never wait long.
    if (::fcntl(fd.get(), F_SETFL, flags & O_APPEND) != 0)
        fail("Unable to open", file);
    // A file of another owner keeps its mode; it is that owner's to choose.
    if ((status.st_mode & 0777) != 0600) {
        [[maybe_unused]] const int ignored = ::fchmod(fd.get(), 0600);
    }
    return fd;
}

void refusePlantedFile(const fs::path& file)
{
    struct stat status { };
    if (::lstat(file.c_str(), &status) == 0 && (!S_ISREG(status.st_mode) || status.st_nlink > 1))
        refuseFile(file, kindOf(status));
}

} // namespace corvanel
