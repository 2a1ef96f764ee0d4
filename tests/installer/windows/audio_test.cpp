#include "demo_catalogue.h"
#include "installer/display_text.h"
#include "installer/installer.h"
#include "installer/setup_failure.h"
#include "installer/windows/windows_kit.h"
#include "support/hostile_files.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <optional>
#include <utility>

namespace corvanel {
namespace {

namespace fs = std::filesystem;
using test_support::readText;
using test_support::writeText;

const std::string notAccepted = "This audio file is not the tested Microsoft WMA 9 decoder/package. Select the "
                                "supported MPSetup.exe or WMADMOD.DLL described in the setup guide.";
const std::string foundLocally = "Found and verified the audio package in your folder";
const std::string downloading = "Downloading and verifying the audio support package";

fs::path library()
{
    return test_support::fixture("windows/wmadmod.dll");
}
fs::path package()
{
    return test_support::fixture("windows/MPSetup.exe");
}

class Audio : public ::testing::Test {
protected:
    fs::path root() const { return temp_ / "root"; }
    /// The folder the user keeps the installer in.
    fs::path folder() const { return temp_ / "h2pc_installer_2.1"; }
    fs::path result() const { return root() / "Audio-import" / "wmadmod.dll"; }

    void place(const fs::path& source, const std::string& name) const
    {
        fs::create_directories(folder());
        fs::copy_file(source, folder() / name);
    }

    Installer installer(Catalogue catalogue = demoCatalogue())
    {
        return Installer(
            root(), [this](const std::string& line) { reports_.push_back(line); }, std::move(catalogue));
    }

    /// Expects the staging folder to hold the tested library alone.
    void expectVerifiedResult(const fs::path& returned) const
    {
        EXPECT_EQ(returned, result());
        EXPECT_EQ(readText(result()), readText(library()));
        EXPECT_EQ(test_support::entriesStartingWith(root() / "Audio-import", ""),
                  std::vector<std::string>{"wmadmod.dll"});
    }

