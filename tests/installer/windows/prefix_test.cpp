#include "installer/display_text.h"
#include "installer/file_ops.h"
#include "installer/installation_record.h"
#include "installer/installed_parts.h"
#include "installer/installer.h"
#include "installer/runner.h"
#include "installer/setup_failure.h"
#include "installer/windows/windows_kit.h"
#include "support/registry_rows.h"
#include "support/runtime_choice.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvanel {
namespace {

namespace fs = std::filesystem;
using test_support::readText;
using test_support::writeText;

using test_support::expectedRegistryRows;

const char* const decoderKey
    = R"(HKLM\Software\Classes\Wow6432Node\CLSID\{2EEB4ADF-4578-4D10-BCA7-BB955F56320A}\InprocServer32)";

/// The programs the runner started, in order, as the setup log `text` names them.
std::vector<std::string> startedCommands(const std::string& text)
{
    std::vector<std::string> started;
    std::istringstream log(text);
    for (std::string line; std::getline(log, line);)
        if (const auto at = line.find("] Starting "); at != std::string::npos)
            started.push_back(line.substr(at + 11));
    return started;
}

/// One root with the fixture engine and game, configured once for the whole suite: a fresh
/// 64-bit prefix takes Wine many seconds to build.
class Prefix : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        temp_ = std::make_unique<test_support::TempDir>();
        test_support::unpackFixtureEngine(root());
        test_support::copyFixtureGame(root());
        for (const auto& [name, path] : {std::pair{"quartz", R"(C:\\windows\\syswow64\\quartz.dll)"},
                                         std::pair{"upper", R"(C:\\WINDOWS\\SYSWOW64\\WMADMOD.DLL)"}})
            test_support::runTool("/usr/bin/i686-w64-mingw32-gcc",
                                  {"-shared", "-s", "-Wl,--kill-at", "-o", standIn(name).string(),
                                   CORVANEL_SOURCE_DIR "/tests/installer/windows/decoder_stand_in.c", "-ladvapi32",
                                   std::string("-DREGISTERED_PATH=\"") + path + "\""});
        try {
            Installer(
                root(), [](const std::string& line) { firstReports_.push_back(line); }, releaseCatalogue(),
                test_support::downloadedRuntime())
                .configurePrefix(test_support::fixture("windows/wmadmod.dll"));
            savedAtReturn_ = entryExists(installer().prefix() / "system.reg");
            writeText(installer().record(), InstallationRecord{.launcherVersion = "test", .engine = "test"}.encode());
            // This root holds no runtime libraries or graphics libraries, and a stand-in decoder:
            // only the installed-state test's checks of the prefix count.
            auto missing = damagedParts(installer());
            std::erase_if(missing, [](const MissingPart& part) {
                return part.part != InstallationPart::WindowsEnvironment && part.part != InstallationPart::AudioDecoder;
            });
            prefixWholeAtReturn_ = describeMissingParts(missing);
            firstLog_ = readText(installer().log());
            if (savedAtReturn_) {
                systemRegistry_ = readText(installer().prefix() / "system.reg");
                userRegistry_ = readText(installer().prefix() / "user.reg");
            }
        } catch (const std::exception& error) {
            firstError_ = describe(error);
        }
    }

    static void TearDownTestSuite()
    {
        stopWineServer("-k");
        temp_.reset();
    }

    void TearDown() override { stopWineServer("-w"); }

    static fs::path root() { return temp_->path() / "root"; }
    static Installer installer()
    {
        return Installer(root(), {}, releaseCatalogue(), test_support::downloadedRuntime());
    }
    static fs::path standIn(const std::string& name) { return temp_->path() / (name + ".dll"); }
    static fs::path dosdevices() { return installer().prefix() / "dosdevices"; }
    static fs::path gameLink() { return installer().prefix() / "drive_c" / "Games" / "Halo 2"; }

    static void stopWineServer(const char* how)
    {
        const Installer wine = installer();
        try {
            wine.run((wine.wine().parent_path() / "wineserver").string(), {how},
                     {.environment = wine.environment(), .timeout = 60});
        } catch (const std::exception&) {
            // -k finds no server when none runs: nothing to stop.
        }
    }

    static std::vector<std::string> drives()
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dosdevices()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    static std::string query(const std::string& key, const std::string& name)
    {
        const Installer wine = installer();
        std::vector<std::string> arguments{"reg", "query", key};
        if (!name.empty())
            arguments.insert(arguments.end(), {"/v", name});
        return wine.run(wine.wine().string(), arguments,
                        {.environment = wine.environment(), .capture = true, .timeout = 120});
    }

    static void expectConfigured(const fs::path& codec = test_support::fixture("windows/wmadmod.dll"))
    {
        EXPECT_EQ(drives(), (std::vector<std::string>{"c:", "z:"}));
        EXPECT_TRUE(fs::is_symlink(gameLink()));
        EXPECT_EQ(fs::read_symlink(gameLink()), fs::absolute(installer().game()));
        EXPECT_TRUE(fs::exists(gameLink() / "halo2.exe"));
        EXPECT_EQ(readText(installer().prefix() / "drive_c" / "windows" / "syswow64" / "wmadmod.dll"), readText(codec));
    }

    static inline std::unique_ptr<test_support::TempDir> temp_;
    static inline std::vector<std::string> firstReports_;
    static inline std::string firstError_;
    static inline std::string firstLog_;
    static inline bool savedAtReturn_ = false;
    static inline std::string prefixWholeAtReturn_ = "not checked";
    static inline std::string systemRegistry_;
    static inline std::string userRegistry_;
};

