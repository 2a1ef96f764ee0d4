#include "installer/child_process.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace corvanel {
namespace {

namespace fs = std::filesystem;
using test_support::TempDir;

/// The launcher may run with signals ignored or blocked (a shell started it under nohup, or a
/// library set SIGPIPE aside). Its programs start with every signal at its default and none
/// blocked, so a program that writes to a closed pipe or is asked to stop behaves normally.
TEST(ChildProcess, StartsWithDefaultSignalDispositionsAndNothingBlocked)
{
    TempDir folder;
    const int output = ::open((folder / "status").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(output, 0);

    struct sigaction ignore {
    }, oldPipe{}, oldTerm{}, oldHup{}, oldUsr{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &oldPipe);
    sigaction(SIGTERM, &ignore, &oldTerm);
    sigaction(SIGHUP, &ignore, &oldHup);
    sigaction(SIGUSR1, &ignore, &oldUsr);
    sigset_t blocked, oldMask;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGINT);
    sigprocmask(SIG_BLOCK, &blocked, &oldMask);

    int status = -1;
    {
        ChildProcess child = ChildProcess::spawn(
            {.executable = "/bin/grep", .arguments = {"^Sig[BI]", "/proc/self/status"}, .output = output});
        status = child.wait();
    }

    sigprocmask(SIG_SETMASK, &oldMask, nullptr);
    sigaction(SIGPIPE, &oldPipe, nullptr);
    sigaction(SIGTERM, &oldTerm, nullptr);
    sigaction(SIGHUP, &oldHup, nullptr);
    sigaction(SIGUSR1, &oldUsr, nullptr);
    ::close(output);

    EXPECT_EQ(status, 0);
    const auto lines = test_support::readLines(folder / "status");
    ASSERT_EQ(lines.size(), 2u);
    // Signals 1 to 31 only: the C library keeps its own real-time signals aside.
    EXPECT_EQ(std::stoull(lines[0].substr(8), nullptr, 16) & 0x7FFFFFFF, 0u) << lines[0];
    EXPECT_EQ(std::stoull(lines[1].substr(8), nullptr, 16) & 0x7FFFFFFF, 0u) << lines[1];
}

TEST(ChildProcess, RunsInAProcessGroupOfItsOwn)
{
    TempDir folder;
    const int output = ::open((folder / "groups").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ChildProcess child = ChildProcess::spawn(
        {.executable = "/bin/sh", .arguments = {"-c", "echo $$; ps -o pgid= -p $$"}, .output = output});
    const pid_t pid = child.pid();
    EXPECT_EQ(child.wait(), 0);
    ::close(output);
    const auto lines = test_support::readLines(folder / "groups");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(std::stoi(lines[0]), pid);
    EXPECT_EQ(std::stoi(lines[1]), pid);
}

// A launcher started with its standard streams closed opens its log as descriptor 0, 1 or 2.
// The program must still write into that log.
TEST(ChildProcess, OutputDescriptorMayBeAStandardOne)
{
    for (int slot : {0, 1, 2}) {
        SCOPED_TRACE(slot);
        TempDir folder;
        const fs::path log = folder / "log";
        const pid_t tester = ::fork();
        if (tester == 0) {
            const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
            if (fd < 0 || ::dup3(fd, slot, O_CLOEXEC) < 0)
                ::_exit(100);
            ::close(fd);
            try {
                ChildProcess child = ChildProcess::spawn(
                    {.executable = "/bin/sh", .arguments = {"-c", "echo out; echo err >&2"}, .output = slot});
                ::_exit(child.wait());
            } catch (...) {
                ::_exit(101);
            }
        }
        int raw = 0;
        ASSERT_EQ(::waitpid(tester, &raw, 0), tester);
        ASSERT_TRUE(WIFEXITED(raw));
        EXPECT_EQ(WEXITSTATUS(raw), 0);
        EXPECT_EQ(test_support::readText(log), "out\nerr\n");
    }
}

TEST(ChildProcess, DroppingARunningChildEndsItsWholeGroup)
{
    TempDir folder;
    pid_t pid = -1;
    {
        ChildProcess child = ChildProcess::spawn({
            .executable = "/bin/sh",
            .arguments = {"-c", "sleep 30 & echo $! > '" + (folder / "pid").string() + "'; wait"},
        });
        pid = child.pid();
        for (int i = 0; i < 500 && test_support::readText(folder / "pid").empty(); ++i)
            ::usleep(10'000);
        EXPECT_FALSE(child.waitFor(0.05));
    }
    EXPECT_TRUE(test_support::processGone(pid, 0));
    const pid_t sleeper = std::stoi(test_support::readText(folder / "pid"));
    EXPECT_TRUE(test_support::processGone(sleeper));
}

TEST(ChildProcess, WaitForSeesTheEndAtOnce)
{
    ChildProcess child = ChildProcess::spawn({.executable = "/bin/sh", .arguments = {"-c", "sleep 0.2; exit 7"}});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(child.waitFor(10));
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(took, 0.4);
    EXPECT_EQ(child.wait(), 7);
    EXPECT_EQ(child.status(), 7);
    EXPECT_TRUE(child.waitFor(0));
}

} // namespace
} // namespace corvanel