    test_support::TempDir temp_;
    std::vector<std::string> reports_;
};

TEST_F(Audio, LocalSearchChoosesByDigestInNameOrder)
{
    struct File {
        const char* name;
        fs::path source; // empty: a folder of that name
    };
    const fs::path junk = temp_ / "junk.bin";
    writeText(junk, "not a decoder");
    const struct {
        const char* what;
        std::vector<File> files;
        const char* gameInput; // below the installer folder's parent
        std::optional<std::string> expected; // entry of the installer folder
    } cases[] = {
        {"library before package",
         {{"MPSetup.exe", package()}, {"wmadmod.dll", library()}},
         "h2pc_installer_2.1",
         "wmadmod.dll"},
        {"wrong library passed over",
         {{"wmadmod.dll", junk}, {"MPSetup.exe", package()}},
         "h2pc_installer_2.1",
         "MPSetup.exe"},
        {"names in any letter case", {{"mpSETUP.Exe", package()}}, "h2pc_installer_2.1", "mpSETUP.Exe"},
        {"package under the library's name", {{"WMADMOD.DLL", package()}}, "h2pc_installer_2.1", "WMADMOD.DLL"},
        {"library under the package's name", {{"MPSetup.exe", library()}}, "h2pc_installer_2.1", "MPSetup.exe"},
        {"a folder of that name", {{"wmadmod.dll", {}}}, "h2pc_installer_2.1", std::nullopt},
        {"other names are not looked at",
         {{"wmadmod.dll.bak", library()}, {"MPSetup.exe.zip", package()}},
         "h2pc_installer_2.1",
         std::nullopt},
        {"game data file: its folder",
         {{"h2pc_data.bin", junk}, {"MPSetup.exe", package()}},
         "h2pc_installer_2.1/h2pc_data.bin",
         "MPSetup.exe"},
        {"nothing at the input: its folder", {{"wmadmod.dll", library()}}, "h2pc_installer_2.1/gone", "wmadmod.dll"},
        {"empty folder", {}, "h2pc_installer_2.1", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(folder());
        fs::create_directories(folder());
        for (const auto& file : c.files) {
            if (file.source.empty())
                fs::create_directories(folder() / file.name / "inside");
            else
                place(file.source, file.name);
        }
        const auto found = installer().localAudio(temp_ / c.gameInput);
        if (c.expected)
            EXPECT_EQ(found, folder() / *c.expected);
        else
            EXPECT_EQ(found, std::nullopt);
    }
}

TEST_F(Audio, ZipInputSearchesTheFolderHoldingIt)
{
    writeText(temp_ / "h2pc_installer_2.1.zip", "zip");
    fs::copy_file(package(), temp_ / "MPSetup.exe");
    place(library(), "wmadmod.dll"); // inside the unzipped folder: not where a ZIP input looks

    EXPECT_EQ(installer().localAudio(temp_ / "h2pc_installer_2.1.zip"), temp_ / "MPSetup.exe");
}

TEST_F(Audio, SymbolicLinksAreIgnoredAndAFolderLinkIsFollowed)
{
    fs::create_directories(folder());
    fs::create_symlink(package(), folder() / "MPSetup.exe");
    fs::create_symlink(library(), folder() / "wmadmod.dll");
    EXPECT_EQ(installer().localAudio(folder()), std::nullopt);

    fs::remove(folder() / "wmadmod.dll");
    place(library(), "wmadmod.dll");
    fs::create_directory_symlink(folder(), temp_ / "linked");
    EXPECT_EQ(installer().localAudio(temp_ / "linked"), temp_ / "linked" / "wmadmod.dll");
}

TEST_F(Audio, UnlistableFolderRaisesTheFileSystemError)
{
    writeText(temp_ / "file", "x");
    EXPECT_THROW(installer().localAudio(temp_ / "file" / "h2pc_data.bin"), fs::filesystem_error);
}

TEST_F(Audio, LibraryInTheFolderIsPreferredSoNothingIsExtracted)
{
    place(package(), "MPSetup.exe");
    place(library(), "wmadmod.dll");
    const Installer setup = installer();

    expectVerifiedResult(setup.prepareAudio(folder(), std::nullopt, std::nullopt));

    EXPECT_EQ(test_support::startedPrograms(setup), 0);
    EXPECT_EQ(reports_, std::vector<std::string>{foundLocally});
}

TEST_F(Audio, PackageInTheFolderIsUnpackedWhenTheLibraryIsWrong)
{
    place(package(), "MPSetup.exe");
    writeText(folder() / "wmadmod.dll", "not the tested decoder");
    const Installer setup = installer();

    expectVerifiedResult(setup.prepareAudio(folder() / "h2pc_data.bin", std::nullopt, std::nullopt));

    EXPECT_EQ(test_support::startedPrograms(setup), 1);
    EXPECT_EQ(reports_, std::vector<std::string>{foundLocally});
    EXPECT_EQ(readText(folder() / "wmadmod.dll"), "not the tested decoder");
}

TEST_F(Audio, ChosenFileIsUsedAloneAndAWrongOneFailsAtOnce)
{
    place(library(), "wmadmod.dll");
    writeText(temp_ / "chosen.exe", "something else");
    // Nothing may be downloaded: this address refuses connections.
    Catalogue offline = demoCatalogue();
    offline.audio.url = "https://127.0.0.1:1/MPSetup.exe";
    const Installer setup = installer(offline);

    try {
        setup.prepareAudio(folder(), temp_ / "chosen.exe", temp_ / "no-cache");
        FAIL() << "an unknown audio file was accepted";
    } catch (const SetupFailure& failure) {
        EXPECT_EQ(failure.message(), notAccepted);
    }
    EXPECT_TRUE(reports_.empty());
    EXPECT_EQ(test_support::startedPrograms(setup), 0);
    EXPECT_FALSE(fs::exists(result()));

    expectVerifiedResult(setup.prepareAudio(folder(), package(), std::nullopt));
    EXPECT_TRUE(reports_.empty());
    EXPECT_EQ(test_support::startedPrograms(setup), 1);
}

TEST_F(Audio, DownloadFailuresAreWrappedAndACachedCopySpeaksForItself)
{
    fs::create_directories(folder());
    fs::create_symlink(package(), folder() / "MPSetup.exe"); // ignored: only a link
    Catalogue offline = demoCatalogue();
    offline.audio.url = "https://127.0.0.1:1/MPSetup.exe";

    const fs::path cache = temp_ / "cache";
    writeText(cache / "MPSetup.exe", "a damaged download");
    try {
        installer(offline).prepareAudio(folder(), std::nullopt, cache);
        FAIL() << "a damaged cached package was accepted";
    } catch (const SetupFailure& failure) {
        EXPECT_EQ(failure.message(),
                  "The cached copy of MPSetup.exe in " + shownPath(cache)
                      + " failed verification, so it was not used. Remove it from that folder or "
                        "replace it with the supported file, then retry.");
    }
    EXPECT_EQ(reports_, std::vector<std::string>{downloading});

    try {
        installer(offline).prepareAudio(folder(), std::nullopt, std::nullopt);
        FAIL() << "an unreachable download succeeded";
    } catch (const SetupFailure& failure) {
        EXPECT_EQ(failure.message(),
                  "The download of MPSetup.exe could not reach its server, or the server refused "
                  "the connection. Check your internet connection and any firewall or proxy "
                  "settings, then retry; if it keeps failing, the server may be down, so try again "
                  "later. You can also place the supported MPSetup.exe in your installer folder or "
                  "select it under Advanced options.");
    }

    // A cached package that is the catalogue's but holds another library fails verification.
    const fs::path parts = temp_ / "parts";
    writeText(parts / "WMADMOD.DLL", "another decoder");
    const fs::path cabinet = temp_ / "other" / "MPSetup.exe";
    fs::create_directories(cabinet.parent_path());
    test_support::runTool("/usr/bin/gcab", {"-c", "-n", cabinet.string(), (parts / "WMADMOD.DLL").string()});
    Catalogue repackaged = offline;
    repackaged.mediaPackageHash = repackaged.audio.sha256 = test_support::digestOf(cabinet);
    try {
        installer(repackaged).prepareAudio(folder(), std::nullopt, cabinet.parent_path());
        FAIL() << "a package with another library was accepted";
    } catch (const SetupFailure& failure) {
        EXPECT_EQ(failure.message(), "Audio codec verification failed.");
    }
    EXPECT_EQ(readText(result()), "another decoder") << "the failed result stays for inspection";
}

TEST_F(Audio, CachedPackageIsUnpackedWhenNothingLiesInTheFolder)
{
    fs::create_directories(folder());
    const Installer setup = installer();

    expectVerifiedResult(setup.prepareAudio(folder(), std::nullopt, test_support::fixture("cache")));

    EXPECT_EQ(reports_, std::vector<std::string>{downloading});
}

TEST_F(Audio, EveryRunReplacesTheResult)
{
    const Installer setup = installer();
    const fs::path sources[] = {package(), library(), package()};
    for (const auto& source : sources) {
        SCOPED_TRACE(source.filename().string());
        if (fs::exists(root() / "Audio-import"))
            writeText(result(), "stale");
        expectVerifiedResult(setup.prepareAudio(folder(), source, std::nullopt));
    }
}

// A chosen audio file that is a pipe or a device would be read forever: it is refused by name
// before anything is read from it.
TEST_F(Audio, ChosenFileThatIsNoRegularFileIsRefusedByName)
{
    const test_support::ReleasedFifo pipe(temp_ / "MPSetup.exe");
    fs::create_symlink("/dev/zero", temp_ / "zero.exe");
    fs::create_directories(temp_ / "folder.exe");
    const struct {
        fs::path chosen;
        const char* kind;
    } cases[] = {
        {pipe.path(), "a named pipe"},    {"/dev/null", "a device"}, {temp_ / "folder.exe", "a folder"},
        {temp_ / "zero.exe", "a device"}, {"/dev/zero", "a device"},
    };
    fs::create_directories(folder());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chosen);
        try {
            installer().prepareAudio(folder(), c.chosen, std::nullopt);
            ADD_FAILURE() << "accepted";
        } catch (const SetupFailure& failure) {
            EXPECT_EQ(failure.message(),
                      "Only regular files can be used, but " + shownPath(c.chosen) + " is " + c.kind
                          + ". Choose a regular file and try again.");
        }
        EXPECT_FALSE(fs::exists(result()));
    }
    EXPECT_EQ(pipe.readersReleased(), 0) << "the pipe was opened";
}

TEST_F(Audio, TheLibraryIsWrittenWithOwnerOnlyWriteWhateverTheUmask)
{
    // A library carrying write permission for everyone, as the package's cabinet does.
    const fs::path open = temp_ / "open" / "wmadmod.dll";
    fs::create_directories(open.parent_path());
    fs::copy_file(library(), open);
    fs::permissions(open,
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::group_write
                        | fs::perms::others_read | fs::perms::others_write);
    const test_support::ScopedUmask permissive(0);
    for (const fs::path& source : {package(), library(), open}) {
        SCOPED_TRACE(source);
        expectVerifiedResult(installer().prepareAudio(folder(), source, std::nullopt));
        EXPECT_EQ(test_support::permissionsOf(result()), 0644u);
    }
}

// The kept library may itself be chosen, by its own path or by another name for it: it is used
// where it is, never removed or moved.
TEST_F(Audio, TheKeptLibraryCanBeChosenAndStays)
{
    const Installer setup = installer();
    expectVerifiedResult(setup.prepareAudio(folder(), library(), std::nullopt));
    fs::create_directory_symlink(root() / "Audio-import", temp_ / "kept-folder");
    fs::create_symlink(result(), temp_ / "kept.dll");
    fs::create_hard_link(result(), temp_ / "second-name.dll");
    const fs::path names[] = {result(), root() / "Audio-import" / "." / "wmadmod.dll",
                              temp_ / "kept-folder" / "wmadmod.dll", temp_ / "kept.dll", temp_ / "second-name.dll"};
    for (const auto& name : names) {
        SCOPED_TRACE(name);
        EXPECT_EQ(setup.prepareAudio(folder(), name, std::nullopt), result());
        EXPECT_EQ(readText(result()), readText(library()));
        EXPECT_TRUE(fs::exists(name));
    }
    EXPECT_EQ(test_support::startedPrograms(setup), 0);
}

// A file of the user's inside the folder where setup keeps the library (the package at the
// library's own place, or at the name of the package's member) is refused as a choice rather
// than replaced: it keeps its name and its bytes.
TEST_F(Audio, AFileInTheKeptLibrarysFolderIsRefusedAndKept)
{
    const Installer setup = installer();
    const fs::path staging = root() / "Audio-import";
    for (const auto& [name, source] : {std::pair{"wmadmod.dll", package()}, std::pair{"WMADMOD.DLL", package()},
                                       std::pair{"other.dll", library()}}) {
        SCOPED_TRACE(name);
        fs::remove_all(staging);
        fs::create_directories(staging);
        fs::copy_file(source, staging / name);
        try {
            setup.prepareAudio(folder(), staging / name, std::nullopt);
            ADD_FAILURE() << "accepted";
        } catch (const SetupFailure& failure) {
            EXPECT_EQ(std::string(failure.what()),
                      "The audio file you selected, " + shownPath(staging / name)
                          + ", is inside Corvanel's own folder, where setup replaces "
                            "it. Copy it to another folder, then select it there.");
        }
        EXPECT_EQ(readText(staging / name), readText(source));
    }
    EXPECT_EQ(test_support::startedPrograms(setup), 0);
}

} // namespace
} // namespace corvanel
