// Repair from the command line, on the fixture kit and Debian's real Wine. One full setup is
// made for the whole suite; every test damages a copy of it.
#include "installer/install_lock.h"
#include "installer/installation_record.h"
#include "installer/installed_parts.h"
#include "installer/installer.h"
#include "installer/setup_failure.h"
#include "support/archives.h"
#include "support/install_process.h"
#include "support/installation_snapshot.h"
#include "support/program.h"
#include "support/runtime_choice.h"
#include "support/temp_dir.h"
#include "support/user_sentences.h"

#include "demo_catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <functional>
#include <memory>
#include <optional>
#include <regex>
#include <thread>

#include <sys/stat.h>

namespace corvanel {
namespace {

namespace fs = std::filesystem;
using test_support::TempDir;

const fs::path kit = CORVANEL_FIXTURES_DIR;
const fs::path program = CORVANEL_DEMO_BINARY;

test_support::ProgramOutcome corvanel(const std::vector<std::string>& arguments, const fs::path& scratch)
{
    return test_support::runCommandLine(program, arguments, scratch);
}

/// The prefix's own user folder, where the game keeps its saves.
fs::path userFolder(const fs::path& root)
{
    for (const auto& entry : fs::directory_iterator(root / "Install/prefix/drive_c/users"))
        if (entry.path().filename() != "Public" && entry.is_directory())
            return entry.path();
    throw std::runtime_error("the prefix has no user folder");
}

const std::string checkingWine = "Checking the Wine installed on this computer";

bool contains(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class RepairOnWine : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        folder = std::make_unique<TempDir>();
        // Set up as a user whose umask lets everyone write: the root must not follow it.
        const mode_t callers = ::umask(0);
        setup = corvanel({"--install", "--game", (kit / "h2pc_installer_2.1").string(), "--cache",
                          (kit / "cache").string(), "--home", original().string()},
                         folder->path());
        ::umask(callers);
        test_support::waitForWine(original());
    }
    static void TearDownTestSuite() { folder.reset(); }

    void SetUp() override
    {
        ASSERT_EQ(setup.status, 0) << setup.err;
        ASSERT_NO_FATAL_FAILURE(freshCopy());
    }
    void TearDown() override { dropCopy(); }

    /// A copy of the full setup, with a save in the prefix's user folder.
    void freshCopy()
    {
        dropCopy();
        copy = std::make_unique<TempDir>();
        ASSERT_EQ(test_support::runProgram({"/bin/cp", "-a", original().string(), root().string()}), 0);
        // The game link is the prefix's one absolute link into the root.
        const fs::path link = root() / "Install/prefix/drive_c/Games/Halo 2";
        fs::remove(link);
        fs::create_directory_symlink(root() / "Install/game", link);
        ASSERT_EQ(describeMissingParts(installer().missingParts()), "") << "the copy is a complete installation";
        gameBefore = test_support::snapshotOf(root()).game;
        test_support::writeText(savedGame(), "chapter 3, legendary");
    }
    void dropCopy()
    {
        if (!copy)
            return;
        test_support::waitForWine(root());
        copy.reset();
    }

    static fs::path original() { return *folder / "original"; }
    fs::path root() const { return *copy / "root"; }
    fs::path scratch() const { return copy->path(); }
    Installer installer() const { return Installer(root(), {}, demoCatalogue()); }
    /// Where the record says Wine is after `loseWine`: a place that never holds one.
    static fs::path goneWine() { return *folder / "gone" / "bin" / "wine64"; }

    /// Makes the record name a Wine that is no longer there, as when Wine was removed after setup.
    void loseWine() const
    {
        auto record = InstallationRecord::read(root() / "installed.json");
        ASSERT_TRUE(record);
        record->engine = SystemWine{goneWine(), "wine-8.0 (Debian 8.0~repack-4)"}.engine();
        test_support::writeText(root() / "installed.json", record->encode());
    }
    fs::path savedGame() const { return userFolder(root()) / "Saved Games/Halo 2/slot1.sav"; }

    test_support::ProgramOutcome repair() const { return corvanel({"--repair", "--home", root().string()}, scratch()); }

