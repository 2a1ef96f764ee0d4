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

const char* kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISFIFO(mode))
        return "a named pipe";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISLNK(mode))
        return "a symbolic link";
    return "not a file";
}

[[noreturn]] void refuse(const fs::path& file, mode_t mode)
{
    throw SetupFailure("Only regular files can be used, but " + shownPath(file) + " is " + kindOf(mode)
                       + ". Choose a regular file and try again.");
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

} // namespace corvanel
