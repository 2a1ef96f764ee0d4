#include "installer/regular_file.h"

#include "installer/display_text.h"
#include "installer/setup_failure.h"

#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvanel {

namespace fs = std::filesystem;

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
    struct stat status {};
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
    struct stat status {};
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
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
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
            const ssize_t count = ::read(from, buffer, sizeof buffer);
            if (count < 0 && errno == EINTR)
                continue;
            if (count < 0)
                fail("Unable to read", source);
            if (count == 0)
                break;
            for (ssize_t written = 0; written < count;) {
                const ssize_t step = ::write(to.get(), buffer + written, static_cast<std::size_t>(count - written));
                if (step < 0 && errno == EINTR)
                    continue;
                if (step < 0)
                    fail("Unable to write", target);
                written += step;
            }
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
        struct stat status {};
        if (wrongKind(error) && ::lstat(file.c_str(), &status) == 0)
            refuseFile(file, kindOf(status));
        throw fs::filesystem_error("Unable to open", file, std::error_code(error, std::generic_category()));
    }
    struct stat status {};
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
    struct stat status {};
    if (::lstat(file.c_str(), &status) == 0 && (!S_ISREG(status.st_mode) || status.st_nlink > 1))
        refuseFile(file, kindOf(status));
}

} // namespace corvanel
