#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace corvanel {

/// This process's own environment, each variable's name mapped to its value (the first, should
/// a name stand twice).
std::map<std::string, std::string> inheritedEnvironment();

/// What to start: a program by absolute path with separate arguments, never through a shell.
struct SpawnRequest {
    std::string executable;
    std::vector<std::string> arguments;
    std::optional<std::map<std::string, std::string>> environment; ///< none inherits ours
    std::optional<std::filesystem::path> directory; ///< none inherits ours
    int output = -1; ///< descriptor for standard output and error; -1 means the null device
    /// The child is killed when the thread that started it ends, even by a crash or SIGKILL of
    /// the launcher (Linux), so no tool keeps writing into a root nobody watches any more.
    bool endsWithLauncher = false;
    /// A descriptor the program keeps open under its own number, and with it whatever it holds
    /// (a lock, say), for as long as the program or anything it starts lives; -1 for none.
    int inherited = -1;
    /// The child creates files with at most the permissions 0755/0644 (a umask of at least 022),
    /// whatever the launcher's own umask; Wine creates the prefix with the caller's.
    bool restrictedUmask = false;
};

/// One child process in a process group of its own. A child that is still running when its
/// owner drops it is killed, with its group, and reaped: nothing is left behind by accident.
class ChildProcess {
public:
    /// Starts the program with every signal at its default and none blocked; standard input is
    /// the null device. Raises std::system_error, or std::filesystem::filesystem_error for a
    /// working folder that is not there.
    static ChildProcess spawn(const SpawnRequest& request);

    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    pid_t pid() const { return pid_; }

    /// Waits at most `seconds` for the end; true once the child has ended. The ended child is
    /// not reaped yet, so its process group can still be signalled safely.
    bool waitFor(double seconds);
    /// Blocks until the end, reaps the child and returns the termination status: the exit
    /// code, or the number of the signal that ended the child.
    int wait();
    /// Asks the group to stop (SIGTERM), kills it (SIGKILL) if the child is still running after
    /// `grace` seconds, then kills whatever is left of the group and reaps the child.
    int terminate(double grace);
    /// The termination status once the child is reaped, as wait() returned it.
    std::optional<int> status() const { return status_; }
    /// The number of the signal that ended the reaped child; none when it exited by itself.
    std::optional<int> endingSignal() const { return endingSignal_; }
    /// Lets the child run on unwatched: the object no longer owns it and will not kill it.
    void detach() noexcept;
    /// Sends `signal` to the child's process group, until the child is reaped.
    void signal(int signal) const;

private:
    explicit ChildProcess(pid_t pid);
    void release() noexcept;

    pid_t pid_ = -1;
    int endHandle_ = -1; ///< readable once the child ends; -1 where the system has none
    bool ended_ = false;
    std::optional<int> status_;
    std::optional<int> endingSignal_;
};

} // namespace corvanel
