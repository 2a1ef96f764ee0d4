#pragma once

#include <atomic>
#include <filesystem>
#include <thread>

#include <sys/types.h>

namespace corvanel::test_support {

/// A named pipe that never keeps a reader waiting: for its lifetime a helper thread keeps
/// opening it for writing and closing it again, so code that wrongly opens it sees an empty
/// file and the test fails on its assertions instead of hanging.
class ReleasedFifo {
public:
    explicit ReleasedFifo(std::filesystem::path path);
    ReleasedFifo(const ReleasedFifo&) = delete;
    ReleasedFifo& operator=(const ReleasedFifo&) = delete;
    ~ReleasedFifo();

    const std::filesystem::path& path() const { return path_; }
    /// How many times a reader had opened the pipe and was let go.
    int readersReleased() const { return released_; }

private:
    std::filesystem::path path_;
    std::atomic<bool> done_{false};
    std::atomic<int> released_{0};
    std::thread releaser_;
};

/// Sets the process umask for its lifetime.
class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask);
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;
    ~ScopedUmask();

private:
    mode_t saved_;
};

} // namespace corvanel::test_support
