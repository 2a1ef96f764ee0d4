#include "installer/assets/sha256.h"
#include "installer/display_text.h"
#include "installer/file_ops.h"
#include "installer/installer.h"
#include "installer/platform.h"
#include "installer/setup_failure.h"
#include "support/runtime_choice.h"
#include "support/temp_dir.h"

#include "demo_catalogue.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <stdexcept>

namespace corvanel {

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const std::string incomplete = "The runtime is incomplete. Check whether antivirus quarantined any files.";
const std::string libraryFolder = "Wine Stable.app/Contents/Resources/wine/lib";

void runTool(const std::vector<std::string>& command)
{
    auto child
        = ChildProcess::spawn({.executable = command.front(), .arguments = {command.begin() + 1, command.end()}});
    if (child.wait() != 0)
        throw std::runtime_error("could not run " + command.front());
}

void writeExecutable(const fs::path& file, const std::string& content, fs::perms mode = fs::perms(0755))
{
    test_support::writeText(file, content);
    fs::permissions(file, mode);
}

std::set<std::string> names(const fs::path& folder)
{
    std::set<std::string> result;
    for (const auto& entry : fs::directory_iterator(folder))
        result.insert(entry.path().filename().string());
    return result;
}

std::map<std::string, std::string> snapshot(const fs::path& folder)
{
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        entries[fs::relative(entry.path(), folder).string()]
            = entry.is_directory() ? "/" : test_support::readText(entry.path());
    return entries;
}

std::vector<std::string> stagingFolders(const fs::path& root)
{
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(root))
        if (entry.path().filename().string().starts_with("Runtime-staging-"))
            found.push_back(entry.path().filename().string());
    return found;
}

/// The two runtime archives, made at test time and offered through a cache folder, with a
/// catalogue that trusts exactly them.
struct RuntimeArchives {
    explicit RuntimeArchives(const fs::path& folder)
        : source(folder / "source")
        , cache(folder / "cache")
    {
    }

    /// The engine: wswine.bundle with a bin/wine that runs the system's 64-bit Wine loader.
    fs::path engineTree() const { return source / "engine"; }
    fs::path wine() const { return engineTree() / "wswine.bundle" / "bin" / "wine"; }
    /// The library folder of the second build, with entries of every kind of name.
    fs::path libraryTree() const { return source / "libraries"; }
    fs::path libraries() const { return libraryTree() / libraryFolder; }

    void makeComplete() const
    {
        writeExecutable(wine(), "#!/bin/sh\nexec /usr/lib/wine/wine64 \"$@\"\n");
        writeExecutable(engineTree() / "wswine.bundle" / "bin" / "wineserver",
                        "#!/bin/sh\nexec /usr/lib/wine/wineserver \"$@\"\n");
        test_support::writeText(libraries() / "libinotify.0.dylib", "inotify");
        test_support::writeText(libraries() / "libwine.1.dylib", "wine");
        test_support::writeText(libraries() / ".libhidden.dylib", "hidden");
        test_support::writeText(libraries() / "plugins.dylib" / "inside.txt", "a folder named like a library");
        test_support::writeText(libraries() / "libUPPER.DYLIB", "upper");
        test_support::writeText(libraries() / "libstatic.a", "static");
        test_support::writeText(libraries() / "README", "no extension");
        fs::create_directories(libraries() / "pkgconfig");
        test_support::writeText(libraries() / "libnot.dylib.txt", "only the last extension counts");
    }

    /// Packs both trees into the cache folder and returns the catalogue that trusts them.
    Catalogue pack() const
    {
        fs::create_directories(cache);
        const fs::path engine = cache / "WS12WineCX24.0.7_7.tar.xz";
        const fs::path libs = cache / "wine-stable-11.0_1-osx64.tar.xz";
        runTool({platform::archiver(), "-cJf", engine.string(), "-C", engineTree().string(), "."});
        runTool({platform::archiver(), "-cJf", libs.string(), "-C", libraryTree().string(), "Wine Stable.app"});
        return catalogueFor(engine, libs);
    }

    static Catalogue catalogueFor(const fs::path& engine, const fs::path& libs)
    {
        Catalogue catalogue = releaseCatalogue();
        // Unreachable on purpose: a download attempt fails at once.
        catalogue.engine = {engine.filename().string(), "https://127.0.0.1:9/engine", sha256(engine)};
        catalogue.libraries = {libs.filename().string(), "https://127.0.0.1:9/libraries", sha256(libs)};
        return catalogue;
    }

    fs::path source;
    fs::path cache;
};

