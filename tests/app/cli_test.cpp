#include "app/cli.h"
#include "installer/install_lock.h"
#include "installer/installer.h"
#include "installer/setup_failure.h"
#include "support/archives.h"
#include "support/installation_snapshot.h"
#include "support/program.h"
#include "support/temp_dir.h"
#include "support/user_sentences.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace corvanel {
namespace {

namespace fs = std::filesystem;
using test_support::TempDir;

const std::string usage = "Usage: --cli --install --game PATH [--audio PATH] [--home PATH] [--cache PATH], "
                          "--cli --repair [--audio PATH] [--cache PATH] [--home PATH], "
                          "or --cli --launch/--status [--home PATH]\n";
const std::string incomplete = "Setup is incomplete. Complete setup before launching Halo 2.\n";
const std::string existing = "An installation already exists. Its game files and saves were left untouched.\n";

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

Outcome cli(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), "/usr/local/bin/corvanel");
    std::ostringstream out, err;
    const int status = runCLI(arguments, out, err);
    return {status, out.str(), err.str()};
}

// The install and launch forms are told apart by what they refuse: a launch refuses a root
// that is not installed, an install refuses a root that already holds a record.
TEST(CommandLine, ChoosesOneOperationFromTheArguments)
{
    TempDir folder;
    const std::string empty = (folder / "empty").string();
    const std::string recorded = (folder / "recorded").string();
    const std::string installed = (folder / "installed").string();
    test_support::writeText(folder / "recorded/installed.json", test_support::validRecordText());
    test_support::makeInstalledState(folder / "installed");

    const struct {
        const char* name;
        std::vector<std::string> arguments;
        Outcome expected;
    } cases[] = {
        {"nothing but --cli", {"--cli"}, {1, "", usage}},
        {"no arguments at all", {}, {1, "", usage}},
        {"status", {"--cli", "--status", "--home", empty}, {0, "not installed\n", ""}},
        {"status, --cli last", {"--status", "--home", installed, "--cli"}, {0, "installed\n", ""}},
        {"--cli in the middle", {"--home", installed, "--cli", "--status"}, {0, "installed\n", ""}},
        {"first --home wins", {"--cli", "--status", "--home", installed, "--home", empty}, {0, "installed\n", ""}},
        {"first --home wins, other order",
         {"--cli", "--status", "--home", empty, "--home", installed},
         {0, "not installed\n", ""}},
        {"bare --install", {"--cli", "--install", "--home", recorded}, {1, "", usage}},
        {"--game as the last argument", {"--cli", "--install", "--home", recorded, "--game"}, {1, "", usage}},
        {"--debug alone", {"--cli", "--debug", "--home", empty}, {1, "", usage}},
        {"--home without a value", {"--cli", "--home"}, {1, "", usage}},
        {"unknown argument", {"--cli", "--play", "--home", empty}, {1, "", usage}},
        {"flags are case-sensitive", {"--cli", "--STATUS", "--home", empty}, {1, "", usage}},
        {"install", {"--cli", "--install", "--game", "/nowhere", "--home", recorded}, {1, "", existing}},
        {"a value that begins with --",
         {"--cli", "--install", "--game", "--audio", "x", "--home", recorded},
         {1, "", existing}},
        {"install wins over launch",
         {"--cli", "--launch", "--install", "--game", "/g", "--home", recorded},
         {1, "", existing}},
        {"install wins over status",
         {"--cli", "--status", "--install", "--game", "/g", "--home", recorded},
         {1, "", existing}},
        {"bare --install then launch", {"--cli", "--install", "--launch", "--home", recorded}, {1, "", incomplete}},
        {"bare --install then status",
         {"--cli", "--install", "--status", "--home", recorded},
         {0, "not installed\n", ""}},
        {"launch", {"--cli", "--launch", "--home", empty}, {1, "", incomplete}},
        {"launch with --debug", {"--cli", "--launch", "--debug", "--home", empty}, {1, "", incomplete}},
        {"launch wins over status",
         {"--cli", "--status", "--launch", "--home", installed + "/missing"},
         {1, "", incomplete}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome outcome = cli(c.arguments);
        EXPECT_EQ(outcome.status, c.expected.status);
        EXPECT_EQ(outcome.out, c.expected.out);
        EXPECT_EQ(outcome.err, c.expected.err);
    }
    EXPECT_FALSE(fs::exists(folder / "empty")) << "status and a refused launch create nothing";
    EXPECT_EQ(test_support::readText(folder / "recorded/installed.json"), test_support::validRecordText());
}

TEST(CommandLine, RelativeAndEmptyHomeResolveAgainstTheWorkingFolder)
{
    TempDir folder;
    test_support::makeInstalledState(folder / "root");
    const fs::path before = fs::current_path();
    fs::current_path(folder.path());
    const Outcome relative = cli({"--cli", "--status", "--home", "root"});
    const Outcome dotted = cli({"--cli", "--status", "--home", "./root/"});
    fs::current_path(folder / "root");
    const Outcome empty = cli({"--cli", "--status", "--home", ""});
    fs::current_path(before);

    EXPECT_EQ(relative.out, "installed\n");
    EXPECT_EQ(dotted.out, "installed\n");
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out, "installed\n");
    EXPECT_EQ(empty.err, "");
}

