#include "installer/assets/sha256.h"
#include "installer/display_text.h"
#include "installer/installer.h"
#include "installer/setup_failure.h"
#include "support/digest.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include <sys/resource.h>
#include <unistd.h>

namespace corvanel {

namespace {

using test_support::digestOf;

std::string pattern(size_t size)
{
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
    return data;
}

long peakResidentKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

TEST(Sha256, KnownDigestsInLowerCaseHex)
{
    test_support::TempDir dir;
    const struct {
        const char* label;
        std::string content;
        const char* digest;
    } cases[] = {
        {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"a million a", std::string(1'000'000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        test_support::writeText(dir / c.label, c.content);
        EXPECT_EQ(sha256(dir / c.label), c.digest);
    }
}

TEST(Sha256, SizesAroundTheReadChunkGiveTheWholeFilesDigest)
{
    test_support::TempDir dir;
    constexpr size_t mebibyte = 1 << 20;
    for (size_t size : {mebibyte - 1, mebibyte, mebibyte + 1, 3 * mebibyte + 17}) {
        SCOPED_TRACE(size);
        const std::string data = pattern(size);
        test_support::writeText(dir / "file", data);
        EXPECT_EQ(sha256(dir / "file"), digestOf(data));
    }
}

TEST(Sha256, OpenAndReadFailuresAreRaised)
{
    test_support::TempDir dir;
    try {
        sha256(dir / "missing");
        FAIL() << "no error for a missing file";
    } catch (const std::filesystem::filesystem_error& error) {
        EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory);
        EXPECT_EQ(error.path1(), dir / "missing");
    }
    try {
        sha256(dir.path());
        FAIL() << "no error for a folder";
    } catch (const SetupFailure& failure) {
        EXPECT_EQ(failure.message(),
                  "Only regular files can be used, but " + shownPath(dir.path())
                      + " is a folder. Choose a regular file and try again.");
    }
    if (::geteuid() != 0) {
        test_support::writeText(dir / "locked", "secret");
        std::filesystem::permissions(dir / "locked", std::filesystem::perms::none);
        EXPECT_THROW(sha256(dir / "locked"), std::filesystem::filesystem_error);
    }
}

// A digest of a whole gibibyte must not cost a gibibyte of memory. The file is sparse, so the
// test writes almost nothing to disk; openssl's own digest of it confirms every byte was read.
TEST(Sha256, AGibibyteIsHashedInConstantMemory)
{
    test_support::TempDir dir;
    const auto file = dir / "large";
    {
        std::ofstream(file, std::ios::binary).put('x');
    }
    std::filesystem::resize_file(file, 1ull << 30);

    const long before = peakResidentKilobytes();
    const std::string digest = sha256(file);
    const long growth = peakResidentKilobytes() - before;
    EXPECT_LT(growth, 16 * 1024) << "peak resident set grew by " << growth << " KB";

    std::string expected;
    if (FILE* openssl = ::popen(("openssl dgst -sha256 -r '" + file.string() + "'").c_str(), "r")) {
        char line[256] = {};
        if (std::fgets(line, sizeof line, openssl))
            expected.assign(line, 64);
        ::pclose(openssl);
    }
    EXPECT_EQ(digest, expected);
}

} // namespace corvanel
