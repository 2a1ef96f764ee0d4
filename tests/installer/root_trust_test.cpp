// Setup refuses a folder that holds anything it did not create, before it changes anything
// there, and sweeps only the temporary names it makes itself.
#include "installer/file_ops.h"
#include "installer/installer.h"
#include "installer/setup_failure.h"
#include "support/archives.h"
#include "support/installation_snapshot.h"
#include "support/temp_dir.h"

#include "demo_catalogue.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

namespace corvanel {
namespace {

namespace fs = std::filesystem;
using test_support::TempDir;

const std::string notAnArchive = "The file h2pc_data.bin is not an archive setup can read, or it is empty or damaged. "
                                 "Choose h2pc_data.bin from installer 2.1, or its ZIP, then retry.";

std::string foreignFolder(const fs::path& root, const std::string& entry)
{
    return "The folder " + root.string() + " already holds files that Corvanel did not create, such as " + entry
        + ". Choose an empty folder or an existing Corvanel folder, then retry.";
}

HostQueries plentyOfSpace()
{
    return HostQueries{.freeSpace = [](const fs::path&) { return std::optional<std::uintmax_t>(20'000'000'000); },
                       .x86Probe = HostQueries::platform().x86Probe};
}

/// Setup on `root` of a game file that is not an archive at all, which gets as far as the lock
/// and the sweep: what it raised, as the user reads it.
std::string setUpNotAnArchive(const fs::path& root)
{
    const Installer installer(root, {}, demoCatalogue(), plentyOfSpace());
    const fs::path notAnArchive = root.parent_path() / "source" / "h2pc_data.bin";
    test_support::writeText(notAnArchive, "not an archive");
    try {
        installer.install(notAnArchive, std::nullopt, std::nullopt);
    } catch (const std::exception& error) {
        return describe(error);
    }
    return "";
}

/// A file outside every root of a test, which no setup may touch.
struct Canary {
    explicit Canary(const fs::path& folder)
        : folder(folder)
    {
        test_support::writeText(folder / "secret", "the user's secret");
        fs::permissions(folder / "secret", fs::perms(0600));
        before = test_support::treeState(folder);
    }
    void expectUntouched() const { EXPECT_EQ(test_support::treeState(folder), before) << "outside the root"; }

    fs::path folder;
    std::string before;
};

TEST(RootTrust, AFolderWithAnythingSetupDidNotCreateIsRefusedBeforeAnythingChanges)
{
    const std::string engine = demoCatalogue().engine.name;
    const struct {
        const char* name;
        std::vector<std::string> files; ///< below the root; a trailing slash makes a folder
        std::string named; ///< the entry the message names
    } cases[] = {
        {"a home folder", {".bashrc", "Documents/letter.txt", "Downloads/holiday.jpg"}, ".bashrc"},
        {"a partial download of the user's", {"Downloads/big.iso.partial"}, "Downloads/big.iso.partial"},
        {"a sidecar of the user's", {"Downloads/big.iso.partial.json"}, "Downloads/big.iso.partial.json"},
        {"a hidden file named like an aside sidecar",
         {"Downloads/." + engine + ".partial.json.old.tmp"},
         "Downloads/." + engine + ".partial.json.old.tmp"},
        {"a folder named like staging", {"Game-staging-ideas/plan.txt"}, "Game-staging-ideas"},
        {"staging with a lower-case UUID",
         {"Game-staging-1b4e28ba-2fa1-41d2-883f-0016d3cca427/"},
         "Game-staging-1b4e28ba-2fa1-41d2-883f-0016d3cca427"},
        {"notes named like a capture", {"Logs/capture-notes.txt"}, "Logs/capture-notes.txt"},
        {"a record backup", {".installed.json.bak"}, ".installed.json.bak"},
        {"a user's file beside a finished download",
         {"Downloads/" + engine, "Downloads/notes.txt"},
         "Downloads/notes.txt"},
        {"something in Install", {"Install/game/halo2.exe", "Install/readme.txt"}, "Install/readme.txt"},
        {"something in Runtime", {"Runtime/tools/"}, "Runtime/tools"},
        {"something in Audio-import", {"Audio-import/song.wma"}, "Audio-import/song.wma"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir folder;
        const Canary canary(folder / "outside");
        const fs::path root = folder / "root";
        fs::create_directories(root);
        for (const auto& file : c.files) {
            if (file.ends_with('/'))
                fs::create_directories(root / file);
            else
                test_support::writeText(root / file, "the user's");
        }
        const std::string before = test_support::treeState(root);

        EXPECT_EQ(setUpNotAnArchive(root), foreignFolder(root, c.named));
        EXPECT_EQ(test_support::treeState(root), before) << "no lock file, no log, nothing swept";
        canary.expectUntouched();
    }
}

TEST(RootTrust, AFreshEmptyOrEarlierRootOfOursIsAcceptedAndOnlyItsLeftoversAreSwept)
{
    const Catalogue& catalogue = demoCatalogue();
    const std::vector<std::string> leftovers = {
        ".installed.json." + newUuid() + ".tmp",
        "DirectX-staging-" + newUuid() + "/",
        "Downloads/" + catalogue.engine.name + ".partial",
        "Downloads/" + catalogue.engine.name + ".partial.headers",
        "Downloads/" + catalogue.libraries.name + ".partial.json",
        "Downloads/." + catalogue.libraries.name + ".partial.json." + newUuid() + ".tmp",
        "Game-staging-" + newUuid() + "/Imported/maps/shared.map",
        "Logs/capture-" + newUuid() + ".txt",
        "Runtime-staging-" + newUuid() + "/lib/",
    };
    const std::vector<std::string> kept = {
        "Audio-import/wmadmod.dll",
        "Downloads/" + catalogue.engine.name,
        "Downloads/" + catalogue.libraries.name,
        "Downloads/" + catalogue.audio.name + ".partial",
        "Downloads/" + catalogue.audio.name + ".partial.json",
        "Install/game/halo2.exe",
        "Install/game/saves/slot1.sav",
        "Install/prefix/system.reg",
        "Logs/halo2.log",
        "Logs/setup.log",
        "Runtime/wswine.bundle/bin/wine",
        "Runtime/lib/libinotify.0.dylib",
        "launcher.lock",
    };
    const struct {
        const char* name;
        std::function<void(const fs::path& root)> arrange;
        std::vector<std::string> kept;
    } cases[] = {
        {"a root that does not exist yet", [](const fs::path&) {}, {}},
        {"an empty folder", [](const fs::path& root) { fs::create_directories(root); }, {}},
        {"a root left by an interrupted setup",
         [&](const fs::path& root) {
             for (const auto& name : leftovers) {
                 if (name.ends_with('/'))
                     fs::create_directories(root / name);
                 else
                     test_support::writeText(root / name, "half");
             }
             for (const auto& name : kept)
                 test_support::writeText(root / name, "kept");
         },
         kept},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir folder;
        const Canary canary(folder / "outside");
        const fs::path root = folder / "root";
        c.arrange(root);

        EXPECT_EQ(setUpNotAnArchive(root), notAnArchive);
        EXPECT_EQ(test_support::leftoversIn(root), std::vector<std::string>{});
        for (const auto& name : c.kept)
            if (name != "Logs/setup.log" && name != "launcher.lock")
                EXPECT_EQ(test_support::readText(root / name), "kept") << name;
        EXPECT_TRUE(fs::is_regular_file(root / "launcher.lock"));
        canary.expectUntouched();
    }
}

} // namespace
} // namespace corvanel
