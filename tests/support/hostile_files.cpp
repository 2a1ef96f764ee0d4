#include "support/hostile_files.h"

#include <chrono>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvanel::test_support {

ReleasedFifo::ReleasedFifo(std::filesystem::path path)
    : path_(std::move(path))
{
    if (::mkfifo(path_.c_str(), 0600) != 0)
        throw std::runtime_error("could not create the pipe " + path_.string());
    releaser_ = std::thread([this] {
        while (!done_) {
            // Succeeds only while a reader has it open, which the writer's close then ends.
            const int fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                struct stat status { };
                if (::fstat(fd, &status) == 0 && S_ISFIFO(status.st_mode))
                    ++released_;
                ::close(fd);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
}

ReleasedFifo::~ReleasedFifo()
{
    done_ = true;
    releaser_.join();
}

ScopedUmask::ScopedUmask(mode_t mask)
    : saved_(::umask(mask))
{
}

ScopedUmask::~ScopedUmask()
{
    ::umask(saved_);
}

} // namespace corvanel::test_support
