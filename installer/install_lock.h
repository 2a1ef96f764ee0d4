#pragma once

#include "installer/unique_fd.h"

#include <filesystem>
#include <string_view>

namespace corvanel {

/// What a launcher is told when another one holds the lock.
inline constexpr std::string_view competingLauncherMessage
    = "Another launcher is installing or playing Halo 2. Close it before continuing.";

/// An exclusive, non-blocking lock on launcher.lock that keeps setup and play from
/// overlapping, in this process or another. Held while the object lives; the operating
/// system drops it if the process dies. The lock file is never deleted.
class InstallLock {
public:
    /// Acquires the lock or raises SetupFailure with the competing-launcher message.
    explicit InstallLock(const std::filesystem::path& file);
    InstallLock(InstallLock&& other) noexcept;
    InstallLock& operator=(InstallLock&& other) noexcept;
    InstallLock(const InstallLock&) = delete;
    InstallLock& operator=(const InstallLock&) = delete;
    ~InstallLock();

    int fd() const { return fd_.get(); }

private:
    void release() noexcept;
    UniqueFd fd_;
};

} // namespace corvanel
