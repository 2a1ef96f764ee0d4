#include "installer/installer.h"
#include "installer/setup_failure.h"
#include "installer/setup_log.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace corvanel {
namespace {

using test_support::TempDir;

const std::regex stamped(R"(^\[\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ\] )");

TEST(SetupLog, FirstReportCreatesThePrivateLogWithOneStampedLine)
{
    TempDir folder;
    const fs::path root = folder / "Corvanel";
    std::vector<std::string> shown;
    const Installer installer(root, [&](const std::string& text) { shown.push_back(text); });
    EXPECT_FALSE(fs::exists(root)) << "constructing an installer writes nothing";

    const auto before = std::chrono::system_clock::now();
    installer.report("Importing your Halo 2 files");
    installer.report("Importing your Halo 2 files");
    installer.report("two\nlines");
    const auto after = std::chrono::system_clock::now();

    EXPECT_EQ(shown,
              (std::vector<std::string>{"Importing your Halo 2 files", "Importing your Halo 2 files", "two\nlines"}));
    EXPECT_EQ(test_support::permissionsOf(root / "Logs/setup.log"), 0600u);
    const auto lines = test_support::readLines(root / "Logs/setup.log");
    ASSERT_EQ(lines.size(), 3u);
    for (size_t i : {0, 1, 2}) {
        SCOPED_TRACE(lines[i]);
        EXPECT_TRUE(std::regex_search(lines[i], stamped));
        const std::string stamp = lines[i].substr(1, 20);
        EXPECT_TRUE(stamp >= timestamp(before) && stamp <= timestamp(after)) << stamp;
    }
    EXPECT_EQ(lines[0].substr(23), "Importing your Halo 2 files");
    EXPECT_EQ(lines[1].substr(23), "Importing your Halo 2 files");
    EXPECT_EQ(lines[2].substr(23), "two\\nlines") << "a text's line feeds are shown, so every line carries a stamp";
}

TEST(SetupLog, AnUnusableLogLosesTheLineButNotTheReport)
{
    const struct {
        const char* name;
        void (*spoil)(const fs::path& root);
    } cases[] = {
        {"Logs is a file", [](const fs::path& root) { test_support::writeText(root / "Logs", "not a folder"); }},
        {"setup.log is a folder", [](const fs::path& root) { fs::create_directories(root / "Logs/setup.log"); }},
        {"setup.log is a pipe that nobody reads",
         [](const fs::path& root) {
             fs::create_directories(root / "Logs");
             ::mkfifo((root / "Logs/setup.log").c_str(), 0600);
         }},
        {"root is a file", [](const fs::path& root) { test_support::writeText(root, ""); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir folder;
        const fs::path root = folder / "Corvanel";
        c.spoil(root);
        std::vector<std::string> shown;
        const Installer installer(root, [&](const std::string& text) { shown.push_back(text); });
        installer.report("Creating your private Windows environment");
        EXPECT_EQ(shown, std::vector<std::string>{"Creating your private Windows environment"});
    }
}

TEST(SetupLog, StampsAreUtcWithWholeSeconds)
{
    EXPECT_EQ(timestamp(std::chrono::system_clock::from_time_t(1'796'458'000)), "2026-12-05T08:06:40Z");
    EXPECT_EQ(timestamp(std::chrono::system_clock::from_time_t(0) + std::chrono::milliseconds(999)),
              "1970-01-01T00:00:00Z");
}

TEST(SetupLog, TailKeepsTheLastLinesOfWhatItReads)
{
    TempDir folder;
    const fs::path log = folder / "setup.log";
    std::string text;
    for (int line = 1; line <= 100; ++line)
        text += "line " + std::to_string(line) + "\n";
    test_support::writeText(log, text + "no line feed at the end \x1b[31m");

    EXPECT_EQ(readLogTail(log, 3, 1 << 20), "line 99\nline 100\nno line feed at the end \\e[31m\n")
        << "control characters are shown, not obeyed";
    EXPECT_EQ(readLogTail(log, 1000, 1 << 20).substr(0, 14), "line 1\nline 2\n")
        << "fewer lines than asked: all of them";
    // Only the end is read: the line cut by the byte limit is dropped, not shown in part.
    EXPECT_EQ(readLogTail(log, 1000, 50), "line 99\nline 100\nno line feed at the end \\e[31m\n");
    EXPECT_EQ(readLogTail(folder / "absent.log", 10, 100), "");
}

TEST(SetupLog, TailRefusesAPipeOrALinkWithoutWaiting)
{
    TempDir folder;
    const fs::path pipe = folder / "pipe.log";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_THROW(readLogTail(pipe, 10, 100), SetupFailure); // a blocking open would never return

    test_support::writeText(folder / "elsewhere.txt", "not the log\n");
    fs::create_symlink("elsewhere.txt", folder / "link.log");
    EXPECT_THROW(readLogTail(folder / "link.log", 10, 100), SetupFailure);

    fs::create_directory(folder / "real");
    test_support::writeText(folder / "real" / "setup.log", "through a linked folder\n");
    fs::create_directory_symlink("real", folder / "Logs");
    EXPECT_THROW(readLogTail(folder / "Logs" / "setup.log", 10, 100), SetupFailure);
}

} // namespace
} // namespace corvanel
