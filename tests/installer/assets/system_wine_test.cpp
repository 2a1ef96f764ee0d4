#include "installer/file_ops.h"
#include "installer/installation_record.h"
#include "installer/installer.h"
#include "installer/setup_failure.h"
#include "support/runtime_choice.h"
#include "support/temp_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace corvanel {

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const std::string noWine
    = "Corvanel needs Wine 8.0 or later, and none was found on this computer. Install your distribution's Wine (on "
      "Debian: sudo dpkg --add-architecture i386, sudo apt update, sudo apt install wine wine64 wine32:i386), then "
      "retry.";
const std::string noThirtyTwoBitSide
    = "Wine's 32-bit side is not installed, and Halo 2 is a 32-bit game. Install it (on Debian: sudo dpkg "
      "--add-architecture i386, sudo apt update, sudo apt install wine32:i386), then retry.";

/// A stand-in Wine program: prints `versionLine` for --version, fails for anything else.
void writeWine(const fs::path& file, const std::string& versionLine, int status = 0)
{
    test_support::writeText(file,
                            "#!/bin/sh\n[ \"$1\" = --version ] || exit 9\necho '" + versionLine + "'\nexit "
                                + std::to_string(status) + "\n");
    fs::permissions(file, fs::perms(0755));
}

void writeServer(const fs::path& folder)
{
    test_support::writeText(folder / "wineserver", "#!/bin/sh\n");
    fs::permissions(folder / "wineserver", fs::perms(0755));
}

/// Stand-in Wine installations below one folder, in the layouts distributions and Wine's own
/// packages use.
struct WineTrees {
    fs::path base;

    /// Debian's: loaders in lib/wine, the i386 Windows libraries in the multiarch folder.
    fs::path debian(const std::string& versionLine, bool thirtyTwoBit = true) const
    {
        const fs::path folder = base / "debian/usr/lib/wine";
        writeWine(folder / "wine64", versionLine);
        writeServer(folder);
        // The 64-bit package brings an i386 folder of its own with a single helper library.
        test_support::writeText(base / "debian/usr/lib/x86_64-linux-gnu/wine/i386-windows/zlib1.dll", "MZ");
        if (thirtyTwoBit) {
            writeWine(folder / "wine", versionLine);
            test_support::writeText(base / "debian/usr/lib/i386-linux-gnu/wine/i386-windows/ntdll.dll", "MZ");
        }
        return folder / "wine64";
    }

    /// Wine's own packages: a wrapper `wine` beside the 64-bit loader in bin.
    fs::path packaged(const std::string& versionLine) const
    {
        const fs::path folder = base / "opt/wine-stable/bin";
        writeWine(folder / "wine", versionLine);
        writeWine(folder / "wine64", versionLine);
        writeServer(folder);
        test_support::writeText(base / "opt/wine-stable/lib/wine/i386-windows/ntdll.dll", "MZ");
        return folder / "wine";
    }

    /// A new-WoW64 build: one `wine`, both Windows library sets side by side.
    fs::path newWow64(const std::string& versionLine, bool i386 = true) const
    {
        const fs::path folder = base / "wow64/bin";
        writeWine(folder / "wine", versionLine);
        writeServer(folder);
        test_support::writeText(base / "wow64/lib/wine/x86_64-windows/ntdll.dll", "MZ");
        if (i386)
            test_support::writeText(base / "wow64/lib/wine/i386-windows/ntdll.dll", "MZ");
        return folder / "wine";
    }
};

struct SearchCase {
    const char* label;
    /// Makes the trees and returns the search list.
    std::function<std::vector<fs::path>(const WineTrees&)> search;
    /// The loader setup must choose, below the trees' base; empty when it must fail.
    std::string chosen;
    std::string versionLine;
    std::string failure;
};

} // namespace

