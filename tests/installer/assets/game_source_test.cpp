#include "installer/child_process.h"
#include "installer/display_text.h"
#include "installer/file_ops.h"
#include "installer/installer.h"
#include "installer/setup_failure.h"
#include "support/archives.h"
#include "support/hostile_files.h"
#include "support/program.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace corvanel {
namespace {

using test_support::TempDir;
using test_support::writeGameFolder;
using test_support::writeText;

constexpr const char* noLongerAvailable
    = "The selected game files are no longer available. Choose your h2pc_installer_2.1 folder again.";
constexpr const char* wrongFile = "Choose your h2pc_installer_2.1 folder, its ZIP, or h2pc_data.bin.";
constexpr const char* noGame
    = "Choose the h2pc_installer_2.1 folder containing h2pc_data.bin, or a complete Halo 2 game folder.";
constexpr const char* severalGames = "More than one Halo 2 installation was found. Choose the specific game folder.";

std::string missing(const std::string& file)
{
    return "Missing " + file
        + ". Choose a complete Halo 2 Project Cartographer game folder or the h2pc_data.bin archive from installer "
          "2.1.";
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
    for (const char* name :
         {"h2pc_installer_2.1.zip", "DATA.BIN", "Game.ZIP", "notes.txt", "noextension", "archive.tar"})
        writeText(temp / "files" / name, "x");

    const struct {
        fs::path source;
        std::string outcome;
    } cases[] = {
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

/// A listening socket bound at `path`, closed when dropped.
class BoundSocket {
public:
    explicit BoundSocket(const fs::path& path)
        : fd_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.native().copy(address.sun_path, sizeof address.sun_path - 1);
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0
            || ::listen(fd_, 1) != 0)
            throw std::runtime_error("cannot bind a socket at " + path.string());
    }
    BoundSocket(const BoundSocket&) = delete;
    BoundSocket& operator=(const BoundSocket&) = delete;
    ~BoundSocket() { ::close(fd_); }

private:
    int fd_;
};

std::string onlyRegular(const fs::path& path, const char* kind)
{
    return "Only regular files can be used, but " + shownPath(path) + " is " + kind
        + ". Choose a regular file and try again.";
}

// A source that could never be read to its end is refused at once, by name and kind, before
// setup creates anything: nothing waits on a pipe and nothing reaches the archiver.
TEST_F(GameSourceTest, APipeSocketOrDeviceAsTheSourceIsRefusedAtOnce)
{
    const test_support::ReleasedFifo pipe(temp / "pipe.zip");
    fs::create_directories(temp / "folder");
    const test_support::ReleasedFifo inner(temp / "folder" / "h2pc_data.bin");
    writeText(temp / "folder" / "h2pc_installer.exe", "MZ");
    const BoundSocket socket(temp / "socket.zip");
    fs::create_symlink("/dev/zero", temp / "zero.zip");
    fs::create_symlink("/dev/null", temp / "null.bin");
    const struct {
        fs::path source;
        std::string outcome;
    } cases[] = {
        {temp / "pipe.zip", onlyRegular(temp / "pipe.zip", "a named pipe")},
        {temp / "folder", onlyRegular(temp / "folder" / "h2pc_data.bin", "a named pipe")},
        {temp / "folder" / "h2pc_installer.exe", onlyRegular(temp / "folder" / "h2pc_data.bin", "a named pipe")},
        {temp / "socket.zip", onlyRegular(temp / "socket.zip", "a socket")},
        {temp / "zero.zip", onlyRegular(temp / "zero.zip", "a device")},
        {temp / "null.bin", onlyRegular(temp / "null.bin", "a device")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        EXPECT_EQ(outcome(c.source), c.outcome);
        try {
            installer.install(c.source, std::nullopt, std::nullopt);
            ADD_FAILURE() << "setup went ahead";
        } catch (const SetupFailure& failure) {
            EXPECT_EQ(failure.message(), c.outcome);
        }
        EXPECT_FALSE(entryExists(installer.root())) << "nothing was created";
    }
    EXPECT_EQ(pipe.readersReleased(), 0) << "the pipe was opened";
    EXPECT_EQ(inner.readersReleased(), 0) << "the pipe in the folder was opened";
}

// A missing source leaves no root behind either.
TEST_F(GameSourceTest, AMissingSourceCreatesNothing)
{
    try {
        installer.install(temp / "vanished" / "h2pc_data.bin", std::nullopt, std::nullopt);
        ADD_FAILURE() << "setup went ahead";
    } catch (const SetupFailure& failure) {
        EXPECT_EQ(failure.message(), noLongerAvailable);
    }
    EXPECT_FALSE(entryExists(installer.root()));
}

// A file the user may not read is named as such, not left to the archiver to fail on. The
// test runs itself again as the user nobody, for whom permissions count.
TEST(GameSourceAccess, AFileTheUserMayNotReadIsNamed)
{
    if (::geteuid() == 0) {
        if (!test_support::canRunAsNobody())
            GTEST_SKIP() << "this machine does not allow switching to the user nobody";
        TempDir scratch;
        const fs::path log = scratch / "unprivileged.log";
        const int status = test_support::rerunAsNobody("GameSourceAccess.*", log);
        EXPECT_EQ(status, 0) << test_support::readText(log);
        return;
    }
    TempDir temp;
    writeText(temp / "h2pc_installer_2.1.zip", "PK");
    writeText(temp / "installer" / "h2pc_data.bin", "7z");
    for (const fs::path file : {temp / "h2pc_installer_2.1.zip", temp / "installer" / "h2pc_data.bin"})
        fs::permissions(file, fs::perms::none);
    const auto refusal = [](const fs::path& file) {
        return "Setup is not allowed to read " + shownPath(file)
            + ". Give your account permission to read it, or copy it somewhere you can read, then choose it again.";
    };
    const struct {
        fs::path source;
        fs::path named;
    } cases[] = {
        {temp / "h2pc_installer_2.1.zip", temp / "h2pc_installer_2.1.zip"},
        {temp / "installer", temp / "installer" / "h2pc_data.bin"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        const Installer installer(temp / "root");
        try {
            installer.install(c.source, std::nullopt, std::nullopt);
            ADD_FAILURE() << "setup went ahead";
        } catch (const SetupFailure& failure) {
            EXPECT_EQ(failure.message(), refusal(c.named));
        }
        EXPECT_FALSE(entryExists(installer.root())) << "nothing was created";
    }
}

TEST_F(GameSourceTest, ValidationNamesTheFirstMissingFile)
{
    const struct {
        std::vector<fs::path> removed;
        const char* named;
    } cases[] = {
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
        return "The installation folder " + shownPath(temp / root)
            + " lies inside the game folder you chose, so setup "
              "would copy it into itself; choose an installation folder outside the game folder.";
    };
    const std::string sourceInside = "The game files you chose lie inside the installation folder "
        + shownPath(temp / "root") + ", which setup replaces; choose game files from outside it.";
    const struct {
        const char* source;
        const char* root;
        std::string outcome;
    } cases[] = {
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
    EXPECT_THROW(Installer(temp / "game" / "Corvanel").install(temp / "game", std::nullopt, std::nullopt),
                 SetupFailure);
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