class InstallRuntime : public ::testing::Test {
protected:
    Installer installerFor(const Catalogue& catalogue)
    {
        return Installer(
            root, [this](const std::string& line) { reports.push_back(line); }, catalogue,
            test_support::downloadedRuntime());
    }
    std::string setupLog() const { return test_support::readText(root / "Logs" / "setup.log"); }

    test_support::TempDir dir;
    const fs::path root = dir / "root";
    RuntimeArchives archives{dir.path()};
    std::vector<std::string> reports;
};

} // namespace

TEST_F(InstallRuntime, StagesBothArchivesKeepsOnlyLibrariesAndRunsTheEngine)
{
    archives.makeComplete();
    const Installer installer = installerFor(archives.pack());

    installer.installRuntime(archives.cache);

    EXPECT_EQ(reports,
              (std::vector<std::string>{"Downloading and verifying the compatibility runtime \u00B7 about 341 MB",
                                        "Unpacking the verified runtime"}));
    EXPECT_EQ(names(root / "Runtime"), (std::set<std::string>{"lib", "wswine.bundle"}));
    EXPECT_EQ(names(root / "Runtime" / "lib"),
              (std::set<std::string>{".libhidden.dylib", "libinotify.0.dylib", "libwine.1.dylib", "plugins.dylib"}));
    EXPECT_EQ(test_support::readText(root / "Runtime" / "lib" / "plugins.dylib" / "inside.txt"),
              "a folder named like a library");
    EXPECT_EQ(::access(installer.wine().c_str(), X_OK), 0);
    EXPECT_TRUE(fs::exists(root / "Runtime" / "wswine.bundle" / "bin" / "wineserver"));
    EXPECT_TRUE(stagingFolders(root).empty());

    const std::string log = setupLog();
    EXPECT_THAT(log,
                HasSubstr("Starting " + platform::archiver() + ": [\"-xf\", \""
                          + (root / "Downloads" / "WS12WineCX24.0.7_7.tar.xz").string()));
    EXPECT_THAT(log, HasSubstr("Starting " + installer.wine().string() + ": [\"--version\"]\n"));
    EXPECT_THAT(log, ::testing::ContainsRegex("\nwine-[0-9]")); // the real Wine answered, on a line of its own
    EXPECT_THAT(log, HasSubstr("Finished " + installer.wine().string() + ", exit 0"));
    EXPECT_THAT(log, Not(HasSubstr("Starting /usr/bin/curl")));
    EXPECT_FALSE(fs::exists(root / "Install")) << "the version check must not create a prefix";
}

TEST_F(InstallRuntime, ASecondCallReplacesTheRuntimeFromTheKeptDownloads)
{
    archives.makeComplete();
    const Installer installer = installerFor(archives.pack());
    installer.installRuntime(archives.cache);
    test_support::writeText(root / "Runtime" / "added by hand.txt", "x");
    test_support::writeText(root / "Runtime" / "lib" / "libextra.dylib", "x");
    test_support::writeText(root / "Runtime" / "wswine.bundle" / "bin" / "extra", "x");
    reports.clear();

    installer.installRuntime(std::nullopt);

    EXPECT_EQ(reports.front(), "Downloading and verifying the compatibility runtime \u00B7 about 341 MB");
    EXPECT_EQ(names(root / "Runtime"), (std::set<std::string>{"lib", "wswine.bundle"}));
    EXPECT_FALSE(fs::exists(root / "Runtime" / "lib" / "libextra.dylib"));
    EXPECT_FALSE(fs::exists(root / "Runtime" / "wswine.bundle" / "bin" / "extra"));
    EXPECT_THAT(setupLog(), Not(HasSubstr("Starting /usr/bin/curl")));
    EXPECT_TRUE(stagingFolders(root).empty());
}

