// Setup under load and on broken ground: many launchers at once, a disk that fills up,
// folders that cannot be written. Every failure must read clearly and lose nothing.
#include "installer/disk_space.h"
#include "installer/install_lock.h"
#include "installer/installed_parts.h"
#include "installer/installer.h"
#include "installer/platform.h"
#include "installer/setup_failure.h"
#include "support/archives.h"
#include "support/install_process.h"
#include "support/installation_snapshot.h"
#include "support/runtime_choice.h"
#include "support/scratch_mount.h"
#include "support/temp_dir.h"
#include "support/user_sentences.h"

#include "demo_catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace corvanel {
namespace {

namespace fs = std::filesystem;
using test_support::TempDir;

const fs::path kit = CORVANEL_FIXTURES_DIR;
const char* const alreadyInstalled = "An installation already exists. Its game files and saves were left untouched.";

struct Pipe {
    Pipe()
    {
        if (::pipe2(ends, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
    }
    ~Pipe()
    {
        closeRead();
        closeWrite();
    }
    void closeRead()
    {
        if (ends[0] >= 0)
            ::close(ends[0]);
        ends[0] = -1;
    }
    void closeWrite()
    {
        if (ends[1] >= 0)
            ::close(ends[1]);
        ends[1] = -1;
    }
    int read() const { return ends[0]; }
    int write() const { return ends[1]; }
    int ends[2];
};

/// Blocks until the pipe's read end `fd` gives a byte or reaches its end.
void awaitSignal(int fd)
{
    char ignored;
    while (::read(fd, &ignored, 1) < 0 && errno == EINTR) { }
}

void send(int fd, const std::string& text)
{
    (void)!::write(fd, text.data(), text.size());
}

std::string readToEnd(int fd)
{
    std::string text;
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) != 0) {
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            break;
        text.append(buffer, static_cast<size_t>(got));
    }
    return text;
}

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

/// The user-facing text of whatever `install` raises; empty when it succeeds.
std::string failureOf(const Installer& installer, const fs::path& game, const std::optional<fs::path>& audio = {})
{
    try {
        installer.install(game, audio, std::nullopt);
    } catch (const std::exception& error) {
        return describe(error);
    }
    return "";
}

/// Preflight as on a machine with room to spare, whatever the test's volume holds.
HostQueries plentyOfSpace()
{
    return HostQueries{.freeSpace = [](const fs::path&) { return std::optional<std::uintmax_t>(20'000'000'000); },
                       .x86Probe = HostQueries::platform().x86Probe};
}

/// An earlier, unfinished setup's game folder, with a save the user cares about.
void writeEarlierGame(const fs::path& root)
{
    test_support::writeGameFolder(root / "Install" / "game");
    test_support::writeText(root / "Install" / "game" / "saves" / "slot1.sav", "the user's progress");
}

TEST(Faults, SixteenProcessesRacingForTheLockHaveExactlyOneWinnerEachRound)
{
    constexpr int processes = 16;
    constexpr int rounds = 50;
    TempDir root;
    const fs::path file = root / "launcher.lock";
    for (int round = 0; round < rounds; ++round) {
        Pipe start, results, release;
        std::vector<pid_t> children;
        for (int i = 0; i < processes; ++i) {
            const pid_t pid = ::fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                start.closeWrite();
                results.closeRead();
                release.closeWrite();
                awaitSignal(start.read());
                char answer = 'L';
                std::optional<InstallLock> lock;
                try {
                    lock.emplace(file);
                    answer = 'W';
                } catch (const SetupFailure&) {
                }
                send(results.write(), std::string(1, answer));
                awaitSignal(release.read()); // the winner holds the lock until every process has tried
                ::_exit(0);
            }
            children.push_back(pid);
        }
        start.closeRead();
        results.closeWrite();
        release.closeRead();
        start.closeWrite(); // all go at once

        std::string answers;
        char buffer[processes];
        while (answers.size() < processes) {
            const ssize_t got = ::read(results.read(), buffer, sizeof buffer);
            if (got <= 0)
                break;
            answers.append(buffer, static_cast<size_t>(got));
        }
        // Half the rounds end in order, half with every process killed: the lock must come free
        // either way.
        if (round % 2)
            for (const pid_t pid : children)
                ::kill(pid, SIGKILL);
        release.closeWrite();
        for (const pid_t pid : children)
            ::waitpid(pid, nullptr, 0);

        ASSERT_EQ(answers.size(), size_t{processes}) << "round " << round;
        EXPECT_EQ(std::count(answers.begin(), answers.end(), 'W'), 1) << "round " << round << ": " << answers;
    }
}

// On an installed root the game holds the lock while it plays; an install started at the same
// moment either takes the lock first (and is refused because the installation exists) or is
// refused by the lock. The install's hold must never fall inside the game's.
TEST(Faults, ALaunchRacingAnInstallNeverRunsAlongsideIt)
{
    TempDir folder;
    const fs::path root = folder / "root";
    test_support::makeInstalledState(root);
    fs::create_directory(root / "Logs"); // setup leaves it; the launch does not make it
    const fs::path wine = root / "Runtime/wswine.bundle/bin/wine";
    test_support::writeText(wine, "#!/bin/sh\nsleep 0.2\n");
    fs::permissions(wine, fs::perms(0755));

    int installFirst = 0, launchFirst = 0;
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Pipe start, launchResult, installResult;
        const auto child = [&](int result, auto work) {
            const pid_t pid = ::fork();
            if (pid == 0) {
                start.closeWrite();
                awaitSignal(start.read());
                std::ostringstream out;
                out.precision(17);
                work(out);
                send(result, out.str());
                ::_exit(0);
            }
            return pid;
        };
        const pid_t launcher = child(launchResult.write(), [&](std::ostringstream& out) {
            try {
                LaunchedGame game = Installer(root).launch();
                const double from = now();
                game.process.wait();
                out << "played " << from << " " << now();
            } catch (const std::exception& error) {
                out << "refused " << describe(error);
            }
        });
        const pid_t installer = child(installResult.write(), [&](std::ostringstream& out) {
            // Setup reaches the lock sooner than a launch. Head starts for the launch of none,
            // about that difference, and more, so that either one wins, and setup also comes
            // while the game surely plays.
            const int headStart[] = {0, 200, 2'000, 20'000};
            std::this_thread::sleep_for(std::chrono::microseconds(headStart[round % 4]));
            const double from = now();
            const std::string failure = failureOf(Installer(root), kit / "h2pc_installer_2.1");
            out << from << " " << now() << " " << failure;
        });
        start.closeWrite();
        launchResult.closeWrite();
        installResult.closeWrite();
        std::istringstream launched(readToEnd(launchResult.read()));
        std::istringstream installed(readToEnd(installResult.read()));
        ::waitpid(launcher, nullptr, 0);
        ::waitpid(installer, nullptr, 0);

        std::string launchOutcome, installFailure;
        double playFrom = 0, playTo = 0, installFrom = 0, installTo = 0;
        launched >> launchOutcome;
        installed >> installFrom >> installTo >> std::ws;
        std::getline(installed, installFailure);
        if (launchOutcome == "played") {
            launched >> playFrom >> playTo;
        } else {
            std::string message;
            std::getline(launched >> std::ws, message);
            EXPECT_EQ(launchOutcome + " " + message, std::string("refused ") + test_support::competingLauncher);
        }
        if (installFailure == alreadyInstalled) {
            ++installFirst;
            EXPECT_FALSE(launchOutcome == "played" && installFrom >= playFrom && installTo <= playTo)
                << "the install held the lock while the game played";
        } else {
            ++launchFirst;
            EXPECT_EQ(installFailure, test_support::competingLauncher);
            EXPECT_EQ(launchOutcome, "played") << "one of the two always gets the lock";
        }
    }
    std::printf("install took the lock first in %d rounds, the launch in %d\n", installFirst, launchFirst);
}

TEST(Faults, ADiskThatFillsDuringExtractionFailsClearlyAndKeepsTheEarlierGame)
{
    TempDir folder;
    fs::create_directory(folder / "volume");
    const auto volume = test_support::ScratchMount::smallVolume(folder / "volume", "8m");
    if (!volume.mounted())
        GTEST_SKIP() << "cannot mount a small volume here: " << volume.reason();
    const fs::path root = folder / "volume" / "root";
    writeEarlierGame(root);
    const std::string earlierGame = test_support::treeState(root / "Install" / "game");

    // A game archive of a few kilobytes that unpacks to more than the volume holds.
    const fs::path content = folder / "content";
    test_support::writeGameFolder(content);
    test_support::writeText(content / "maps" / "huge.map", std::string(12'000'000, '\0'));
    test_support::makeArchive(folder / "source" / "halo2.zip", "zip", content, {"halo2.exe", "xlive.dll", "maps"});
    ASSERT_LT(fs::file_size(folder / "source" / "halo2.zip"), 1'000'000u);
    const std::string sourceBefore = test_support::treeState(folder / "source");

    const Installer installer(root, {}, demoCatalogue(), plentyOfSpace());
    const std::string failure = failureOf(installer, folder / "source" / "halo2.zip");
    EXPECT_EQ(failure,
              fs::path(platform::archiver()).filename().string()
                  + " failed (1). Open the setup log for details. If antivirus quarantined a file, review "
                    "its report before retrying.");
    EXPECT_EQ(test_support::leftoversIn(root), std::vector<std::string>{});
    EXPECT_EQ(test_support::treeState(root / "Install" / "game"), earlierGame);
    EXPECT_EQ(test_support::treeState(folder / "source"), sourceBefore);
    EXPECT_FALSE(installer.isInstalled());
    EXPECT_NE(test_support::readText(installer.log()).find("No space left on device"), std::string::npos)
        << "the setup log says why\n"
        << test_support::readText(installer.log());
}

/// Fills the volume that holds `file` with it, up to the last byte it takes.
void fillVolume(const fs::path& file)
{
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    const std::string block(1 << 20, 'x');
    for (std::size_t size = block.size(); size > 0;) {
        const ssize_t written = ::write(fd, block.data(), size);
        if (written < 0 && errno == ENOSPC)
            size /= 2;
        else if (written < 0 && errno != EINTR)
            break;
    }
    ::close(fd);
}

// A disk that fills while Wine creates the prefix: setup says the disk is full, and once space
// is freed the next setup finishes. Wine marks a prefix current before its libraries are all
// in place, so the half-made prefix must not pass for a made one.
TEST(Faults, ADiskThatFillsWhileWineCreatesThePrefixIsFinishedOnceFreed)
{
    TempDir folder;
    fs::create_directory(folder / "volume");
    const auto volume = test_support::ScratchMount::smallVolume(folder / "volume", "2g");
    if (!volume.mounted())
        GTEST_SKIP() << "cannot mount a small volume here: " << volume.reason();
    const fs::path root = folder / "volume" / "root";
    const fs::path ballast = folder / "volume" / "ballast";

    const auto setUp = [&] {
        const Installer installer(root, {}, demoCatalogue(), test_support::roomOnlyAtPreflight());
        try {
            installer.install(kit / "h2pc_installer_2.1", std::nullopt, kit / "cache");
        } catch (const std::exception& error) {
            return describe(error);
        }
        return std::string();
    };

    std::string failure;
    std::thread first([&] { failure = setUp(); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(10);
    while (!test_support::logContains(root, R"(["wineboot", "-u"])") && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    fillVolume(ballast);
    first.join();
    EXPECT_EQ(failure, diskFullMessage);
    EXPECT_FALSE(Installer(root).isInstalled());

    fs::remove(ballast);
    EXPECT_EQ(setUp(), "");
    const Installer installer(root, {}, demoCatalogue());
    EXPECT_TRUE(installer.isInstalled());
    EXPECT_TRUE(prefixWasBooted(installer.prefix()));
    test_support::waitForWine(root);
}

/// The failure text with the root's path written as ROOT and any UUID as UUID.
std::string normalised(std::string text, const fs::path& root)
{
    for (auto at = text.find(root.string()); at != std::string::npos; at = text.find(root.string()))
        text.replace(at, root.string().size(), "ROOT");
    static const std::regex uuid("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");
    return std::regex_replace(text, uuid, "UUID");
}

// Folders the installer cannot write: each setup fails with a complete sentence and leaves the
// user's source, the earlier game and whatever stood in the way as they were.
TEST(Faults, UnwritableFoldersFailClearlyAndLoseNothing)
{
    const fs::path source = kit / "h2pc_installer_2.1";
    const fs::path audio = kit / "windows" / "MPSetup.exe";
    const std::string sourceBefore = test_support::treeState(source);
    const std::string rosetta = platform::x86Missing();

    /// Runs setup on the broken root and checks what every case must hold.
    const auto setUp
        = [&](const fs::path& root, const std::optional<fs::path>& withAudio = {}, HostQueries host = plentyOfSpace()) {
              const Installer installer(root, {}, demoCatalogue(), std::move(host));
              const std::string failure = failureOf(installer, source, withAudio);
              EXPECT_FALSE(installer.isInstalled());
              EXPECT_EQ(test_support::treeState(source), sourceBefore);
              std::error_code missing;
              if (fs::exists(root, missing))
                  EXPECT_EQ(test_support::leftoversIn(root), std::vector<std::string>{});
              return normalised(failure, root);
          };

    {
        SCOPED_TRACE("Logs is a file");
        TempDir folder;
        const fs::path root = folder / "root";
        writeEarlierGame(root);
        test_support::writeText(root / "Logs", "not a folder");
        const std::string earlierGame = test_support::treeState(root / "Install" / "game");
        // The program that tests for x86-64 support cannot be started without a log, and the
        // test cannot tell that apart from a computer without x86-64 support.
        EXPECT_EQ(setUp(root), rosetta);
        EXPECT_EQ(test_support::readText(root / "Logs"), "not a folder");
        EXPECT_EQ(test_support::treeState(root / "Install" / "game"), earlierGame);
    }
    for (const bool withAudio : {true, false}) {
        SCOPED_TRACE(withAudio ? "Downloads is a file, the audio package chosen" : "Downloads is a file");
        TempDir folder;
        const fs::path root = folder / "root";
        test_support::writeText(root / "Downloads", "not a folder");
        test_support::writeText(root / "Runtime" / "wswine.bundle" / "bin" / "wine", "an earlier runtime");
        const std::string earlierRuntime = test_support::treeState(root / "Runtime");
        const std::string cause = "Unable to create the folder ROOT/Downloads: Not a directory.";
        // With the audio package chosen, only a downloaded runtime still needs the folder.
        if (withAudio)
            EXPECT_EQ(setUp(root, audio, test_support::downloadedRuntime(plentyOfSpace())), cause);
        else
            EXPECT_EQ(setUp(root),
                      "Audio setup could not finish. Check your internet connection and retry. You can "
                      "also place the supported MPSetup.exe in your installer folder or select it under "
                      "Advanced options. Details: "
                          + cause);
        EXPECT_EQ(test_support::readText(root / "Downloads"), "not a folder");
        EXPECT_EQ(test_support::treeState(root / "Runtime"), earlierRuntime);
    }
    {
        SCOPED_TRACE("the root would be created in a read-only folder");
        TempDir folder;
        fs::create_directory(folder / "read-only");
        const auto mount = test_support::ScratchMount::readOnly(folder / "read-only");
        if (!mount.mounted()) {
            std::printf("skipped the read-only folder: %s\n", mount.reason().c_str());
        } else {
            const fs::path root = folder / "read-only" / "Corvanel";
            EXPECT_EQ(setUp(root), "Unable to create the folder ROOT: Read-only file system.");
            EXPECT_FALSE(fs::exists(root));
        }
    }
    {
        SCOPED_TRACE("the root is on a read-only volume");
        TempDir folder;
        const fs::path root = folder / "root";
        writeEarlierGame(root);
        {
            InstallLock earlier(root / "launcher.lock");
        }
        const std::string before = test_support::treeState(root);
        const auto mount = test_support::ScratchMount::readOnly(root);
        if (!mount.mounted()) {
            std::printf("skipped the read-only volume: %s\n", mount.reason().c_str());
        } else {
            EXPECT_EQ(setUp(root),
                      "The installation folder ROOT is read-only, so nothing was changed. Make it "
                      "writable or choose another folder, then retry.");
            EXPECT_EQ(test_support::treeState(root), before);
        }
    }
    {
        SCOPED_TRACE("the root folder is immutable");
        TempDir folder;
        const fs::path root = folder / "root";
        writeEarlierGame(root);
        test_support::writeText(root / "Logs" / "setup.log", "");
        {
            InstallLock earlier(root / "launcher.lock");
        }
        const std::string earlierGame = test_support::treeState(root / "Install" / "game");
        const test_support::ImmutableFolder immutable(root);
        if (!immutable.applied()) {
            std::printf("skipped the immutable root: chattr +i is not allowed here\n");
        } else {
            EXPECT_EQ(setUp(root), "Unable to create the folder ROOT/Game-staging-UUID: Operation not permitted.");
            EXPECT_EQ(test_support::treeState(root / "Install" / "game"), earlierGame);
        }
    }
}

} // namespace
} // namespace corvanel
