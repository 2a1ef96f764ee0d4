#include "installer/display_text.h"
#include "installer/file_ops.h"
#include "installer/installer.h"
#include "installer/setup_failure.h"
#include "support/archives.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace corvanel {
namespace {

using testing::TempDir;
using testing::writeGameFolder;
using testing::writeText;

constexpr const char* noLongerAvailable =
    "The selected game files are no longer available. Choose your h2pc_installer_2.1 folder again.";
constexpr const char* wrongFile = "Choose your h2pc_installer_2.1 folder, its ZIP, or h2pc_data.bin.";
constexpr const char* noGame =
    "Choose the h2pc_installer_2.1 folder containing h2pc_data.bin, or a complete Halo 2 game folder.";
constexpr const char* severalGames = "More than one Halo 2 installation was found. Choose the specific game folder.";

std::string missing(const std::string& file)
{
    return "Missing " + file
           + ". Choose a complete Halo 2 Project Cartographer game folder or the h2pc_data.bin archive from installer 2.1.";
}

struct GameSourceTest : ::testing::Test {
    TempDir temp;
    Installer installer{temp / "root"};

    /// gameInput's result relative to the temporary folder, or its failure's message.
    std::string outcome(const fs::path& source)
    {
        try {
            return "-> " + fs::relative(installer.gameInput(source), temp.path()).string();
        } catch (const SetupFailure& failure) {
            return failure.message();
        }
    }
};

TEST_F(GameSourceTest, ResolvesEveryKindOfChoice)
{
    writeText(temp / "installer" / "h2pc_installer.exe", "MZ");
    writeText(temp / "installer" / "h2pc_data.bin", "7z");
    writeGameFolder(temp / "installer" / "unpacked" / "game"); // the archive wins over it
    writeGameFolder(temp / "game");
    writeGameFolder(temp / "deep" / "a" / "b" / "c" / "Halo 2");
    writeText(temp / "deep" / "a" / "notes.txt", "x");
    writeGameFolder(temp / "hidden" / "visible");
    writeGameFolder(temp / "hidden" / ".backup" / "game");
    writeGameFolder(temp / "hidden" / "visible" / ".old"); // inside a hidden folder: unseen
    writeGameFolder(temp / "two" / "first");
    writeText(temp / "two" / "second" / "halo2.exe", "incomplete copy");
    writeText(temp / "upper" / "sub" / "HALO2.EXE", "MZ");
    writeText(temp / "incomplete" / "halo2.exe", "MZ");
    fs::create_directories(temp / "empty");
    for (const char* name : {"h2pc_installer_2.1.zip", "DATA.BIN", "Game.ZIP", "notes.txt", "noextension", "archive.tar"})
        writeText(temp / "files" / name, "x");

    const struct { fs::path source; std::string outcome; } cases[] = {
        {"installer", "-> installer/h2pc_data.bin"},
        {"installer/h2pc_installer.exe", "-> installer/h2pc_data.bin"},
        {"installer/h2pc_data.bin", "-> installer/h2pc_data.bin"},
        {"files/h2pc_installer_2.1.zip", "-> files/h2pc_installer_2.1.zip"},
        {"files/DATA.BIN", "-> files/DATA.BIN"},
        {"files/Game.ZIP", "-> files/Game.ZIP"},
        {"files/notes.txt", wrongFile},
        {"files/noextension", wrongFile},
        {"files/archive.tar", wrongFile},
        {"game", "-> game"},
        {"game/halo2.exe", "-> game"},
        {"game/maps/shared.map", wrongFile},
        {"deep", "-> deep/a/b/c/Halo 2"},
        {"hidden", "-> hidden/visible"},
        {"two", severalGames},
        {"upper", missing("halo2.exe")}, // found in any case, validated by its exact name
        {"incomplete/halo2.exe", missing("xlive.dll")},
        {"empty", noGame},
        {"files", noGame},
        {"vanished", noLongerAvailable},
        {"vanished/halo2.exe", noLongerAvailable},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        EXPECT_EQ(outcome(temp / c.source), c.outcome);
    }
}

TEST_F(GameSourceTest, ValidationNamesTheFirstMissingFile)
{
    const struct { std::vector<fs::path> removed; const char* named; } cases[] = {
        {{"halo2.exe"}, "halo2.exe"},
        {{"xlive.dll"}, "xlive.dll"},
        {{"maps/shared.map"}, "maps/shared.map"},
        {{"maps/mainmenu.map"}, "maps/mainmenu.map"},
        {{"maps/single_player_shared.map"}, "maps/single_player_shared.map"},
        {{"xlive.dll", "maps"}, "xlive.dll"},
        {{"maps/mainmenu.map", "maps/shared.map"}, "maps/shared.map"},
    };
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.named);
        const fs::path game = temp / std::to_string(index++);
        writeGameFolder(game);
        for (const auto& item : c.removed)
            fs::remove_all(game / item);
        try {
            installer.validateGame(game);
            ADD_FAILURE() << "accepted";
        } catch (const SetupFailure& failure) {
            EXPECT_EQ(failure.message(), missing(c.named));
        }
    }
    writeGameFolder(temp / "complete");
    fs::remove(temp / "complete" / "xlive.dll");
    fs::create_symlink("nowhere.dll", temp / "complete" / "xlive.dll"); // any entry counts
    EXPECT_NO_THROW(installer.validateGame(temp / "complete"));
}