TEST_F(InstallRuntime, AnIncompleteRuntimeLeavesTheInstalledOneAlone)
{
    const struct {
        const char* label;
        void (*spoil)(const RuntimeArchives&);
    } cases[] = {
        {"wine missing", [](const RuntimeArchives& a) { fs::remove(a.wine()); }},
        {"wine not executable", [](const RuntimeArchives& a) { fs::permissions(a.wine(), fs::perms(0644)); }},
        {"wine is a folder",
         [](const RuntimeArchives& a) {
             fs::remove(a.wine());
             fs::create_directories(a.wine());
         }},
        {"libinotify missing", [](const RuntimeArchives& a) { fs::remove(a.libraries() / "libinotify.0.dylib"); }},
        {"libinotify only in capitals",
         [](const RuntimeArchives& a) {
             fs::rename(a.libraries() / "libinotify.0.dylib", a.libraries() / "libinotify.0.DYLIB");
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        test_support::TempDir caseDir;
        RuntimeArchives spoilt(caseDir.path());
        spoilt.makeComplete();
        c.spoil(spoilt);
        const Installer installer = installerFor(spoilt.pack());
        removeTreeQuietly(root / "Runtime");
        test_support::writeText(root / "Runtime" / "wswine.bundle" / "bin" / "wine", "the installed engine");
        test_support::writeText(root / "Runtime" / "lib" / "libinotify.0.dylib", "the installed library");
        const auto before = snapshot(root / "Runtime");

        try {
            installer.installRuntime(spoilt.cache);
            ADD_FAILURE() << "an incomplete runtime was installed";
        } catch (const SetupFailure& failure) {
            EXPECT_EQ(failure.message(), incomplete);
        }

        EXPECT_EQ(snapshot(root / "Runtime"), before);
        EXPECT_TRUE(stagingFolders(root).empty());
    }
}

TEST_F(InstallRuntime, RunnerFailuresPassThroughAndStagingIsRemoved)
{
    const std::string advice
        = ". Open the setup log for details. If antivirus quarantined a file, review its report before retrying.";
    const std::string archiver = fs::path(platform::archiver()).filename().string();

    {
        SCOPED_TRACE("an engine archive that does not unpack");
        archives.makeComplete();
        Catalogue catalogue = archives.pack();
        test_support::writeText(archives.cache / "WS12WineCX24.0.7_7.tar.xz", "not an archive at all");
        catalogue = RuntimeArchives::catalogueFor(archives.cache / "WS12WineCX24.0.7_7.tar.xz",
                                                  archives.cache / "wine-stable-11.0_1-osx64.tar.xz");
        test_support::writeText(root / "Runtime" / "marker", "kept");
        try {
            installerFor(catalogue).installRuntime(archives.cache);
            ADD_FAILURE() << "no failure";
        } catch (const SetupFailure& failure) {
            EXPECT_EQ(failure.message(), archiver + " failed (1)" + advice);
        }
        EXPECT_EQ(test_support::readText(root / "Runtime" / "marker"), "kept");
        EXPECT_TRUE(stagingFolders(root).empty());
    }
    {
        SCOPED_TRACE("an engine whose version check fails");
        test_support::TempDir caseDir;
        RuntimeArchives broken(caseDir.path());
        broken.makeComplete();
        writeExecutable(broken.wine(), "#!/bin/sh\necho broken engine\nexit 3\n");
        try {
            installerFor(broken.pack()).installRuntime(broken.cache);
            ADD_FAILURE() << "no failure";
        } catch (const SetupFailure& failure) {
            EXPECT_EQ(failure.message(), "wine failed (3)" + advice);
        }
        EXPECT_THAT(setupLog(), HasSubstr("broken engine"));
        EXPECT_TRUE(stagingFolders(root).empty());
    }
}

TEST_F(InstallRuntime, AWrongCachedArchiveStopsBeforeAnythingIsStaged)
{
    archives.makeComplete();
    const Catalogue catalogue = archives.pack();
    test_support::writeText(archives.cache / "wine-stable-11.0_1-osx64.tar.xz", "tampered");

    try {
        installerFor(catalogue).installRuntime(archives.cache);
        ADD_FAILURE() << "no failure";
    } catch (const SetupFailure& failure) {
        EXPECT_EQ(failure.message(),
                  "The cached copy of wine-stable-11.0_1-osx64.tar.xz in " + shownPath(archives.cache)
                      + " failed verification, so it was not used. Remove it from that folder or "
                        "replace it with the supported file, then retry.");
    }
    EXPECT_FALSE(fs::exists(root / "Runtime"));
    EXPECT_TRUE(stagingFolders(root).empty());
}

TEST_F(InstallRuntime, InstallsTheFixtureKitRuntimeFromItsCacheFolder)
{
    const fs::path kitCache = fs::path(CORVANEL_FIXTURES_DIR) / "cache";
    const auto kitBefore = snapshot(kitCache);
    const Installer installer = installerFor(runtimeDownloadCatalogue());

    installer.installRuntime(kitCache);

    EXPECT_EQ(names(root / "Runtime" / "lib"), (std::set<std::string>{"libfreetype.6.dylib", "libinotify.0.dylib"}));
    EXPECT_THAT(setupLog(), HasSubstr("Finished " + installer.wine().string() + ", exit 0"));
    EXPECT_EQ(snapshot(kitCache), kitBefore);
    EXPECT_TRUE(stagingFolders(root).empty());
}

} // namespace corvanel