TEST_F(Prefix, FreshRootIsConfiguredAndSavedBeforeTheStageReturns)
{
    ASSERT_EQ(firstError_, "");
    EXPECT_EQ(firstReports_,
              (std::vector<std::string>{"Creating your private Windows environment",
                                        "Installing your verified audio decoder"}));
    expectConfigured();

    // Wine writes its registry files only when its server ends; the stage waits for that, so
    // the installed-state test and an immediate launch find the prefix complete.
    ASSERT_TRUE(savedAtReturn_);
    EXPECT_EQ(prefixWholeAtReturn_, "");
    EXPECT_NE(systemRegistry_.find(R"("GameInstallDir"="C:\\Games\\Halo 2\\")"), std::string::npos);
    EXPECT_NE(systemRegistry_.find("wmadmod.dll"), std::string::npos);
    EXPECT_NE(userRegistry_.find(R"("VideoMemorySize"="2048")"), std::string::npos);
    EXPECT_NE(userRegistry_.find(R"("wmadmod"="native,builtin")"), std::string::npos);
}

TEST_F(Prefix, EveryCommandRunsWithItsOwnArgumentsInOrder)
{
    ASSERT_EQ(firstError_, "");
    const std::string wine = installer().wine().string();
    std::vector<std::string> expected{wine + ": " + quotedArguments({"wineboot", "-u"})};
    for (const auto& row : expectedRegistryRows)
        expected.push_back(
            wine + ": "
            + quotedArguments({"reg", "add", row.key, "/v", row.name, "/t", "REG_SZ", "/d", row.data, "/f"}));
    expected.push_back(
        wine + ": "
        + quotedArguments({R"(C:\windows\syswow64\regsvr32.exe)", "/s", R"(C:\windows\syswow64\wmadmod.dll)"}));
    expected.push_back(wine + ": " + quotedArguments({"reg", "query", decoderKey}));
    expected.push_back((installer().wine().parent_path() / "wineserver").string() + ": " + quotedArguments({"-w"}));

    EXPECT_EQ(startedCommands(firstLog_), expected);
}

TEST_F(Prefix, EveryRegistryRowReadsBackAsText)
{
    ASSERT_EQ(firstError_, "");
    test_support::expectRegistryRowsReadBack(installer());
}