TEST(SystemWine, SearchFindsTheFirstUsableWineOrSaysWhatToInstall)
{
    const SearchCase cases[] = {
        {"no Wine at all",
         [](const WineTrees& t) {
             return std::vector<fs::path>{t.base / "usr/lib/wine/wine64", t.base / "usr/bin/wine"};
         },
         "", "", noWine},
        {"too old",
         [](const WineTrees& t) { return std::vector<fs::path>{t.debian("wine-7.0 (Debian 7.0~repack-10)")}; }, "", "",
         "The Wine on this computer is version 7.0, but Corvanel needs 8.0 or later. Update Wine, then retry."},
        {"no 32-bit loader and no i386 libraries",
         [](const WineTrees& t) { return std::vector<fs::path>{t.debian("wine-8.0 (Debian 8.0~repack-4)", false)}; },
         "", "", noThirtyTwoBitSide},
        {"a new-WoW64 build without its i386 libraries",
         [](const WineTrees& t) { return std::vector<fs::path>{t.newWow64("wine-10.0", false)}; }, "", "",
         noThirtyTwoBitSide},
        {"Debian's layout",
         [](const WineTrees& t) { return std::vector<fs::path>{t.debian("wine-8.0 (Debian 8.0~repack-4)")}; },
         "debian/usr/lib/wine/wine64", "wine-8.0 (Debian 8.0~repack-4)", ""},
        {"the 64-bit loader beside a wrapper is preferred",
         [](const WineTrees& t) { return std::vector<fs::path>{t.packaged("wine-9.0")}; }, "opt/wine-stable/bin/wine64",
         "wine-9.0", ""},
        {"a new-WoW64 build",
         [](const WineTrees& t) { return std::vector<fs::path>{t.newWow64("wine-11.0 (Staging)")}; }, "wow64/bin/wine",
         "wine-11.0 (Staging)", ""},
        {"missing, failing, unreadable and too old ones are passed over",
         [](const WineTrees& t) {
             writeWine(t.base / "failing/bin/wine", "wine-9.0", 1);
             writeServer(t.base / "failing/bin");
             writeWine(t.base / "chatty/bin/wine", "this is not a version");
             writeServer(t.base / "chatty/bin");
             writeWine(t.base / "serverless/bin/wine", "wine-9.0");
             return std::vector<fs::path>{t.base / "missing/wine",    t.base / "failing/bin/wine",
                                          t.base / "chatty/bin/wine", t.base / "serverless/bin/wine",
                                          t.debian("wine-6.0.3"),     t.newWow64("wine-9.22")};
         },
         "wow64/bin/wine", "wine-9.22", ""},
        {"one without a 32-bit side is passed over for a later complete one",
         [](const WineTrees& t) {
             return std::vector<fs::path>{t.debian("wine-8.0 (Debian 8.0~repack-4)", false), t.newWow64("wine-9.0")};
         },
         "wow64/bin/wine", "wine-9.0", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        test_support::TempDir dir;
        const WineTrees trees{dir / "trees"};
        std::vector<std::string> reports;
        const Installer installer(
            dir / "root", [&](const std::string& line) { reports.push_back(line); }, Catalogue{},
            test_support::wineAt(c.search(trees)));
        makeDirectory(installer.root());

        std::optional<std::string> failure;
        try {
            installer.installRuntime(std::nullopt);
        } catch (const SetupFailure& error) {
            failure = error.message();
        }

        ASSERT_FALSE(reports.empty());
        EXPECT_EQ(reports.front(), "Checking the Wine installed on this computer");
        EXPECT_FALSE(fs::exists(installer.root() / "Runtime")) << "nothing is unpacked for this computer's Wine";
        EXPECT_THAT(test_support::readText(installer.log()), Not(HasSubstr("curl")));
        if (c.chosen.empty()) {
            EXPECT_EQ(failure.value_or("no failure"), c.failure);
            continue;
        }
        ASSERT_FALSE(failure) << *failure;
        EXPECT_EQ(installer.wine(), trees.base / c.chosen);
        EXPECT_THAT(test_support::readText(installer.log()),
                    HasSubstr("Using " + c.versionLine + " at " + installer.wine().string()));
    }
}

TEST(SystemWine, RecordedEngineNamesTheVersionAndTheLoader)
{
    const SystemWine wine{"/opt/wine stable/bin/wine64", "wine-9.0 (Staging)"};
    EXPECT_EQ(wine.engine(), "wine-9.0 (Staging) at /opt/wine stable/bin/wine64");
    EXPECT_EQ(SystemWine::recordedLoader(wine.engine()), fs::path("/opt/wine stable/bin/wine64"));
    EXPECT_EQ(wine.server(), fs::path("/opt/wine stable/bin/wineserver"));
    // An engine from the download-and-unpack runtime names no Wine of this computer.
    EXPECT_EQ(SystemWine::recordedLoader("WS12WineCX24.0.7_7.tar.xz"), std::nullopt);
    EXPECT_EQ(SystemWine::recordedLoader("wine-8.0 at relative/wine64"), std::nullopt);
}

TEST(SystemWine, VersionLines)
{
    const struct {
        const char* line;
        std::optional<std::pair<int, int>> version;
        bool supported;
    } cases[] = {
        {"wine-8.0 (Debian 8.0~repack-4)", std::pair{8, 0}, true},
        {"wine-10.0", std::pair{10, 0}, true},
        {"wine-9.0-rc3", std::pair{9, 0}, true},
        {"wine-7.22 (Staging)", std::pair{7, 22}, false},
        {"wine-8", std::nullopt, false},
        {"wine-.0", std::nullopt, false},
        {"Wine 9.0", std::nullopt, false},
        {"", std::nullopt, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(wineVersion(c.line), c.version);
        EXPECT_EQ(isSupportedWine(c.line), c.supported);
    }
}

TEST(SystemWine, InstalledStateAndMissingPartsFollowTheRecordedWine)
{
    test_support::TempDir dir;
    const WineTrees trees{dir / "trees"};
    const fs::path loader = trees.debian("wine-8.0 (Debian 8.0~repack-4)");
    const Installer installer(dir / "root", {}, Catalogue{}, test_support::wineAt({loader}));
    test_support::makeInstalledState(installer.root());
    test_support::writeText(
        installer.record(),
        InstallationRecord{.format = 1, .launcherVersion = "0.2.1", .engine = SystemWine{loader, "wine-8.0"}.engine()}
            .encode());
    EXPECT_TRUE(installer.isInstalled());
    EXPECT_EQ(installer.wine(), loader);

    fs::rename(loader.parent_path(), dir / "away");
    EXPECT_FALSE(installer.isInstalled());
    const auto parts = installer.missingParts();
    const auto wine = std::find_if(parts.begin(), parts.end(),
                                   [](const MissingPart& part) { return part.part == InstallationPart::Runtime; });
    ASSERT_NE(wine, parts.end());
    EXPECT_EQ(wine->description, "Wine is no longer at " + loader.string() + ".");
    EXPECT_EQ(describeMissingParts({*wine}),
              "Wine is missing or damaged. Install your distribution's Wine 8.0 or later (on Debian: sudo apt install "
              "wine wine64 wine32:i386) before repairing.");

    fs::rename(dir / "away", loader.parent_path());
    EXPECT_TRUE(installer.isInstalled());
}

} // namespace corvanel
