#include "installer/installer.h"
#include "installer/platform.h"
#include "installer/setup_failure.h"
#include "installer/windows/windows_kit.h"
#include "support/archives.h"
#include "support/hostile_files.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace corvanel {
namespace {

namespace fs = std::filesystem;
using test_support::readText;
using test_support::writeText;

const char* const libraries[] = {"d3dx9_31.dll", "d3dx9_43.dll", "D3DCompiler_43.dll"};
const char* const cabinets[]
    = {"OCT2006_d3dx9_31_x86.cab", "Jun2010_d3dx9_43_x86.cab", "Jun2010_D3DCompiler_43_x86.cab"};

std::string damaged(const std::string& library)
{
    return "The game's DirectX installer is damaged or unsafe, so " + library
        + " could not be taken from it. Import the complete installer 2.1 archive again.";
}

class DirectX : public ::testing::Test {
protected:
    fs::path root() const { return temp_ / "root"; }
    fs::path game() const { return installer_.game(); }

    /// What the fixture redistributable holds for `library`, unpacked here independently.
    std::string expectedLibrary(int row) const
    {
        const fs::path scratch = temp_ / "expected";
        fs::create_directories(scratch);
        test_support::runTool(
            platform::archiver(),
            {"-xf", test_support::fixture("game/temp/directx.exe").string(), "-C", scratch.string(), cabinets[row]});
        test_support::runTool(platform::archiver(),
                              {"-xf", (scratch / cabinets[row]).string(), "-C", scratch.string(), libraries[row]});
        return readText(scratch / libraries[row]);
    }

    void expectNoStagingLeft() const
    {
        EXPECT_TRUE(test_support::entriesStartingWith(root(), "DirectX-staging-").empty());
    }

    test_support::TempDir temp_;
    std::vector<std::string> reports_;
    Installer installer_{temp_ / "root", [this](const std::string& line) { reports_.push_back(line); }};
};

TEST_F(DirectX, GameWithAllLibrariesRunsNothingAndNeedsNoInstaller)
{
    for (const char* library : libraries)
        writeText(game() / library, std::string("own ") + library);

    installer_.installDirectX();

    EXPECT_EQ(reports_, std::vector<std::string>{"Preparing the game's graphics libraries"});
    EXPECT_EQ(test_support::startedPrograms(installer_), 0);
    for (const char* library : libraries)
        EXPECT_EQ(readText(game() / library), std::string("own ") + library);
    expectNoStagingLeft();
}

TEST_F(DirectX, MissingLibraryWithoutInstallerIsNamedAndPresentOnesStay)
{
    writeText(game() / "d3dx9_31.dll", "own 31");
    writeText(game() / "d3dx9_43.dll", "own 43");

    try {
        installer_.installDirectX();
        FAIL() << "a missing library without its installer was accepted";
    } catch (const SetupFailure& failure) {
        EXPECT_EQ(failure.message(),
                  "The game is missing D3DCompiler_43.dll and its bundled DirectX installer. "
                  "Import the complete installer 2.1 archive.");
    }
    EXPECT_EQ(readText(game() / "d3dx9_31.dll"), "own 31");
    EXPECT_EQ(readText(game() / "d3dx9_43.dll"), "own 43");
    EXPECT_FALSE(fs::exists(game() / "D3DCompiler_43.dll"));
    expectNoStagingLeft();
}

TEST_F(DirectX, FixtureRedistributableYieldsEachLibraryUnchanged)
{
    test_support::copyFixtureGame(root());

    installer_.installDirectX();

    // Each archive is listed twice, then its one member extracted.
    EXPECT_EQ(test_support::startedPrograms(installer_), 18);
    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE(libraries[row]);
        EXPECT_EQ(readText(game() / libraries[row]), expectedLibrary(row));
    }
    expectNoStagingLeft();

    installer_.installDirectX();
    EXPECT_EQ(test_support::startedPrograms(installer_), 18) << "a second run extracted again";
}

