#include "installer/child_process.h"
#include "installer/installer.h"
#include "installer/setup_failure.h"
#include "support/archives.h"
#include "support/hostile_files.h"
#include "support/program.h"
#include "support/temp_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvanel {
namespace {

using test_support::TempDir;
using test_support::treeState;
using test_support::writeGameFolder;
using test_support::writeText;

constexpr const char* onlyRegularItems = "Game imports must contain regular files and folders, without symbolic links.";
constexpr const char* unsafePaths = "The selected archive contains unsafe file paths.";
constexpr const char* emptyArchive = "The file empty.bin is not an archive setup can read, or it is empty or damaged. "
                                     "Choose h2pc_data.bin from installer 2.1, or its ZIP, then retry.";
constexpr const char* notInArchive = "The archive does not contain Halo 2. Select h2pc_data.bin from installer 2.1.";
constexpr const char* configuration = "[H2ConfigurationVersion:1]\nskip_intro = true\nfps_limit = 60\n";

/// Relative path -> content of every regular file below `folder` ("/" marks a folder).
std::map<std::string, std::string> contents(const fs::path& folder)
{
    std::map<std::string, std::string> result;
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
        const std::string name = fs::relative(item.path(), folder).string();
        result[item.is_directory() ? name + "/" : name]
            = item.is_directory() ? "" : test_support::readText(item.path());
    }
    return result;
}

std::map<std::string, std::string> installedGame(std::map<std::string, std::string> extra = {})
{
    std::map<std::string, std::string> game{
        {"halo2.exe", "MZ game"},
        {"xlive.dll", "MZ xlive"},
        {"maps/", ""},
        {"maps/shared.map", "shared"},
        {"maps/mainmenu.map", "mainmenu"},
        {"maps/single_player_shared.map", "single player"},
        {"halo2config1.ini", configuration},
    };
    game.merge(extra);
    return game;
}

struct GameImportTest : ::testing::Test {
    TempDir temp;

    /// Imports into `root` (a folder below the temporary one); the failure's text, or "imported".
    std::string import(const fs::path& source, const fs::path& root = "root")
    {
        Installer installer(temp / root);
        try {
            installer.importGame(source);
            return "imported";
        } catch (const std::exception& error) {
            return describe(error);
        }
    }

    bool stagingLeft(const fs::path& root = "root")
    {
        std::error_code error;
        for (const auto& item : fs::directory_iterator(temp / root, error))
            if (item.path().filename().string().starts_with("Game-staging-"))
                return true;
        return false;
    }
};

// Hostile archives given to the whole import: each is refused, leaves no staging folder, and
// changes nothing beside the destination.
TEST_F(GameImportTest, HostileArchivesAreRefusedWithoutTouchingAnythingOutside)
{
    writeText(temp / "canary" / "secret", "secret");
    fs::permissions(temp / "canary" / "secret", fs::perms::owner_read | fs::perms::owner_write);
    writeText(temp / "canary" / "public.txt", "public");
    writeText(temp / "canary" / "sub" / "inner.txt", "inner");
    const std::string canary = treeState(temp / "canary");

    const struct {
        const char* kind;
        const char* file;
        const char* message;
    } cases[] = {
        {"absolute", "absolute.bin", unsafePaths},
        {"parent", "parent.zip", unsafePaths},
        {"backslash-parent", "backslash-parent.bin", unsafePaths},
        {"backslash-absolute", "backslash-absolute.bin", unsafePaths},
        {"drive-letter", "drive-letter.zip", unsafePaths},
        {"drive-letter-tar", "drive-letter-tar.bin", unsafePaths},
        {"warning", "warning.bin", unsafePaths},
        {"empty", "empty.bin", emptyArchive},
        {"symlink-write", "symlink-write.bin", onlyRegularItems},
        {"symlink-left", "symlink-left.zip", onlyRegularItems},
        {"symlink-inside", "symlink-inside.zip", onlyRegularItems},
        {"symlink-hardlink", "symlink-hardlink.zip", onlyRegularItems},
        {"symlink-hardlink", "symlink-hardlink.bin", onlyRegularItems},
        {"hardlink-absolute", "hardlink-absolute.bin", onlyRegularItems},
        {"fifo", "fifo.bin", onlyRegularItems},
        {"device", "device.bin", onlyRegularItems},
        {"inner-hostile", "inner-hostile.zip", onlyRegularItems},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const fs::path archive = temp / "archives" / c.file;
        fs::create_directories(archive.parent_path());
        test_support::makeHostileArchive(c.kind, archive, temp / "canary");
        const std::string source = treeState(temp / "archives");

        EXPECT_EQ(import(archive), c.message);
        EXPECT_FALSE(stagingLeft());
        EXPECT_FALSE(fs::exists(temp / "root" / "Install" / "game"));
        EXPECT_EQ(treeState(temp / "canary"), canary);
        EXPECT_EQ(treeState(temp / "archives"), source);
        for (const auto& item :
             fs::recursive_directory_iterator(temp.path(), fs::directory_options::skip_permission_denied))
            EXPECT_THAT(item.path().filename().string(), ::testing::Not(::testing::HasSubstr("planted")))
                << item.path();
    }
}

