// What repair finds and what it refuses, on small stand-in installations (no Wine runs here).
#include "app/cli.h"
#include "installer/install_lock.h"
#include "installer/installer.h"
#include "support/archives.h"
#include "support/digest.h"
#include "support/program.h"
#include "support/runtime_choice.h"
#include "support/temp_dir.h"
#include "support/user_sentences.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <sstream>

#include <sys/stat.h>

namespace corvanel {
namespace {

namespace fs = std::filesystem;
using test_support::TempDir;
using test_support::writeText;

const std::string decoderBytes = "MZ decoder";

/// A catalogue that accepts the stand-in decoder; nothing is ever downloaded here.
Catalogue standInCatalogue()
{
    Catalogue catalogue = releaseCatalogue();
    catalogue.codecHash = test_support::digestOf(decoderBytes);
    return catalogue;
}

/// Everything repair looks at, in place and valid.
void makeCompleteRoot(const fs::path& root)
{
    test_support::makeInstalledState(root);
    writeText(root / "Install/prefix/drive_c/windows/syswow64/wmadmod.dll", decoderBytes);
    writeText(root / "launcher.lock", "");
    fs::permissions(root / "launcher.lock", fs::perms::owner_read | fs::perms::owner_write); // as the launcher makes it
}

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

Outcome repairCli(const fs::path& root)
{
    std::ostringstream out, err;
    const int status = runCLI({"corvanel", "--cli", "--repair", "--home", root.string()}, out, err, standInCatalogue());
    return {status, out.str(), err.str()};
}

std::string deleteRecordAdvice(const fs::path& root)
{
    return ", so the game files need to be set up again; nothing was changed. Delete installed.json in " + root.string()
        + ", then set up again from your h2pc_installer_2.1 folder; your saves are kept.\n";
}

TEST(Repair, RefusesWhatItCannotRepairAndChangesNothing)
{
    TempDir folder;
    const struct {
        const char* name;
        std::function<void(const fs::path&)> damage;
        std::function<std::string(const fs::path&)> message;
    } cases[] = {
        {"no record", [](const fs::path& root) { fs::remove(root / "installed.json"); },
         [](const fs::path& root) {
             return "There is no installation to repair in " + root.string() + ". Set up Halo 2 first.\n";
         }},
        {"record of another format",
         [](const fs::path& root) {
             writeText(root / "installed.json", R"({"format":2,"launcherVersion":"9","engine":"e","installedAt":1})");
         },
         [](const fs::path&) {
             return std::string("This installation was recorded in format 2, which this version of Corvanel cannot "
                                "repair, so nothing was changed. Update Corvanel, then retry.\n");
         }},
        {"record is a folder",
         [](const fs::path& root) {
             fs::remove(root / "installed.json");
             fs::create_directory(root / "installed.json");
         },
         [](const fs::path& root) {
             return "The installation record installed.json is a folder, so nothing was changed. Move it out of "
                 + root.string() + ", then set up Halo 2 again.\n";
         }},
        {"game executable missing", [](const fs::path& root) { fs::remove(root / "Install/game/halo2.exe"); },
         [](const fs::path& root) { return "The game file halo2.exe is missing" + deleteRecordAdvice(root); }},
        {"a map missing, with the runtime gone too",
         [](const fs::path& root) {
             fs::remove(root / "Install/game/maps/shared.map");
             fs::remove_all(root / "Runtime");
         },
         [](const fs::path& root) { return "The game file maps/shared.map is missing" + deleteRecordAdvice(root); }},
        {"a graphics library missing, and the DirectX installer it comes from",
         [](const fs::path& root) { fs::remove(root / "Install/game/d3dx9_43.dll"); },
         [](const fs::path& root) {
             return "The game's DirectX installer temp/directx.exe is missing, and the graphics libraries cannot be "
                    "restored without it, so nothing was changed. Delete installed.json in "
                 + root.string() + ", then set up again from your h2pc_installer_2.1 folder; your saves are kept.\n";
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path root = folder / c.name;
        makeCompleteRoot(root);
        c.damage(root);
        const std::string before = test_support::treeState(root);

        const Outcome outcome = repairCli(root);
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.err, c.message(root));
        EXPECT_EQ(test_support::treeState(root), before);
    }

    const fs::path nowhere = folder / "nowhere";
    EXPECT_EQ(repairCli(nowhere).err,
              "There is no installation to repair in " + nowhere.string() + ". Set up Halo 2 first.\n");
    EXPECT_FALSE(fs::exists(nowhere)) << "a refused repair creates no root";
}

TEST(Repair, LeavesACompleteInstallationAsItIs)
{
    TempDir folder;
    makeCompleteRoot(folder / "root");
    ASSERT_TRUE(Installer(folder / "root", {}, standInCatalogue()).missingParts().empty());
    const std::string before = test_support::treeState(folder / "root");

    const Outcome outcome = repairCli(folder / "root");
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, "The installation is already complete, so nothing was changed. Launch Halo 2 to play.\n");
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(test_support::treeState(folder / "root"), before) << "not even the setup log is written";
}

TEST(Repair, IsRefusedWhileAnotherLauncherHoldsTheRoot)
{
    TempDir folder;
    makeCompleteRoot(folder / "root");
    fs::remove_all(folder / "root/Runtime");
    const std::string before = test_support::treeState(folder / "root");
    const InstallLock held(folder / "root/launcher.lock");

    const Outcome outcome = repairCli(folder / "root");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, test_support::competingLauncherLine);
    EXPECT_EQ(test_support::treeState(folder / "root"), before);
}

// Each damage is found by the part that rebuilds it, and the installed-state test, which reads
// the same table, no longer counts the root as installed; only the decoder's digest is repair's alone.
TEST(Repair, NamesEachMissingOrDamagedPart)
{
    TempDir folder;
    const fs::path syswow64 = "Install/prefix/drive_c/windows/syswow64";
    const struct {
        const char* name;
        std::function<void(const fs::path&)> damage;
        InstallationPart part;
        std::string description;
        bool stillInstalled;
    } cases[] = {
        {"record removed", [](const fs::path& r) { fs::remove(r / "installed.json"); }, InstallationPart::Record,
         "The installation record installed.json is missing.", false},
        {"record cut short", [](const fs::path& r) { writeText(r / "installed.json", R"({"format":1,"launch)"); },
         InstallationPart::Record, "The installation record installed.json cannot be read.", false},
        {"record of format 2",
         [](const fs::path& r) {
             writeText(r / "installed.json", R"({"format":2,"launcherVersion":"","engine":"","installedAt":0})");
         },
         InstallationPart::Record,
         "The installation record has format 2, which this version of Corvanel does not know.", false},
        {"game executable removed", [](const fs::path& r) { fs::remove(r / "Install/game/halo2.exe"); },
         InstallationPart::GameFiles, "The game file halo2.exe is missing from the game folder.", false},
        {"wine not executable",
         [](const fs::path& r) { fs::permissions(r / "Runtime/wswine.bundle/bin/wine", fs::perms(0644)); },
         InstallationPart::Runtime, "The compatibility runtime is missing or incomplete.", false},
        {"runtime libraries removed", [](const fs::path& r) { fs::remove_all(r / "Runtime/lib"); },
         InstallationPart::Runtime, "The compatibility runtime is missing or incomplete.", false},
        {"wine is a folder",
         [](const fs::path& r) {
             fs::remove(r / "Runtime/wswine.bundle/bin/wine");
             fs::create_directories(r / "Runtime/wswine.bundle/bin/wine");
         },
         InstallationPart::Runtime, "The compatibility runtime is missing or incomplete.", false},
        {"wine is an empty executable", [](const fs::path& r) { writeText(r / "Runtime/wswine.bundle/bin/wine", ""); },
         InstallationPart::Runtime, "The compatibility runtime is missing or incomplete.", false},
        {"graphics library emptied", [](const fs::path& r) { writeText(r / "Install/game/d3dx9_43.dll", ""); },
         InstallationPart::GraphicsLibraries, "The graphics library d3dx9_43.dll is missing from the game folder.",
         false},
        {"graphics library removed", [](const fs::path& r) { fs::remove(r / "Install/game/D3DCompiler_43.dll"); },
         InstallationPart::GraphicsLibraries,
         "The graphics library D3DCompiler_43.dll is missing from the game folder.", false},
        {"system registry removed", [](const fs::path& r) { fs::remove(r / "Install/prefix/system.reg"); },
         InstallationPart::WindowsEnvironment, test_support::missingSystemRegistry, false},
        {"system registry emptied", [](const fs::path& r) { writeText(r / "Install/prefix/system.reg", ""); },
         InstallationPart::WindowsEnvironment, test_support::missingSystemRegistry, false},
        {"system registry is a folder",
         [](const fs::path& r) {
             fs::remove(r / "Install/prefix/system.reg");
             fs::create_directories(r / "Install/prefix/system.reg/x");
         },
         InstallationPart::WindowsEnvironment, test_support::missingSystemRegistry, false},
        {"system registry is a named pipe",
         [](const fs::path& r) {
             fs::remove(r / "Install/prefix/system.reg");
             ASSERT_EQ(::mkfifo((r / "Install/prefix/system.reg").c_str(), 0600), 0);
         },
         InstallationPart::WindowsEnvironment, test_support::missingSystemRegistry, false},
        {"system registry without our machine setting",
         [](const fs::path& r) { test_support::eraseLinesWith(r / "Install/prefix/system.reg", "GameInstallDir"); },
         InstallationPart::WindowsEnvironment, test_support::missingSystemRegistry, false},
        {"user registry removed", [](const fs::path& r) { fs::remove(r / "Install/prefix/user.reg"); },
         InstallationPart::WindowsEnvironment, test_support::missingUserRegistry, false},
        {"user registry without one of our settings",
         [](const fs::path& r) { test_support::eraseLinesWith(r / "Install/prefix/user.reg", "VideoMemorySize"); },
         InstallationPart::WindowsEnvironment, test_support::missingUserRegistry, false},
        {"core library missing",
         [](const fs::path& r) { fs::remove(r / "Install/prefix/drive_c/windows/system32/kernel32.dll"); },
         InstallationPart::WindowsEnvironment, "The private Windows environment was not set up completely.", false},
        {"drive C: removed", [](const fs::path& r) { fs::remove(r / "Install/prefix/dosdevices/c:"); },
         InstallationPart::WindowsEnvironment, test_support::missingDrives, false},
        {"drive Z: removed", [](const fs::path& r) { fs::remove(r / "Install/prefix/dosdevices/z:"); },
         InstallationPart::WindowsEnvironment, test_support::missingDrives, false},
        {"drive C: leads elsewhere",
         [](const fs::path& r) {
             fs::remove(r / "Install/prefix/dosdevices/c:");
             fs::create_symlink("/tmp", r / "Install/prefix/dosdevices/c:");
         },
         InstallationPart::WindowsEnvironment, test_support::missingDrives, false},
        {"a user folder leads home",
         [](const fs::path& r) {
             fs::remove(r / "Install/prefix/drive_c/users/player/Documents");
             fs::create_directory_symlink(r, r / "Install/prefix/drive_c/users/player/Documents");
         },
         InstallationPart::WindowsEnvironment, "The private Windows environment's user folders lead outside it.",
         false},
        {"game link points elsewhere",
         [](const fs::path& r) {
             fs::remove(r / "Install/prefix/drive_c/Games/Halo 2");
             fs::create_directory_symlink("/elsewhere/Install/game", r / "Install/prefix/drive_c/Games/Halo 2");
         },
         InstallationPart::WindowsEnvironment, "The private Windows environment no longer leads to the game folder.",
         false},
        {"decoder not registered",
         [](const fs::path& r) { test_support::eraseLinesWith(r / "Install/prefix/system.reg", "wmadmod.dll"); },
         InstallationPart::AudioDecoder, "The audio decoder is not registered in the private Windows environment.",
         false},
        {"decoder removed", [&](const fs::path& r) { fs::remove(r / syswow64 / "wmadmod.dll"); },
         InstallationPart::AudioDecoder, "The audio decoder is missing from the private Windows environment.", false},
        {"decoder replaced", [&](const fs::path& r) { writeText(r / syswow64 / "wmadmod.dll", "MZ other"); },
         InstallationPart::AudioDecoder,
         "The audio decoder in the private Windows environment is not the verified one.", true},
        {"decoder is a link to the verified file",
         [&](const fs::path& r) {
             writeText(r / "verified.dll", decoderBytes);
             fs::remove(r / syswow64 / "wmadmod.dll");
             fs::create_symlink(r / "verified.dll", r / syswow64 / "wmadmod.dll");
         },
         InstallationPart::AudioDecoder,
         "The audio decoder in the private Windows environment is not the verified one.", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path root = folder / c.name;
        makeCompleteRoot(root);
        c.damage(root);
        // The unpacked runtime's own checks; the computer's Wine has its own tests.
        const Installer installer(root, {}, standInCatalogue(), test_support::downloadedRuntime());

        const auto parts = installer.missingParts();
        ASSERT_EQ(parts.size(), 1u);
        EXPECT_EQ(parts[0].part, c.part);
        EXPECT_EQ(parts[0].description, c.description);
        EXPECT_EQ(installer.isInstalled(), c.stillInstalled);
    }
}

TEST(Repair, ListsEveryPartOfAnEmptiedRootInCheckingOrder)
{
    TempDir folder;
    writeText(folder / "root/installed.json", test_support::validRecordText());
    const auto parts
        = Installer(folder / "root", {}, standInCatalogue(), test_support::downloadedRuntime()).missingParts();

    std::vector<std::string> descriptions;
    for (const auto& part : parts)
        descriptions.push_back(part.description);
    EXPECT_EQ(descriptions,
              (std::vector<std::string>{
                  "The game file halo2.exe is missing from the game folder.",
                  "The game file xlive.dll is missing from the game folder.",
                  "The game file maps/shared.map is missing from the game folder.",
                  "The game file maps/mainmenu.map is missing from the game folder.",
                  "The game file maps/single_player_shared.map is missing from the game folder.",
                  "The compatibility runtime is missing or incomplete.",
                  "The graphics library d3dx9_31.dll is missing from the game folder.",
                  "The graphics library d3dx9_43.dll is missing from the game folder.",
                  "The graphics library D3DCompiler_43.dll is missing from the game folder.",
                  test_support::missingSystemRegistry,
                  test_support::missingUserRegistry,
                  "The private Windows environment was not set up completely.",
                  test_support::missingDrives,
                  "The private Windows environment no longer leads to the game folder.",
                  "The audio decoder is missing from the private Windows environment.",
              }));
}

TEST(Repair, SumsUpWhatIsMissingInOneSentence)
{
    const MissingPart runtime{InstallationPart::Runtime, "the compatibility runtime", ""};
    const MissingPart registry{InstallationPart::WindowsEnvironment, "the private Windows environment", ""};
    const MissingPart decoder{InstallationPart::AudioDecoder, "the audio decoder", ""};
    const MissingPart wine{InstallationPart::Runtime, "Wine", "", "Install Wine first."};
    const struct {
        std::vector<MissingPart> parts;
        std::string sentence;
    } cases[] = {
        {{}, ""},
        {{runtime}, "The compatibility runtime is missing or damaged."},
        {{registry, registry}, "The private Windows environment is missing or damaged."},
        {{runtime, decoder}, "The compatibility runtime and the audio decoder are missing or damaged."},
        {{runtime, registry, decoder, registry},
         "The compatibility runtime, the private Windows environment and the audio decoder are missing or damaged."},
        {{wine, decoder, wine}, "Wine and the audio decoder are missing or damaged. Install Wine first."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(describeMissingParts(c.parts), c.sentence);
}

} // namespace
} // namespace corvanel

namespace corvanel {
namespace {

// A layout folder that leads out of the root is refused before anything is written, whatever
// is damaged inside it; what the link leads to is left exactly as it was.
TEST(Repair, RefusesLinkedLayoutFoldersAndLeavesWhatTheyLeadToUntouched)
{
    for (const char* linked : {"Install", "Install/prefix", "Install/game", "Runtime"}) {
        SCOPED_TRACE(linked);
        TempDir folder;
        const fs::path root = folder / "root";
        makeCompleteRoot(root);
        fs::remove(root / "Install/prefix/system.reg");
        fs::remove(root / "Install/game/d3dx9_43.dll");
        fs::remove(root / "Runtime/lib/libinotify.0.dylib");
        const fs::path outside = folder / "elsewhere";
        fs::rename(root / linked, outside);
        fs::create_directory_symlink(outside, root / linked);
        const std::string canary = test_support::treeState(outside);

        const Outcome outcome = repairCli(root);
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.err,
                  "Corvanel cannot write into " + (root / linked).string()
                      + ": it is a symbolic link, not a folder of its own. Remove the link, then retry.\n");
        EXPECT_EQ(test_support::treeState(outside), canary);
    }
}

// A record far larger than any record written is refused at once, never read whole.
TEST(Repair, RefusesAHugeRecordQuickly)
{
    TempDir folder;
    const fs::path root = folder / "root";
    makeCompleteRoot(root);
    fs::remove(root / "Runtime/lib/libinotify.0.dylib");
    fs::resize_file(root / "installed.json", std::uintmax_t{3} << 30); // sparse: no blocks written
    const std::string before = test_support::treeState(root);

    const auto started = std::chrono::steady_clock::now();
    const Outcome outcome = repairCli(root);
    const auto took = std::chrono::steady_clock::now() - started;

    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err,
              "The installation record installed.json is far larger than any record Corvanel writes, so nothing "
              "was changed. Move it out of "
                  + root.string() + ", then set up Halo 2 again.\n");
    EXPECT_EQ(test_support::treeState(root), before);
    // Reading 3 GiB, even of zeros, takes many seconds; the refusal only looks at the size.
    EXPECT_LT(took, std::chrono::seconds(5));
    EXPECT_FALSE(Installer(root, {}, standInCatalogue()).isInstalled());
}

// Wine's drives are links; a real folder or file among them is somebody's own and stays.
TEST(Repair, RefusesARealEntryAmongTheDrivesAndKeepsIt)
{
    for (const bool isFolder : {true, false}) {
        SCOPED_TRACE(isFolder ? "folder" : "file");
        TempDir folder;
        const fs::path root = folder / "root";
        makeCompleteRoot(root);
        fs::remove(root / "Install/prefix/dosdevices/c:");
        const fs::path own = root / "Install/prefix/dosdevices/e:";
        if (isFolder)
            writeText(own / "notes.txt", "mine");
        else
            writeText(own, "mine");

        const Outcome outcome = repairCli(root);
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.err,
                  "The private Windows environment's drive folder holds " + own.string()
                      + ", which is not a drive link, so it was left as it is. Move it out of "
                      + own.parent_path().string() + ", then retry.\n");
        EXPECT_EQ(test_support::readText(isFolder ? own / "notes.txt" : own), "mine");
    }
}

// The prefix's game link may be written through another path to the same folder.
TEST(Repair, AGameLinkThroughAnotherPathToTheSameFolderIsWhole)
{
    TempDir folder;
    const fs::path root = folder / "root";
    makeCompleteRoot(root);
    fs::create_directory_symlink(root, folder / "shortcut");
    const fs::path link = root / "Install/prefix/drive_c/Games/Halo 2";
    fs::remove(link);
    fs::create_directory_symlink(folder / "shortcut/Install/game", link);

    const Installer throughLink(folder / "shortcut", {}, standInCatalogue());
    EXPECT_EQ(describeMissingParts(throughLink.missingParts()), "");
    EXPECT_TRUE(throughLink.isInstalled());
    EXPECT_EQ(describeMissingParts(Installer(root, {}, standInCatalogue()).missingParts()), "");
}

} // namespace
} // namespace corvanel
