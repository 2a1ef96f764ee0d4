// What the stages and the demo rely on in the fixture kit: packages the real bsdtar opens
// the way the installer opens the genuine ones, archives with the expected entries, a demo
// catalogue that trusts exactly the kit's files, and stand-ins that really run under Wine.

#include "demo_catalogue.h"
#include "installer/assets/catalogue.h"
#include "installer/platform.h"
#include "support/temp_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>

namespace corvanel {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

const fs::path kit = CORVANEL_FIXTURES_DIR;
const fs::path sources = fs::path(CORVANEL_SOURCE_DIR) / "fixtures";

struct Outcome {
    int status = -1; ///< exit status, or -1 when the command did not exit normally
    std::string output;
};

std::string quoted(const std::string& text)
{
    std::string result = "'";
    for (char c : text) {
        if (c == '\'')
            result += "'\\''";
        else
            result += c;
    }
    return result + "'";
}

std::string quoted(const fs::path& path)
{
    return quoted(path.string());
}

/// Runs a shell command and returns its standard output (standard error stays the test's).
Outcome shell(const std::string& command)
{
    Outcome outcome;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return outcome;
    char buffer[4096];
    size_t count;
    while ((count = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        outcome.output.append(buffer, count);
    const int raw = pclose(pipe);
    if (raw != -1 && WIFEXITED(raw))
        outcome.status = WEXITSTATUS(raw);
    return outcome;
}

std::string archiver()
{
    return quoted(platform::archiver());
}

std::set<std::string> listing(const fs::path& archive)
{
    const Outcome listed = shell(archiver() + " -tf " + quoted(archive));
    EXPECT_EQ(listed.status, 0) << archive;
    std::set<std::string> names;
    std::istringstream lines(listed.output);
    for (std::string line; std::getline(lines, line);)
        names.insert(line);
    return names;
}

/// Extracts one member of `archive` into `destination` and returns the extracted file.
fs::path extract(const fs::path& archive, const fs::path& destination, const std::string& member)
{
    fs::create_directories(destination);
    const Outcome extracted
        = shell(archiver() + " -xf " + quoted(archive) + " -C " + quoted(destination) + " " + quoted(member));
    EXPECT_EQ(extracted.status, 0) << archive << " " << member;
    return destination / member;
}

std::string digest(const fs::path& file)
{
    const Outcome hashed = shell("openssl dgst -sha256 -r " + quoted(file));
    EXPECT_EQ(hashed.status, 0) << file;
    return hashed.output.substr(0, hashed.output.find(' '));
}

std::string bytes(const fs::path& file)
{
    return corvanel::test_support::readText(file);
}

} // namespace

TEST(FixtureKit, WindowsBinariesAre32BitPrograms)
{
    const struct {
        const char* file;
        bool library;
    } cases[] = {
        {"windows/wmadmod.dll", true},
        {"windows/halo2.exe", false},
        {"windows/MPSetup.exe", false},
        {"windows/directx.exe", false},
        {"h2pc_installer_2.1/h2pc_installer.exe", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string image = bytes(kit / c.file);
        ASSERT_GT(image.size(), 0x40u);
        ASSERT_EQ(image.substr(0, 2), "MZ");
        const auto header = static_cast<unsigned char>(image[0x3c]) | static_cast<unsigned char>(image[0x3d]) << 8;
        ASSERT_LT(header + 24u, image.size());
        EXPECT_EQ(image.substr(header, 4), std::string("PE\0\0", 4));
        const auto machine
            = static_cast<unsigned char>(image[header + 4]) | static_cast<unsigned char>(image[header + 5]) << 8;
        EXPECT_EQ(machine, 0x014c); // i386
        const auto characteristics
            = static_cast<unsigned char>(image[header + 22]) | static_cast<unsigned char>(image[header + 23]) << 8;
        EXPECT_EQ((characteristics & 0x2000) != 0, c.library);
    }
}

TEST(FixtureKit, AudioPackageYieldsTheDecoderByteForByte)
{
    const fs::path package = kit / "windows/MPSetup.exe";
    EXPECT_EQ(listing(package), std::set<std::string>{"WMADMOD.DLL"});

    corvanel::test_support::TempDir temp;
    const fs::path decoder = extract(package, temp.path(), "WMADMOD.DLL");
    EXPECT_EQ(bytes(decoder), bytes(kit / "windows/wmadmod.dll"));
    EXPECT_EQ(bytes(kit / "cache/MPSetup.exe"), bytes(package));
}

TEST(FixtureKit, DirectXRedistributableHoldsOneCabinetPerLibrary)
{
    const fs::path redistributable = kit / "game/temp/directx.exe";
    EXPECT_EQ(bytes(redistributable), bytes(kit / "windows/directx.exe"));
    EXPECT_EQ(listing(redistributable),
              (std::set<std::string>{"OCT2006_d3dx9_31_x86.cab", "Jun2010_d3dx9_43_x86.cab",
                                     "Jun2010_D3DCompiler_43_x86.cab"}));

    const struct {
        const char* cabinet;
        const char* library;
    } cases[] = {
        {"OCT2006_d3dx9_31_x86.cab", "d3dx9_31.dll"},
        {"Jun2010_d3dx9_43_x86.cab", "d3dx9_43.dll"},
        {"Jun2010_D3DCompiler_43_x86.cab", "D3DCompiler_43.dll"},
    };
    corvanel::test_support::TempDir temp;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cabinet);
        const fs::path cabinet = extract(redistributable, temp.path(), c.cabinet);
        EXPECT_EQ(listing(cabinet), std::set<std::string>{c.library});
        const fs::path library = extract(cabinet, temp.path(), c.library);
        EXPECT_EQ(bytes(library), bytes(sources / "files" / c.library));
    }
}

TEST(FixtureKit, GameFolderIsCompleteButLacksTheDirectXLibraries)
{
    for (const char* path : {"halo2.exe", "xlive.dll", "maps/shared.map", "maps/mainmenu.map",
                             "maps/single_player_shared.map", "temp/directx.exe"}) {
        SCOPED_TRACE(path);
        EXPECT_TRUE(fs::is_regular_file(kit / "game" / path));
        EXPECT_GT(fs::file_size(kit / "game" / path), 0u);
    }
    for (const char* library : {"d3dx9_31.dll", "d3dx9_43.dll", "D3DCompiler_43.dll", "d3dcompiler_43.dll"})
        EXPECT_FALSE(fs::exists(kit / "game" / library)) << library;
    EXPECT_EQ(bytes(kit / "game/halo2.exe"), bytes(kit / "windows/halo2.exe"));
}

TEST(FixtureKit, InstallerArchivesHoldTheGameFolderContent)
{
    const fs::path data = kit / "h2pc_installer_2.1/h2pc_data.bin";
    EXPECT_EQ(bytes(data).substr(0, 6), "7z\xBC\xAF\x27\x1C");
    const std::set<std::string> game{"halo2.exe",       "xlive.dll",         "maps/",
                                     "maps/shared.map", "maps/mainmenu.map", "maps/single_player_shared.map",
                                     "temp/",           "temp/directx.exe"};
    EXPECT_EQ(listing(data), game);

    corvanel::test_support::TempDir temp;
    for (const auto& name : game) {
        if (name.back() == '/')
            continue;
        SCOPED_TRACE(name);
        EXPECT_EQ(bytes(extract(data, temp / "data", name)), bytes(kit / "game" / name));
    }

    const fs::path zip = kit / "h2pc_installer_2.1.zip";
    EXPECT_EQ(bytes(zip).substr(0, 4), "PK\x03\x04");
    EXPECT_EQ(listing(zip),
              (std::set<std::string>{"h2pc_installer_2.1/", "h2pc_installer_2.1/h2pc_data.bin",
                                     "h2pc_installer_2.1/h2pc_installer.exe"}));
    EXPECT_EQ(bytes(extract(zip, temp / "zip", "h2pc_installer_2.1/h2pc_data.bin")), bytes(data));
}

TEST(FixtureKit, RuntimeArchivesHoldTheEngineLoaderAndTheLibraryFolder)
{
    corvanel::test_support::TempDir temp;
    const fs::path engine = kit / "runtime/WS12WineCX24.0.7_7.tar.xz";
    const Outcome unpacked = shell(archiver() + " -xf " + quoted(engine) + " -C " + quoted(temp.path()));
    ASSERT_EQ(unpacked.status, 0);
    const struct {
        const char* script;
        const char* target;
    } scripts[] = {
        {"wswine.bundle/bin/wine", "exec /usr/lib/wine/wine64 \"$@\""},
        {"wswine.bundle/bin/wineserver", "exec /usr/lib/wine/wineserver \"$@\""},
    };
    for (const auto& s : scripts) {
        SCOPED_TRACE(s.script);
        const fs::path script = temp / s.script;
        ASSERT_TRUE(fs::is_regular_file(script));
        EXPECT_NE(fs::status(script).permissions() & fs::perms::owner_exec, fs::perms::none);
        EXPECT_THAT(bytes(script), HasSubstr(s.target));
    }

    const std::string lib = "Wine Stable.app/Contents/Resources/wine/lib/";
    const std::set<std::string> libraries = listing(kit / "runtime/wine-stable-11.0_1-osx64.tar.xz");
    for (const char* entry : {"libinotify.0.dylib", "libfreetype.6.dylib", "libgnutls.30.DYLIB", "COPYING", "wine/"})
        EXPECT_TRUE(libraries.count(lib + entry)) << entry;

    for (const char* name : {"WS12WineCX24.0.7_7.tar.xz", "wine-stable-11.0_1-osx64.tar.xz"})
        EXPECT_EQ(bytes(kit / "cache" / name), bytes(kit / "runtime" / name)) << name;
}

// The demo differs from the shipped program only in its audio package; the tests of the
// download-and-unpack runtime also trust the kit's runtime archives.
TEST(FixtureKit, DemoCatalogueTrustsExactlyTheKitAtLocalAddresses)
{
    const Catalogue& demo = demoCatalogue();
    const Catalogue& downloads = runtimeDownloadCatalogue();
    const Catalogue& release = releaseCatalogue();
    for (const auto& [asset, shipped] :
         {std::pair{&demo.engine, &release.engine}, std::pair{&demo.libraries, &release.libraries}}) {
        EXPECT_EQ(asset->name, shipped->name);
        EXPECT_EQ(asset->url, shipped->url);
        EXPECT_EQ(asset->sha256, shipped->sha256);
    }
    const struct {
        const RuntimeAsset& asset;
        const RuntimeAsset& shipped;
        fs::path file;
    } cases[] = {
        {downloads.engine, release.engine, kit / "runtime/WS12WineCX24.0.7_7.tar.xz"},
        {downloads.libraries, release.libraries, kit / "runtime/wine-stable-11.0_1-osx64.tar.xz"},
        {demo.audio, release.audio, kit / "windows/MPSetup.exe"},
        {downloads.audio, release.audio, kit / "windows/MPSetup.exe"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.asset.name);
        EXPECT_EQ(c.asset.name, c.shipped.name);
        EXPECT_EQ(c.asset.url, "https://127.0.0.1:8443/" + c.shipped.name);
        EXPECT_EQ(c.asset.sha256, digest(c.file));
        EXPECT_EQ(c.asset.sha256, digest(kit / "cache" / c.asset.name));
        EXPECT_NE(c.asset.sha256, c.shipped.sha256);
    }
    EXPECT_EQ(demo.codecHash, digest(kit / "windows/wmadmod.dll"));
    EXPECT_EQ(demo.mediaPackageHash, demo.audio.sha256);
    EXPECT_EQ(downloads.codecHash, demo.codecHash);
    EXPECT_EQ(downloads.mediaPackageHash, demo.mediaPackageHash);
}

TEST(FixtureKit, OnlyTheDemoProgramCarriesTheDemoCatalogue)
{
    const std::string address = "https://127.0.0.1:8443/";
    EXPECT_THAT(bytes(CORVANEL_DEMO_BINARY), HasSubstr(address));
    EXPECT_THAT(bytes(CORVANEL_BINARY), Not(HasSubstr(address)));
    EXPECT_THAT(bytes(CORVANEL_BINARY), HasSubstr(releaseCatalogue().engine.url));
}

// Runs the stand-ins under real Wine through the engine archive's loader, in a throwaway
// prefix (the first command boots it, 10 to 20 s).
TEST(FixtureKitWine, GameAndDecoderWorkUnderTheEngineLoader)
{
    corvanel::test_support::TempDir temp;
    ASSERT_EQ(
        shell(archiver() + " -xf " + quoted(kit / "runtime/WS12WineCX24.0.7_7.tar.xz") + " -C " + quoted(temp.path()))
            .status,
        0);
    const std::string wine = quoted(temp / "wswine.bundle/bin/wine");
    const std::string environment = "WINEPREFIX=" + quoted(temp / "prefix")
        + " WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d' ";
    struct ServerStop {
        std::string command;
        ~ServerStop() { shell(command); }
    } stop{environment + quoted(temp / "wswine.bundle/bin/wineserver") + " -w"};

    fs::copy(kit / "game", temp / "game", fs::copy_options::recursive);
    const struct {
        const char* exitcode;
        int status;
    } runs[] = {{nullptr, 0}, {"7\n", 7}, {"0\n", 0}};
    for (const auto& run : runs) {
        SCOPED_TRACE(run.exitcode ? run.exitcode : "no exitcode.txt");
        fs::remove(temp / "game/exitcode.txt");
        if (run.exitcode)
            corvanel::test_support::writeText(temp / "game/exitcode.txt", run.exitcode);
        const Outcome game = shell("cd " + quoted(temp / "game") + " && " + environment + "timeout 300 " + wine
                                   + " halo2.exe -windowed -hiresfix 2>&1");
        EXPECT_EQ(game.status, run.status);
        EXPECT_THAT(game.output, HasSubstr("halo2.exe args: -windowed -hiresfix\n"));
        EXPECT_THAT(game.output, HasSubstr("WINEDEBUG: -all\n"));
    }

    // A fresh prefix already names Wine's own decoder under this class in both views; a
    // 32-bit regsvr32 replaces it with the stand-in in the 32-bit view only.
    const std::string clsid = "CLSID\\{2EEB4ADF-4578-4D10-BCA7-BB955F56320A}\\InprocServer32";
    const auto query = [&](const std::string& key) {
        return shell(environment + "timeout 300 " + wine + " reg query " + quoted(key) + " 2>&1");
    };
    EXPECT_THAT(query("HKLM\\Software\\Classes\\Wow6432Node\\" + clsid).output, Not(HasSubstr("wmadmod.dll")));

    const fs::path syswow64 = temp / "prefix/drive_c/windows/syswow64";
    fs::copy_file(kit / "windows/wmadmod.dll", syswow64 / "wmadmod.dll");
    const Outcome registered
        = shell(environment + "timeout 300 " + wine
                + " 'C:\\windows\\syswow64\\regsvr32.exe' /s 'C:\\windows\\syswow64\\wmadmod.dll'");
    EXPECT_EQ(registered.status, 0);
    const Outcome wow = query("HKLM\\Software\\Classes\\Wow6432Node\\" + clsid);
    EXPECT_EQ(wow.status, 0);
    // reg ends its lines in CR LF.
    EXPECT_THAT(wow.output, HasSubstr("(Default)    REG_SZ    C:\\windows\\syswow64\\wmadmod.dll\r\n"));
    EXPECT_THAT(query("HKLM\\Software\\Classes\\" + clsid).output, Not(HasSubstr("wmadmod.dll")));
}

} // namespace corvanel
