#include "installer/display_text.h"
#include "installer/file_ops.h"
#include "installer/installer.h"
#include "installer/setup_failure.h"
#include "support/digest.h"
#include "support/hostile_files.h"
#include "support/https_server.h"
#include "support/temp_dir.h"

#include "demo_catalogue.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>

namespace corvanel {

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

using test_support::digestOf;

std::string payload(size_t size, char seed)
{
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i)
        data[i] = static_cast<char>(seed + i * 7 + i / 251);
    return data;
}

/// Every entry below `folder` with its content (folders map to "/").
std::map<std::string, std::string> snapshot(const fs::path& folder)
{
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const auto name = fs::relative(entry.path(), folder).string();
        entries[name] = entry.is_directory() ? "/" : test_support::readText(entry.path());
    }
    return entries;
}

} // namespace

class Obtain : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = std::make_unique<test_support::HttpsServer>(); }
    static void TearDownTestSuite() { server.reset(); }

    /// Puts `content` on the server and describes it as an asset fetched through `mode`.
    RuntimeAsset serve(const std::string& content, const std::string& mode = "file") const
    {
        test_support::writeText(server->folder() / name, content);
        return RuntimeAsset{.name = name, .url = server->url("/" + mode + "/" + name), .sha256 = digestOf(content)};
    }

    std::string setupLog() const { return test_support::readText(root / "Logs" / "setup.log"); }
    fs::path target() const { return root / "Downloads" / name; }
    fs::path partial() const { return root / "Downloads" / (name + ".partial"); }

    static inline std::unique_ptr<test_support::HttpsServer> server;
    test_support::ScopedEnvironmentVariable trust{"CURL_CA_BUNDLE", server->caBundle().string()};
    test_support::TempDir dir;
    const fs::path root = dir / "root";
    const fs::path cache = dir / "cache";
    const std::string name = "engine.tar.xz";
    const std::string content = payload(2'500, 'e');
    std::vector<std::string> reports;
    Installer installer{root, [this](const std::string& line) { reports.push_back(line); }};
};

TEST_F(Obtain, DownloadsThroughCurlReportsProgressAndKeepsTheVerifiedFile)
{
    const RuntimeAsset asset = serve(content);

    EXPECT_EQ(installer.obtain(asset, std::nullopt), target());

    EXPECT_EQ(test_support::readText(target()), content);
    EXPECT_FALSE(fs::exists(partial()));
    EXPECT_THAT(setupLog(),
                HasSubstr("Starting /usr/bin/curl: [\"--fail\", \"--location\", \"--silent\", \"--show-error\", "
                          "\"--retry\", \"2\", \"--proto\", \"=https\", \"--proto-redir\", \"=https\", "
                          "\"--connect-timeout\", \"20\", \"--max-time\", \"1800\", \"--dump-header\", \""
                          + partial().string() + ".headers\", \"--output\", \"" + partial().string() + "\", \""
                          + asset.url + "\"]\n"));
    ASSERT_GE(reports.size(), 3u);
    EXPECT_EQ(reports.front(), "Downloading engine.tar.xz \u00B7 Zero KB received \u00B7 0s elapsed");
    EXPECT_THAT(reports[reports.size() - 2],
                HasSubstr("Downloading engine.tar.xz \u00B7 3 KB of 3 KB received \u00B7 "));
    EXPECT_EQ(reports.back(), "Verifying engine.tar.xz");
    for (size_t i = 0; i + 1 < reports.size(); ++i)
        EXPECT_THAT(reports[i],
                    ::testing::MatchesRegex("Downloading engine\\.tar\\.xz \u00B7 .* received \u00B7 [0-9]+s elapsed"));
}

TEST_F(Obtain, AVerifiedCopyInDownloadsIsReturnedWithoutNetworkOrCache)
{
    // The cache holds a wrong copy and the server has nothing: either would be noticed.
    test_support::writeText(target(), content);
    test_support::writeText(cache / name, "tampered");
    const RuntimeAsset asset{.name = name, .url = server->url("/file/absent"), .sha256 = digestOf(content)};

    EXPECT_EQ(installer.obtain(asset, cache), target());

    EXPECT_EQ(test_support::readText(target()), content);
    EXPECT_TRUE(reports.empty());
    EXPECT_THAT(setupLog(), Not(HasSubstr("Starting /usr/bin/curl")));
}