TEST_F(Prefix, SecondRunPrunesDrivesRestoresTheDriveLinksAndReplacesTheGameLink)
{
    ASSERT_EQ(firstError_, "");
    // Wine makes C: and Z: only when it creates dosdevices: a setup ended in that moment leaves
    // them out for good unless the stage puts them back.
    fs::remove(dosdevices() / "c:");
    fs::remove(dosdevices() / "z:");
    const fs::path elsewhere = temp_->path() / "elsewhere";
    fs::create_directories(elsewhere);
    writeText(elsewhere / "kept.txt", "kept");
    fs::create_symlink(elsewhere, dosdevices() / "d:");
    fs::create_symlink("../drive_c", dosdevices() / "C:");
    fs::create_symlink("/", dosdevices() / "c::");
    fs::create_symlink("/nowhere", dosdevices() / "e:");
    fs::create_symlink("/", dosdevices() / "Z:");
    fs::remove(gameLink());
    fs::create_symlink("/nowhere", gameLink());

    // This decoder records its path in capitals; the read-back accepts any letter case.
    installer().configurePrefix(standIn("upper"));

    expectConfigured(standIn("upper"));
    EXPECT_EQ(readText(elsewhere / "kept.txt"), "kept") << "a pruned link's target was touched";
    EXPECT_TRUE(entryExists(installer().prefix() / "system.reg"));
    EXPECT_NE(query(decoderKey, "").find(R"(C:\WINDOWS\SYSWOW64\WMADMOD.DLL)"), std::string::npos);
}

/// The lock file of the Wine server directory that belongs to `prefix`, wherever this Wine keeps
/// those directories; empty when no Wine program has run in it yet.
fs::path serverLockOf(const fs::path& prefix)
{
    struct stat status { };
    if (::stat(prefix.c_str(), &status) != 0)
        return {};
    char name[64];
    std::snprintf(name, sizeof name, "server-%llx-%llx", static_cast<unsigned long long>(status.st_dev),
                  static_cast<unsigned long long>(status.st_ino));
    std::vector<fs::path> places{"/tmp"};
    if (const char* temporary = std::getenv("TMPDIR"); temporary && *temporary)
        places.emplace_back(temporary);
    for (const fs::path& place : places) {
        std::error_code error;
        for (fs::directory_iterator entry(place, error), end; !error && entry != end; entry.increment(error))
            if (entryExists(entry->path() / name / "lock"))
                return entry->path() / name / "lock";
    }
    return {};
}