    /// Installed again, the game folder as setup left it, the save kept, nothing left over.
    void expectRepaired() const
    {
        EXPECT_EQ(corvanel({"--status", "--home", root().string()}, scratch()).out, "installed\n");
        EXPECT_EQ(describeMissingParts(installer().missingParts()), "");
        EXPECT_EQ(test_support::snapshotOf(root()).game, gameBefore);
        EXPECT_EQ(test_support::readText(savedGame()), "chapter 3, legendary");
        EXPECT_EQ(test_support::leftoversIn(root()), std::vector<std::string>{});
        const auto record = InstallationRecord::decode(test_support::readText(root() / "installed.json"));
        ASSERT_TRUE(record);
        EXPECT_EQ(record->format, 1);
        EXPECT_TRUE(std::regex_match(record->engine, std::regex(R"(wine-[0-9]+\.[0-9]+.* at /.+)"))) << record->engine;
        const auto loader = SystemWine::recordedLoader(record->engine);
        EXPECT_TRUE(loader && fs::exists(*loader)) << record->engine;
    }

    static std::unique_ptr<TempDir> folder;
    static test_support::ProgramOutcome setup;
    std::unique_ptr<TempDir> copy;
    std::string gameBefore;
};

std::unique_ptr<TempDir> RepairOnWine::folder;
test_support::ProgramOutcome RepairOnWine::setup;

// Each lost part is rebuilt by its own stage and no other: the stages' headlines show which ran.
TEST_F(RepairOnWine, RebuildsEachLostPartAndNothingElse)
{
    const std::string runtime = checkingWine;
    const std::string graphics = "Preparing the game's graphics libraries";
    const std::string prefix = "Creating your private Windows environment";
    const struct {
        const char* name;
        const char* lost;
        std::string found;
        std::vector<std::string> ran;
    } cases[] = {
        {"Wine", "", "Wine is no longer at " + goneWine().string() + ".", {runtime}},
        {"system registry", "Install/prefix/system.reg", test_support::missingSystemRegistry, {prefix}},
        {"audio decoder",
         "Install/prefix/drive_c/windows/syswow64/wmadmod.dll",
         "The audio decoder is missing from the private Windows environment.",
         {prefix}},
        {"graphics library",
         "Install/game/d3dx9_43.dll",
         "The graphics library d3dx9_43.dll is missing from the game folder.",
         {graphics}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (&c != &cases[0]) {
            ASSERT_NO_FATAL_FAILURE(freshCopy());
        }
        if (*c.lost)
            fs::remove_all(root() / c.lost);
        else
            ASSERT_NO_FATAL_FAILURE(loseWine());

        const auto outcome = repair();
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        EXPECT_EQ(outcome.err, "");
        const auto printed = test_support::linesOf(outcome.out);
        ASSERT_GE(printed.size(), 3u) << outcome.out;
        EXPECT_EQ(printed[0], "Repairing your installation");
        EXPECT_EQ(printed[1], c.found);
        EXPECT_EQ(printed.back(), "Ready to play");
        for (const auto& stage : {runtime, graphics, prefix})
            EXPECT_EQ(contains(printed, stage), contains(c.ran, stage)) << stage;
        EXPECT_TRUE(test_support::logContains(root(), "] " + c.found)) << "what was missing is in the setup log";
        expectRepaired();
    }
}

TEST_F(RepairOnWine, RestoresEverythingLostAtOnceFromTheKeptDownloads)
{
    ASSERT_NO_FATAL_FAILURE(loseWine());
    fs::remove_all(root() / "Audio-import");
    fs::remove(root() / "Install/prefix/system.reg");
    fs::remove(root() / "Install/prefix/drive_c/windows/syswow64/wmadmod.dll");
    fs::remove(root() / "Install/game/D3DCompiler_43.dll");
    const auto downloads = test_support::snapshotOf(root()).downloads;

    const auto outcome = repair();
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(test_support::linesOf(outcome.out).back(), "Ready to play");
    expectRepaired();
    EXPECT_EQ(test_support::snapshotOf(root()).downloads, downloads);
}

TEST_F(RepairOnWine, ACompleteInstallationIsLeftUntouched)
{
    const auto before = test_support::treeState(root());
    const auto outcome = repair();
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out, "The installation is already complete, so nothing was changed. Launch Halo 2 to play.\n");
    EXPECT_EQ(test_support::treeState(root()), before);
}

TEST_F(RepairOnWine, IsRefusedWhileTheGamePlays)
{
    const fs::path gameLog = root() / "Logs/halo2.log";
    const auto logged = test_support::readText(gameLog).size();
    test_support::writeText(root() / "Install/game/hold.txt", "");
    test_support::StartedProgram playing(program, {"--cli", "--launch", "--home", root().string()}, scratch());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (test_support::readText(gameLog).size() <= logged && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_GT(test_support::readText(gameLog).size(), logged) << "the game started";
    fs::remove(root() / "Install/game/d3dx9_31.dll"); // lost while the game plays

    const auto refused = repair();
    fs::remove(root() / "Install/game/hold.txt");
    const auto played = playing.finish();

    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err, test_support::competingLauncherLine);
    EXPECT_FALSE(fs::exists(root() / "Install/game/d3dx9_31.dll"));
    EXPECT_EQ(played.status, 0) << played.err;

    const auto repaired = repair();
    EXPECT_EQ(repaired.status, 0) << repaired.err;
    expectRepaired();
}

// A launcher killed outright leaves its lock with the game it started under Wine: nothing else
// runs in the root until the game and what it started have ended.
TEST_F(RepairOnWine, TheGameKeepsTheLockWhenItsLauncherIsKilled)
{
    const fs::path gameLog = root() / "Logs/halo2.log";
    const auto logged = test_support::readText(gameLog).size();
    test_support::writeText(root() / "Install/game/hold.txt", "");
    test_support::StartedProgram playing(program, {"--cli", "--launch", "--home", root().string()}, scratch());
    const auto started = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (test_support::readText(gameLog).size() <= logged && std::chrono::steady_clock::now() < started)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_GT(test_support::readText(gameLog).size(), logged) << "the game started";
    // Something for repair to do once it gets the lock; a launch would have refused to start without it.
    fs::remove(root() / "Install/game/d3dx9_31.dll");
    ASSERT_EQ(::kill(playing.pid(), SIGKILL), 0);
    EXPECT_EQ(playing.finish().status, -1);

    const auto refused = repair();
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, test_support::competingLauncherLine);
    EXPECT_FALSE(fs::exists(root() / "Install/game/d3dx9_31.dll"));

