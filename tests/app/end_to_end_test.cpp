// The demo program from the command line, end to end on the fixture kit and Debian's real Wine.
#include "installer/installation_record.h"
#include "installer/installer.h"
#include "installer/platform.h"
#include "support/program.h"
#include "support/registry_rows.h"
#include "support/temp_dir.h"
#include "support/user_sentences.h"

#include "demo_catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <regex>
#include <thread>

namespace corvanel {
namespace {

namespace fs = std::filesystem;
using test_support::TempDir;

const fs::path kit = CORVANEL_FIXTURES_DIR;
const fs::path program = CORVANEL_DEMO_BINARY;

/// The headlines every setup reports, in this order (live lines come in between).
const std::vector<std::string> headlines = {
    "Importing your Halo 2 files",
    "Extracting h2pc_data.bin. Large game archives can take several minutes.",
    "Verifying extracted files",
    "Checking the imported game",
    "Downloading and verifying the audio support package",
    "Checking the Wine installed on this computer",
    "Preparing the game's graphics libraries",
    "Creating your private Windows environment",
    "Installing your verified audio decoder",
    "Ready to play",
};

test_support::ProgramOutcome corvanel(const std::vector<std::string>& arguments, const fs::path& scratch)
{
    return test_support::runCommandLine(program, arguments, scratch);
}

test_support::ProgramOutcome install(const fs::path& game, const fs::path& root, const fs::path& scratch)
{
    return corvanel(
        {"--install", "--game", game.string(), "--cache", (kit / "cache").string(), "--home", root.string()}, scratch);
}

/// The setup log's stamped lines, without their stamps.
std::vector<std::string> stampedLines(const fs::path& root)
{
    static const std::regex stamp(R"(^\[\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ\] )");
    std::vector<std::string> lines;
    for (const auto& line : test_support::readLines(root / "Logs" / "setup.log"))
        if (std::regex_search(line, stamp))
            lines.push_back(std::regex_replace(line, stamp, ""));
    return lines;
}

bool appearInOrder(const std::vector<std::string>& wanted, const std::vector<std::string>& lines)
{
    auto position = lines.begin();
    for (const auto& line : wanted) {
        position = std::find(position, lines.end(), line);
        if (position == lines.end())
            return false;
    }
    return true;
}

void waitForWineToSettle(const fs::path& root)
{
    const Installer installer(root);
    const fs::path wineserver = installer.wine().parent_path() / "wineserver";
    if (fs::exists(wineserver))
        installer.run(wineserver.string(), {"-w"}, {.environment = installer.environment(), .timeout = 60});
}

/// One installation from the installer folder, shared by the tests that only read or play it.
class EndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        folder = std::make_unique<TempDir>();
        installOutcome = install(kit / "h2pc_installer_2.1", *folder / "root", folder->path());
    }
    static void TearDownTestSuite()
    {
        waitForWineToSettle(*folder / "root");
        folder.reset();
    }
    void SetUp() override { ASSERT_EQ(installOutcome.status, 0) << installOutcome.err; }

    static fs::path root() { return *folder / "root"; }
    static fs::path scratch() { return folder->path(); }

    static std::unique_ptr<TempDir> folder;
    static test_support::ProgramOutcome installOutcome;
};

std::unique_ptr<TempDir> EndToEnd::folder;
test_support::ProgramOutcome EndToEnd::installOutcome;