// A server of an earlier run that is shutting down keeps its lock after it stops answering; a
// Wine program started then gives up after some five seconds ("a wine server seems to be
// running, but I cannot connect to it"), as a retry right after a failed setup met it. Here the
// test holds that lock for longer than that.
TEST_F(Prefix, AServerOfAnEarlierRunThatIsStillEndingIsWaitedFor)
{
    ASSERT_EQ(firstError_, "");
    stopWineServer("-w");
    const fs::path lock = serverLockOf(installer().prefix());
    ASSERT_FALSE(lock.empty()) << "Wine's server folder for the prefix was found";
    const int held = ::open(lock.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(held, 0);
    struct flock range { };
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;
    range.l_len = 1;
    ASSERT_EQ(::fcntl(held, F_SETLK, &range), 0) << "no server runs now";
    std::thread release([held] {
        std::this_thread::sleep_for(std::chrono::seconds(8));
        ::close(held);
    });

    std::string failure;
    try {
        installer().configurePrefix(test_support::fixture("windows/wmadmod.dll"));
    } catch (const std::exception& error) {
        failure = describe(error);
    }
    release.join();
    EXPECT_EQ(failure, "");
    expectConfigured();
}

TEST_F(Prefix, RealFolderWhereTheGameLinkBelongsFails)
{
    ASSERT_EQ(firstError_, "");
    fs::remove(gameLink());
    fs::create_directories(gameLink() / "saves");

    try {
        installer().configurePrefix(test_support::fixture("windows/wmadmod.dll"));
        FAIL() << "a real folder at the game link was replaced";
    } catch (const SetupFailure& failure) {
        EXPECT_EQ(failure.message(),
                  "The private Windows environment holds a folder at " + shownPath(gameLink())
                      + ", where setup places its link to the game. Move it out of " + shownPath(installer().prefix())
                      + ", then retry.");
    }
    EXPECT_TRUE(fs::is_directory(gameLink() / "saves"));

    fs::remove_all(gameLink());
    fs::create_symlink(fs::absolute(installer().game()), gameLink());
}

TEST_F(Prefix, DecoderMissingFromTheReadBackFails)
{
    ASSERT_EQ(firstError_, "");
    // Registers another server under the decoder's class: regsvr32 succeeds, the read-back
    // does not name the decoder.
    try {
        installer().configurePrefix(standIn("quartz"));
        FAIL() << "a decoder that did not register was accepted";
    } catch (const SetupFailure& failure) {
        EXPECT_EQ(failure.message(), "The audio decoder did not register correctly.");
    }
}

/// Shell scripts in place of the runtime's wine and wineserver: `wineboot` and `wineserver` are
/// what they do, `readBack` what "reg query" prints.
void installScriptedWine(const Installer& installer, const std::string& wineboot, const std::string& readBack,
                         const std::string& wineserver)
{
    const fs::path bin = installer.wine().parent_path();
    writeText(installer.wine(),
              "#!/bin/sh\ncase \"$1\" in\nwineboot)\n" + wineboot + "\n;;\nreg) [ \"$2\" = query ] && printf '%s\\n' '"
                  + readBack + "'\n;;\nesac\nexit 0\n");
    writeText(bin / "wineserver", "#!/bin/sh\n" + wineserver + "\n");
    for (const auto& program : {installer.wine(), bin / "wineserver"})
        fs::permissions(program, fs::perms::owner_all);
}

// The 64-bit side alone, as wineboot leaves it when no 32-bit program could start.
const std::string makeDrives = R"(mkdir -p "$WINEPREFIX/dosdevices" "$WINEPREFIX/drive_c/windows/syswow64"
ln -s ../drive_c "$WINEPREFIX/dosdevices/c:" 2>/dev/null
ln -s / "$WINEPREFIX/dosdevices/z:" 2>/dev/null
ln -s /dev/ttyS0 "$WINEPREFIX/dosdevices/com1" 2>/dev/null
)";
const std::string syswow64 = R"("$WINEPREFIX/drive_c/windows/syswow64/)";
const std::string makePrefix = makeDrives + "touch " + syswow64 + "regsvr32.exe\" " + syswow64 + "rundll32.exe\"\n";
const std::string saves = R"(touch "$WINEPREFIX/system.reg")";
const std::string registeredDecoder = R"(    (Default)    REG_SZ    C:\windows\syswow64\wmadmod.dll)";

