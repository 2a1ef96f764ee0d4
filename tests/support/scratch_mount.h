#pragma once

#include "installer/installer.h"

#include <filesystem>
#include <string>

namespace corvanel::test_support {

/// A file system mounted for one test: a small tmpfs, or a read-only bind of a folder onto
/// itself. Mounts are made in a mount namespace private to the test process, so none outlives
/// it; they are undone when the object is dropped. Mounting needs privileges: where it is not
/// allowed, `mounted()` is false and `reason()` says why.
class ScratchMount {
public:
    /// A tmpfs of `size` (mount's notation, such as "8m") on the existing, empty `folder`.
    static ScratchMount smallVolume(const std::filesystem::path& folder, const std::string& size);
    /// `folder` bound onto itself, read-only.
    static ScratchMount readOnly(const std::filesystem::path& folder);

    ScratchMount(ScratchMount&& other) noexcept;
    ScratchMount(const ScratchMount&) = delete;
    ScratchMount& operator=(const ScratchMount&) = delete;
    ScratchMount& operator=(ScratchMount&&) = delete;
    ~ScratchMount();

    bool mounted() const { return !folder_.empty(); }
    const std::string& reason() const { return reason_; }

private:
    ScratchMount() = default;

    std::filesystem::path folder_;
    std::string reason_;
};

/// Host queries for setup on a small volume: room to spare at preflight, so that setup gets as
/// far as the volume lets it; the volume's real figure every time after, so that a stage that
/// fails on it is told that the disk is full.
HostQueries roomOnlyAtPreflight();

/// Makes `folder` immutable (chattr +i) for the lifetime of the object; where that is not
/// allowed, `applied()` is false.
class ImmutableFolder {
public:
    explicit ImmutableFolder(std::filesystem::path folder);
    ImmutableFolder(const ImmutableFolder&) = delete;
    ImmutableFolder& operator=(const ImmutableFolder&) = delete;
    ~ImmutableFolder();

    bool applied() const { return applied_; }

private:
    std::filesystem::path folder_;
    bool applied_ = false;
};

} // namespace corvanel::test_support