TEST_F(Obtain, AnAlteredCopyIsReplacedFromAVerifiedCache)
{
    const RuntimeAsset asset{.name = name, .url = server->url("/file/absent"), .sha256 = digestOf(content)};
    const struct {
        const char* label;
        std::string stale;
    } cases[] = {
        {"truncated", content.substr(0, 1000)},
        {"altered", payload(2'500, 'x')},
        {"empty", ""},
    };
    test_support::writeText(cache / name, content);
    test_support::writeText(cache / "other.bin", "other");
    const auto cacheBefore = snapshot(cache);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        test_support::writeText(target(), c.stale);

        EXPECT_EQ(installer.obtain(asset, cache), target());

        EXPECT_EQ(test_support::readText(target()), content);
        EXPECT_FALSE(fs::exists(partial()));
        EXPECT_EQ(snapshot(cache), cacheBefore);
    }
    EXPECT_TRUE(reports.empty()) << "a cached copy is not reported as verified download";
    EXPECT_THAT(setupLog(), Not(HasSubstr("Starting /usr/bin/curl")));
}

TEST_F(Obtain, AnAlteredCopyWithoutACachedOneIsDownloadedAgain)
{
    const RuntimeAsset asset = serve(content);
    fs::create_directories(cache);
    test_support::writeText(cache / "unrelated.tar.xz", "unrelated");
    const auto cacheBefore = snapshot(cache);
    for (const std::optional<fs::path>& folder : {std::optional<fs::path>(), std::optional<fs::path>(cache)}) {
        SCOPED_TRACE(folder ? "cache without the asset" : "no cache");
        reports.clear();
        test_support::writeText(target(), content.substr(1));

        EXPECT_EQ(installer.obtain(asset, folder), target());

        EXPECT_EQ(test_support::readText(target()), content);
        ASSERT_FALSE(reports.empty());
        EXPECT_EQ(reports.back(), "Verifying engine.tar.xz");
    }
    EXPECT_EQ(snapshot(cache), cacheBefore);
}

TEST_F(Obtain, AWrongCachedCopyStopsBeforeAnyDownload)
{
    const RuntimeAsset asset = serve(content);
    test_support::writeText(target(), "stale copy");
    test_support::writeText(cache / name, content + "!");
    const auto cacheBefore = snapshot(cache);

    try {
        installer.obtain(asset, cache);
        FAIL() << "the wrong cached copy was accepted";
    } catch (const SetupFailure& failure) {
        EXPECT_EQ(failure.message(),
                  "The cached copy of engine.tar.xz in " + shownPath(cache)
                      + " failed verification, so it was not used. Remove it from that folder or "
                        "replace it with the supported file, then retry.");
    }

    EXPECT_FALSE(entryExists(target()));
    EXPECT_FALSE(entryExists(partial()));
    EXPECT_EQ(snapshot(cache), cacheBefore);
    EXPECT_THAT(setupLog(), Not(HasSubstr("Starting /usr/bin/curl")));
    EXPECT_TRUE(reports.empty());
}

// Only bytes that can be continued are kept: the part of a cut download, with its sidecar.
TEST_F(Obtain, AFailedDownloadLeavesNoTargetAndKeepsOnlyAPartThatCanBeContinued)
{
    const struct {
        const char* mode;
        bool wrongBytes;
        std::string message;
        std::int64_t kept;
    } cases[] = {
        {"missing", false,
         "The file engine.tar.xz was not found on its server. Update Corvanel to its latest version, then retry.", 0},
        {"redirect-http", false,
         "The server of engine.tar.xz sent the download to an address that is not secure, so it was "
         "refused. Try again later; if it keeps failing, update Corvanel to its latest version.",
         0},
        {"short", false, "The download of engine.tar.xz was interrupted. Check your internet connection, then retry.",
         1'250},
        {"file", true,
         "The download of engine.tar.xz failed checksum verification. Nothing from that download was run.", 0},
    };
    fs::create_directories(cache);
    test_support::writeText(cache / "unrelated.tar.xz", "unrelated");
    const auto cacheBefore = snapshot(cache);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        reports.clear();
        RuntimeAsset asset = serve(content, c.mode);
        if (c.wrongBytes)
            asset.sha256 = digestOf(payload(2'500, 'w'));
        // Left behind by an interrupted run: it must neither show in progress nor survive.
        test_support::writeText(partial(), payload(7'777, 's'));

        try {
            installer.obtain(asset, cache);
            ADD_FAILURE() << "the download was accepted";
        } catch (const SetupFailure& failure) {
            EXPECT_EQ(failure.message(), c.message);
        }

        EXPECT_FALSE(entryExists(target()));
        if (c.kept > 0) {
            EXPECT_EQ(fs::file_size(partial()), static_cast<std::uintmax_t>(c.kept));
            EXPECT_TRUE(fs::is_regular_file(root / "Downloads" / (name + ".partial.json")));
            EXPECT_EQ(fs::remove_all(root / "Downloads"), 3u) << "the folder, the part and its sidecar";
        } else {
            EXPECT_EQ(test_support::treeOf(root / "Downloads"), std::vector<std::string>{});
        }
        EXPECT_EQ(snapshot(cache), cacheBefore);
        ASSERT_FALSE(reports.empty());
        EXPECT_EQ(reports.front(), "Downloading engine.tar.xz \u00B7 Zero KB received \u00B7 0s elapsed");
        EXPECT_EQ(reports.back() == "Verifying engine.tar.xz", c.wrongBytes);
    }
}

// Each cause gets its own sentence with the user's next step; curl's number is for the log.
TEST_F(Obtain, AFailedDownloadIsNamedByItsCause)
{
    const std::string refused = "The download of engine.tar.xz could not reach its server, or the server refused the "
                                "connection. Check your internet connection and any firewall or proxy settings, then "
                                "retry; if it keeps failing, the server may be down, so try again later.";
    const struct {
        const char* label;
        std::string url;
        std::optional<std::string> caBundle; ///< instead of the test server's authority
        bool diskFull;
        std::string message;
        int curlStatus;
    } cases[] = {
        {"connection refused", "https://127.0.0.1:1/engine.tar.xz", {}, false, refused, 7},
        {"unknown host",
         "https://corvanel-test.invalid/engine.tar.xz",
         {},
         false,
         "The download of engine.tar.xz could not start because the name of its server could not be found. Check "
         "that this computer is connected to the internet, then retry.",
         6},
        {"not on the server",
         server->url("/file/absent.tar.xz"),
         {},
         false,
         "The file engine.tar.xz was not found on its server. Update Corvanel to its latest version, then retry.",
         22},
        {"untrusted certificate", server->url("/file/" + name), (dir / "unrelated-ca.crt").string(), false,
         "The download of engine.tar.xz stopped because the security certificate of its server could not be "
         "verified. Check that this computer's date and time are correct and that no network filter intercepts "
         "secure connections, then retry.",
         60},
        {"full disk",
         "https://127.0.0.1:1/engine.tar.xz",
         {},
         true,
         "The disk that holds the installation folder is full. Setup needs at least 12 GB of available disk space. "
         "Free some space and retry.",
         7},
    };
    serve(content);
    // An authority that signed nothing the server shows.
    fs::copy_file("/etc/ssl/certs/ca-certificates.crt", dir / "unrelated-ca.crt");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        fs::remove_all(root);
        std::optional<test_support::ScopedEnvironmentVariable> distrust;
        if (c.caBundle)
            distrust.emplace("CURL_CA_BUNDLE", *c.caBundle);
        HostQueries host = HostQueries::platform();
        if (c.diskFull)
            host.freeSpace = [](const fs::path&) { return std::optional<std::uintmax_t>(1'000'000); };
        const Installer downloader(root, {}, releaseCatalogue(), host);
        const RuntimeAsset asset{.name = name, .url = c.url, .sha256 = digestOf(content)};

        try {
            downloader.obtain(asset, std::nullopt);
            ADD_FAILURE() << "the download was accepted";
        } catch (const SetupFailure& failure) {
            EXPECT_EQ(failure.message(), c.message);
        }

        EXPECT_FALSE(entryExists(target()));
        EXPECT_THAT(setupLog(), HasSubstr("Finished /usr/bin/curl, exit " + std::to_string(c.curlStatus) + ", "));
    }
}

TEST_F(Obtain, TheLiveLineShowsTheBytesReceivedSoFar)
{
    // The server sends half, pauses three seconds, then sends the rest; one of the runner's
    // calls, two seconds apart, falls into the pause and sees the half.
    const std::string large = payload(4'000'000, 'l');
    const RuntimeAsset asset = serve(large, "slow");

    installer.obtain(asset, std::nullopt);

    EXPECT_THAT(reports,
                ::testing::Contains(::testing::MatchesRegex(
                    "Downloading engine\\.tar\\.xz \u00B7 2 MB of 4 MB received \u00B7 [2-9]s elapsed")));
    ASSERT_GE(reports.size(), 2u);
    EXPECT_THAT(
        reports[reports.size() - 2],
        ::testing::MatchesRegex("Downloading engine\\.tar\\.xz \u00B7 4 MB of 4 MB received \u00B7 [3-9]s elapsed"));
    EXPECT_EQ(test_support::readText(target()), large);
}

TEST(ObtainAudio, AWrongCachedPackageIsNamedInTheFailure)
{
    test_support::TempDir dir;
    test_support::writeText(dir / "cache" / "MPSetup.exe", "not the package");
    const Installer installer(dir / "root");

    try {
        installer.obtain(demoCatalogue().audio, dir / "cache");
        FAIL() << "the wrong package was accepted";
    } catch (const SetupFailure& failure) {
        EXPECT_EQ(failure.message(),
                  "The cached copy of MPSetup.exe in " + shownPath(dir / "cache")
                      + " failed verification, so it was not used. Remove it from that folder or "
                        "replace it with the supported file, then retry.");
    }
    EXPECT_FALSE(entryExists(dir / "root" / "Downloads" / "MPSetup.exe"));
}

// A cached copy that is a pipe or leads to a device would be read forever; it is refused by
// name and nothing is downloaded. The same things in the download folder, which is ours, are
// never read but replaced by a verified copy.
TEST(ObtainAudio, CachedEntryThatIsNoRegularFileIsRefusedByName)
{
    test_support::TempDir dir;
    const fs::path cache = dir / "cache";
    fs::create_directories(cache);
    RuntimeAsset asset = demoCatalogue().audio;
    asset.url = "https://127.0.0.1:1/MPSetup.exe"; // refuses connections: nothing may be downloaded
    const fs::path entry = cache / asset.name;
    const Installer installer(dir / "root");
    const auto refusal = [&](const char* kind) {
        try {
            installer.obtain(asset, cache);
            return std::string("accepted");
        } catch (const SetupFailure& failure) {
            EXPECT_EQ(failure.message(),
                      "Only regular files can be used, but " + shownPath(entry) + " is " + kind
                          + ". Choose a regular file and try again.");
            return failure.message();
        }
    };
    {
        const test_support::ReleasedFifo pipe(entry);
        refusal("a named pipe");
        EXPECT_EQ(pipe.readersReleased(), 0) << "the pipe was opened";
    }
    for (const char* device : {"/dev/null", "/dev/zero"}) {
        SCOPED_TRACE(device);
        fs::remove(entry);
        fs::create_symlink(device, entry);
        refusal("a device");
    }
    EXPECT_FALSE(entryExists(dir / "root" / "Downloads" / asset.name));
    EXPECT_THAT(test_support::readText(installer.log()), Not(HasSubstr("Starting /usr/bin/curl")));
    EXPECT_TRUE(fs::is_symlink(entry)) << "the user's cache was changed";
}

TEST(ObtainAudio, NonRegularEntryInTheDownloadFolderIsReplacedUnread)
{
    test_support::TempDir dir;
    const fs::path downloads = dir / "root" / "Downloads";
    fs::create_directories(downloads);
    const Catalogue catalogue = demoCatalogue();
    const fs::path target = downloads / catalogue.audio.name;
    const Installer installer(dir / "root");
    const fs::path cache = fs::path(CORVANEL_FIXTURES_DIR) / "cache";
    {
        const test_support::ReleasedFifo pipe(target);
        EXPECT_EQ(installer.obtain(catalogue.audio, cache), target);
        EXPECT_EQ(pipe.readersReleased(), 0) << "the pipe was opened";
    }
    EXPECT_EQ(digestOf(test_support::readText(target)), catalogue.audio.sha256);
    fs::remove(target);
    fs::create_symlink("/dev/zero", target);
    EXPECT_EQ(installer.obtain(catalogue.audio, cache), target);
    EXPECT_FALSE(fs::is_symlink(target));
    EXPECT_EQ(digestOf(test_support::readText(target)), catalogue.audio.sha256);
}

} // namespace corvanel