TEST_F(GameSourceTest, LocateFindsOneGameFolderWithoutFollowingLinks)
{
    writeText(temp / "upper" / "sub" / "HALO2.EXE", "MZ");
    EXPECT_EQ(installer.locateGame(temp / "upper"), temp / "upper" / "sub");
    writeText(temp / "direct" / "halo2.exe", "MZ");
    writeText(temp / "direct" / "copy" / "halo2.exe", "MZ"); // never walked: the direct test wins
    EXPECT_EQ(installer.locateGame(temp / "direct"), temp / "direct");
    writeText(temp / "case" / "a" / "halo2.exe", "MZ");
    writeText(temp / "case" / "a" / "Halo2.exe", "MZ"); // two names, one folder
    EXPECT_EQ(installer.locateGame(temp / "case"), temp / "case" / "a");
    writeGameFolder(temp / "elsewhere" / "game");
    fs::create_directories(temp / "linked");
    fs::create_directory_symlink(temp / "elsewhere", temp / "linked" / "link");
    EXPECT_EQ(installer.locateGame(temp / "linked"), std::nullopt);
    EXPECT_EQ(installer.locateGame(temp / "missing"), std::nullopt);
}

// A root inside the chosen game folder would be copied into itself, and a source inside the
// root's own layout is what setup replaces: both are refused before anything is copied,
// whichever names lead to the folders.
TEST(GameSourceNesting, RootAndSourceMustLieApart)
{
    TempDir temp;
    writeGameFolder(temp / "game");
    fs::create_directory_symlink(temp / "game", temp / "game-link");
    writeGameFolder(temp / "root" / "Install" / "game");
    writeText(temp / "root" / "Downloads" / "h2pc_data.bin", "archive");
    writeText(temp / "root" / "Game-staging-8C1F0D4B-2A57-4E43-9A1D-3C5E7F9B1D2E" / "h2pc_data.bin", "archive");
    writeGameFolder(temp / "root-other" / "game");

    const auto rootInside = [&](const fs::path& root) {
        return "The installation folder " + shownPath(temp / root) + " lies inside the game folder you chose, so setup "
               "would copy it into itself; choose an installation folder outside the game folder.";
    };
    const std::string sourceInside = "The game files you chose lie inside the installation folder "
                                     + shownPath(temp / "root") + ", which setup replaces; choose game files from outside it.";
    const struct { const char* source; const char* root; std::string outcome; } cases[] = {
        {"game", "game", rootInside("game")},
        {"game", "game/Corvanel", rootInside("game/Corvanel")},
        {"game/halo2.exe", "game/maps/Corvanel", rootInside("game/maps/Corvanel")},
        {"game-link", "game/Corvanel", rootInside("game/Corvanel")},
        {"game", "game-link/Corvanel", rootInside("game-link/Corvanel")},
        {"root/Install/game", "root", sourceInside},
        {"root/Install/game/halo2.exe", "root", sourceInside},
        {"root/Downloads/h2pc_data.bin", "root", sourceInside},
        {"root/Game-staging-8C1F0D4B-2A57-4E43-9A1D-3C5E7F9B1D2E", "root", sourceInside},
        {"game", "root", "-> game"},
        {"root-other/game", "root", "-> root-other/game"},
        {"game", "game-other/Corvanel", "-> game"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.source) + " into " + c.root);
        std::string outcome;
        try {
            outcome = "-> " + fs::relative(Installer(temp / c.root).gameInput(temp / c.source), temp.path()).string();
        } catch (const SetupFailure& failure) {
            outcome = failure.message();
        }
        EXPECT_EQ(outcome, c.outcome);
    }
}

// Setup refuses such a root before creating it: no folder, lock or log lands in the game folder.
TEST(GameSourceNesting, SetupLeavesNoTraceInTheGameFolder)
{
    TempDir temp;
    writeGameFolder(temp / "game");
    EXPECT_THROW(Installer(temp / "game" / "Corvanel").install(temp / "game", std::nullopt, std::nullopt), SetupFailure);
    EXPECT_FALSE(entryExists(temp / "game" / "Corvanel"));
}

TEST_F(GameSourceTest, TheWalkNeverEntersTheRoot)
{
    const Installer nested(temp / "games" / "Corvanel");
    writeGameFolder(temp / "games" / "Corvanel" / "Install" / "game");
    writeGameFolder(temp / "games" / "Halo 2");
    EXPECT_EQ(nested.locateGame(temp / "games"), temp / "games" / "Halo 2");
}

} // namespace
} // namespace corvanel
