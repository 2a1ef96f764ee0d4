#include "installer/file_ops.h"
#include "installer/installer.h"
#include "installer/setup_failure.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <system_error>

namespace corvanel {
namespace {

TEST(Describe, GivesEachErrorAsOneCompleteSentence)
{
    using std::filesystem::filesystem_error;
    const auto exists = std::make_error_code(std::errc::file_exists);
    const auto missing = std::make_error_code(std::errc::no_such_file_or_directory);
    EXPECT_EQ(describe(SetupFailure("Free some space and retry.")), "Free some space and retry.");
    EXPECT_EQ(describe(filesystem_error("Unable to create the folder", "/x/y", exists)),
              "Unable to create the folder /x/y: File exists.");
    EXPECT_EQ(describe(filesystem_error("Unable to move", "/a b", "/c", exists)),
              "Unable to move /a b to /c: File exists.");
    EXPECT_EQ(describe(filesystem_error("cannot create directories", "/x", missing)),
              "Cannot create directories /x: No such file or directory.");
    EXPECT_EQ(describe(filesystem_error("", "/x", missing)), "No such file or directory: /x.");
    EXPECT_EQ(describe(filesystem_error("", missing)), "No such file or directory.");
    EXPECT_EQ(describe(std::system_error(ENOENT, std::generic_category(), "Unable to start /bin/x")),
              "Unable to start /bin/x: No such file or directory.");
    EXPECT_EQ(describe(std::system_error(ENOSPC, std::generic_category())), "No space left on device.");
    EXPECT_EQ(describe(std::runtime_error("Something went wrong.")), "Something went wrong.");
}

TEST(Describe, NamesTheFolderThatCouldNotBeCreated)
{
    test_support::TempDir folder;
    test_support::writeText(folder / "file", "");
    for (const fs::path target : {folder / "file", folder / "file/below"}) {
        SCOPED_TRACE(target.string());
        try {
            makeDirectory(target);
            ADD_FAILURE() << "created";
        } catch (const fs::filesystem_error& error) {
            EXPECT_EQ(describe(error), "Unable to create the folder " + target.string() + ": Not a directory.");
        }
    }
    makeDirectory(folder / "a/b/c");
    makeDirectory(folder / "a/b/c");
    EXPECT_TRUE(fs::is_directory(folder / "a/b/c"));
}

} // namespace
} // namespace corvanel