TEST_F(EndToEnd, SetupReportsEveryStageInOrderAndRecordsTheInstallation)
{
    const auto printed = test_support::linesOf(installOutcome.out);
    EXPECT_TRUE(appearInOrder(headlines, printed)) << installOutcome.out;
    EXPECT_EQ(printed.back(), "Ready to play");
    EXPECT_EQ(installOutcome.err, "");
    EXPECT_TRUE(appearInOrder(printed, stampedLines(root()))) << "every printed line is logged, stamped, in order";

    const auto record = InstallationRecord::decode(test_support::readText(root() / "installed.json"));
    ASSERT_TRUE(record);
    EXPECT_EQ(record->format, 1);
    EXPECT_EQ(record->launcherVersion, "0.2.1");
    // The Wine of this computer that setup used: its version line and its loader.
    EXPECT_TRUE(std::regex_match(record->engine, std::regex(R"(wine-[0-9]+\.[0-9]+.* at /.+)"))) << record->engine;
    const auto loader = SystemWine::recordedLoader(record->engine);
    ASSERT_TRUE(loader);
    EXPECT_TRUE(fs::exists(*loader));
    const std::string log = test_support::readText(root() / "Logs" / "setup.log");
    EXPECT_EQ(log.find(demoCatalogue().engine.name), std::string::npos) << "nothing is downloaded for the runtime";
    EXPECT_EQ(log.find("Runtime-staging-"), std::string::npos);
    EXPECT_FALSE(fs::exists(root() / "Runtime"));
    const std::string slow
        = "This computer runs 32-bit programs only through emulation, so setup and the game will be slow here";
    EXPECT_EQ(std::count(printed.begin(), printed.end(), slow), platform::emulatesThirtyTwoBit() ? 1 : 0);
    const double now = InstallationRecord::secondsSinceReferenceDate(std::chrono::system_clock::now());
    EXPECT_GT(record->installedAt, now - 3600);
    EXPECT_LE(record->installedAt, now + 1);
}

TEST_F(EndToEnd, TheRootCountsAsInstalledTheMomentSetupReturns)
{
    // Asked straight after the setup process ended, before any Wine server could have saved late.
    const auto status = corvanel({"--status", "--home", root().string()}, scratch());
    EXPECT_EQ(status.status, 0);
    EXPECT_EQ(status.out, "installed\n");
}

TEST_F(EndToEnd, ThePrefixHoldsTheRegistryRowsDrivesAndGameLink)
{
    const fs::path prefix = root() / "Install" / "prefix";
    EXPECT_EQ(test_support::treeOf(prefix / "dosdevices"), (std::vector<std::string>{"c:", "z:"}));
    EXPECT_TRUE(fs::is_symlink(prefix / "drive_c" / "Games" / "Halo 2"));
    EXPECT_TRUE(fs::equivalent(prefix / "drive_c" / "Games" / "Halo 2", root() / "Install" / "game"));

    test_support::expectRegistryRowsReadBack(Installer(root()));
}

TEST_F(EndToEnd, LaunchReturnsTheGameStatusAfterItEndsAndAppendsToTheGameLog)
{
    const fs::path game = root() / "Install" / "game";
    const fs::path gameLog = root() / "Logs" / "halo2.log";
    const auto before = test_support::readLines(gameLog).size();

    const auto first = corvanel({"--launch", "--home", root().string()}, scratch());
    EXPECT_EQ(first.status, 0) << first.err;
    test_support::writeText(game / "exitcode.txt", "3");
    const auto second = corvanel({"--launch", "--home", root().string()}, scratch());
    fs::remove(game / "exitcode.txt");
    EXPECT_EQ(second.status, 3) << second.err;
    EXPECT_EQ(second.err, "") << "a game's own status is no failure of the launcher";
    const auto debug = corvanel({"--launch", "--debug", "--home", root().string()}, scratch());
    EXPECT_EQ(debug.status, 0) << debug.err;

    const auto lines = test_support::readLines(gameLog);
    const std::vector<std::string> added(lines.begin() + static_cast<long>(before), lines.end());
    EXPECT_TRUE(appearInOrder({"halo2.exe args: -windowed -hiresfix", "WINEDEBUG: -all", "halo2.exe exit code: 0",
                               "halo2.exe args: -windowed -hiresfix", "WINEDEBUG: -all", "halo2.exe exit code: 3",
                               "halo2.exe args: -windowed -hiresfix", "WINEDEBUG: +loaddll", "halo2.exe exit code: 0"},
                              added))
        << test_support::readText(gameLog);
}