// Every combination of up to three option words (with values that are option words
// themselves) ends in a status, a usage message or a refusal, never in a crash.
TEST(CommandLine, AnyArgumentListEndsInAStatus)
{
    TempDir folder;
    test_support::writeText(folder / "root/installed.json", test_support::validRecordText());
    const std::array<std::string, 9> words
        = {"--cli", "--install", "--launch", "--status", "--debug", "--game", "--audio", "--cache", ""};
    std::vector<std::vector<std::string>> lists = {{}};
    for (int length = 1; length <= 3; ++length) {
        std::vector<std::vector<std::string>> longer;
        for (const auto& list : lists)
            for (const auto& word : words)
                if (list.size() + 1 == static_cast<size_t>(length)) {
                    auto next = list;
                    next.push_back(word);
                    longer.push_back(next);
                }
        for (auto& list : longer) {
            std::vector<std::string> arguments = {"--home", (folder / "root").string()};
            arguments.insert(arguments.end(), list.begin(), list.end());
            SCOPED_TRACE(::testing::PrintToString(arguments));
            const Outcome outcome = cli(arguments);
            if (outcome.status == 0) {
                EXPECT_EQ(outcome.out, "not installed\n");
                EXPECT_EQ(outcome.err, "");
            } else {
                EXPECT_EQ(outcome.status, 1);
                EXPECT_EQ(outcome.out, "");
                EXPECT_TRUE(outcome.err == usage || outcome.err == existing || outcome.err == incomplete)
                    << outcome.err;
            }
        }
        lists.insert(lists.end(), longer.begin(), longer.end());
    }
}

struct ProcessOutcome {
    int status;
    std::string out;
    std::string err;
};

ProcessOutcome runBinary(const std::string& arguments, const fs::path& scratch)
{
    const std::string command = std::string(CORVANEL_BINARY) + " " + arguments + " >" + (scratch / "out").string()
        + " 2>" + (scratch / "err").string() + " </dev/null";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, test_support::readText(scratch / "out"),
            test_support::readText(scratch / "err")};
}

TEST(CommandLine, TheExecutableChoosesItsModeByAnExactCliArgument)
{
    TempDir folder;
    test_support::makeInstalledState(folder / "root");
    const std::string home = "'" + (folder / "root").string() + "'";

    const ProcessOutcome status = runBinary("--status --home " + home + " --cli", folder.path());
    EXPECT_EQ(status.status, 0);
    EXPECT_EQ(status.out, "installed\n");
    EXPECT_EQ(status.err, "");

    const ProcessOutcome usageError = runBinary("--cli --debug", folder.path());
    EXPECT_EQ(usageError.status, 1);
    EXPECT_EQ(usageError.out, "");
    EXPECT_EQ(usageError.err, usage);

    for (const std::string& arguments :
         std::vector<std::string>{"--cli=1 --status --home " + home, "--status --home " + home, "--CLI --status"}) {
        SCOPED_TRACE(arguments);
        const ProcessOutcome window = runBinary(arguments, folder.path());
        EXPECT_EQ(window.status, 1);
        EXPECT_EQ(window.out, "");
        EXPECT_NE(window.err.find("--cli"), std::string::npos) << "says how to run it: " << window.err;
    }
}