    fs::remove(root() / "Install/game/hold.txt");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    std::optional<InstallLock> lock;
    while (!lock && std::chrono::steady_clock::now() < deadline) {
        try {
            lock.emplace(root() / "launcher.lock");
        } catch (const SetupFailure&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    ASSERT_TRUE(lock) << "the lock came free once the game had ended";
    lock.reset();
    const auto repaired = repair();
    EXPECT_EQ(repaired.status, 0) << repaired.err;
    expectRepaired();
}

// Wine removed after setup leaves a damaged installation that names Wine; repair can do nothing
// until a Wine is there again, then finishes as usual with it.
TEST_F(RepairOnWine, WineGoneAfterSetupIsDamageThatRepairMendsOnceWineIsBack)
{
    ASSERT_NO_FATAL_FAILURE(loseWine());
    EXPECT_EQ(corvanel({"--status", "--home", root().string()}, scratch()).out, "not installed\n");
    EXPECT_EQ(describeMissingParts(installer().missingParts()),
              "Wine is missing or damaged. Install your distribution's Wine 8.0 or later (on Debian: sudo apt install "
              "wine wine64 wine32:i386) before repairing.");

    const std::string recordBefore = test_support::readText(root() / "installed.json");
    const Installer withoutWine(root(), {}, demoCatalogue(), test_support::wineAt({goneWine()}));
    try {
        withoutWine.repair(std::nullopt, std::nullopt);
        ADD_FAILURE() << "repaired without any Wine";
    } catch (const SetupFailure& failure) {
        EXPECT_EQ(failure.message(),
                  "Corvanel needs Wine 8.0 or later, and none was found on this computer. Install your distribution's "
                  "Wine (on Debian: sudo dpkg --add-architecture i386, sudo apt update, sudo apt install wine wine64 "
                  "wine32:i386), then retry.");
    }
    EXPECT_EQ(test_support::readText(root() / "installed.json"), recordBefore);

    const auto repaired = repair();
    EXPECT_EQ(repaired.status, 0) << repaired.err;
    const auto printed = test_support::linesOf(repaired.out);
    EXPECT_TRUE(contains(printed, checkingWine)) << repaired.out;
    EXPECT_EQ(printed.back(), "Ready to play");
    expectRepaired();
}

// Wine creates its files with its caller's umask; setup ran under umask 000.
TEST_F(RepairOnWine, NothingInTheRootIsWorldWritableWhateverTheCallersUmask)
{
    std::vector<std::string> writable;
    for (auto entry = fs::recursive_directory_iterator(original()); entry != fs::recursive_directory_iterator();
         ++entry) {
        struct stat status { };
        if (::lstat(entry->path().c_str(), &status) == 0 && !S_ISLNK(status.st_mode) && (status.st_mode & S_IWOTH))
            writable.push_back(fs::relative(entry->path(), original()).string());
    }
    EXPECT_EQ(writable, std::vector<std::string>{});
}

// Lost game files are beyond repair; the advice it gives instead brings them back with the save kept.
TEST_F(RepairOnWine, LostGameFilesAreLeftToSetupWhichKeepsTheSaves)
{
    fs::remove(root() / "Install/game/maps/shared.map");
    const auto before = test_support::treeState(root());

    const auto refused = repair();
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err,
              "The game file maps/shared.map is missing, so the game files need to be set up again; nothing "
              "was changed. Delete installed.json in "
                  + root().string()
                  + ", then set up again from your h2pc_installer_2.1 folder; your saves are kept.\n");
    EXPECT_EQ(test_support::treeState(root()), before);

    fs::remove(root() / "installed.json");
    const auto setup = corvanel(
        {"--install", "--game", (kit / "h2pc_installer_2.1").string(), "--home", root().string()}, scratch());
    EXPECT_EQ(setup.status, 0) << setup.err;
    expectRepaired();
}

// A repair ended by force at any of these points leaves a root that the next repair finishes.
TEST_F(RepairOnWine, ARepairKilledMidwayIsFinishedByTheNext)
{
    for (const char* killedAt :
         {"Checking the Wine installed on this computer", "Creating your private Windows environment",
          "Installing your verified audio decoder"}) {
        SCOPED_TRACE(killedAt);
        if (killedAt != checkingWine) {
            ASSERT_NO_FATAL_FAILURE(freshCopy());
        }
        ASSERT_NO_FATAL_FAILURE(loseWine());
        fs::remove(root() / "Install/prefix/system.reg");
        const std::string recordBefore = test_support::readText(root() / "installed.json");

        test_support::StartedProgram first(program, {"--cli", "--repair", "--home", root().string()}, scratch());
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(180);
        while (!test_support::logContains(root(), killedAt) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ::kill(first.pid(), SIGKILL);
        const auto killed = first.finish();
        ASSERT_EQ(killed.status, -1) << "ended by the signal, not finished: " << killed.out;
        test_support::waitForToolsUsing(root());
        test_support::waitForWine(root());
        EXPECT_EQ(test_support::readText(root() / "installed.json"), recordBefore)
            << "the record only changes at the end";

        const auto second = repair();
        EXPECT_EQ(second.status, 0) << second.err;
        EXPECT_EQ(test_support::linesOf(second.out).back(), "Ready to play");
        expectRepaired();
    }
}

// Wine links the profile's folders to the user's home; setup makes them folders of the prefix,
// so whatever the game writes there stays inside the root.
TEST_F(RepairOnWine, SetupKeepsTheProfileFoldersInsideThePrefix)
{
    const fs::path profile = userFolder(original());
    EXPECT_EQ(linkedUserFolders(original() / "Install/prefix"), std::vector<fs::path>{});
    for (const char* name : {"Desktop", "Documents", "Downloads", "Music", "Pictures", "Videos"})
        EXPECT_TRUE(fs::is_directory(fs::symlink_status(profile / name))) << name;
}

/// How often `text` occurs in the setup log below `root`.
std::size_t timesLogged(const fs::path& root, const std::string& text)
{
    const std::string log = test_support::readText(root / "Logs/setup.log");
    std::size_t count = 0;
    for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
        ++count;
    return count;
}

// Parts that are there but not whole count as missing, and repair makes them whole again.
TEST_F(RepairOnWine, FindsAndMendsPartsThatAreThereButDamaged)
{
    const fs::path prefix = "Install/prefix";
    // A Wine the record names that cannot start anything; repair finds this computer's own again.
    const test_support::TempDir elsewhere;
    const fs::path emptyWine = elsewhere / "wine64";
    const struct {
        const char* name;
        std::function<void(const fs::path&)> damage;
        std::string found;
    } cases[] = {
        {"drive C: removed", [&](const fs::path& r) { fs::remove(r / prefix / "dosdevices/c:"); },
         test_support::missingDrives},
        {"drive Z: removed", [&](const fs::path& r) { fs::remove(r / prefix / "dosdevices/z:"); },
         test_support::missingDrives},
        {"system registry emptied", [&](const fs::path& r) { test_support::writeText(r / prefix / "system.reg", ""); },
         test_support::missingSystemRegistry},
        {"system registry is a named pipe",
         [&](const fs::path& r) {
             fs::remove(r / prefix / "system.reg");
             ASSERT_EQ(::mkfifo((r / prefix / "system.reg").c_str(), 0600), 0);
         },
         test_support::missingSystemRegistry},
        {"our settings lost from the user registry",
         [&](const fs::path& r) { test_support::eraseLinesWith(r / prefix / "user.reg", "\"VideoMemorySize\""); },
         test_support::missingUserRegistry},
        {"decoder registration lost",
         [&](const fs::path& r) { test_support::eraseLinesWith(r / prefix / "system.reg", "syswow64\\\\wmadmod.dll"); },
         "The audio decoder is not registered in the private Windows environment."},
        {"core library lost after Wine marked the prefix current",
         [&](const fs::path& r) { fs::remove(r / prefix / "drive_c/windows/system32/kernel32.dll"); },
         "The private Windows environment was not set up completely."},
        {"the recorded Wine emptied",
         [&](const fs::path& r) {
             for (const char* program : {"wine64", "wineserver"}) {
                 test_support::writeText(emptyWine.parent_path() / program, "");
                 fs::permissions(emptyWine.parent_path() / program, fs::perms(0755));
             }
             auto record = InstallationRecord::read(r / "installed.json");
             ASSERT_TRUE(record);
             record->engine = SystemWine{emptyWine, "wine-8.0"}.engine();
             test_support::writeText(r / "installed.json", record->encode());
         },
         "Wine is no longer at " + emptyWine.string() + "."},
        {"a user folder leads out of the prefix",
         [&](const fs::path& r) {
             const fs::path documents = userFolder(r) / "Documents";
             fs::remove_all(documents);
             fs::create_directory_symlink(r.parent_path(), documents);
         },
         "The private Windows environment's user folders lead outside it."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (&c != &cases[0]) {
            ASSERT_NO_FATAL_FAILURE(freshCopy());
        }
        c.damage(root());
        EXPECT_EQ(corvanel({"--status", "--home", root().string()}, scratch()).out, "not installed\n");

        const auto outcome = repair();
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        const auto printed = test_support::linesOf(outcome.out);
        ASSERT_GE(printed.size(), 3u) << outcome.out;
        EXPECT_EQ(printed[0], "Repairing your installation");
        EXPECT_TRUE(contains(printed, c.found)) << outcome.out;
        EXPECT_EQ(printed.back(), "Ready to play");
        expectRepaired();
    }
}

// A repair stopped by a signal while Wine works is finished by the next one, which must not
// take the half-done prefix for a whole one.
TEST_F(RepairOnWine, ARepairStoppedWhileWineWorksIsFinishedByTheNext)
{
    const fs::path prefix = "Install/prefix";
    const struct {
        const char* name;
        std::function<void(const fs::path&)> damage;
        std::string stoppedAt; ///< a text of the log line of the program the signal stops
        int signal;
    } cases[] = {
        {"decoder lost, stopped while it registers",
         [&](const fs::path& r) { fs::remove(r / prefix / "drive_c/windows/syswow64/wmadmod.dll"); },
         "regsvr32.exe\", \"/s\"", SIGKILL},
        {"user registry lost, stopped at the first setting",
         [&](const fs::path& r) { fs::remove(r / prefix / "user.reg"); }, "[\"reg\", \"add\"", SIGINT},
        {"core library lost, stopped while Wine sets the prefix up",
         [&](const fs::path& r) { fs::remove(r / prefix / "drive_c/windows/system32/kernel32.dll"); },
         "[\"wineboot\", \"-u\"]", SIGTERM},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (&c != &cases[0]) {
            ASSERT_NO_FATAL_FAILURE(freshCopy());
        }
        c.damage(root());
        const std::size_t before = timesLogged(root(), c.stoppedAt);

        test_support::StartedProgram first(program, {"--cli", "--repair", "--home", root().string()}, scratch());
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(300);
        while (timesLogged(root(), c.stoppedAt) == before && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_GT(timesLogged(root(), c.stoppedAt), before) << "the repair reached the program";
        ::kill(first.pid(), c.signal);
        const auto stopped = first.finish();
        EXPECT_FALSE(contains(test_support::linesOf(stopped.out), "Ready to play")) << stopped.out;
        test_support::waitForToolsUsing(root());
        test_support::waitForWine(root());
        EXPECT_NE(describeMissingParts(installer().missingParts()), "") << "the stopped work is still to do";

        const auto second = repair();
        EXPECT_EQ(second.status, 0) << second.err;
        EXPECT_EQ(test_support::linesOf(second.out).back(), "Ready to play");
        expectRepaired();
    }
}

} // namespace
} // namespace corvanel