// Folders their owner may not open must not keep the staging folder alive.
TEST_F(GameImportTest, LockedFoldersDoNotOutliveTheStagingFolder)
{
    test_support::makeHostileArchive("locked-folder", temp / "locked.bin", temp / "canary");
    const std::string outcome = import(temp / "locked.bin");
    if (::geteuid() == 0)
        EXPECT_EQ(outcome, notInArchive);
    else
        EXPECT_THAT(outcome, ::testing::HasSubstr("Permission denied")); // the tree check cannot read it
    EXPECT_FALSE(stagingLeft());
}

// The same import tests, run again by the user nobody: an unprivileged owner cannot remove a
// folder with mode 000 or create device nodes, and the tree checks meet unreadable folders.
TEST_F(GameImportTest, UnprivilegedUserGetsTheSameResults)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "already running unprivileged: the other tests cover it";
    if (!test_support::canRunAsNobody())
        GTEST_SKIP() << "this machine does not allow switching to the user nobody";
    const fs::path log = temp / "unprivileged.log";
    const int status = test_support::rerunAsNobody(
        "GameImportTest.*:UnpackTest.*:-GameImportTest.UnprivilegedUserGetsTheSameResults", log);
    EXPECT_EQ(status, 0) << test_support::readText(log);
}

// Every kind of choice travels to one installed game; the user's source stays byte-identical.
TEST_F(GameImportTest, EveryKindOfSourceEndsAsTheInstalledGame)
{
    const fs::path user = temp / "user";
    writeGameFolder(user / "game");
    writeText(user / "installer" / "h2pc_installer_2.1" / "h2pc_installer.exe", "MZ installer");
    test_support::makeArchive(user / "installer" / "h2pc_installer_2.1" / "h2pc_data.bin", "7zip", user / "game",
                              {"halo2.exe", "xlive.dll", "maps"});
    test_support::makeArchive(user / "sources" / "h2pc_installer_2.1.zip", "zip", user / "installer",
                              {"h2pc_installer_2.1"});
    fs::create_directories(user / "nested" / "Games");
    fs::copy(user / "game", user / "nested" / "Games" / "Halo 2", fs::copy_options::recursive);
    test_support::makeArchive(user / "sources" / "game-only.ZIP", "zip", user / "nested", {"Games"});
    writeText(user / "nothing" / "readme.txt", "no game here");
    test_support::makeArchive(user / "sources" / "nothing.zip", "zip", user / "nothing", {"readme.txt"});
    // A game folder whose copy holds an inner archive: the archive's game is the one installed.
    writeGameFolder(user / "packed");
    writeText(user / "packed" / "maps" / "from-archive.map", "inner");
    writeGameFolder(user / "game-with-archive");
    test_support::makeArchive(user / "game-with-archive" / "extras" / "h2pc_data.bin", "7zip", user / "packed",
                              {"halo2.exe", "xlive.dll", "maps"});

    const auto fromArchive = installedGame({{"maps/from-archive.map", "inner"}});
    const struct {
        fs::path source;
        std::string outcome;
        std::map<std::string, std::string> game = installedGame();
    } cases[] = {
        {"installer/h2pc_installer_2.1", "imported"},
        {"installer/h2pc_installer_2.1/h2pc_installer.exe", "imported"},
        {"installer/h2pc_installer_2.1/h2pc_data.bin", "imported"},
        {"sources/h2pc_installer_2.1.zip", "imported"},
        {"sources/game-only.ZIP", "imported"},
        {"game", "imported"},
        {"game/halo2.exe", "imported"},
        {"nested", "imported"},
        {"sources/nothing.zip", notInArchive},
        {"game-with-archive", "imported", fromArchive},
        {"game-with-archive/extras/h2pc_data.bin", "imported", fromArchive},
    };
    const std::string before = treeState(user);
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        const fs::path root = "root" + std::to_string(index++);
        EXPECT_EQ(import(user / c.source, root), c.outcome);
        EXPECT_FALSE(stagingLeft(root));
        if (c.outcome == "imported")
            EXPECT_EQ(contents(temp / root / "Install" / "game"), c.game);
        else
            EXPECT_FALSE(fs::exists(temp / root / "Install" / "game"));
        fs::remove_all(temp / root);
        EXPECT_EQ(treeState(user), before);
    }
}

