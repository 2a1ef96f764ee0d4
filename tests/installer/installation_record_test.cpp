#include "installer/file_ops.h"
#include "installer/installation_record.h"
#include "installer/installer.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>

namespace corvanel {
namespace {

namespace fs = std::filesystem;

TEST(InstallationRecord, EncodesCompactlyWithMembersInOrder)
{
    const InstallationRecord record{
        .format = 1, .launcherVersion = "0.2.1", .engine = "WS12WineCX24.0.7_7.tar.xz", .installedAt = 786'625'592.25};
    EXPECT_EQ(
        record.encode(),
        R"({"format":1,"launcherVersion":"0.2.1","engine":"WS12WineCX24.0.7_7.tar.xz","installedAt":786625592.25})");
    const auto decoded = InstallationRecord::decode(record.encode());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->format, 1);
    EXPECT_EQ(decoded->launcherVersion, "0.2.1");
    EXPECT_EQ(decoded->engine, "WS12WineCX24.0.7_7.tar.xz");
    EXPECT_EQ(decoded->installedAt, 786'625'592.25);
}

TEST(InstallationRecord, DatesCountFromTheFirstOf2001)
{
    using std::chrono::system_clock;
    EXPECT_EQ(InstallationRecord::secondsSinceReferenceDate(system_clock::from_time_t(978'307'200)), 0.0);
    EXPECT_EQ(InstallationRecord::secondsSinceReferenceDate(system_clock::from_time_t(978'307'200 + 86'400)
                                                            + std::chrono::milliseconds(500)),
              86'400.5);
}

TEST(InstallationRecord, IsWrittenInOneStep)
{
    test_support::TempDir root;
    test_support::writeText(root / "installed.json", "old");
    writeFileAtomically(root / "installed.json", test_support::validRecordText());
    EXPECT_EQ(test_support::readText(root / "installed.json"), test_support::validRecordText());
    EXPECT_EQ(test_support::treeOf(root.path()), std::vector<std::string>{"installed.json"}) << "nothing left aside";
}

TEST(ReadFile, FailsForAFolder)
{
    test_support::TempDir root;
    EXPECT_THROW(readFile(root.path()), fs::filesystem_error);
    EXPECT_THROW(readFile(root / "missing"), fs::filesystem_error);
    test_support::writeText(root / "data", std::string("a\0b", 3));
    EXPECT_EQ(readFile(root / "data"), std::string("a\0b", 3));
}

// The record is under 200 bytes; what follows it may only be white space, and a file far
// longer than any record is not read to its end.
TEST(InstallationRecord, OnlyOneObjectWithinTheSizeLimitCounts)
{
    test_support::TempDir root;
    test_support::makeInstalledState(root.path());
    const std::string valid = test_support::readText(root / "installed.json");
    const size_t limit = InstallationRecord::sizeLimit;
    const struct {
        const char* what;
        std::string content;
        bool installed;
    } cases[] = {
        {"the record alone", valid, true},
        {"white space after it", valid + " \n\t\r\n", true},
        {"white space up to the limit", valid + std::string(limit - valid.size(), ' '), true},
        {"white space beyond the limit", valid + std::string(limit - valid.size() + 1, ' '), false},
        {"one NUL byte after it", valid + std::string(1, '\0'), false},
        {"many NUL bytes after it", valid + std::string(4 * limit, '\0'), false},
        {"text after it", valid + "x", false},
        {"a second record after it", valid + valid, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test_support::writeText(root / "installed.json", c.content);
        EXPECT_EQ(Installer(root.path()).isInstalled(), c.installed);
    }
}

} // namespace
} // namespace corvanel
