#include "installer/display_text.h"
#include "installer/installer.h"
#include "installer/layout.h"
#include "installer/platform.h"
#include "installer/runner.h"
#include "installer/setup_failure.h"
#include "installer/windows/graphics_libraries.h"
#include "support/scoped_variable.h"
#include "support/temp_dir.h"
#include "support/user_sentences.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <map>
#include <regex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace corvanel {
namespace {

using test_support::TempDir;
using Clock = std::chrono::steady_clock;

const std::regex stamp(R"(^\[\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ\] )");

/// The setup log's lines with their stamps removed; unstamped lines (program output) kept as they are.
std::vector<std::string> logLines(const Installer& installer)
{
    std::vector<std::string> lines;
    for (const auto& line : test_support::readLines(installer.log()))
        lines.push_back(std::regex_replace(line, stamp, "", std::regex_constants::format_first_only));
    return lines;
}

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Call {
    double reported;
    double wall;
};

class Runner : public ::testing::Test {
protected:
    TempDir root;
    Installer installer{root.path()};
    std::vector<Call> calls;
    Clock::time_point started = Clock::now();

    Progress recorder()
    {
        started = Clock::now();
        return [this](double seconds) { calls.push_back({seconds, secondsSince(started)}); };
    }

    std::string failureOf(const std::string& executable, const std::vector<std::string>& arguments,
                          RunOptions options = {})
    {
        try {
            installer.run(executable, arguments, options);
        } catch (const SetupFailure& failure) {
            return failure.message();
        }
        ADD_FAILURE() << "no failure";
        return {};
    }

    std::vector<std::string> logFolder() const { return test_support::treeOf(root / "Logs"); }
};

TEST_F(Runner, QuickSuccessLogsOneStartAndOneFinishAndReportsAtOnceAndAtTheEnd)
{
    EXPECT_EQ(installer.run("/bin/sh", {"-c", "exit 0"}, {.progress = recorder()}), "");
    EXPECT_EQ(logLines(installer),
              (std::vector<std::string>{
                  R"(Starting /bin/sh: ["-c", "exit 0"])",
                  "Finished /bin/sh, exit 0, elapsed 0s",
              }));
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_LT(calls[0].reported, 0.1);
    EXPECT_GE(calls[1].reported, calls[0].reported);
    EXPECT_LT(calls[1].wall, 0.5) << "the end is seen at once, not at the next poll";
}

// Wine creates the prefix with its caller's umask: every program runs with one of at least 022.
TEST_F(Runner, ProgramsRunWithAUmaskOfAtLeast022WhateverTheCallers)
{
    const struct {
        mode_t callers;
        const char* seen;
    } cases[] = {{0000, "0022"}, {0002, "0022"}, {0027, "0027"}, {0077, "0077"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seen);
        const mode_t before = ::umask(c.callers);
        const std::string seen = installer.run("/bin/sh", {"-c", "umask"}, {.capture = true});
        ::umask(before);
        EXPECT_EQ(seen, std::string(c.seen) + "\n");
    }
}

TEST_F(Runner, NonZeroStatusNamesTheProgramAndItsStatus)
{
    const struct {
        const char* script;
        const char* message;
        const char* finished;
    } cases[] = {
        {"exit 3",
         "sh failed (3). Open the setup log for details. If antivirus quarantined a file, review its report before "
         "retrying.",
         "Finished /bin/sh, exit 3, elapsed 0s"},
        {"kill -KILL $$",
         "sh failed (9). Open the setup log for details. If antivirus quarantined a file, review its report before "
         "retrying.",
         "Finished /bin/sh, exit 9, elapsed 0s"},
        {"kill -TERM $$",
         "sh failed (15). Open the setup log for details. If antivirus quarantined a file, review its report before "
         "retrying.",
         "Finished /bin/sh, exit 15, elapsed 0s"},
        {"kill -PIPE $$",
         "sh failed (13). Open the setup log for details. If antivirus quarantined a file, review its report before "
         "retrying.",
         "Finished /bin/sh, exit 13, elapsed 0s"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        TempDir fresh;
        const Installer installer(fresh.path());
        try {
            installer.run("/bin/sh", {"-c", c.script});
            ADD_FAILURE() << "no failure";
        } catch (const SetupFailure& failure) {
            EXPECT_EQ(failure.message(), c.message);
        }
        EXPECT_EQ(logLines(installer).back(), c.finished);
    }
}

TEST_F(Runner, TimeOutStopsAProgramThatIgnoresTheRequestThreeSecondsLater)
{
    const auto start = Clock::now();
    const std::string message
        = failureOf("/bin/sh", {"-c", "trap '' TERM; sleep 20"}, {.timeout = 1, .progress = recorder()});
    const double took = secondsSince(start);

    EXPECT_EQ(message, "sh timed out after 1s. Retry setup; details are in the setup log.");
    EXPECT_GE(took, 3.9);
    EXPECT_LT(took, 6.0);
    const auto lines = logLines(installer);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], R"(Starting /bin/sh: ["-c", "trap '' TERM; sleep 20"])");
    EXPECT_TRUE(std::regex_match(lines[1], std::regex("Timed out after [45]s: /bin/sh"))) << lines[1];
    ASSERT_EQ(calls.size(), 1u) << "one call at once, none after the time-out";
    EXPECT_LT(calls[0].reported, 0.1);
}