/// The stage's decisions on what Wine answers, with shell scripts standing in for the
/// runtime's wine and wineserver.
TEST(PrefixWithScriptedWine, FailuresOfWineAndOfItsAnswersEndTheStage)
{
    const std::string no32BitSide
        = "Wine could not set up the 32-bit side of your private Windows environment; this computer may "
          "be unable to run 32-bit programs. Open the setup log for details.";
    const struct {
        const char* what;
        std::string wineboot; // what wine does for "wineboot -u"
        std::string readBack; // what "reg query" prints
        std::string wineserver;
        std::string expected; // the failure's description, {prefix} for the prefix; empty: success
    } cases[] = {
        {"wineboot fails", "exit 3", "", saves,
         "wine failed (3). Open the setup log for details. If antivirus quarantined a file, review its report before "
         "retrying."},
        {"wineboot makes no prefix", "exit 0", "", saves,
         "Directory iterator cannot open directory {prefix}/dosdevices: No such file or directory."},
        {"no 32-bit programs", makeDrives, "", saves, no32BitSide},
        {"one 32-bit program missing", makeDrives + "touch " + syswow64 + "regsvr32.exe\"", "", saves, no32BitSide},
        {"a 32-bit program is a folder",
         makeDrives + "mkdir " + syswow64 + "regsvr32.exe\"; touch " + syswow64 + "rundll32.exe\"", "", saves,
         no32BitSide},
        {"empty read-back", makePrefix, "", saves, "The audio decoder did not register correctly."},
        {"read-back of another server", makePrefix, R"(    (Default)    REG_SZ    C:\windows\syswow64\quartz.dll)",
         saves, "The audio decoder did not register correctly."},
        {"registry never saved", makePrefix, registeredDecoder, "exit 0",
         "Wine did not save your private Windows environment. Open the setup log for details."},
        {"waiting for the save fails", makePrefix, registeredDecoder, "exit 2",
         "wineserver failed (2). Open the setup log for details. If antivirus quarantined a file, review its report "
         "before retrying."},
        {"a folder where the game link belongs", makePrefix + R"(mkdir -p "$WINEPREFIX/drive_c/Games/Halo 2/saves")",
         "", saves,
         "The private Windows environment holds a folder at {prefix}/drive_c/Games/Halo 2, where setup places its link "
         "to "
         "the game. Move it out of {prefix}, then retry."},
        {"a file where the game link belongs",
         makePrefix + R"(mkdir -p "$WINEPREFIX/drive_c/Games"; touch "$WINEPREFIX/drive_c/Games/Halo 2")", "", saves,
         "The private Windows environment holds a file at {prefix}/drive_c/Games/Halo 2, where setup places its link "
         "to "
         "the game. Move it out of {prefix}, then retry."},
        {"decoder named in capitals", makePrefix, R"(    (Default)    REG_SZ    C:\WINDOWS\SYSWOW64\WMADMOD.DLL)",
         saves, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test_support::TempDir temp;
        const Installer installer(temp / "root", {}, releaseCatalogue(), test_support::downloadedRuntime());
        test_support::copyFixtureGame(installer.root());
        installScriptedWine(installer, c.wineboot, c.readBack, c.wineserver);
        writeText(temp / "wmadmod.dll", "decoder");

        std::string failure;
        try {
            installer.configurePrefix(temp / "wmadmod.dll");
        } catch (const std::exception& error) {
            failure = describe(error);
        }
        if (c.expected.empty()) {
            EXPECT_EQ(failure, "");
            EXPECT_EQ(readText(installer.prefix() / "drive_c" / "windows" / "syswow64" / "wmadmod.dll"), "decoder");
            EXPECT_TRUE(fs::is_symlink(installer.prefix() / "dosdevices" / "c:"));
            EXPECT_FALSE(entryExists(installer.prefix() / "dosdevices" / "com1"));
        } else {
            std::string expected = c.expected;
            for (auto at = expected.find("{prefix}"); at != std::string::npos; at = expected.find("{prefix}"))
                expected.replace(at, 8, installer.prefix().string());
            EXPECT_EQ(failure, expected);
        }
        if (c.expected == no32BitSide) {
            EXPECT_EQ(test_support::startedPrograms(installer), 1) << "only wineboot ran";
            EXPECT_NE(
                readText(installer.log())
                    .find("Missing after wineboot: " + (installer.prefix() / "drive_c/windows/syswow64/").string()),
                std::string::npos);
        }
    }
}

// A prefix left by an earlier run: a link in place of one of the two folders Wine writes through
// is refused before any program starts, and nothing outside changes.
TEST(PrefixWithScriptedWine, AnEarlierPrefixWithALinkWhereWineWritesIsRefused)
{
    for (const char* folder : {"dosdevices", "drive_c"}) {
        SCOPED_TRACE(folder);
        test_support::TempDir temp;
        const Installer installer(temp / "root", {}, releaseCatalogue(), test_support::downloadedRuntime());
        test_support::copyFixtureGame(installer.root());
        installScriptedWine(installer, makePrefix, registeredDecoder, saves);
        fs::create_directories(temp / "outside");
        writeText(temp / "outside" / "kept.txt", "kept");
        fs::create_directories(installer.prefix());
        fs::create_directory_symlink(temp / "outside", installer.prefix() / folder);

        try {
            installer.configurePrefix(temp / "wmadmod.dll");
            ADD_FAILURE() << "a linked folder was written through";
        } catch (const SetupFailure& failure) {
            EXPECT_EQ(failure.message(),
                      "Corvanel cannot write into " + (installer.prefix() / folder).string()
                          + ": it is a symbolic link, not a folder of its own. Remove the link, then retry.");
        }
        EXPECT_EQ(test_support::treeOf(temp / "outside"), std::vector<std::string>{"kept.txt"});
        EXPECT_EQ(test_support::startedPrograms(installer), 0);
    }
}

// A server of an earlier run that does not end within the wait is told to end, and the stage
// goes on once it has.
TEST(PrefixWithScriptedWine, AnEarlierServerThatOutlastsTheWaitIsEnded)
{
    test_support::TempDir temp;
    const Installer installer(temp / "root", {}, releaseCatalogue(), test_support::downloadedRuntime());
    test_support::copyFixtureGame(installer.root());
    fs::create_directories(installer.prefix());
    const std::string ended = (temp / "ended").string();
    installScriptedWine(installer, makePrefix, registeredDecoder,
                        "case \"$1\" in\n-k) touch '" + ended + "' ;;\n-w) [ -e '" + ended + "' ] || exec sleep 600\n"
                            + saves + " ;;\nesac");
    writeText(temp / "wmadmod.dll", "decoder");

    installer.configurePrefix(temp / "wmadmod.dll");

    const std::string server = (installer.wine().parent_path() / "wineserver").string() + ": ";
    const auto started = startedCommands(readText(installer.log()));
    ASSERT_GE(started.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(started.begin(), started.begin() + 4),
              (std::vector<std::string>{server + R"(["-w"])", server + R"(["-k"])", server + R"(["-w"])",
                                        installer.wine().string() + R"(: ["wineboot", "-u"])"}));
    EXPECT_NE(readText(installer.log()).find("Timed out after"), std::string::npos);
}

/// A runtime whose Wine runs 64-bit programs while the kernel refuses its 32-bit loader with
/// "Exec format error", as on a computer that cannot run 32-bit x86 programs: a private copy of
/// the system's 64-bit loader looks for its 32-bit twin beside itself and finds a file that is
/// no program. Everything else (libraries, data, server) is the system's Wine.
void installWineWithoutA32BitLoader(const Installer& installer, const fs::path& tree)
{
    const fs::path loaders = tree / "lib" / "wine";
    fs::create_directories(loaders);
    fs::copy_file("/usr/lib/wine/wine64", loaders / "wine64");
    fs::copy_file(fs::canonical("/usr/lib/wine/wine64-preloader"), loaders / "wine64-preloader");
    writeText(loaders / "wine", "not a program\n");
    fs::permissions(loaders / "wine", fs::perms(0755));
    fs::create_symlink("/usr/lib/wine/wineserver", loaders / "wineserver");
    fs::create_symlink("/usr/lib/x86_64-linux-gnu", tree / "lib" / "x86_64-linux-gnu");
    fs::create_directories(tree / "share");
    fs::create_symlink("/usr/share/wine", tree / "share" / "wine");

    const fs::path bin = installer.wine().parent_path();
    writeText(installer.wine(), "#!/bin/sh\nexec '" + (loaders / "wine64").string() + "' \"$@\"\n");
    writeText(bin / "wineserver", "#!/bin/sh\nexec /usr/lib/wine/wineserver \"$@\"\n");
    for (const auto& program : {installer.wine(), bin / "wineserver"})
        fs::permissions(program, fs::perms(0755));
}

TEST(PrefixWithout32BitPrograms, RealWinebootThatLeavesThe32BitSideOutFailsAtThatStage)
{
    test_support::TempDir temp;
    const Installer installer(temp / "root", {}, releaseCatalogue(), test_support::downloadedRuntime());
    test_support::copyFixtureGame(installer.root());
    installWineWithoutA32BitLoader(installer, temp / "wine");

    try {
        installer.configurePrefix(test_support::fixture("windows/wmadmod.dll"));
        FAIL() << "a prefix without its 32-bit side was accepted";
    } catch (const SetupFailure& failure) {
        EXPECT_EQ(failure.message(),
                  "Wine could not set up the 32-bit side of your private Windows environment; this "
                  "computer may be unable to run 32-bit programs. Open the setup log for details.");
    }

    const std::string log = readText(installer.log());
    // Wine's own account of it, as on such a computer (its backslashes escaped on their way into
    // the log), and ours; wineboot still exited 0.
    EXPECT_NE(log.find(R"(failed to open L"C:\\\\windows\\\\syswow64\\\\rundll32.exe")"), std::string::npos) << log;
    EXPECT_NE(log.find("Finished " + installer.wine().string() + ", exit 0"), std::string::npos) << log;
    EXPECT_NE(
        log.find("Missing after wineboot: " + (installer.prefix() / "drive_c/windows/syswow64/regsvr32.exe").string()),
        std::string::npos)
        << log;
    EXPECT_EQ(test_support::startedPrograms(installer), 1) << "nothing ran after wineboot";
    EXPECT_TRUE(entryExists(installer.prefix() / "drive_c" / "windows" / "system32" / "regsvr32.exe"))
        << "the 64-bit side is there";
    EXPECT_FALSE(entryExists(installer.prefix() / "drive_c" / "windows" / "syswow64" / "wmadmod.dll"));

    installer.run((installer.wine().parent_path() / "wineserver").string(), {"-w"},
                  {.environment = installer.environment(), .timeout = 60});
}

} // namespace
} // namespace corvanel

