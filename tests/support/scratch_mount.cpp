#include "support/scratch_mount.h"

#include "installer/platform.h"

#include "support/archives.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

#include <sched.h>
#include <sys/mount.h>

namespace corvanel::test_support {

namespace fs = std::filesystem;

namespace {

std::string errorText(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

/// Moves the test process into a mount namespace of its own, once; empty on success.
std::string privateMounts()
{
    static const std::string failure = [] {
        if (::unshare(CLONE_NEWNS) != 0)
            return errorText("a private mount namespace is not allowed");
        if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return errorText("mounts cannot be made private");
        return std::string();
    }();
    return failure;
}

} // namespace

ScratchMount ScratchMount::smallVolume(const fs::path& folder, const std::string& size)
{
    ScratchMount result;
    result.reason_ = privateMounts();
    if (!result.reason_.empty())
        return result;
    const std::string options = "size=" + size + ",mode=0755";
    if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) != 0) {
        result.reason_ = errorText("mounting a tmpfs is not allowed");
        return result;
    }
    result.folder_ = folder;
    return result;
}

ScratchMount ScratchMount::readOnly(const fs::path& folder)
{
    ScratchMount result;
    result.reason_ = privateMounts();
    if (!result.reason_.empty())
        return result;
    if (::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        result.reason_ = errorText("bind mounts are not allowed");
        return result;
    }
    result.folder_ = folder;
    if (::mount("none", folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
        result.reason_ = errorText("a bind mount cannot be made read-only");
        ::umount2(folder.c_str(), MNT_DETACH);
        result.folder_.clear();
    }
    return result;
}

ScratchMount::ScratchMount(ScratchMount&& other) noexcept
    : folder_(std::exchange(other.folder_, {}))
    , reason_(std::move(other.reason_))
{
}

ScratchMount::~ScratchMount()
{
    if (!folder_.empty())
        ::umount2(folder_.c_str(), MNT_DETACH);
}

ImmutableFolder::ImmutableFolder(fs::path folder)
    : folder_(std::move(folder))
{
    applied_ = fs::exists("/usr/bin/chattr") && runProgram({"/usr/bin/chattr", "+i", folder_.string()}) == 0;
}

ImmutableFolder::~ImmutableFolder()
{
    if (applied_)
        runProgram({"/usr/bin/chattr", "-i", folder_.string()});
}

HostQueries roomOnlyAtPreflight()
{
    auto asked = std::make_shared<int>(0);
    return HostQueries{
        .freeSpace = [asked](const std::filesystem::path& path) -> std::optional<std::uintmax_t> {
            if ((*asked)++ == 0)
                return 20'000'000'000;
            return platform::availableCapacity(path);
        },
        .x86Probe = HostQueries::platform().x86Probe,
    };
}

} // namespace corvanel::test_support