TEST_F(DirectX, OnlyTheMissingLibraryIsExtracted)
{
    test_support::copyFixtureGame(root());
    writeText(game() / "d3dx9_43.dll", "own 43");
    // Any kind of entry counts as present, even a dangling link.
    fs::create_symlink("nowhere.dll", game() / "d3dx9_31.dll");

    installer_.installDirectX();

    EXPECT_EQ(test_support::startedPrograms(installer_), 6);
    EXPECT_EQ(readText(game() / "d3dx9_43.dll"), "own 43");
    EXPECT_TRUE(fs::is_symlink(game() / "d3dx9_31.dll"));
    EXPECT_EQ(readText(game() / "D3DCompiler_43.dll"), expectedLibrary(2));
}

TEST_F(DirectX, RedistributableWithoutACabinetIsCalledDamagedAndEarlierLibrariesStay)
{
    test_support::copyFixtureGame(root());
    // A redistributable holding only the first cabinet.
    const fs::path parts = temp_ / "parts";
    fs::create_directories(parts);
    test_support::runTool(
        platform::archiver(),
        {"-xf", test_support::fixture("game/temp/directx.exe").string(), "-C", parts.string(), cabinets[0]});
    fs::remove(game() / "temp" / "directx.exe");
    test_support::runTool("/usr/bin/gcab",
                          {"-c", "-n", (game() / "temp" / "directx.exe").string(), (parts / cabinets[0]).string()});

    try {
        installer_.installDirectX();
        FAIL() << "a redistributable without the second cabinet was accepted";
    } catch (const SetupFailure& failure) {
        EXPECT_EQ(failure.message(), damaged("d3dx9_43.dll"));
    }
    EXPECT_EQ(readText(game() / "d3dx9_31.dll"), expectedLibrary(0));
    EXPECT_FALSE(fs::exists(game() / "d3dx9_43.dll"));
    EXPECT_FALSE(fs::exists(game() / "D3DCompiler_43.dll"));
    // Both archives of the first row listed twice and extracted, then the second row's listings.
    EXPECT_EQ(test_support::startedPrograms(installer_), 8);
    expectNoStagingLeft();
}

// A redistributable comes with the user's game and may be hostile at either level: as the
// program itself or as the cabinet inside it. Each is refused, and nothing outside the root
// changes: not the content, the permission bits nor the link count of the file it aims at.
TEST_F(DirectX, HostileRedistributableIsRefusedAndChangesNothingOutside)
{
    const fs::path canary = temp_ / "canary";
    writeText(canary / "secret", "secret");
    fs::permissions(canary / "secret", fs::perms::owner_read | fs::perms::owner_write);
    const std::string before = test_support::treeState(canary);

    for (const char* kind :
         {"redistributable-through-link", "redistributable-member-link", "redistributable-member-twice",
          "redistributable-not-an-archive", "cabinet-through-link", "cabinet-member-link", "cabinet-member-twice"}) {
        SCOPED_TRACE(kind);
        fs::remove_all(root());
        writeText(game() / "halo2.exe", "MZ game");
        test_support::makeHostileArchive(kind, game() / "temp" / "directx.exe", canary);

        try {
            installer_.installDirectX();
            ADD_FAILURE() << "the hostile redistributable was accepted";
        } catch (const SetupFailure& failure) {
            EXPECT_EQ(failure.message(), damaged("d3dx9_31.dll"));
        }
        EXPECT_EQ(test_support::treeState(canary), before);
        EXPECT_FALSE(fs::exists(fs::symlink_status(game() / "d3dx9_31.dll")));
        expectNoStagingLeft();
    }
}

TEST_F(DirectX, LibrariesAreWrittenWithOwnerOnlyWriteWhateverTheUmask)
{
    test_support::copyFixtureGame(root());
    const test_support::ScopedUmask permissive(0);

    installer_.installDirectX();

    for (const char* library : libraries) {
        SCOPED_TRACE(library);
        EXPECT_EQ(test_support::permissionsOf(game() / library), 0644u);
    }
}

} // namespace
} // namespace corvanel
