#include "installer/display_text.h"
#include "installer/installer.h"
#include "installer/platform.h"
#include "installer/setup_failure.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <system_error>
#include <vector>

namespace corvanel {
namespace {

using test_support::TempDir;

const std::string noSpace = "Setup needs at least 12 GB of available disk space. Free some space and retry.";
const std::string newline = "The installation path contains an unsupported newline.";
// The platform's sentence for a computer that cannot run x86-64 programs.
const std::string rosetta = platform::x86Missing();

HostQueries fake(std::optional<std::uintmax_t> space, std::vector<std::string> probe = {"/bin/true"})
{
    return HostQueries{.freeSpace = [space](const fs::path&) { return space; }, .x86Probe = std::move(probe)};
}

std::string failureOf(const Installer& installer)
{
    try {
        installer.preflight();
        return {};
    } catch (const SetupFailure& failure) {
        return failure.message();
    }
}

Installer installerFor(const fs::path& root, HostQueries host)
{
    return Installer(root, {}, releaseCatalogue(), std::move(host));
}

TEST(Preflight, NeedsTwelveDecimalGigabytes)
{
    const struct {
        std::optional<std::uintmax_t> space;
        std::string message;
    } cases[] = {
        {0, noSpace}, {11'999'999'999, noSpace}, {12'000'000'000, ""}, {12'000'000'001, ""}, {std::nullopt, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.space ? std::to_string(*c.space) : "no figure");
        TempDir root;
        EXPECT_EQ(failureOf(installerFor(root.path(), fake(c.space))), c.message);
    }
}

TEST(Preflight, RefusesControlCharactersInTheRootBeforeLookingAtAnythingElse)
{
    TempDir folder;
    const auto control = [&](const fs::path& root) {
        return "The installation path " + shownPath(root)
            + " contains a control character such as a tab, which the game cannot use. Choose a folder whose path "
              "has none, then retry.";
    };
    const struct {
        const char* name;
        fs::path root;
        std::string message;
    } cases[] = {
        {"a line feed inside", folder / "line\nfeed/Corvanel", newline},
        {"a line feed at the end", folder / "Corvanel\n", newline},
        {"a tab", folder / "Halo\t2/Corvanel", control(folder / "Halo\t2/Corvanel")},
        {"an escape", folder / "Corvanel\x1b[2J", control(folder / "Corvanel\x1b[2J")},
        {"a bell", folder / "Corvanel\a", control(folder / "Corvanel\a")},
        {"the first control character", folder / "\x01/Corvanel", control(folder / "\x01/Corvanel")},
        {"a carriage return", folder / "Corvanel\r", control(folder / "Corvanel\r")},
        {"a delete", folder / "Corvanel\x7f", control(folder / "Corvanel\x7f")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        bool asked = false;
        HostQueries host{.freeSpace =
                             [&](const fs::path&) {
                                 asked = true;
                                 return std::optional<std::uintmax_t>(0);
                             },
                         .x86Probe = {"/bin/false"}};
        EXPECT_EQ(failureOf(installerFor(c.root, host)), c.message);
        EXPECT_FALSE(asked);
        try {
            installerFor(c.root, host).install(folder / "no game", std::nullopt, std::nullopt);
            ADD_FAILURE() << "setup went ahead";
        } catch (const SetupFailure& failure) {
            EXPECT_EQ(failure.message(), c.message) << "setup refuses the path first";
        }
    }
    EXPECT_TRUE(test_support::treeOf(folder.path()).empty()) << "nothing was created";
}

TEST(Preflight, AFailingProbeGivesTheRosettaMessageAndLeavesTheRunnerLinesInTheLog)
{
    TempDir root;
    const Installer installer = installerFor(root.path(), fake(20'000'000'000, {"/bin/sh", "-c", "exit 1"}));
    EXPECT_EQ(failureOf(installer), rosetta);
    const auto lines = test_support::readLines(installer.log());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(\[.{20}\] Starting /bin/sh: \["-c", "exit 1"\])")))
        << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(\[.{20}\] Finished /bin/sh, exit 1, elapsed 0s)")))
        << lines[1];

    TempDir other;
    EXPECT_EQ(
        failureOf(installerFor(other.path(), fake(20'000'000'000, {"/nonexistent/arch", "-x86_64", "/usr/bin/true"}))),
        rosetta);
    EXPECT_EQ(failureOf(installerFor(other.path(), fake(20'000'000'000, {}))), rosetta);
}

TEST(Preflight, CreatesAMissingRootAndNothingBesidesTheLog)
{
    TempDir folder;
    const fs::path root = folder / "deep/Corvanel";
    const Installer installer(root);
    installer.preflight();
    EXPECT_EQ(test_support::treeOf(root), (std::vector<std::string>{"Logs", "Logs/setup.log"}));
    const std::string log = test_support::readText(installer.log());
    EXPECT_NE(log.find("] Starting "), std::string::npos);
    EXPECT_NE(log.find("] Finished "), std::string::npos);
}

TEST(Preflight, PlatformErrorsTravelUnchanged)
{
    TempDir folder;
    test_support::writeText(folder / "file", "");
    EXPECT_THROW(installerFor(folder / "file/Corvanel", fake(20'000'000'000)).preflight(), fs::filesystem_error);

    HostQueries failing{.freeSpace = [](const fs::path&) -> std::optional<std::uintmax_t> {
                            throw std::system_error(EIO, std::generic_category(), "Unable to read the free space");
                        },
                        .x86Probe = {"/bin/true"}};
    EXPECT_THROW(installerFor(folder / "Corvanel", failing).preflight(), std::system_error);
}

TEST(Preflight, ThePlatformFiguresAreReal)
{
    TempDir root;
    const HostQueries platform = HostQueries::platform();
    const auto space = platform.freeSpace(root.path());
    ASSERT_TRUE(space);
    EXPECT_GT(*space, 0u);
    ASSERT_FALSE(platform.x86Probe.empty());
    EXPECT_TRUE(fs::path(platform.x86Probe.front()).is_absolute());
}

} // namespace
} // namespace corvanel
