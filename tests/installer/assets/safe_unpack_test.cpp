#include "installer/assets/safe_unpack.h"
#include "installer/installer.h"
#include "installer/setup_failure.h"
#include "support/archives.h"
#include "support/temp_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace corvanel {
namespace {

using test_support::TempDir;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr const char* onlyRegularItems = "Game imports must contain regular files and folders, without symbolic links.";
constexpr const char* unsafePaths = "The selected archive contains unsafe file paths.";
constexpr const char* emptyArchive = "The file empty.bin is not an archive setup can read, or it is empty or damaged. "
                                     "Choose h2pc_data.bin from installer 2.1, or its ZIP, then retry.";

TEST(SafeArchiveEntry, KeepsEveryNameInsideTheDestination)
{
    const struct {
        std::string name;
        bool safe;
    } cases[] = {
        {"/etc/passwd", false},
        {"\\Windows\\evil.dll", false},
        {"C:", false},
        {"C:/evil.txt", false},
        {"C:\\evil.txt", false},
        {"c:evil.txt", false},
        {"../evil.txt", false},
        {"..\\evil.txt", false},
        {"maps/../../evil.txt", false},
        {"maps\\..\\..\\evil.txt", false},
        {"maps/..", false},
        {"..", false},
        {std::string("maps/a\0b", 8), false},
        {"bsdtar: Damaged tar archive", false},
        {"maps/shared.map", true},
        {"./maps/shared.map", true},
        {"maps//shared.map", true},
        {"..maps/shared.map", true},
        {"maps/...", true},
        {"maps/C:shared.map", true},
        {"maps/", true},
        {"", true},
        {"/", false},
        {"//", false},
        {".", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(safeArchiveEntry(c.name), c.safe);
    }
}

TEST(ListedNames, EscapesAreDecodedBeforeTheNameIsJudged)
{
    const struct {
        std::string listed;
        std::string stored;
        bool safe;
    } cases[] = {
        {"\\232ber.txt",
         "\x9a"
         "ber.txt",
         true},
        {"\\001start.txt",
         "\x01"
         "start.txt",
         true},
        {"maps/\\303\\234ber.map", "maps/\u00DCber.map", true},
        {"\\nline\\t\\a\\b\\f\\r\\v", "\nline\t\a\b\f\r\v", true},
        {"a\\\\b.txt", "a\\b.txt", true},
        {"\\\\evil.txt", "\\evil.txt", false},
        {"\\000.txt", std::string("\0.txt", 5), false},
        {"\\200/../x", "\x80/../x", false},
        {"maps\\9", "maps\\9", true}, // no escape: the backslash stays
        {"\\q", "\\q", false}, // ... and a leading one is a separator
        {"end\\", "end\\", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.listed);
        EXPECT_EQ(decodeListedName(c.listed), c.stored);
        EXPECT_EQ(safeArchiveEntry(decodeListedName(c.listed)), c.safe);
    }
}

TEST(VerboseListing, OnlyRegularMemberAcceptsOneFileOfThatNameAndNothingBelowIt)
{
    const std::string cab = "-rw-r--r--  0 0      0          10 Jan  1  1970 member.cab\n";
    const std::string other = "-rw-r--r--  0 0      0          10 Jan  1  1970 other.cab\n";
    const struct {
        const char* what;
        std::vector<std::string> names;
        std::string verbose;
        bool accepted;
    } cases[] = {
        {"the member among others", {"other.cab", "member.cab"}, other + cab, true},
        {"the member missing", {"other.cab"}, other, false},
        {"the member twice",
         {"member.cab", "./member.cab"},
         cab + "-rw-r--r--  0 0      0          10 Jan  1  1970 ./member.cab\n",
         false},
        {"the member as a folder",
         {"member.cab/"},
         "drwxr-xr-x  0 0      0           0 Jan  1  1970 member.cab/\n",
         false},
        {"entries below the member",
         {"member.cab/s", "member.cab"},
         "-rw-r--r--  0 0      0           1 Jan  1  1970 member.cab/s\n" + cab,
         false},
        {"the member as a link",
         {"member.cab"},
         "lrw-r--r--  0 0      0           0 Jan  1  1970 member.cab -> /etc\n",
         false},
        {"the member as a hard link with data",
         {"member.cab"},
         "-rwxrwxrwx  0 0      0           5 Jan  1  1970 member.cab link to x\n",
         false},
        {"a link elsewhere",
         {"member.cab", "s"},
         cab + "lrw-r--r--  0 0      0           0 Jan  1  1970 s -> /etc\n",
         false},
        {"an unsafe name elsewhere",
         {"member.cab", "../x"},
         cab + "-rw-r--r--  0 0      0           1 Jan  1  1970 ../x\n",
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(onlyRegularMember(c.names, parseVerboseListing(c.verbose), "member.cab"), c.accepted);
    }
}

TEST(VerboseListing, ReadsTypesAndNamesOfTheArchiverLines)
{
    const auto entries
        = parseVerboseListing("drwxr-xr-x  0 0      0           0 Jan  1  1970 dir/\n"
                              "-rw-r--r--  0 1000   1000        2 Dec 10 05:03 dir/file with -> arrow.txt\n"
                              "lrw-r--r--  0 0      0           0 Jan  1  1970 s -> ../outside\n"
                              "hrw-r--r--  0 0      0           0 Jan  1  1970 bar link to s\n"
                              "-rwxrwxrwx  0 0      0           0 Jan  1  1970 data link to s\n"
                              "prw-r--r--  0 0      0           0 Jan  1  1970 fifo\n"
                              "crw-r--r--  0 0      0         1,3 Jan  1  1970 null\n"
                              "brw-r--r--  0 0      0         7,0 Jan  1  1970 disk\n"
                              "-rw-r--r--+ 0 0      0           1 Jan  1  1970  leading space\n"
                              "\n"
                              "bsdtar: Damaged tar archive\n"
                              "-rw-r--r--  0 0      0           1 Jan  1  1970\n");
    const struct {
        EntryType type;
        const char* name;
    } expected[] = {
        {EntryType::folder, "dir/"},
        {EntryType::file, "dir/file with -> arrow.txt"},
        {EntryType::symlink, "s"},
        {EntryType::hardlink, "bar"},
        {EntryType::file, "data link to s"}, // a hard link that carries a file type; only the plain listing tells
        {EntryType::fifo, "fifo"},
        {EntryType::character, "null"},
        {EntryType::block, "disk"},
        {EntryType::file, " leading space"},
        {EntryType::unreadable, "bsdtar: Damaged tar archive"},
        {EntryType::unreadable, "-rw-r--r--  0 0      0           1 Jan  1  1970"},
    };
    ASSERT_EQ(entries.size(), std::size(expected));
    for (size_t i = 0; i < entries.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(entries[i].type, expected[i].type);
        EXPECT_EQ(entries[i].name, expected[i].name);
    }
}

TEST(VerboseListing, AcceptsOnlyFilesAndFoldersNamedAsInThePlainListing)
{
    const std::string folder = "drwxr-xr-x  0 0      0           0 Jan  1  1970 maps/\n";
    const std::string file = "-rw-r--r--  0 0      0           6 Jan  1  1970 maps/shared.map\n";
    const struct {
        const char* what;
        std::vector<std::string> names;
        std::string verbose;
        bool accepted;
    } cases[] = {
        {"files and folders", {"maps/", "maps/shared.map"}, folder + file, true},
        {"a hard link shown as a file",
         {"maps/", "bar"},
         folder + "-rwxrwxrwx  0 0      0           0 Jan  1  1970 bar link to s\n",
         false},
        {"a symbolic link", {"s"}, "lrw-r--r--  0 0      0           0 Jan  1  1970 s -> /etc\n", false},
        {"a FIFO", {"p"}, "prw-r--r--  0 0      0           0 Jan  1  1970 p\n", false},
        {"one entry more in the plain listing", {"maps/", "maps/shared.map", "extra"}, folder + file, false},
        {"one entry more in the verbose listing", {"maps/shared.map"}, folder + file, false},
        {"entries in another order", {"maps/shared.map", "maps/"}, folder + file, false},
        {"a warning line", {"maps/"}, "bsdtar: Damaged tar archive\n", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(onlyFilesAndFolders(c.names, parseVerboseListing(c.verbose)), c.accepted);
    }
}

struct UnpackTest : ::testing::Test {
    TempDir temp;
    std::vector<std::string> lines;
    Installer installer{temp / "root", [this](const std::string& line) { lines.push_back(line); }};
};

TEST_F(UnpackTest, ListsExtractsAndReportsTheAmountUnpacked)
{
    test_support::writeGameFolder(temp / "game");
    const size_t gameBytes = 7 + 8 + 6 + 8 + 13;
    test_support::writeText(temp / "game" / "maps" / "big.map", std::string(2'000'000 - gameBytes, 'x'));
    fs::permissions(temp / "game" / "halo2.exe", fs::perms::all | fs::perms::set_uid);
    test_support::makeArchive(temp / "game.zip", "zip", temp / "game", {"halo2.exe", "xlive.dll", "maps"});

    installer.unpackUserArchive(temp / "game.zip", temp / "out");

    EXPECT_EQ(test_support::readText(temp / "out" / "maps" / "big.map").size(), 2'000'000 - gameBytes);
    // Ownership and permission bits recorded in the archive are not applied as they are.
    const auto mode = fs::status(temp / "out" / "halo2.exe").permissions();
    EXPECT_EQ(mode & fs::perms::set_uid, fs::perms::none);
    const mode_t mask = ::umask(022);
    ::umask(mask);
    EXPECT_EQ(static_cast<mode_t>(mode & fs::perms::mask), 0777 & ~mask);

    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines.front(), "Checking game.zip");
    EXPECT_THAT(lines, ::testing::Contains("Extracting game.zip. Large game archives can take several minutes."));
    // The first line comes as the archiver starts, which may already have written a little;
    // the elapsed time depends on how busy the machine is.
    EXPECT_THAT(lines,
                ::testing::Contains(::testing::MatchesRegex(
                    "Extracting game.zip \u00B7 (Zero KB|[0-9]+ bytes|[0-9.]+ KB) unpacked \u00B7 [0-9]+s elapsed")));
    EXPECT_EQ(installer.extractedBytes(temp / "out"), 2'000'000);
    EXPECT_THAT(lines,
                ::testing::Contains(
                    ::testing::MatchesRegex("Extracting game.zip \u00B7 2 MB unpacked \u00B7 [0-9]+s elapsed")));
    EXPECT_EQ(lines.back(), "Verifying extracted files");
}

TEST_F(UnpackTest, RefusedListingCreatesNothing)
{
    const struct {
        const char* kind;
        const char* message;
    } cases[] = {
        {"empty", emptyArchive},
        {"fifo", onlyRegularItems},
        {"device", onlyRegularItems},
        {"symlink-hardlink", onlyRegularItems},
        {"parent", unsafePaths},
        {"warning", unsafePaths},
        {"symlink-inside", onlyRegularItems},
        {"hardlink-absolute", onlyRegularItems},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        const fs::path archive = temp / (std::string(c.kind) + ".bin");
        test_support::makeHostileArchive(c.kind, archive, temp / "canary");
        try {
            installer.unpackUserArchive(archive, temp / "out");
            ADD_FAILURE() << "unpacked";
        } catch (const SetupFailure& failure) {
            EXPECT_EQ(failure.message(), c.message);
        }
        EXPECT_FALSE(fs::exists(temp / "out"));
    }
}

TEST_F(UnpackTest, AFileTheArchiverCannotReadIsNamedAsNoArchive)
{
    std::string zeros(1 << 16, '\0');
    const struct {
        const char* name;
        std::string content;
    } cases[] = {
        {"broken.zip", "this is not an archive"},
        {"h2pc_data.bin", zeros},
        {"cut.zip", "PK\x03\x04" + zeros.substr(0, 100)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test_support::writeText(temp / c.name, c.content);
        try {
            installer.unpackUserArchive(temp / c.name, temp / "out");
            ADD_FAILURE() << "unpacked";
        } catch (const SetupFailure& failure) {
            EXPECT_EQ(failure.message(),
                      "The file " + std::string(c.name)
                          + " is not an archive setup can read, or it "
                            "is empty or damaged. Choose h2pc_data.bin from installer 2.1, or its ZIP, then retry.");
        }
        EXPECT_FALSE(fs::exists(temp / "out"));
    }
}

TEST_F(UnpackTest, RejectSymlinksRefusesLinksAndSpecialFilesAtAnyDepth)
{
    test_support::writeGameFolder(temp / "clean");
    test_support::writeText(temp / "clean" / ".hidden" / "file", "x");
    EXPECT_NO_THROW(installer.rejectSymlinks(temp / "clean"));
    EXPECT_NO_THROW(installer.rejectSymlinks(temp / "missing"));

    const auto refused = [&](const fs::path& folder) {
        try {
            installer.rejectSymlinks(folder);
            ADD_FAILURE() << folder << " accepted";
        } catch (const SetupFailure& failure) {
            EXPECT_EQ(failure.message(), onlyRegularItems);
        }
    };
    test_support::writeGameFolder(temp / "inside");
    fs::create_symlink("shared.map", temp / "inside" / "maps" / ".alias.map");
    refused(temp / "inside");
    test_support::writeGameFolder(temp / "dangling");
    fs::create_symlink("/nowhere", temp / "dangling" / "maps" / "gone");
    refused(temp / "dangling");
    test_support::writeGameFolder(temp / "fifo");
    ASSERT_EQ(::mkfifo((temp / "fifo" / "maps" / "pipe").c_str(), 0600), 0);
    refused(temp / "fifo");
}

TEST_F(UnpackTest, ExtractedBytesCountsRegularFilesOnly)
{
    EXPECT_EQ(installer.extractedBytes(temp / "missing"), 0);
    test_support::writeText(temp / "tree" / "a", std::string(10, 'a'));
    test_support::writeText(temp / "tree" / ".hidden" / "deep" / "b", std::string(20, 'b'));
    fs::create_directories(temp / "tree" / "empty");
    fs::create_symlink(temp / "tree" / "a", temp / "tree" / "link");
    fs::create_directory_symlink(temp / "tree" / ".hidden", temp / "tree" / "folder-link");
    ASSERT_EQ(::mkfifo((temp / "tree" / "pipe").c_str(), 0600), 0);
    EXPECT_EQ(installer.extractedBytes(temp / "tree"), 30);
}

} // namespace
} // namespace corvanel