namespace corvanel {

// A Wine of this computer whose 32-bit side went away after setup: the stage says what to
// install before it runs anything, rather than after wineboot.
TEST(PrefixWithSystemWine, AWineWithoutIts32BitSideStopsBeforeWineboot)
{
    test_support::TempDir temp;
    const fs::path loader = temp / "usr/lib/wine/wine64";
    for (const fs::path& program : {loader, loader.parent_path() / "wineserver"}) {
        writeText(program, "#!/bin/sh\nexit 0\n");
        fs::permissions(program, fs::perms(0755));
    }
    const Installer installer(temp / "root", {}, releaseCatalogue(), test_support::wineAt({loader}));
    test_support::copyFixtureGame(installer.root());
    writeText(
        installer.record(),
        InstallationRecord{.format = 1, .launcherVersion = "0.2.1", .engine = SystemWine{loader, "wine-8.0"}.engine()}
            .encode());

    try {
        installer.configurePrefix(test_support::fixture("windows/wmadmod.dll"));
        FAIL() << "a Wine without its 32-bit side ran wineboot";
    } catch (const SetupFailure& failure) {
        EXPECT_EQ(failure.message(),
                  "Wine's 32-bit side is not installed, and Halo 2 is a 32-bit game. Install it (on "
                  "Debian: sudo dpkg --add-architecture i386, sudo apt update, sudo apt install "
                  "wine32:i386), then retry.");
    }
    const std::string log = fs::exists(installer.log()) ? readText(installer.log()) : "";
    EXPECT_EQ(log.find(R"(["wineboot", "-u"])"), std::string::npos);
}

} // namespace corvanel