TEST_F(Runner, TimeOutEndsTheWholeProcessGroup)
{
    const struct {
        const char* name;
        const char* script;
        double shortest;
        double longest;
    } cases[] = {
        {"both ignore the request", "trap '' TERM; sleep 30 & echo $! > pid; wait", 3.9, 6.0},
        {"only the program's own child ignores it", "(trap '' TERM; exec sleep 30) & echo $! > pid; wait", 0.9, 2.5},
        {"the program leaves a child behind when asked",
         "trap 'exit 0' TERM; (trap '' TERM; exec sleep 30) & echo $! > pid; wait", 0.9, 2.5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir fresh;
        const Installer installer(fresh.path());
        const auto start = Clock::now();
        try {
            installer.run("/bin/sh", {"-c", c.script}, {.directory = fresh.path(), .timeout = 1});
            ADD_FAILURE() << "no time-out";
        } catch (const SetupFailure& failure) {
            EXPECT_EQ(failure.message(), "sh timed out after 1s. Retry setup; details are in the setup log.");
        }
        const double took = secondsSince(start);
        EXPECT_GE(took, c.shortest);
        EXPECT_LT(took, c.longest);
        const pid_t grandchild = std::atoi(test_support::readText(fresh / "pid").c_str());
        ASSERT_GT(grandchild, 0);
        const bool gone = test_support::processGone(grandchild, 0.5);
        EXPECT_TRUE(gone) << "the program's own child outlived the time-out";
        if (!gone)
            ::kill(grandchild, SIGKILL);
    }
}

// A stop asked for while a program runs ends its whole group at once, even a part that
// ignores the polite request, and nothing starts after it.
TEST(RunnerStop, AStopEndsTheRunningProgramsWholeGroupAndStartsNothingMore)
{
    TempDir fresh;
    Installer installer(fresh.path());
    const fs::path started = fresh / "started";
    installer.setStopRequest([&] { return fs::exists(started); });
    const auto start = Clock::now();
    try {
        installer.run("/bin/sh", {"-c", "(trap '' TERM; exec sleep 30) & echo $! > pid; echo > started; wait"},
                      {.directory = fresh.path()});
        ADD_FAILURE() << "the program was not stopped";
    } catch (const SetupStopped& stopped) {
        EXPECT_EQ(stopped.message(), test_support::setupStopped);
    }
    EXPECT_LT(secondsSince(start), 2.5);
    const pid_t grandchild = std::atoi(test_support::readText(fresh / "pid").c_str());
    ASSERT_GT(grandchild, 0);
    const bool gone = test_support::processGone(grandchild, 0.5);
    EXPECT_TRUE(gone) << "the program's own child outlived the stop";
    if (!gone)
        ::kill(grandchild, SIGKILL);
    EXPECT_NE(test_support::readText(installer.log()).find("Stopped at the user's request after "), std::string::npos);

    EXPECT_THROW(installer.run("/bin/sh", {"-c", "echo > ran"}, {.directory = fresh.path()}), SetupStopped);
    EXPECT_FALSE(fs::exists(fresh / "ran"));
}

TEST_F(Runner, CaptureReturnsBothStreamsInOrderAndLeavesNoFileBehind)
{
    const std::string text
        = installer.run("/bin/sh", {"-c", "printf 'out 1\\n'; printf 'err 1\\n' >&2; printf 'out 2 \\342\\234\\223'"},
                        {.capture = true});
    EXPECT_EQ(text, "out 1\nerr 1\nout 2 \u2713");
    EXPECT_EQ(logFolder(), std::vector<std::string>{"setup.log"});
    const auto lines = test_support::readLines(installer.log());
    ASSERT_EQ(lines.size(), 2u) << "only the starting and finished lines, never the captured text";
    EXPECT_NE(lines[0].find("] Starting /bin/sh: "), std::string::npos);
    EXPECT_NE(lines[1].find("] Finished /bin/sh, exit 0, elapsed 0s"), std::string::npos);
}

TEST_F(Runner, CaptureFileIsRemovedOnEveryWayOut)
{
    EXPECT_THROW(installer.run("/bin/sh", {"-c", "echo partial; exit 4"}, {.capture = true}), SetupFailure);
    EXPECT_THROW(installer.run("/bin/sh", {"-c", "printf '\\377'"}, {.capture = true}), std::system_error);
    EXPECT_THROW(installer.run("/bin/sh", {"-c", "echo x; sleep 5"}, {.capture = true, .timeout = 0.2}), SetupFailure);
    EXPECT_THROW(installer.run("/nonexistent/program", {}, {.capture = true}), std::system_error);
    EXPECT_THROW(installer.run("/bin/sh", {"-c", "sleep 5"},
                               {.capture = true, .progress = [](double) { throw std::runtime_error("stop"); }}),
                 std::runtime_error);
    EXPECT_EQ(logFolder(), std::vector<std::string>{"setup.log"});
}

TEST_F(Runner, OutputWithoutCaptureIsAppendedToTheSetupLogBetweenTheStampedLines)
{
    installer.report("Unpacking the verified runtime");
    installer.run("/bin/sh", {"-c", "echo to standard output; echo to standard error >&2"});
    EXPECT_EQ(logLines(installer),
              (std::vector<std::string>{
                  "Unpacking the verified runtime",
                  R"(Starting /bin/sh: ["-c", "echo to standard output; echo to standard error >&2"])",
                  "to standard output",
                  "to standard error",
                  "Finished /bin/sh, exit 0, elapsed 0s",
              }));
}

TEST_F(Runner, AMissingProgramFailsWithThePlatformErrorAndNoFinishedLine)
{
    try {
        installer.run("/nonexistent/program", {"a"});
        ADD_FAILURE() << "started";
    } catch (const SetupFailure&) {
        ADD_FAILURE() << "a missing program is the platform's error";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory);
        EXPECT_EQ(describe(error), "Unable to start /nonexistent/program: No such file or directory.");
    }
    test_support::writeText(root / "not-executable", "#!/bin/sh\n");
    fs::permissions(root / "not-executable", fs::perms(0644));
    EXPECT_THROW(installer.run((root / "not-executable").string(), {}), std::system_error);
    const auto lines = logLines(installer);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], R"(Starting /nonexistent/program: ["a"])");
    EXPECT_EQ(lines[1].rfind("Starting ", 0), 0u);
}

