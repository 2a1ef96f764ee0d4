#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace corvanel {

/// What to start: a program by absolute path with separate arguments, never through a shell.
struct SpawnRequest {
    std::string executable;
    std::vector<std::string> arguments;
    std::optional<std::map<std::string, std::string>> environment; ///< none inherits ours
    std::optional<std::filesystem::path> directory;                ///< none inherits ours
    int output = -1; ///< descriptor for standard output and error; -1 means the null device
};

/// One child process in a process group of its own. A child that is still running when its
/// owner drops it is killed, with its group, and reaped: nothing is left behind by accident.
class ChildProcess {
public:
    /// Starts the program; standard input is the null device. Raises std::system_error.
    static ChildProcess spawn(const SpawnRequest& request);

    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    pid_t pid() const { return pid_; }

    /// Waits at most `seconds` for the end; true once the child has ended.
    bool waitFor(double seconds);
    /// Blocks until the end and returns the termination status: the exit code, or the
    /// number of the signal that ended the child.
    int wait();
    bool running() const { return !status_; }
    std::optional<int> status() const { return status_; }
    /// Sends `signal` to the child's process group.
    void signal(int signal) const;

private:
    explicit ChildProcess(pid_t pid);
    void reap(int waitStatus);
    void release();

    pid_t pid_ = -1;
    int pidfd_ = -1;
    std::optional<int> status_;
};

} // namespace corvanel
