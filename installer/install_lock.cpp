#include "installer/install_lock.h"

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
    int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        fd = -1;
    }
    if (fd < 0)
        throw SetupFailure(competingLauncher);
    fd_ = fd;
}

InstallLock::InstallLock(InstallLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

InstallLock& InstallLock::operator=(InstallLock&& other) noexcept
{
    if (this != &other) {
        release();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

InstallLock::~InstallLock() { release(); }

void InstallLock::release() noexcept
{
    if (fd_ >= 0) {
        ::flock(fd_, LOCK_UN);
        ::close(fd_);
    }
    fd_ = -1;
}

} // namespace corvanel