TEST_F(Runner, ArgumentsReachTheProgramVerbatimAndAreQuotedInTheLog)
{
    const std::vector<std::string> arguments = {
        "[%s]", "a \"quoted\" word", "back\\slash", "line\nfeed", "tab\there", "$HOME", "*",
        "",     "\x01\x1f\x7f",      "caf\u00e9",
    };
    std::string expected
        = "[a \"quoted\" word][back\\slash][line\nfeed][tab\there][$HOME][*][][\x01\x1f\x7f][caf\u00e9]";
    EXPECT_EQ(installer.run("/usr/bin/printf", arguments, {.capture = true}), expected);
    EXPECT_EQ(
        logLines(installer).front(),
        R"(Starting /usr/bin/printf: ["[%s]", "a \"quoted\" word", "back\\slash", "line\nfeed", "tab\there", "$HOME", "*", "", "\x01\x1f\x7f", "café"])");
    EXPECT_EQ(quotedArguments({}), "[]");
    // One escape style with the program's output lines: bytes as \xHH, never another notation.
    EXPECT_EQ(quotedArguments({"\r", std::string(1, '\0'), "\u0085", "\xff\x1b"}),
              R"(["\r", "\x00", "\xc2\x85", "\xff\e"])");
}

TEST_F(Runner, HonoursEnvironmentAndWorkingFolderAndReadsNothing)
{
    const std::string text = installer.run(
        "/bin/sh", {"-c", "pwd; echo \"$GREETING\"; echo \"${HOME-no home}\"; readlink /proc/self/fd/0; cat"},
        {.environment = Environment{{"GREETING", "hello there"}, {"PATH", "/usr/bin:/bin"}},
         .directory = root / "Logs",
         .capture = true});
    EXPECT_EQ(text, (root / "Logs").string() + "\nhello there\nno home\n/dev/null\n");

    ::setenv("CORVANEL_INHERITED", "passed on", 1);
    const std::string inherited
        = installer.run("/bin/sh", {"-c", "echo \"$CORVANEL_INHERITED\"; pwd"}, {.capture = true});
    ::unsetenv("CORVANEL_INHERITED");
    EXPECT_EQ(inherited, "passed on\n" + fs::current_path().string() + "\n");
}