// The fixture kit's installer folder, its ZIP and its plain game folder all install the same
// game, and the kit is left as it was.
TEST_F(GameImportTest, FixtureKitSourcesInstallTheSameGame)
{
    const fs::path kit = CORVANEL_FIXTURES_DIR;
    const std::string before = treeState(kit / "h2pc_installer_2.1") + treeState(kit / "game");
    const std::string zip = test_support::readText(kit / "h2pc_installer_2.1.zip");
    auto expected = contents(kit / "game");
    expected["halo2config1.ini"] = configuration;
    int index = 0;
    for (const char* source :
         {"h2pc_installer_2.1", "h2pc_installer_2.1.zip", "h2pc_installer_2.1/h2pc_data.bin", "game"}) {
        SCOPED_TRACE(source);
        const fs::path root = "kit" + std::to_string(index++);
        ASSERT_EQ(import(kit / source, root), "imported");
        EXPECT_EQ(contents(temp / root / "Install" / "game"), expected);
        EXPECT_FALSE(stagingLeft(root));
    }
    EXPECT_EQ(treeState(kit / "h2pc_installer_2.1") + treeState(kit / "game"), before);
    EXPECT_EQ(test_support::readText(kit / "h2pc_installer_2.1.zip"), zip);
}

TEST_F(GameImportTest, ImportingAgainReplacesTheGameAndKeepsThePrefix)
{
    writeGameFolder(temp / "first");
    writeText(temp / "first" / "maps" / "only-in-first.map", "old");
    writeGameFolder(temp / "second");
    writeText(temp / "second" / "maps" / "shared.map", "new shared");
    writeText(temp / "root" / "Install" / "prefix" / "system.reg", "registry");
    fs::create_directories(temp / "root" / "Install" / "game" / "leftover" / "locked");
    fs::permissions(temp / "root" / "Install" / "game" / "leftover" / "locked", fs::perms::none);

    ASSERT_EQ(import(temp / "first"), "imported");
    ASSERT_EQ(import(temp / "second"), "imported");
    auto expected = installedGame();
    expected["maps/shared.map"] = "new shared";
    EXPECT_EQ(contents(temp / "root" / "Install" / "game"), expected);
    EXPECT_EQ(test_support::readText(temp / "root" / "Install" / "prefix" / "system.reg"), "registry");
    EXPECT_EQ(fs::file_size(temp / "root" / "Install" / "game" / "halo2config1.ini"), 60u);
}

