#include "installer/install_lock.h"

#include "installer/file_ops.h"
#include "installer/regular_file.h"
#include "installer/setup_failure.h"

#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace corvanel {

namespace {
const char* const competingLauncher = "Another launcher is installing or playing Halo 2. Close it before continuing.";
}

InstallLock::InstallLock(const std::filesystem::path& file)
{
    // A link, a pipe or a device planted in its place is refused with its own sentence; a file
    // that cannot be opened otherwise reads as a competing launcher.
    try {
        fd_ = openOwnFile(file, O_RDWR | O_CREAT);
    } catch (const std::filesystem::filesystem_error&) {
        throw SetupFailure(competingLauncher);
    }
    if (::flock(fd_.get(), LOCK_EX | LOCK_NB) != 0)
        throw SetupFailure(competingLauncher);
}

InstallLock::InstallLock(InstallLock&& other) noexcept : fd_(std::move(other.fd_)) {}

InstallLock& InstallLock::operator=(InstallLock&& other) noexcept
{
    if (this != &other) {
        release();
        fd_ = std::move(other.fd_);
    }
    return *this;
}

InstallLock::~InstallLock() { release(); }

void InstallLock::release() noexcept
{
    if (fd_)
        ::flock(fd_.get(), LOCK_UN);
    fd_.reset();
}

} // namespace corvanel
