#include "installer/file_ops.h"
#include "installer/installation_record.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>

namespace corvanel {
namespace {

namespace fs = std::filesystem;

TEST(InstallationRecord, EncodesCompactlyWithMembersInOrder)
{
    const InstallationRecord record{.format = 1, .launcherVersion = "0.2.1", .engine = "WS12WineCX24.0.7_7.tar.xz", .installedAt = 786'625'592.25};
    EXPECT_EQ(record.encode(),
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
    EXPECT_EQ(InstallationRecord::secondsSinceReferenceDate(system_clock::from_time_t(978'307'200 + 86'400) + std::chrono::milliseconds(500)),
              86'400.5);
}

TEST(InstallationRecord, IsWrittenInOneStep)
{
    testing::TempDir root;
    testing::writeText(root / "installed.json", "old");
    writeFileAtomically(root / "installed.json", testing::validRecordText());
    EXPECT_EQ(testing::readText(root / "installed.json"), testing::validRecordText());
    EXPECT_EQ(testing::treeOf(root.path()), std::vector<std::string>{"installed.json"}) << "nothing left aside";
}

TEST(ReadFile, FailsForAFolder)
{
    testing::TempDir root;
    EXPECT_THROW(readFile(root.path()), fs::filesystem_error);
    EXPECT_THROW(readFile(root / "missing"), fs::filesystem_error);
    testing::writeText(root / "data", std::string("a\0b", 3));
    EXPECT_EQ(readFile(root / "data"), std::string("a\0b", 3));
}

} // namespace
} // namespace corvanel
