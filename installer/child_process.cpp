#include "installer/child_process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
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
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

} // namespace

ChildProcess ChildProcess::spawn(const SpawnRequest& request)
{
    SpawnSetup setup;
    posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&setup.attributes, 0);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGINT);
    posix_spawnattr_setsigmask(&setup.attributes, &none);
    posix_spawnattr_setsigdefault(&setup.attributes, &defaults);

    posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (request.output >= 0) {
        posix_spawn_file_actions_adddup2(&setup.actions, request.output, STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&setup.actions, request.output, STDERR_FILENO);
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

ChildProcess::ChildProcess(pid_t pid) : pid_(pid), pidfd_(openPidfd(pid))
{
    if (pidfd_ >= 0)
        fcntl(pidfd_, F_SETFD, FD_CLOEXEC);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), pidfd_(std::exchange(other.pidfd_, -1)), status_(std::exchange(other.status_, 0))
{
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept
{
    if (this != &other) {
        release();
        pid_ = std::exchange(other.pid_, -1);
        pidfd_ = std::exchange(other.pidfd_, -1);
        status_ = std::exchange(other.status_, 0);
    }
    return *this;
}

ChildProcess::~ChildProcess() { release(); }

void ChildProcess::release()
{
    if (pid_ > 0 && !status_) {
        signal(SIGKILL);
        wait();
    }
    if (pidfd_ >= 0)
        ::close(pidfd_);
    pidfd_ = -1;
    pid_ = -1;
}

void ChildProcess::reap(int waitStatus)
{
    status_ = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : WIFSIGNALED(waitStatus) ? WTERMSIG(waitStatus) : waitStatus;
}

bool ChildProcess::waitFor(double seconds)
{
    if (status_)
        return true;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(std::max(seconds, 0.0)));
    for (;;) {
        int waitStatus = 0;
        pid_t done = waitpid(pid_, &waitStatus, WNOHANG);
        if (done == pid_) {
            reap(waitStatus);
            return true;
        }
        if (done < 0 && errno != EINTR)
            throw systemError(errno, "Unable to wait for process " + std::to_string(pid_));
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        if (pidfd_ >= 0) {
            pollfd watch{pidfd_, POLLIN, 0};
            poll(&watch, 1, static_cast<int>(std::min<long long>(left, 60'000)));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min<long long>(left, 10)));
        }
    }
}

int ChildProcess::wait()
{
    while (!status_) {
        int waitStatus = 0;
        pid_t done = waitpid(pid_, &waitStatus, 0);
        if (done == pid_)
            reap(waitStatus);
        else if (done < 0 && errno != EINTR)
            throw systemError(errno, "Unable to wait for process " + std::to_string(pid_));
    }
    return *status_;
}

void ChildProcess::signal(int signal) const
{
    if (pid_ <= 0 || status_)
        return;
    if (::kill(-pid_, signal) != 0)
        ::kill(pid_, signal);
}

} // namespace corvanel