TEST_F(GameImportTest, TopLevelLeftoversAreRemovedAndDeeperOnesKept)
{
    writeGameFolder(temp / "game");
    for (const char* name : {"halo2config1.ini", "Halo2Config_old.ini", "HALO2CONFIG", "halo2accounts.json",
                             "Halo2Accounts_backup.bin", "imgui.ini", "ImGui.INI", "Logs/today.txt", "halo2accounts/x"})
        writeText(temp / "game" / name, "left over");
    for (const char* name : {"imgui.ini.bak", "logs.txt", "my_halo2config.ini", "maps/halo2accounts.json",
                             "maps/logs/old.txt", "maps/imgui.ini", "maps/halo2config1.ini"})
        writeText(temp / "game" / name, "kept");
    fs::create_directories(temp / "game" / "LOGS2");

    ASSERT_EQ(import(temp / "game"), "imported");
    EXPECT_EQ(contents(temp / "root" / "Install" / "game"),
              installedGame({{"imgui.ini.bak", "kept"},
                             {"logs.txt", "kept"},
                             {"my_halo2config.ini", "kept"},
                             {"maps/halo2accounts.json", "kept"},
                             {"maps/logs/", ""},
                             {"maps/logs/old.txt", "kept"},
                             {"maps/imgui.ini", "kept"},
                             {"maps/halo2config1.ini", "kept"},
                             {"LOGS2/", ""}}));
    EXPECT_EQ(test_support::readText(temp / "root" / "Install" / "game" / "halo2config1.ini"), configuration);
}

TEST_F(GameImportTest, GameFolderWithLinkOrSpecialFileIsRefusedBeforeCopying)
{
    writeGameFolder(temp / "linked");
    fs::create_symlink("/etc/passwd", temp / "linked" / "maps" / "extra.map");
    writeGameFolder(temp / "piped");
    ASSERT_EQ(::mkfifo((temp / "piped" / "maps" / "pipe").c_str(), 0600), 0);
    for (const char* source : {"linked", "piped"}) {
        SCOPED_TRACE(source);
        EXPECT_EQ(import(temp / source), onlyRegularItems);
        EXPECT_FALSE(stagingLeft());
        EXPECT_FALSE(fs::exists(temp / "root" / "Install"));
    }
}

TEST_F(GameImportTest, FolderWithoutAGameAnyMoreIsRefused)
{
    writeGameFolder(temp / "game");
    Installer installer(temp / "root");
    EXPECT_EQ(installer.gameInput(temp / "game"), temp / "game");
    fs::remove_all(temp / "game");
    EXPECT_EQ(import(temp / "game"),
              "The selected game files are no longer available. Choose your h2pc_installer_2.1 folder again.");
    EXPECT_FALSE(stagingLeft());
}