TEST_F(Runner, AMissingWorkingFolderIsNamedInTheError)
{
    try {
        installer.run("/bin/true", {}, {.directory = root / "nowhere"});
        ADD_FAILURE() << "started";
    } catch (const std::exception& error) {
        EXPECT_NE(describe(error).find((root / "nowhere").string()), std::string::npos) << describe(error);
    }
}

TEST_F(Runner, ReportsAtOnceThenEveryTwoSecondsOrMoreAndAfterTheEnd)
{
    installer.run("/bin/sleep", {"5"}, {.progress = recorder()});
    ASSERT_EQ(calls.size(), 4u) << "about 0, 2 and 4 seconds, then after the end";
    EXPECT_LT(calls[0].reported, 0.3);
    EXPECT_LT(calls[0].wall, 0.3);
    for (size_t i = 1; i < 3; ++i) {
        EXPECT_GE(calls[i].reported - calls[i - 1].reported, 2.0);
        EXPECT_GE(calls[i].wall - calls[i - 1].wall, 2.0);
        EXPECT_LT(calls[i].reported - calls[i - 1].reported, 2.5);
    }
    EXPECT_GE(calls[3].reported, 5.0);
    EXPECT_LT(calls[3].reported, 5.5);
    EXPECT_LT(calls[3].wall - calls[3].reported, 0.2) << "reported right after the end";
    EXPECT_EQ(logLines(installer).back(), "Finished /bin/sleep, exit 0, elapsed 5s");
}

TEST_F(Runner, AnUnusableLogFailsBeforeTheProgramStarts)
{
    fs::create_directories(root / "Logs/setup.log");
    try {
        installer.run("/bin/sh", {"-c", "echo ran > '" + (root / "ran").string() + "'"});
        ADD_FAILURE() << "ran";
    } catch (const SetupFailure& failure) {
        EXPECT_EQ(failure.message(),
                  "Corvanel cannot write to " + (root / "Logs/setup.log").string()
                      + ": it is a folder, not a regular file of its own. Remove it, then retry.");
    }
    EXPECT_FALSE(fs::exists(root / "ran"));

    TempDir piped;
    fs::create_directories(piped / "Logs");
    ::mkfifo((piped / "Logs/setup.log").c_str(), 0600);
    try {
        Installer(piped.path()).run("/bin/true", {});
        ADD_FAILURE() << "ran";
    } catch (const SetupFailure& failure) {
        EXPECT_EQ(failure.message(),
                  "Corvanel cannot write to " + (piped / "Logs/setup.log").string()
                      + ": it is a named pipe, not a regular file of its own. Remove it, then retry.")
            << "a pipe that nobody reads does not hang setup";
    }

    TempDir other;
    test_support::writeText(other / "Logs", "a file where the folder belongs");
    const Installer blocked(other.path());
    EXPECT_THROW(blocked.run("/bin/true", {}), fs::filesystem_error);
}