// A reader that has gone away costs the progress lines, not the operation; a status whose
// answer cannot be written says so through its exit status.
TEST(CommandLine, TheExecutableOutlivesAClosedStandardOutput)
{
    TempDir folder;
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    ::close(pipeEnds[0]);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeEnds[1], STDOUT_FILENO);
        ::execl(CORVANEL_BINARY, CORVANEL_BINARY, "--cli", "--status", "--home", (folder / "root").c_str(), nullptr);
        ::_exit(127);
    }
    ::close(pipeEnds[1]);
    int raw = 0;
    ASSERT_EQ(::waitpid(pid, &raw, 0), pid);
    EXPECT_TRUE(WIFEXITED(raw)) << "ended by signal " << (WIFSIGNALED(raw) ? WTERMSIG(raw) : 0);
    EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 1);
}

// Ctrl-C during setup stops it cleanly: stopped on real Wine in its longest step, the running
// program's group is ended, nothing half-built is left, the finished import and the user's
// source stay as they are, the lock is released, and the next setup goes on from there to a
// finished installation.
TEST(CommandLine, CtrlCInTheWindowsEnvironmentStepThenTheNextSetupFinishes)
{
    TempDir folder;
    const fs::path root = folder / "root";
    const fs::path log = root / "Logs" / "setup.log";
    const std::vector<std::string> setup
        = {"--cli",   "--install",
           "--game",  (fs::path(CORVANEL_FIXTURES_DIR) / "h2pc_installer_2.1").string(),
           "--cache", (fs::path(CORVANEL_FIXTURES_DIR) / "cache").string(),
           "--home",  root.string()};
    const std::string sourceBefore = test_support::treeState(fs::path(CORVANEL_FIXTURES_DIR) / "h2pc_installer_2.1");
    {
        test_support::StartedProgram first(CORVANEL_DEMO_BINARY, setup, folder.path());
        const auto start = std::chrono::steady_clock::now();
        bool inWine = false;
        while (!inWine && std::chrono::steady_clock::now() - start < std::chrono::seconds(600)) {
            std::error_code none;
            const std::string text = fs::exists(log, none) ? test_support::readText(log) : std::string();
            const auto step = text.find("Creating your private Windows environment");
            inWine = step != std::string::npos && text.find("Starting ", step) != std::string::npos;
            if (!inWine)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ASSERT_TRUE(inWine) << "setup never reached the Windows environment";
        ::kill(first.pid(), SIGINT);
        const auto stopped = first.finish();
        EXPECT_EQ(stopped.status, 130) << stopped.err;
        EXPECT_EQ(stopped.err, test_support::setupStopped + "\n");
    }
    EXPECT_EQ(test_support::leftoversIn(root), std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(root / "installed.json"));
    EXPECT_NO_THROW({ InstallLock probe(root / "launcher.lock"); }) << "the lock was kept";
    EXPECT_TRUE(fs::is_regular_file(root / "Install" / "game" / "halo2.exe")) << "the finished import stays";
    EXPECT_EQ(test_support::treeState(fs::path(CORVANEL_FIXTURES_DIR) / "h2pc_installer_2.1"), sourceBefore);

    const auto second = test_support::runProgram(CORVANEL_DEMO_BINARY, setup, folder.path());
    EXPECT_EQ(second.status, 0) << second.err << test_support::readText(log);
    EXPECT_EQ(
        test_support::runProgram(CORVANEL_DEMO_BINARY, {"--cli", "--status", "--home", root.string()}, folder.path())
            .out,
        "installed\n");

    const Installer installer(root);
    const fs::path wineserver = installer.wine().parent_path() / "wineserver";
    if (fs::exists(wineserver))
        installer.run(wineserver.string(), {"-w"}, {.environment = installer.environment(), .timeout = 60});
}

} // namespace
} // namespace corvanel
