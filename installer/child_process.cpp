#include "installer/child_process.h"

#include "installer/unique_fd.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <csignal>
#include <system_error>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/syscall.h>
#endif

extern char** environ;

namespace corvanel {

namespace {

using Clock = std::chrono::steady_clock;

std::system_error systemError(int code, const std::string& what)
{
    return std::system_error(code, std::generic_category(), what);
}

/// posix_spawn's attribute and file-action objects, destroyed on every way out.
struct SpawnSetup {
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_t actions;
    SpawnSetup()
    {
        posix_spawnattr_init(&attributes);
        posix_spawn_file_actions_init(&actions);
    }
    ~SpawnSetup()
    {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
};

std::vector<std::string> environmentLines(const SpawnRequest& request)
{
    std::vector<std::string> lines;
    if (request.environment) {
        for (const auto& [name, value] : *request.environment)
            lines.push_back(name + "=" + value);
    } else {
        for (char** entry = environ; *entry; ++entry)
            lines.emplace_back(*entry);
    }
    return lines;
}

std::vector<char*> pointers(std::vector<std::string>& texts)
{
    std::vector<char*> result;
    for (auto& text : texts)
        result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

int openPidfd(pid_t pid)
{
#if defined(__linux__) && defined(SYS_pidfd_open)
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); // always close-on-exec
#else
    (void)pid;
    return -1;
#endif
}

/// Milliseconds until `deadline`, rounded up so that a wait never wakes up just before it.
int millisecondsUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60'000));
}

Clock::time_point deadlineAfter(double seconds)
{
    // Beyond a few years a limit means "no limit"; the clamp keeps the arithmetic finite.
    const double bounded = std::isnan(seconds) ? 0.0 : std::clamp(seconds, 0.0, 1e8);
    return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(bounded));
}

} // namespace

ChildProcess ChildProcess::spawn(const SpawnRequest& request)
{
    if (request.directory) {
        std::error_code error;
        if (!std::filesystem::is_directory(*request.directory, error))
            throw std::filesystem::filesystem_error("Unable to use the working folder", *request.directory,
                                                    error ? error : std::make_error_code(std::errc::no_such_file_or_directory));
    }

    SpawnSetup setup;
    posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&setup.attributes, 0);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    sigdelset(&all, SIGKILL);
    sigdelset(&all, SIGSTOP);
    posix_spawnattr_setsigmask(&setup.attributes, &none);
    posix_spawnattr_setsigdefault(&setup.attributes, &all);

    // The output descriptor must survive the redirection of 0, 1 and 2, so it is moved above
    // them when it is one of them (a launcher started with closed standard streams).
    UniqueFd raised;
    int output = request.output;
    if (output >= 0 && output <= STDERR_FILENO) {
        raised = UniqueFd(::fcntl(output, F_DUPFD_CLOEXEC, STDERR_FILENO + 1));
        if (!raised)
            throw systemError(errno, "Unable to start " + request.executable);
        output = raised.get();
    }
    posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (output >= 0) {
        posix_spawn_file_actions_adddup2(&setup.actions, output, STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&setup.actions, output, STDERR_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&setup.actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&setup.actions, STDOUT_FILENO, STDERR_FILENO);
    }
    if (request.directory)
        posix_spawn_file_actions_addchdir_np(&setup.actions, request.directory->c_str());

    std::vector<std::string> argumentTexts{request.executable};
    argumentTexts.insert(argumentTexts.end(), request.arguments.begin(), request.arguments.end());
    std::vector<std::string> environmentTexts = environmentLines(request);
    std::vector<char*> argv = pointers(argumentTexts);
    std::vector<char*> envp = pointers(environmentTexts);

    pid_t pid = -1;
    int result = posix_spawn(&pid, request.executable.c_str(), &setup.actions, &setup.attributes, argv.data(), envp.data());
    if (result != 0)
        throw systemError(result, "Unable to start " + request.executable);
    return ChildProcess(pid);
}

ChildProcess::ChildProcess(pid_t pid) : pid_(pid), pidfd_(openPidfd(pid)) {}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      pidfd_(std::exchange(other.pidfd_, -1)),
      ended_(std::exchange(other.ended_, true)),
      status_(std::exchange(other.status_, 0))
{
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept
{
    if (this != &other) {
        release();
        pid_ = std::exchange(other.pid_, -1);
        pidfd_ = std::exchange(other.pidfd_, -1);
        ended_ = std::exchange(other.ended_, true);
        status_ = std::exchange(other.status_, 0);
    }
    return *this;
}

ChildProcess::~ChildProcess() { release(); }

void ChildProcess::release() noexcept
{
    if (pid_ > 0 && !status_) {
        if (!ended_)
            signal(SIGKILL);
        while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    if (pidfd_ >= 0)
        ::close(pidfd_);
    pidfd_ = -1;
    pid_ = -1;
}

bool ChildProcess::waitFor(double seconds)
{
    if (ended_)
        return true;
    const auto deadline = deadlineAfter(seconds);
    for (;;) {
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0) {
            if (info.si_pid == pid_) {
                ended_ = true;
                return true;
            }
        } else if (errno != EINTR) {
            throw systemError(errno, "Unable to wait for process " + std::to_string(pid_));
        }
        const int left = millisecondsUntil(deadline);
        if (left <= 0)
            return false;
        if (pidfd_ >= 0) {
            pollfd watch{pidfd_, POLLIN, 0};
            ::poll(&watch, 1, left);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min(left, 10)));
        }
    }
}

int ChildProcess::wait()
{
    while (!status_) {
        int waitStatus = 0;
        const pid_t done = ::waitpid(pid_, &waitStatus, 0);
        if (done == pid_) {
            ended_ = true;
            status_ = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : WIFSIGNALED(waitStatus) ? WTERMSIG(waitStatus) : waitStatus;
        } else if (done < 0 && errno != EINTR) {
            throw systemError(errno, "Unable to wait for process " + std::to_string(pid_));
        }
    }
    return *status_;
}

int ChildProcess::terminate(double grace)
{
    signal(SIGTERM);
    if (!waitFor(grace))
        signal(SIGKILL);
    while (!waitFor(60)) {
    }
    // The ended child is not reaped yet, so its group id cannot have been reused: whatever it
    // left running in its group goes too.
    signal(SIGKILL);
    return wait();
}

void ChildProcess::signal(int signal) const
{
    if (pid_ <= 0 || status_)
        return;
    if (::kill(-pid_, signal) != 0)
        ::kill(pid_, signal);
}

} // namespace corvanel