TEST_F(EndToEnd, WhileTheGamePlaysTheRootRefusesASecondLaunchAndASetup)
{
    const fs::path game = root() / "Install" / "game";
    const fs::path gameLog = root() / "Logs" / "halo2.log";
    const auto before = test_support::readText(gameLog).size();
    test_support::writeText(game / "hold.txt", "");
    test_support::StartedProgram playing(program, {"--cli", "--launch", "--home", root().string()}, scratch());

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (test_support::readText(gameLog).size() <= before && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_GT(test_support::readText(gameLog).size(), before) << "the game started";

    const auto secondLaunch = corvanel({"--launch", "--home", root().string()}, scratch());
    const auto setup = install(kit / "h2pc_installer_2.1", root(), scratch());
    fs::remove(game / "hold.txt");
    const auto played = playing.finish();

    EXPECT_EQ(secondLaunch.status, 1);
    EXPECT_EQ(secondLaunch.err, test_support::competingLauncherLine);
    EXPECT_EQ(setup.status, 1);
    EXPECT_EQ(setup.err, test_support::competingLauncherLine);
    EXPECT_EQ(played.status, 0) << played.err;
}

TEST_F(EndToEnd, ASecondSetupIsRefusedAndChangesNothing)
{
    const auto before = test_support::treeOf(root() / "Install" / "game");
    const auto recordBefore = test_support::readText(root() / "installed.json");
    const auto again = install(kit / "h2pc_installer_2.1.zip", root(), scratch());
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(again.out, "");
    EXPECT_EQ(again.err, "An installation already exists. Its game files and saves were left untouched.\n");
    EXPECT_EQ(test_support::treeOf(root() / "Install" / "game"), before);
    EXPECT_EQ(test_support::readText(root() / "installed.json"), recordBefore);
}

TEST(EndToEndSources, TheZipAndTheInnerArchiveInstallToo)
{
    for (const fs::path& source : {kit / "h2pc_installer_2.1.zip", kit / "h2pc_installer_2.1" / "h2pc_data.bin"}) {
        SCOPED_TRACE(source);
        TempDir folder;
        const auto outcome = install(source, folder / "root", folder.path());
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        EXPECT_EQ(test_support::linesOf(outcome.out).back(), "Ready to play");
        EXPECT_EQ(corvanel({"--status", "--home", (folder / "root").string()}, folder.path()).out, "installed\n");
        waitForWineToSettle(folder / "root");
    }
}

TEST(EndToEndRecovery, AFailureInTheLastStageLeavesNoRecordAndARetrySucceeds)
{
    TempDir folder;
    const fs::path root = folder / "root";
    // A real folder where the prefix stage puts the game link makes that last stage fail.
    const fs::path blocker = root / "Install" / "prefix" / "drive_c" / "Games" / "Halo 2";
    fs::create_directories(blocker);

    const auto failed = install(kit / "h2pc_installer_2.1", root, folder.path());
    EXPECT_EQ(failed.status, 1);
    EXPECT_NE(failed.err.find("Halo 2"), std::string::npos) << failed.err;
    EXPECT_FALSE(fs::exists(root / "installed.json"));
    EXPECT_EQ(corvanel({"--status", "--home", root.string()}, folder.path()).out, "not installed\n");

    fs::remove(blocker);
    // Where the computer's own Wine is the runtime, the failed run left no runtime folder behind.
    const auto replacing = fs::exists(root / "Runtime")
        ? "Replacing the game files and the compatibility runtime left by an earlier setup"
        : "Replacing the game files left by an earlier setup";
    const auto retried = install(kit / "h2pc_installer_2.1", root, folder.path());
    EXPECT_EQ(retried.status, 0) << retried.err << test_support::readText(root / "Logs" / "setup.log");
    // What the failed run left is replaced as a whole, and the retry says so, once.
    const auto retriedLines = test_support::linesOf(retried.out);
    EXPECT_EQ(std::count(retriedLines.begin(), retriedLines.end(), replacing), 1) << retried.out;
    EXPECT_EQ(failed.out.find("Replacing"), std::string::npos) << failed.out;
    EXPECT_EQ(corvanel({"--status", "--home", root.string()}, folder.path()).out, "installed\n");
    for (const auto& entry : fs::directory_iterator(root))
        EXPECT_EQ(entry.path().filename().string().find("-staging-"), std::string::npos) << entry.path();
    waitForWineToSettle(root);
}

} // namespace
} // namespace corvanel
