#include "installer/child_process.h"

#include "installer/platform.h"
#include "installer/unique_fd.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <csignal>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace corvanel {

namespace {

using Clock = std::chrono::steady_clock;

std::system_error systemError(int code, const std::string& what)
{
    return std::system_error(code, std::generic_category(), what);
}

} // namespace

std::map<std::string, std::string> inheritedEnvironment()
{
    std::map<std::string, std::string> result;
    for (char** entry = environ; *entry; ++entry) {
        const std::string_view line(*entry);
        const auto equals = line.find('=');
        if (equals != std::string_view::npos)
            result.emplace(std::string(line.substr(0, equals)), std::string(line.substr(equals + 1)));
    }
    return result;
}

namespace {

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

/// What the forked child needs to become the program.
struct ChildSetup {
    char* const* argv;
    char* const* envp;
    const char* directory;
    int output;
    int inherited;
    bool endsWithLauncher;
    bool restrictedUmask;
    pid_t launcher;
    int errorPipe;
};

/// Runs in the forked child: async-signal-safe calls only, then exec. On failure the errno
/// goes to the parent through the pipe.
[[noreturn]] void failChild(int errorPipe)
{
    const int error = errno;
    [[maybe_unused]] auto written = ::write(errorPipe, &error, sizeof error);
    ::_exit(127);
}

[[noreturn]] void startChild(const ChildSetup& setup)
{
    auto fail = [&setup]() { failChild(setup.errorPipe); };
    if (setup.endsWithLauncher && platform::endWithParent() && ::getppid() != setup.launcher)
        ::_exit(127);
    if (setup.restrictedUmask)
        ::umask(::umask(0) | 022);
    ::setpgid(0, 0);
    struct sigaction defaultAction { };
    defaultAction.sa_handler = SIG_DFL;
    for (int number = 1; number < NSIG; ++number)
        if (number != SIGKILL && number != SIGSTOP)
            ::sigaction(number, &defaultAction, nullptr); // the C library's own signals refuse; fine
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);

    const int input = ::open("/dev/null", O_RDONLY);
    if (input < 0 || ::dup2(input, STDIN_FILENO) < 0)
        fail();
    int output = setup.output;
    if (output < 0 && (output = ::open("/dev/null", O_WRONLY)) < 0)
        fail();
    if (::dup2(output, STDOUT_FILENO) < 0 || ::dup2(output, STDERR_FILENO) < 0)
        fail();
    if (setup.inherited >= 0) {
        const int flags = ::fcntl(setup.inherited, F_GETFD);
        if (flags < 0 || ::fcntl(setup.inherited, F_SETFD, flags & ~FD_CLOEXEC) != 0)
            fail();
    }
    if (setup.directory && ::chdir(setup.directory) != 0)
        fail();
    ::execve(setup.argv[0], setup.argv, setup.envp);
    failChild(setup.errorPipe);
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
                                                    error ? error
                                                          : std::make_error_code(std::errc::no_such_file_or_directory));
    }

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
    // The same for the inherited descriptor, which the program would otherwise lose to them.
    UniqueFd raisedInherited;
    int inherited = request.inherited;
    if (inherited >= 0 && inherited <= STDERR_FILENO) {
        raisedInherited = UniqueFd(::fcntl(inherited, F_DUPFD_CLOEXEC, STDERR_FILENO + 1));
        if (!raisedInherited)
            throw systemError(errno, "Unable to start " + request.executable);
        inherited = raisedInherited.get();
    }

    // Everything the child needs is prepared here: between fork and exec it only makes
    // async-signal-safe calls.
    std::vector<std::string> argumentTexts{request.executable};
    argumentTexts.insert(argumentTexts.end(), request.arguments.begin(), request.arguments.end());
    std::vector<std::string> environmentTexts = environmentLines(request);
    std::vector<char*> argv = pointers(argumentTexts);
    std::vector<char*> envp = pointers(environmentTexts);
    const char* directory = request.directory ? request.directory->c_str() : nullptr;
    const pid_t launcher = ::getpid();

    int errorPipe[2];
    if (!platform::closeOnExecPipe(errorPipe))
        throw systemError(errno, "Unable to start " + request.executable);
    UniqueFd errorReader(errorPipe[0]);
    UniqueFd errorWriter(errorPipe[1]);

    const pid_t pid = ::fork();
    if (pid < 0)
        throw systemError(errno, "Unable to start " + request.executable);
    if (pid == 0)
        startChild({argv.data(), envp.data(), directory, output, inherited, request.endsWithLauncher,
                    request.restrictedUmask, launcher, errorWriter.get()});

    errorWriter.reset();
    int childError = 0;
    ssize_t got;
    while ((got = ::read(errorReader.get(), &childError, sizeof childError)) < 0 && errno == EINTR) { }
    if (got > 0) {
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) { }
        throw systemError(childError, "Unable to start " + request.executable);
    }
    return ChildProcess(pid);
}

ChildProcess::ChildProcess(pid_t pid)
    : pid_(pid)
    , endHandle_(platform::processHandle(pid))
{
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1))
    , endHandle_(std::exchange(other.endHandle_, -1))
    , ended_(std::exchange(other.ended_, true))
    , status_(std::exchange(other.status_, 0))
    , endingSignal_(std::exchange(other.endingSignal_, std::nullopt))
{
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept
{
    if (this != &other) {
        release();
        pid_ = std::exchange(other.pid_, -1);
        endHandle_ = std::exchange(other.endHandle_, -1);
        ended_ = std::exchange(other.ended_, true);
        status_ = std::exchange(other.status_, 0);
        endingSignal_ = std::exchange(other.endingSignal_, std::nullopt);
    }
    return *this;
}

ChildProcess::~ChildProcess()
{
    release();
}

void ChildProcess::release() noexcept
{
    if (pid_ > 0 && !status_) {
        if (!ended_)
            signal(SIGKILL);
        while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) { }
    }
    if (endHandle_ >= 0)
        ::close(endHandle_);
    endHandle_ = -1;
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
        if (endHandle_ >= 0) {
            pollfd watch{endHandle_, POLLIN, 0};
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
            status_ = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus)
                : WIFSIGNALED(waitStatus)   ? WTERMSIG(waitStatus)
                                            : waitStatus;
            if (WIFSIGNALED(waitStatus))
                endingSignal_ = WTERMSIG(waitStatus);
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
    while (!waitFor(60)) { }
    // The ended child is not reaped yet, so its group id cannot have been reused: whatever it
    // left running in its group goes too.
    signal(SIGKILL);
    return wait();
}

void ChildProcess::detach() noexcept
{
    if (endHandle_ >= 0)
        ::close(endHandle_);
    endHandle_ = -1;
    pid_ = -1;
}

void ChildProcess::signal(int signal) const
{
    if (pid_ <= 0 || status_)
        return;
    if (::kill(-pid_, signal) != 0)
        ::kill(pid_, signal);
}

} // namespace corvanel