// Folders that are read-only in the archive or the chosen folder (as a ZIP's read-only
// attribute lists them) are installed, and stay replaceable by their owner; no folder of the
// installed game is writable by others, whatever the umask.
TEST_F(GameImportTest, GameFoldersEndOwnerWritableAndClosedToOthers)
{
    const test_support::ScopedUmask permissive(0);
    const fs::path source = temp / "source";
    writeGameFolder(source / "Halo 2");
    const auto setFolders = [&](fs::perms mode) {
        for (const fs::path folder : {source / "Halo 2" / "maps", source / "Halo 2"})
            fs::permissions(folder, mode);
    };
    const fs::perms readOnly = fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read
        | fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec;
    setFolders(readOnly);
    test_support::makeArchive(temp / "read-only.zip", "zip", source, {"Halo 2"});
    test_support::makeArchive(temp / "read-only.bin", "ustar", source, {"Halo 2"});
    setFolders(fs::perms::all);
    test_support::makeArchive(temp / "open.zip", "zip", source, {"Halo 2"});

    int index = 0;
    for (const fs::path chosen :
         {temp / "read-only.zip", temp / "read-only.bin", temp / "open.zip", source / "Halo 2"}) {
        SCOPED_TRACE(chosen);
        const fs::path root = "root" + std::to_string(index++);
        for (int run = 0; run < 2; ++run) {
            ASSERT_EQ(import(chosen, root), "imported");
            const fs::path game = temp / root / "Install" / "game";
            EXPECT_EQ(contents(game), installedGame());
            for (const fs::path folder : {game, game / "maps"})
                EXPECT_EQ(test_support::permissionsOf(folder) & 0722, 0700u) << folder;
        }
    }
}

// The archiver lists a byte it cannot print as an octal escape; such names are harmless.
TEST_F(GameImportTest, NamesBeginningWithALatin1OrAControlByteAreKept)
{
    int index = 0;
    for (const char* archive : {"codepage-names.bin", "codepage-names-zip.zip"}) {
        SCOPED_TRACE(archive);
        const std::string kind = fs::path(archive).stem().string();
        test_support::makeHostileArchive(kind, temp / archive, temp / "canary");
        const fs::path root = "root" + std::to_string(index++);
        ASSERT_EQ(import(temp / archive, root), "imported");
        auto expected = installedGame({{"\x9a"
                                        "ber.txt",
                                        "latin"},
                                       {"\x01"
                                        "start.txt",
                                        "control"}});
        expected["maps/single_player_shared.map"] = "sp";
        EXPECT_EQ(contents(temp / root / "Install" / "game"), expected);
    }
}

/// Clears the locale variables for its lifetime, as for an application started from Finder.
class NoLocale {
public:
    NoLocale()
    {
        for (const char* name : names) {
            if (const char* value = std::getenv(name))
                saved_[name] = value;
            ::unsetenv(name);
        }
    }
    ~NoLocale()
    {
        for (const auto& [name, value] : saved_)
            ::setenv(name.c_str(), value.c_str(), 1);
    }

private:
    static constexpr const char* names[] = {"LANG", "LC_ALL", "LC_CTYPE", "LANGUAGE"};
    std::map<std::string, std::string> saved_;
};

TEST_F(GameImportTest, NonAsciiNamesSurviveWithoutALocale)
{
    writeGameFolder(temp / "game");
    writeText(temp / "game" / "maps" / "\u00DCberfall.map", "umlaut");
    writeText(temp / "game" / "\u65E5\u672C\u8A9E" / "\u30D5\u30A1\u30A4\u30EB.txt", "japanese");
    const std::string script = "import os, sys, zipfile\n"
                               "with zipfile.ZipFile(sys.argv[2], 'w') as z:\n"
                               "    for top, folders, files in os.walk(sys.argv[1]):\n"
                               "        for f in files:\n"
                               "            p = os.path.join(top, f)\n"
                               "            z.write(p, os.path.relpath(p, sys.argv[1]))\n";
    ASSERT_EQ(test_support::runProgram(
                  {"/usr/bin/python3", "-c", script, (temp / "game").string(), (temp / "game.zip").string()}),
              0);

    {
        NoLocale noLocale;
        ASSERT_EQ(import(temp / "game.zip"), "imported");
    }
    EXPECT_EQ(contents(temp / "root" / "Install" / "game"),
              installedGame({{"maps/\u00DCberfall.map", "umlaut"},
                             {"\u65E5\u672C\u8A9E/", ""},
                             {"\u65E5\u672C\u8A9E/\u30D5\u30A1\u30A4\u30EB.txt", "japanese"}}));
}

} // namespace
} // namespace corvanel
