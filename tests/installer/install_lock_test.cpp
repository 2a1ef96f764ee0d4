#include "installer/install_lock.h"
#include "installer/installer.h"
#include "installer/setup_failure.h"
#include "support/temp_dir.h"
#include "support/user_sentences.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace corvanel {
namespace {

using test_support::TempDir;

void expectRefused(const fs::path& file)
{
    try {
        InstallLock lock(file);
        ADD_FAILURE() << "the lock was granted";
    } catch (const SetupFailure& failure) {
        EXPECT_EQ(failure.message(), test_support::competingLauncher);
    }
}

/// Another process that takes the lock and keeps it until it is told to go or is killed.
class LockHolder {
public:
    explicit LockHolder(const fs::path& file)
    {
        int ready[2], release[2];
        if (::pipe(ready) != 0 || ::pipe(release) != 0)
            throw std::runtime_error("pipe failed");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            ::close(release[1]);
            char answer = 'n';
            try {
                InstallLock lock(file);
                answer = 'y';
                (void)!::write(ready[1], &answer, 1);
                (void)!::read(release[0], &answer, 1);
            } catch (...) {
                (void)!::write(ready[1], &answer, 1);
            }
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        release_ = release[1];
        char answer = 'n';
        (void)!::read(ready[0], &answer, 1);
        ::close(ready[0]);
        held_ = answer == 'y';
    }
    ~LockHolder()
    {
        ::close(release_);
        kill();
    }
    bool held() const { return held_; }
    void kill()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    int release_ = -1;
    bool held_ = false;
};

TEST(InstallLock, HeldInAnotherProcessRefusesUntilThatProcessDies)
{
    TempDir root;
    const fs::path file = root / "launcher.lock";
    LockHolder holder(file);
    ASSERT_TRUE(holder.held());
    expectRefused(file);
    expectRefused(file);

    holder.kill();
    {
        InstallLock lock(file);
    }
    EXPECT_TRUE(fs::exists(file)) << "the lock file stays and is reused";
    EXPECT_EQ(test_support::permissionsOf(file), 0600u);
    InstallLock again(file);
}

// A launcher killed just as it started a program: the program's copy of the descriptor keeps
// the lock until that program is gone a moment later. The next launcher waits that moment out
// instead of naming a competitor that no longer runs.
TEST(InstallLock, ALockOutlivingItsKilledLauncherByAMomentIsTaken)
{
    TempDir root;
    const fs::path file = root / "launcher.lock";
    int ready[2], leave[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(leave), 0);
    const pid_t launcher = ::fork();
    ASSERT_GE(launcher, 0);
    if (launcher == 0) {
        ::close(ready[0]);
        ::close(leave[1]);
        InstallLock lock(file);
        if (::fork() == 0) {
            // The program being started: it has the descriptor until it reads the end of `leave`.
            char ignored;
            (void)!::write(ready[1], "y", 1);
            (void)!::read(leave[0], &ignored, 1);
            ::_exit(0);
        }
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    ::close(leave[0]);
    char answer = 'n';
    ASSERT_EQ(::read(ready[0], &answer, 1), 1);
    ::kill(launcher, SIGKILL);
    ::waitpid(launcher, nullptr, 0);

    std::thread programEnds([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ::close(leave[1]);
    });
    try {
        InstallLock next(file);
    } catch (const SetupFailure& failure) {
        ADD_FAILURE() << failure.message();
    }
    programEnds.join();
    ::close(ready[0]);
}

TEST(InstallLock, TwoLocksInOneProcessExcludeEachOther)
{
    TempDir root;
    const fs::path file = root / "launcher.lock";
    {
        InstallLock first(file);
        expectRefused(file);
        TempDir other;
        InstallLock elsewhere(other / "launcher.lock");
        InstallLock moved = std::move(first);
        expectRefused(file);
    }
    InstallLock after(file);
    EXPECT_TRUE(fs::exists(file));
}

TEST(InstallLock, HeldByTheFlockToolRefuses)
{
    if (!fs::exists("/usr/bin/flock"))
        GTEST_SKIP() << "no flock program";
    TempDir root;
    const fs::path file = root / "launcher.lock";
    {
        ChildProcess flock = ChildProcess::spawn({
            .executable = "/usr/bin/flock",
            .arguments
            = {"-n", file.string(), "/bin/sh", "-c", "echo > '" + (root / "held").string() + "'; exec sleep 30"},
        });
        for (int i = 0; i < 500 && !fs::exists(root / "held"); ++i)
            ::usleep(10'000);
        ASSERT_TRUE(fs::exists(root / "held"));
        expectRefused(file);
    } // kills flock and its sleep, which holds the lock too
    bool granted = false;
    for (int i = 0; i < 200 && !granted; ++i) {
        try {
            InstallLock lock(file);
            granted = true;
        } catch (const SetupFailure&) {
            ::usleep(10'000);
        }
    }
    EXPECT_TRUE(granted);
}

TEST(InstallLock, AnUnopenableLockFileReadsAsACompetingLauncher)
{
    TempDir root;
    expectRefused(root / "missing" / "launcher.lock");
    EXPECT_FALSE(fs::exists(root / "missing"));
    fs::create_directory(root / "folder.lock");
    try {
        InstallLock lock(root / "folder.lock");
        ADD_FAILURE() << "the lock was granted";
    } catch (const SetupFailure& failure) {
        EXPECT_EQ(failure.message(),
                  "Corvanel cannot write to " + (root / "folder.lock").string()
                      + ": it is a folder, not a regular file of its own. Remove it, then retry.")
            << "a folder in its place is named, not mistaken for a competing launcher";
    }
}

// A program that the launcher starts may outlive its command (a Wine server, a background
// job). It must not inherit the lock's descriptor, or it would keep the lock after the
// launcher has quit. The launcher here is a process of its own that quits without unlocking,
// as one that is closed or killed does.
TEST(InstallLock, IsNotInheritedByProgramsThatOutliveTheirCommand)
{
    TempDir root;
    const Installer installer(root.path());
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const pid_t launcher = ::fork();
    if (launcher == 0) {
        ::close(report[0]);
        try {
            auto* lock = new InstallLock(installer.lockFile()); // never released: the process just ends
            (void)lock;
            const std::string sleeper = installer.run("/bin/sh", {"-c", "sleep 30 & echo $!"}, {.capture = true});
            (void)!::write(report[1], sleeper.data(), sleeper.size());
        } catch (...) {
        }
        ::_exit(0);
    }
    ::close(report[1]);
    char text[32] = {};
    (void)!::read(report[0], text, sizeof text - 1);
    ::close(report[0]);
    ::waitpid(launcher, nullptr, 0);
    const pid_t pid = std::atoi(text);
    ASSERT_GT(pid, 0);
    EXPECT_FALSE(test_support::processGone(pid, 0)) << "the background job is still running";

    {
        LockHolder other(installer.lockFile());
        EXPECT_TRUE(other.held()) << "another process takes the lock at once";
    }
    EXPECT_NO_THROW(InstallLock again(installer.lockFile()));

    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ignored)) {
        if (entry.path().filename().string().size() == 1 && entry.path().filename().string() <= "2")
            continue; // standard input, output and error
        const fs::path target = fs::read_symlink(entry.path(), ignored);
        EXPECT_EQ(target.string().find(root.path().string()), std::string::npos) << "inherited " << target;
        EXPECT_NE(target.string(), "anon_inode:[pidfd]") << "inherited a pidfd";
    }
    ::kill(pid, SIGKILL);
    EXPECT_TRUE(test_support::processGone(pid));
}

} // namespace
} // namespace corvanel