TEST_F(Runner, LogCreatedByTheRunnerIsPrivate)
{
    const mode_t previous = ::umask(022);
    installer.run("/bin/true", {});
    ::umask(previous);
    EXPECT_EQ(test_support::permissionsOf(installer.log()), 0600u);
}

using test_support::ScopedVariable;

TEST_F(Runner, AProgramEndsWhenTheLauncherRunningItIsKilled)
{
    const auto pidFile = root / "program.pid";
    const pid_t launcher = ::fork();
    ASSERT_GE(launcher, 0);
    if (launcher == 0) {
        try {
            installer.run("/bin/sh", {"-c", "echo $$ > '" + pidFile.string() + "'; exec sleep 60"});
        } catch (...) {
        }
        ::_exit(0);
    }
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (test_support::readText(pidFile).empty() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const pid_t program = std::stoi(test_support::readText(pidFile));

    ::kill(launcher, SIGKILL);
    ::waitpid(launcher, nullptr, 0);
    EXPECT_TRUE(test_support::processGone(program, 5.0));
    ::kill(program, SIGKILL);
}

/// The load order a WINEDLLOVERRIDES value gives each library it names, names in lower case:
/// "a,b=n,b;c=" gives a and b "n,b" and c "".
std::map<std::string, std::string> loadOrders(std::string_view overrides)
{
    std::map<std::string, std::string> orders;
    for (std::size_t start = 0; start <= overrides.size();) {
        const std::size_t end = std::min(overrides.find(';', start), overrides.size());
        const std::string_view rule = overrides.substr(start, end - start);
        const std::size_t equals = rule.find('=');
        if (equals != std::string_view::npos) {
            const std::string_view names = rule.substr(0, equals);
            for (std::size_t from = 0; from <= names.size();) {
                const std::size_t comma = std::min(names.find(',', from), names.size());
                orders[lowerCased(std::string(names.substr(from, comma - from)))]
                    = std::string(rule.substr(equals + 1));
                from = comma + 1;
            }
        }
        start = end + 1;
    }
    return orders;
}

std::string libraryName(const char* file)
{
    return lowerCased(fs::path(file).stem().string());
}

// Wine's programs see the user's environment without the user's own Wine or loader settings, a
// prefix of this root's, and the libraries the game brings or setup installs before Wine's own.
TEST(WineEnvironment, KeepsTheUsersVariablesButNoneOfTheirWineSettings)
{
    TempDir root;
    const ScopedVariable debug("WINEDEBUG", "+all");
    const ScopedVariable server("WINESERVER", "/elsewhere/wineserver");
    const ScopedVariable prefix("WINEPREFIX", "/elsewhere/prefix");
    const ScopedVariable overrides("WINEDLLOVERRIDES", "d3dx9_43=b;xlive=");
    const ScopedVariable insert("DYLD_INSERT_LIBRARIES", "/tmp/evil.dylib");
    const ScopedVariable kept("CORVANEL_KEPT", "yes");
    const ScopedVariable lower("wineish", "kept");
    const ScopedVariable loaderLike("DYLDX", "kept");

    const Installer installer(root.path());
    const Environment environment = installer.environment();
    const auto steersWine
        = [](const std::string& name) { return name.starts_with("WINE") || platform::isForeignWineVariable(name); };

    for (char** entry = environ; *entry; ++entry) {
        const std::string_view line(*entry);
        const std::string name(line.substr(0, line.find('=')));
        if (steersWine(name))
            continue;
        SCOPED_TRACE(name);
        ASSERT_TRUE(environment.contains(name));
        EXPECT_EQ(environment.at(name), line.substr(name.size() + 1));
    }
    EXPECT_EQ(environment.at("wineish"), "kept");
    EXPECT_EQ(environment.at("DYLDX"), "kept");

    // Of the variables that steer Wine only setup's own remain, none with the user's value.
    const std::map<std::string, std::string> system = platform::wineVariables(installer.runtime());
    for (const auto& [name, value] : environment) {
        if (!steersWine(name) || system.contains(name))
            continue;
        SCOPED_TRACE(name);
        EXPECT_TRUE(name == "WINEPREFIX" || name == "WINEARCH" || name == "WINEDEBUG" || name == "WINEDLLOVERRIDES"
                    || name == "WINEPRELOADERAPPNAME");
        const char* inherited = std::getenv(name.c_str());
        EXPECT_FALSE(inherited && value == inherited);
    }
    EXPECT_FALSE(environment.contains("WINESERVER"));
    EXPECT_FALSE(environment.contains("DYLD_INSERT_LIBRARIES")
                 && platform::isForeignWineVariable("DYLD_INSERT_LIBRARIES"));
    for (const auto& [name, value] : system)
        EXPECT_EQ(environment.at(name), value) << name;

    // Every debug channel off: Wine's tracing would bury the setup log.
    EXPECT_EQ(environment.at("WINEDEBUG"), "-all");
    // The prefix setup builds below this root, named absolutely; a 64-bit one, as the decoder's
    // place in its 32-bit system folder assumes.
    const fs::path prefixFolder = environment.at("WINEPREFIX");
    EXPECT_TRUE(prefixFolder.is_absolute());
    EXPECT_EQ(prefixFolder, fs::absolute(installer.prefix()));
    EXPECT_FALSE(prefixFolder.lexically_relative(fs::absolute(root.path())).string().starts_with(".."));
    EXPECT_EQ(environment.at("WINEARCH"), "win64");
    EXPECT_NE(std::string(layout::prefixDecoder).find("/syswow64/"), std::string::npos);

    // The decoder, the game's own xlive and the graphics libraries setup installs load before
    // Wine's built-in ones; Wine's .NET and browser stand-ins stay off, so wineboot never offers
    // to download them.
    std::map<std::string, std::string> orders = loadOrders(environment.at("WINEDLLOVERRIDES"));
    std::vector<std::string> native = {libraryName(layout::keptDecoder), "xlive"};
    for (const GraphicsLibrary& graphics : graphicsLibraries)
        native.push_back(libraryName(graphics.library));
    for (const std::string& library : native)
        EXPECT_EQ(orders[library], "n,b") << library;
    for (const char* library : {"mscoree", "mshtml"}) {
        ASSERT_TRUE(orders.contains(library)) << library;
        EXPECT_EQ(orders.at(library), "") << library;
    }
}

TEST(WineEnvironment, PathsAreAbsoluteForARelativeRoot)
{
    const Environment environment = Installer(fs::path("relative/Corvanel")).environment();
    EXPECT_EQ(environment.at("WINEPREFIX"), (fs::current_path() / "relative/Corvanel/Install/prefix").string());
    for (const auto& [name, value] : platform::wineVariables(fs::current_path() / "relative/Corvanel/Runtime"))
        EXPECT_EQ(environment.at(name), value) << name;
}

// What a program prints reaches the setup log with its control characters and stray bytes
// escaped, however the run ends: no program writes raw bytes into the log.
TEST_F(Runner, ProgramOutputIsEscapedOnItsWayIntoTheSetupLog)
{
    const std::string script
        = R"(printf 'colour \033[31mred\033[0m\n'; printf 'bell \a tab \t return \r\n' >&2; printf 'byte \377 end')";
    const struct {
        const char* name;
        std::string script;
        double timeout;
        std::string last; ///< how the log's line after the output begins
    } cases[] = {
        {"a finished run", script, 900, "Finished /bin/sh, exit 0, elapsed 0s"},
        {"a timed-out run", script + "; sleep 30", 1, "Timed out after "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(installer.log());
        try {
            installer.run("/bin/sh", {"-c", c.script}, {.timeout = c.timeout});
        } catch (const SetupFailure&) {
        }
        const auto lines = logLines(installer);
        ASSERT_EQ(lines.size(), 5u) << test_support::readText(installer.log());
        EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end() - 1),
                  (std::vector<std::string>{
                      "colour \\e[31mred\\e[0m",
                      "bell \\x07 tab \\t return \\r",
                      "byte \\xff end",
                  }));
        EXPECT_EQ(lines.back().rfind(c.last, 0), 0u) << lines.back();
        EXPECT_EQ(logFolder(), std::vector<std::string>{"setup.log"}) << "no output file is left";
    }
}

} // namespace
} // namespace corvanel
