// Wine needs no display while setup runs, so it cannot open windows of its own over the
// launcher; the game itself keeps the user's display.

#include "installer/installer.h"
#include "support/runtime_choice.h"
#include "support/scoped_variable.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace corvanel {
namespace {

namespace fs = std::filesystem;
using test_support::readLines;
using test_support::readText;
using test_support::TempDir;
using test_support::writeText;

using test_support::ScopedVariable;

/// One line per call: the arguments, then what the program saw of the displays and the prefix.
constexpr const char* recordLine
    = R"(printf '%s | DISPLAY=%s | WAYLAND_DISPLAY=%s | WINEPREFIX=%s\n' "$*" "${DISPLAY-none}" "${WAYLAND_DISPLAY-none}" "${WINEPREFIX-none}" >> "$CALLS")";

void writeProgram(const fs::path& file, const std::string& body)
{
    writeText(file, "#!/bin/sh\n" + body + "\n");
    fs::permissions(file, fs::perms(0755));
}

/// A Wine that records each call and does just enough for the prefix stage to finish: its
/// wineboot makes the prefix, its registry query finds the decoder, its server saves.
void writeRecordingWine(const Installer& installer)
{
    writeProgram(installer.wine(), std::string(recordLine) + R"(
case "$1" in
  wineboot) mkdir -p "$WINEPREFIX/dosdevices" "$WINEPREFIX/drive_c/windows/syswow64"
            ln -s ../drive_c "$WINEPREFIX/dosdevices/c:"; ln -s / "$WINEPREFIX/dosdevices/z:"
            touch "$WINEPREFIX/drive_c/windows/syswow64/regsvr32.exe" "$WINEPREFIX/drive_c/windows/syswow64/rundll32.exe" ;;
  reg) [ "$2" = query ] && echo 'Default REG_SZ C:\windows\syswow64\wmadmod.dll' ;;
esac
exit 0)");
    writeProgram(installer.wine().parent_path() / "wineserver",
                 std::string(recordLine) + "\n: > \"$WINEPREFIX/system.reg\"");
}

class SetupDisplay : public ::testing::Test {
protected:
    TempDir temp;
    const fs::path calls = temp / "calls.txt";
    const ScopedVariable x{"DISPLAY", ":77"};
    const ScopedVariable wayland{"WAYLAND_DISPLAY", "wayland-77"};
    const ScopedVariable record{"CALLS", calls.c_str()};
    // The unpacked runtime's place holds the stand-in Wine.
    const Installer installer{temp / "root", {}, releaseCatalogue(), test_support::downloadedRuntime()};
};

TEST_F(SetupDisplay, EveryWineCommandOfThePrefixStageRunsWithoutADisplay)
{
    writeRecordingWine(installer);
    writeText(temp / "wmadmod.dll", "MZ");

    installer.configurePrefix(temp / "wmadmod.dll");

    const auto lines = readLines(calls);
    ASSERT_GE(lines.size(), 4u) << readText(calls);
    EXPECT_NE(lines.front().find("wineboot -u"), std::string::npos) << lines.front();
    EXPECT_NE(lines.back().find("-w"), std::string::npos) << lines.back(); // the server's save
    const std::string prefix = "WINEPREFIX=" + fs::absolute(installer.prefix()).string();
    for (const std::string& line : lines) {
        SCOPED_TRACE(line);
        EXPECT_NE(line.find("| DISPLAY=none | WAYLAND_DISPLAY=none |"), std::string::npos);
        EXPECT_TRUE(line.ends_with(prefix)); // the rest of the Wine environment is still there
    }
}

TEST_F(SetupDisplay, ProgramsRunWithTheirOwnEnvironmentHaveNoDisplayButKeepTheRest)
{
    const std::string seen
        = "\n" + installer.run("/usr/bin/env", {}, {.environment = installer.environment(), .capture = true});
    EXPECT_EQ(seen.find("\nDISPLAY="), std::string::npos) << seen;
    EXPECT_EQ(seen.find("\nWAYLAND_DISPLAY="), std::string::npos) << seen;
    EXPECT_NE(seen.find("\nCALLS=" + calls.string() + "\n"), std::string::npos) << seen;
    EXPECT_NE(seen.find("\nWINEDEBUG=-all\n"), std::string::npos) << seen;
}

TEST_F(SetupDisplay, TheGameKeepsTheDisplay)
{
    test_support::makeInstalledState(installer.root());
    writeProgram(installer.wine(), "echo \"DISPLAY=${DISPLAY-none} WAYLAND_DISPLAY=${WAYLAND_DISPLAY-none}\"");

    LaunchedGame game = installer.launch(false);
    ASSERT_EQ(game.process.wait(), 0);

    EXPECT_EQ(readText(installer.root() / "Logs" / "halo2.log"), "DISPLAY=:77 WAYLAND_DISPLAY=wayland-77\n");
}

} // namespace
} // namespace corvanel
