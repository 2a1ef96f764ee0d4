// The launcher at the edges of its process: signals while the game plays, standard streams it
// was started without, the umask it inherits, the terminal it prints to, a full disk.
#include "app/cli.h"
#include "installer/install_lock.h"
#include "installer/installer.h"
#include "installer/platform.h"
#include "installer/setup_failure.h"
#include "support/archives.h"
#include "support/program.h"
#include "support/scratch_mount.h"
#include "support/temp_dir.h"
#include "support/user_sentences.h"

#include "demo_catalogue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace corvanel {
namespace {

namespace fs = std::filesystem;
using test_support::TempDir;

const fs::path program = CORVANEL_BINARY;
const std::string gameGone
    = "The selected game files are no longer available. Choose your h2pc_installer_2.1 folder again.";
const std::string notAnArchive = "The file h2pc_data.bin is not an archive setup can read, or it is empty or damaged. "
                                 "Choose h2pc_data.bin from installer 2.1, or its ZIP, then retry.";

bool waitForText(const fs::path& file, const std::string& text, double seconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (test_support::readText(file).find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

/// A stand-in game that plays while Install/game/hold.txt exists (a minute at most), notes
/// every signal it gets in the game log, and ends with status 7.
void installHeldGame(const fs::path& root)
{
    test_support::makeInstalledState(root);
    test_support::writeText(root / "Runtime/wswine.bundle/bin/wine", R"(#!/bin/sh
trap 'echo got INT' INT
trap 'echo got TERM' TERM
trap 'echo got HUP' HUP
echo playing
i=0
while [ -e hold.txt ] && [ $i -lt 600 ]; do sleep 0.1; i=$((i + 1)); done
exit 7
)");
    test_support::writeText(root / "Install/game/hold.txt", "");
}

TEST(ProcessEdge, AnInterruptedLaunchWaitsForTheGameWithTheLockHeld)
{
    const struct {
        const char* name;
        int signal;
        const char* noted;
    } cases[] = {
        {"Ctrl-C", SIGINT, "got INT"},
        {"a polite kill", SIGTERM, "got TERM"},
        {"the terminal closed", SIGHUP, "got HUP"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir folder;
        const fs::path root = folder / "root";
        installHeldGame(root);
        const fs::path gameLog = root / "Logs/halo2.log";

        test_support::StartedProgram launch(program, {"--cli", "--launch", "--home", root.string()}, folder.path());
        ASSERT_TRUE(waitForText(gameLog, "playing", 30)) << "the game started";
        ASSERT_EQ(::kill(launch.pid(), c.signal), 0);
        EXPECT_TRUE(waitForText(gameLog, c.noted, 10)) << "the signal reached the game\n"
                                                       << test_support::readText(gameLog);
        EXPECT_FALSE(test_support::processGone(launch.pid(), 0.5)) << "the launcher waits on";

        try {
            const LaunchedGame second = Installer(root).launch();
            ADD_FAILURE() << "a second game started while the first played";
        } catch (const SetupFailure& failure) {
            EXPECT_EQ(failure.message(), test_support::competingLauncher);
        }

        fs::remove(root / "Install/game/hold.txt");
        const auto ended = launch.finish();
        EXPECT_EQ(ended.status, 7) << "the game's own status";
        EXPECT_EQ(ended.err, "");
        EXPECT_NO_THROW(InstallLock(root / "launcher.lock")) << "the lock is free once the game has ended";
    }
}

/// Runs the program with the descriptors in `closed` closed; the others of 0 to 2 lead to the
/// null device (input) or to `output`.
int runWithClosedStreams(const std::vector<int>& closed, const std::vector<std::string>& arguments,
                         const fs::path& output)
{
    const test_support::ArgumentVector argv(program, arguments);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        ::dup2(in, STDIN_FILENO);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(out, STDERR_FILENO);
        ::close(in);
        ::close(out);
        for (const int fd : closed)
            ::close(fd);
        ::execv(argv.get()[0], argv.get());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ProcessEdge, ClosedStandardStreamsNeverLeadIntoTheLockFileOrTheLog)
{
    const struct {
        const char* name;
        std::vector<int> closed;
    } cases[] = {
        {"standard output closed", {STDOUT_FILENO}},
        {"standard error closed", {STDERR_FILENO}},
        {"all three closed", {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir folder;
        const fs::path root = folder / "root";
        // Not an archive at all: setup reports progress while it holds the lock, then fails.
        test_support::writeText(folder / "source" / "h2pc_data.bin", "not an archive");

        const int status = runWithClosedStreams(
            c.closed,
            {"--cli", "--install", "--game", (folder / "source" / "h2pc_data.bin").string(), "--home", root.string()},
            folder / "output.txt");
        EXPECT_EQ(status, 1);
        EXPECT_EQ(test_support::readText(root / "launcher.lock"), "") << "the lock file's content never changes";
        for (const auto& line : test_support::readLines(root / "Logs/setup.log"))
            if (line.find("Importing your Halo 2 files") != std::string::npos)
                EXPECT_EQ(line.front(), '[') << "only stamped lines: " << line;
    }
}

TEST(ProcessEdge, SetupCreatesPrivateFilesAndClosedFoldersWhateverTheUmask)
{
    const struct {
        const char* name;
        mode_t umask;
        bool earlierLog; ///< a setup log an earlier version left readable by everyone
    } cases[] = {
        {"the usual umask", 022, false},
        {"umask 000", 0, false},
        {"umask 000 and an earlier open log", 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir folder;
        const fs::path root = folder / "new" / "root";
        if (c.earlierLog) {
            test_support::writeText(root / "Logs/setup.log", "[2026-12-05T08:06:32Z] earlier\n");
            fs::permissions(root / "Logs/setup.log", fs::perms(0644));
        }
        const HostQueries noSpaceCheck{.freeSpace = {}, .x86Probe = HostQueries::platform().x86Probe};
        const Installer installer(root, {}, demoCatalogue(), noSpaceCheck);
        // Not an archive at all: setup creates its folders and files, then fails.
        test_support::writeText(folder / "source" / "h2pc_data.bin", "not an archive");
        const mode_t previous = ::umask(c.umask);
        std::string failure;
        try {
            installer.install(folder / "source" / "h2pc_data.bin", std::nullopt, std::nullopt);
        } catch (const std::exception& error) {
            failure = describe(error);
        }
        ::umask(previous);

        EXPECT_EQ(failure, notAnArchive);
        if (!c.earlierLog)
            EXPECT_EQ(test_support::permissionsOf(folder / "new"), 0755u) << "a missing parent";
        EXPECT_EQ(test_support::permissionsOf(root), 0755u);
        EXPECT_EQ(test_support::permissionsOf(root / "Logs"), 0755u);
        EXPECT_EQ(test_support::permissionsOf(root / "Logs/setup.log"), 0600u) << "the runner writes it first";
        EXPECT_EQ(test_support::permissionsOf(root / "launcher.lock"), 0600u);
    }
}

// Paths reach the terminal and the log with their control characters shown, never obeyed,
// while the programs they are handed to get them byte for byte.
TEST(ProcessEdge, ControlCharactersInPathsAreShownOnTheTerminalAndInTheLogNotObeyed)
{
    TempDir folder;
    const fs::path root = folder / "root";
    const std::string evil = "evil\x1b[2J\x1b]0;pwned\a\n[2026-12-05T08:06:32Z] Ready to play.zip";
    const std::string shown = "evil\\e[2J\\e]0;pwned\\x07\\n[2026-12-05T08:06:32Z] Ready to play.zip";
    test_support::writeGameFolder(folder / "content");
    test_support::makeArchive(folder / "source" / evil, "zip", folder / "content", {"halo2.exe", "xlive.dll", "maps"});
    test_support::writeText(folder / "source" / "not the decoder.dll", "MZ");

    std::ostringstream out, err;
    const int status
        = runCLI({"corvanel", "--cli", "--install", "--game", (folder / "source" / evil).string(), "--audio",
                  (folder / "source" / "not the decoder.dll").string(), "--home", root.string()},
                 out, err, demoCatalogue());
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(fs::exists(root / "Install/game/halo2.exe")) << "the archive was read under its real name\n"
                                                             << err.str();

    const auto hasControl = [](const std::string& text) {
        for (const char c : text)
            if ((static_cast<unsigned char>(c) < 0x20 && c != '\n') || c == 0x7f)
                return true;
        return false;
    };
    EXPECT_FALSE(hasControl(out.str())) << out.str();
    EXPECT_FALSE(hasControl(err.str())) << err.str();
    EXPECT_NE(out.str().find("Extracting " + shown), std::string::npos) << out.str();

    const std::string log = test_support::readText(root / "Logs/setup.log");
    EXPECT_FALSE(hasControl(log)) << log;
    EXPECT_NE(log.find("] Extracting " + shown), std::string::npos) << log;
    for (const auto& line : test_support::readLines(root / "Logs/setup.log"))
        EXPECT_NE(line.rfind("[2026-12-05T08:06:32Z] Ready to play", 0), 0u)
            << "no line of the path's making: " << line;
}

TEST(ProcessEdge, AHomeThatIsALinkIsFollowedUnlessItsTargetIsMissing)
{
    const struct {
        const char* name;
        bool targetExists;
    } cases[] = {
        {"a link to an empty folder", true},
        {"a dangling link", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir folder;
        const fs::path target = folder / "elsewhere" / "Corvanel";
        const fs::path link = folder / "home";
        if (c.targetExists)
            fs::create_directories(target);
        fs::create_symlink(target, link);
        test_support::writeText(folder / "source" / "h2pc_data.bin", "not an archive");

        std::ostringstream out, err;
        const int status = runCLI({"corvanel", "--cli", "--install", "--game",
                                   (folder / "source" / "h2pc_data.bin").string(), "--home", link.string()},
                                  out, err, demoCatalogue());
        EXPECT_EQ(status, 1);
        if (c.targetExists) {
            EXPECT_EQ(err.str(), notAnArchive + "\n");
            EXPECT_TRUE(fs::exists(target / "launcher.lock"));
        } else {
            EXPECT_EQ(err.str(),
                      "The installation folder " + link.string() + " is a symbolic link to " + target.string()
                          + ", which does not exist. Create that folder or choose another installation "
                            "folder, then retry.\n");
            EXPECT_FALSE(fs::exists(folder / "elsewhere")) << "nothing is created at the link's target";
        }
        EXPECT_TRUE(fs::is_symlink(link));
    }
}

TEST(ProcessEdge, AStageThatFillsTheDiskSaysSoAndHowMuchSetupNeeds)
{
    const std::string diskFull = "The disk that holds the installation folder is full. Setup needs at least 12 GB of "
                                 "available disk space. Free some space and retry.";
    const struct {
        const char* name;
        bool archive; ///< unpacked by the archiver, or copied by setup itself
    } cases[] = {
        {"an archive that unpacks to more than the volume holds", true},
        {"a game folder larger than the volume", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir folder;
        fs::create_directory(folder / "volume");
        const auto volume = test_support::ScratchMount::smallVolume(folder / "volume", "8m");
        if (!volume.mounted())
            GTEST_SKIP() << "cannot mount a small volume here: " << volume.reason();
        const fs::path root = folder / "volume" / "root";

        const fs::path content = folder / "content";
        test_support::writeGameFolder(content);
        test_support::writeText(content / "maps" / "huge.map", std::string(12'000'000, '\0'));
        fs::path source = content;
        if (c.archive) {
            source = folder / "source" / "halo2.zip";
            test_support::makeArchive(source, "zip", content, {"halo2.exe", "xlive.dll", "maps"});
        }

        const Installer installer(root, {}, demoCatalogue(), test_support::roomOnlyAtPreflight());
        std::string failure;
        try {
            installer.install(source, std::nullopt, std::nullopt);
        } catch (const std::exception& error) {
            failure = describe(error);
        }
        EXPECT_EQ(failure, diskFull);
    }
}

/// Installs a stand-in game: the runtime's wine is a shell script running `game`.
void installScriptedGame(const fs::path& root, const std::string& game)
{
    test_support::makeInstalledState(root);
    test_support::writeText(root / "Runtime/wswine.bundle/bin/wine", "#!/bin/sh\n" + game + "\n");
}

// The launcher ends the way the game did, in the shell's convention: 128 plus the number of the
// signal that ended the game, or of the interrupt passed on to a game that then ended cleanly.
TEST(ProcessEdge, TheLaunchersStatusTellsHowTheGameEnded)
{
    const std::string plays = "echo playing; while :; do sleep 0.1; done";
    const struct {
        const char* name;
        std::string game;
        int sent; ///< sent to the launcher once the game plays; 0 for none
        int status;
    } cases[] = {
        {"the game's own status", "exit 7", 0, 7},
        {"a clean end", "exit 0", 0, 0},
        {"ended by SIGTERM", "kill -TERM $$", 0, 128 + SIGTERM},
        {"ended by SIGHUP", "kill -HUP $$", 0, 128 + SIGHUP},
        {"ended by SIGKILL", "kill -KILL $$", 0, 128 + SIGKILL},
        {"Ctrl-C, the game ends cleanly", "trap 'exit 0' INT; " + plays, SIGINT, 130},
        {"Ctrl-C, the game ends of it", plays, SIGINT, 130},
        {"a hang-up, the game ends cleanly", "trap 'exit 0' HUP; " + plays, SIGHUP, 128 + SIGHUP},
        {"a polite kill, the game ends with its own status", "trap 'exit 3' TERM; " + plays, SIGTERM, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir folder;
        const fs::path root = folder / "root";
        installScriptedGame(root, c.game);

        test_support::StartedProgram launch(program, {"--cli", "--launch", "--home", root.string()}, folder.path());
        if (c.sent != 0) {
            ASSERT_TRUE(waitForText(root / "Logs/halo2.log", "playing", 30)) << "the game started";
            ASSERT_EQ(::kill(launch.pid(), c.sent), 0);
        }
        const auto ended = launch.finish();
        EXPECT_EQ(ended.status, c.status);
        EXPECT_EQ(ended.err, "");
    }
}

// The game holds the lock itself: a launcher killed outright, which can pass nothing on, leaves
// no room for a second game or a setup while the first game plays.
TEST(ProcessEdge, AGameOutlivingAKilledLauncherKeepsTheLock)
{
    TempDir folder;
    const fs::path root = folder / "root";
    installHeldGame(root);
    const fs::path gameLog = root / "Logs/halo2.log";

    test_support::StartedProgram launch(program, {"--cli", "--launch", "--home", root.string()}, folder.path());
    ASSERT_TRUE(waitForText(gameLog, "playing", 30)) << "the game started";
    ASSERT_EQ(::kill(launch.pid(), SIGKILL), 0);
    EXPECT_EQ(launch.finish().status, -1) << "the launcher is gone";

    try {
        const LaunchedGame second = Installer(root).launch();
        ADD_FAILURE() << "a second game started while the first played";
    } catch (const SetupFailure& failure) {
        EXPECT_EQ(failure.message(), test_support::competingLauncher);
    }
    std::ostringstream out, err;
    EXPECT_EQ(runCLI({"corvanel", "--cli", "--repair", "--home", root.string()}, out, err), 1);
    EXPECT_EQ(err.str(), test_support::competingLauncherLine);

    // Once the game has ended, the root is free again.
    fs::remove(root / "Install/game/hold.txt");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::optional<InstallLock> lock;
    while (!lock && std::chrono::steady_clock::now() < deadline) {
        try {
            lock.emplace(root / "launcher.lock");
        } catch (const SetupFailure&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    EXPECT_TRUE(lock) << "the lock came free when the game ended";
}

// A root on a read-only volume says so, whichever command meets it first.
TEST(ProcessEdge, AReadOnlyRootIsNamedAsSuch)
{
    const struct {
        const char* name;
        bool installed;
        std::vector<std::string> arguments;
    } cases[] = {
        {"setup into an empty folder", false, {"--install", "--game", "{source}"}},
        {"launch", true, {"--launch"}},
        {"repair", true, {"--repair"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir folder;
        const fs::path root = folder / "root";
        fs::create_directories(root);
        if (c.installed) {
            test_support::makeInstalledState(root);
            test_support::writeText(root / "launcher.lock", "");
        }
        test_support::writeText(folder / "source" / "h2pc_data.bin", "archive");
        const auto readOnly = test_support::ScratchMount::readOnly(root);
        if (!readOnly.mounted())
            GTEST_SKIP() << "cannot mount a read-only folder here: " << readOnly.reason();
        const std::string before = test_support::treeState(root);

        std::vector<std::string> arguments{"corvanel", "--cli"};
        for (const auto& argument : c.arguments)
            arguments.push_back(argument == "{source}" ? (folder / "source" / "h2pc_data.bin").string() : argument);
        arguments.insert(arguments.end(), {"--home", root.string()});
        std::ostringstream out, err;
        EXPECT_EQ(runCLI(arguments, out, err, demoCatalogue()), 1);
        EXPECT_EQ(
            err.str(),
            "The installation folder " + root.string()
                + " is read-only, so nothing was changed. Make it writable or choose another folder, then retry.\n");
        EXPECT_EQ(test_support::treeState(root), before);
    }
}

} // namespace
} // namespace corvanel
