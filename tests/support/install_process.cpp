#include "support/install_process.h"

#include "installer/child_process.h"
#include "installer/file_ops.h"
#include "installer/setup_failure.h"
#include "support/program.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace corvanel::test_support {

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

void writeAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t step = ::write(fd, text.data() + done, text.size() - done);
        if (step < 0 && errno == EINTR)
            continue;
        if (step <= 0)
            return;
        done += static_cast<size_t>(step);
    }
}

/// Runs in the forked child: the install, then its outcome through `events`. Never returns.
[[noreturn]] void installAndReport(const InstallRequest& request, int events, int resume)
{
    bool held = false;
    const auto report = [&](const std::string& text) {
        if (held || request.holdAt.empty() || text.find(request.holdAt) == std::string::npos)
            return;
        held = true;
        writeAll(events, "H");
        char ignored;
        while (::read(resume, &ignored, 1) < 0 && errno == EINTR) { }
    };
    std::string outcome;
    try {
        Installer(request.root, report, request.catalogue, request.host)
            .install(request.game, request.audio, request.cache);
        outcome = "S";
    } catch (const std::exception& error) {
        outcome = "F" + describe(error);
    } catch (...) {
        outcome = "Fan error that is not an exception";
    }
    writeAll(events, outcome);
    ::_exit(0);
}

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

InstallProcess::InstallProcess(const InstallRequest& request)
    : root_(request.root)
{
    int events[2], resume[2];
    if (::pipe2(events, O_CLOEXEC) != 0 || ::pipe2(resume, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    std::fflush(nullptr);
    pid_ = ::fork();
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        ::close(events[0]);
        ::close(resume[1]);
        installAndReport(request, events[1], resume[0]);
    }
    ::close(events[1]);
    ::close(resume[0]);
    events_ = events[0];
    resume_ = resume[1];
}

InstallProcess::~InstallProcess()
{
    if (pid_ > 0)
        kill();
    if (events_ >= 0)
        ::close(events_);
    resume();
}

bool InstallProcess::waitUntilHeld(double seconds)
{
    const auto start = Clock::now();
    while (received_.empty() || received_.front() != 'H') {
        const double left = seconds - secondsSince(start);
        if (left <= 0 || events_ < 0)
            return false;
        pollfd watch{events_, POLLIN, 0};
        if (::poll(&watch, 1, static_cast<int>(left * 1000) + 1) <= 0)
            continue;
        char buffer[4096];
        const ssize_t got = ::read(events_, buffer, sizeof buffer);
        if (got <= 0)
            return false;
        received_.append(buffer, static_cast<size_t>(got));
    }
    return true;
}

bool InstallProcess::waitUntil(const std::function<bool()>& condition, double seconds)
{
    const auto start = Clock::now();
    for (;;) {
        if (condition())
            return true;
        if (ended() || secondsSince(start) > seconds)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void InstallProcess::resume()
{
    if (resume_ >= 0)
        ::close(resume_);
    resume_ = -1;
}

void InstallProcess::kill()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGKILL);
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) { }
    pid_ = -1;
    waitForToolsUsing(root_);
}

InstallOutcome InstallProcess::finish()
{
    resume();
    if (events_ >= 0) {
        char buffer[4096];
        ssize_t got;
        while ((got = ::read(events_, buffer, sizeof buffer)) != 0) {
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                break;
            received_.append(buffer, static_cast<size_t>(got));
        }
        ::close(events_);
        events_ = -1;
    }
    if (pid_ > 0) {
        while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) { }
        pid_ = -1;
    }
    std::string text = received_;
    if (!text.empty() && text.front() == 'H')
        text.erase(0, 1);
    if (text == "S")
        return {.succeeded = true};
    if (!text.empty() && text.front() == 'F')
        return {.succeeded = false, .error = text.substr(1)};
    return {.succeeded = false, .error = "the install process ended without an outcome"};
}

bool InstallProcess::ended()
{
    if (pid_ <= 0)
        return true;
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid_;
}

bool logContains(const fs::path& root, std::string_view text)
{
    return readText(root / "Logs" / "setup.log").find(text) != std::string::npos;
}

void waitForToolsUsing(const fs::path& root, double seconds)
{
    const auto start = Clock::now();
    const std::string wanted = root.string();
    for (;;) {
        bool found = false;
        std::error_code error;
        for (fs::directory_iterator entry("/proc", error), end; !error && entry != end; entry.increment(error)) {
            const std::string name = entry->path().filename().string();
            if (name.find_first_not_of("0123456789") != std::string::npos || name == std::to_string(::getpid()))
                continue;
            std::string command = readText(entry->path() / "cmdline");
            for (auto& c : command)
                if (c == '\0')
                    c = ' ';
            if (command.find(wanted) != std::string::npos)
                found = true;
        }
        if (!found || secondsSince(start) > seconds)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::string holdersOf(const fs::path& file)
{
    struct stat wanted { };
    if (::stat(file.c_str(), &wanted) != 0)
        return "";
    std::string text;
    const std::string inode = ":" + std::to_string(wanted.st_ino) + " ";
    for (const auto& line : linesOf(readText("/proc/locks")))
        if (line.find(inode) != std::string::npos)
            text += "lock " + line + "\n";
    std::error_code error;
    for (fs::directory_iterator entry("/proc", error), end; !error && entry != end; entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::error_code unreadable;
        for (fs::directory_iterator fd(entry->path() / "fd", unreadable), last; !unreadable && fd != last;
             fd.increment(unreadable)) {
            struct stat open { };
            if (::stat(fd->path().c_str(), &open) == 0 && open.st_dev == wanted.st_dev
                && open.st_ino == wanted.st_ino) {
                std::string command = readText(entry->path() / "cmdline");
                std::replace(command.begin(), command.end(), '\0', ' ');
                text += name + ": " + command + "\n";
                break;
            }
        }
    }
    return text;
}

void waitForWine(const fs::path& root)
{
    const Installer installer(root);
    const fs::path wineserver = installer.wine().parent_path() / "wineserver";
    if (!fs::exists(wineserver) || !fs::exists(installer.prefix()))
        return;
    const auto server = [&](const char* option) {
        return ChildProcess::spawn(
            {.executable = wineserver.string(), .arguments = {option}, .environment = installer.environment()});
    };
    // A server whose first client was killed before it connected never ends by itself: Wine
    // arms its exit timer only when a last process ends. One that outlasts a generous wait is
    // told to end, as the next setup of the prefix would do.
    ChildProcess waiting = server("-w");
    if (waiting.waitFor(120))
        return;
    server("-k").waitFor(60);
    if (!waiting.waitFor(60)) {
        waiting.terminate(1);
        throw std::runtime_error("the Wine server of " + root.string() + " would not end");
    }
}

} // namespace corvanel::test_support
