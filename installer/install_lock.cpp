#include "installer/install_lock.h"

#include "installer/display_text.h"
#include "installer/file_ops.h"
#include "installer/runner.h"
#include "installer/setup_failure.h"

#include <cerrno>
#include <chrono>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace corvanel {

namespace {

/// How long a taken lock is tried again before it counts as another launcher's. A launcher
/// that was just ended (killed, say) can keep its lock a little longer: a child it had just
/// forked holds a copy of the descriptor until that child has started its program or is gone.
constexpr auto releaseGrace = std::chrono::milliseconds(500);
constexpr auto retryInterval = std::chrono::milliseconds(10);

/// Takes the lock on `fd`, trying again for a short while; false when it stays taken.
bool takeLock(int fd)
{
    const auto deadline = std::chrono::steady_clock::now() + releaseGrace;
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(retryInterval);
    }
}
} // namespace

InstallLock::InstallLock(const std::filesystem::path& file)
{
    // A link, a pipe or a device planted in its place is refused with its own sentence, and so
    // is a folder that cannot be written to; a file that cannot be opened otherwise reads as a
    // competing launcher.
    try {
        fd_ = openOwnFile(file, O_RDWR | O_CREAT);
    } catch (const std::filesystem::filesystem_error& error) {
        const int code = error.code().value();
        if (error.code().category() == std::generic_category() && (code == EROFS || code == EACCES || code == EPERM))
            throw SetupFailure(
                "The installation folder " + shownPath(file.parent_path())
                + " is read-only, so nothing was changed. Make it writable or choose another folder, then retry.");
        throw SetupFailure(std::string(competingLauncherMessage));
    }
    if (!takeLock(fd_.get()))
        throw SetupFailure(std::string(competingLauncherMessage));
}

InstallLock::InstallLock(InstallLock&& other) noexcept
    : fd_(std::move(other.fd_))
{
}

InstallLock& InstallLock::operator=(InstallLock&& other) noexcept
{
    if (this != &other) {
        release();
        fd_ = std::move(other.fd_);
    }
    return *this;
}

InstallLock::~InstallLock()
{
    release();
}

void InstallLock::release() noexcept
{
    if (fd_)
        ::flock(fd_.get(), LOCK_UN);
    fd_.reset();
}

} // namespace corvanel
