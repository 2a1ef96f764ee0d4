#include "installer/assets/partial_sidecar.h"
#include "installer/file_ops.h"
#include "installer/installer.h"
#include "installer/setup_failure.h"
#include "support/digest.h"
#include "support/https_server.h"
#include "support/temp_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace corvanel {

namespace {

using test_support::digestOf;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr std::int64_t wholeSize = 100'000;
constexpr std::int64_t cutAt = 60'000;
/// A whole file sent in answer to a range request, which curl refuses at its first byte.
constexpr std::int64_t refusedAnswer = 1;

std::string payload(size_t size, char seed)
{
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i)
        data[i] = static_cast<char>(seed + i * 13 + i / 509);
    return data;
}

} // namespace

/// Downloads stopped part-way and continued by the next call, against the local server.
class ObtainResume : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = std::make_unique<test_support::HttpsServer>(); }
    static void TearDownTestSuite() { server.reset(); }

    /// One root, one served file and the asset that describes it.
    struct Download {
        test_support::TempDir dir;
        fs::path root = dir / "root";
        std::string name;
        RuntimeAsset asset;
        std::vector<std::string> reports;
        Installer installer{root, [this](const std::string& line) { reports.push_back(line); }};

        fs::path downloads() const { return root / "Downloads"; }
        fs::path target() const { return downloads() / name; }
        fs::path partial() const { return downloads() / (name + ".partial"); }
        fs::path sidecar() const { return downloads() / (name + ".partial.json"); }
        fs::path served() const { return server->folder() / name; }
        long count(const std::string& line) const { return std::count(reports.begin(), reports.end(), line); }
        long resumptions() const
        {
            return std::count_if(reports.begin(), reports.end(), [this](const std::string& line) {
                return line.starts_with("Downloading " + name + " \u00B7 resumed at ");
            });
        }
    };

    /// A fresh download of `content` through `mode`, whose first run is cut at 60 %.
    std::unique_ptr<Download> cutShort(const std::string& mode, const std::string& served)
    {
        auto download = std::make_unique<Download>();
        download->name = "asset-" + std::to_string(++serial) + ".tar.xz";
        download->asset = {
            .name = download->name, .url = server->url("/" + mode + "/" + download->name), .sha256 = digestOf(content)};
        test_support::writeText(download->served(), served);
        server->cutNextAfter(download->name, cutAt);
        try {
            download->installer.obtain(download->asset, std::nullopt);
            ADD_FAILURE() << "the cut download was accepted";
        } catch (const SetupFailure& failure) {
            EXPECT_THAT(failure.message(),
                        ::testing::StartsWith("The download of " + download->name + " was interrupted."));
        }
        return download;
    }

    static inline std::unique_ptr<test_support::HttpsServer> server;
    static inline int serial = 0;
    test_support::ScopedEnvironmentVariable trust{"CURL_CA_BUNDLE", server->caBundle().string()};
    const std::string content = payload(wholeSize, 'r');
    const std::string other = payload(wholeSize, 'o');
};

TEST_F(ObtainResume, ACutDownloadKeepsItsBytesWithASidecarThatNamesTheAsset)
{
    for (const char* mode : {"file", "dated", "norange"}) {
        SCOPED_TRACE(mode);
        const auto download = cutShort(mode, content);

        EXPECT_EQ(fs::file_size(download->partial()), static_cast<std::uintmax_t>(cutAt));
        EXPECT_FALSE(entryExists(download->target()));
        EXPECT_EQ(test_support::treeOf(download->downloads()),
                  (std::vector<std::string>{download->name + ".partial", download->name + ".partial.json"}));
        const auto sidecar = PartialSidecar::decode(test_support::readText(download->sidecar()));
        ASSERT_TRUE(sidecar);
        EXPECT_EQ(sidecar->url, download->asset.url);
        EXPECT_EQ(sidecar->sha256, download->asset.sha256);
        EXPECT_EQ(sidecar->etag.empty(), std::string(mode) == "dated");
        EXPECT_FALSE(sidecar->lastModified.empty());
        EXPECT_EQ(server->bytesSent(download->name), cutAt);
    }
}

// Each row: a download cut at 60 %, then what happened before the next call, then that call.
// Whatever the row, the result is the served file whole and verified, nothing else is left in
// Downloads, and the server sent exactly the bytes the row names over both calls.
TEST_F(ObtainResume, TheNextDownloadContinuesOnlyWhatTheServerAndTheKeptBytesAllow)
{
    const auto later
        = [](const fs::path& file) { fs::last_write_time(file, fs::last_write_time(file) + std::chrono::hours(1)); };
    const struct {
        const char* label;
        const char* mode;
        bool wrongFirst; ///< the first call got another file than the asset
        std::function<void(const Download&)> between;
        std::int64_t sent; ///< over both calls
        bool resumes; ///< "resumed at" is said
        int verifications; ///< in the second call
    } cases[] = {
        {"resumed under the entity tag", "file", false, {}, wholeSize, true, 1},
        {"resumed under the date", "dated", false, {}, wholeSize, true, 1},
        {"a server without ranges sends it whole", "norange", false, {}, cutAt + refusedAnswer + wholeSize, true, 1},
        {"the file changed on the server", "file", true,
         [&](const Download& d) { test_support::writeText(d.served(), content); }, cutAt + refusedAnswer + wholeSize,
         true, 1},
        {"the file changed on a server with dates only", "dated", true,
         [&](const Download& d) {
             test_support::writeText(d.served(), content);
             later(d.served());
         },
         cutAt + refusedAnswer + wholeSize, true, 1},
        {"the server answers 416", "file", false, [](const Download& d) { server->refuseNextRange(d.name); },
         cutAt + wholeSize, true, 2},
        {"the kept bytes were already whole", "file", false,
         [&](const Download& d) { test_support::writeText(d.partial(), content); }, cutAt, true, 1},
        {"wrong bytes in the kept part", "file", false,
         [](const Download& d) {
             std::string bytes = test_support::readText(d.partial());
             bytes[cutAt / 2] ^= 0x20;
             test_support::writeText(d.partial(), bytes);
         },
         2 * wholeSize, true, 2},
        {"a sidecar that names another digest", "file", false,
         [&](const Download& d) {
             test_support::writeText(
                 d.sidecar(),
                 PartialSidecar{.url = d.asset.url, .sha256 = digestOf(other), .etag = {}, .lastModified = {}}
                     .encode());
         },
         cutAt + wholeSize, false, 1},
        {"a sidecar that names another address", "file", false,
         [&](const Download& d) {
             test_support::writeText(
                 d.sidecar(),
                 PartialSidecar{.url = d.asset.url + "x", .sha256 = d.asset.sha256, .etag = {}, .lastModified = {}}
                     .encode());
         },
         cutAt + wholeSize, false, 1},
        {"a sidecar that is no JSON", "file", false,
         [](const Download& d) { test_support::writeText(d.sidecar(), "{\"url\": "); }, cutAt + wholeSize, false, 1},
        {"a sidecar longer than any of ours", "file", false,
         [](const Download& d) {
             std::string text = test_support::readText(d.sidecar());
             test_support::writeText(d.sidecar(), text.insert(1, std::string(5000, ' ')));
         },
         cutAt + wholeSize, false, 1},
        {"a sidecar whose validator would break the request", "file", false,
         [&](const Download& d) {
             test_support::writeText(d.sidecar(),
                                     "{\"url\": \"" + d.asset.url + "\", \"sha256\": \"" + d.asset.sha256
                                         + "\", \"etag\": \"\\\"a\\\"\\r\\nX-Planted: 1\"}");
         },
         cutAt + wholeSize, false, 1},
        {"no sidecar", "file", false, [](const Download& d) { fs::remove(d.sidecar()); }, cutAt + wholeSize, false, 1},
        {"a sidecar that is a link to a matching one", "file", false,
         [](const Download& d) {
             fs::rename(d.sidecar(), d.dir / "elsewhere.json");
             fs::create_symlink(d.dir / "elsewhere.json", d.sidecar());
         },
         cutAt + wholeSize, false, 1},
        {"a sidecar that is a named pipe", "file", false,
         [](const Download& d) {
             fs::remove(d.sidecar());
             ASSERT_EQ(::mkfifo(d.sidecar().c_str(), 0600), 0);
         },
         cutAt + wholeSize, false, 1},
        {"a kept part that is a link out of the root", "file", false,
         [](const Download& d) {
             fs::rename(d.partial(), d.dir / "outside.bin");
             fs::create_symlink(d.dir / "outside.bin", d.partial());
         },
         cutAt + wholeSize, false, 1},
        {"a kept part with a second name out of the root", "file", false,
         [](const Download& d) { fs::create_hard_link(d.partial(), d.dir / "outside.bin"); }, cutAt + wholeSize, false,
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const auto download = cutShort(c.mode, c.wrongFirst ? other : content);
        if (c.between)
            c.between(*download);
        const std::string outsideBefore
            = fs::exists(download->dir / "outside.bin") ? test_support::readText(download->dir / "outside.bin") : "";
        download->reports.clear();

        EXPECT_EQ(download->installer.obtain(download->asset, std::nullopt), download->target());

        EXPECT_EQ(digestOf(test_support::readText(download->target())), download->asset.sha256);
        EXPECT_EQ(test_support::treeOf(download->downloads()), std::vector<std::string>{download->name});
        EXPECT_EQ(server->bytesSent(download->name), c.sent);
        EXPECT_EQ(download->resumptions(), c.resumes ? 1 : 0);
        EXPECT_EQ(download->count("Verifying " + download->name), c.verifications);
        if (!outsideBefore.empty())
            EXPECT_EQ(test_support::readText(download->dir / "outside.bin"), outsideBefore)
                << "a file outside the root changed";
    }
}

TEST_F(ObtainResume, AResumedDownloadCountsFromTheKeptBytes)
{
    const auto download = cutShort("file", content);
    download->reports.clear();

    download->installer.obtain(download->asset, std::nullopt);

    const auto& reports = download->reports;
    ASSERT_GE(reports.size(), 4u);
    EXPECT_EQ(reports[0], "Downloading " + download->name + " \u00B7 resumed at 60 KB");
    EXPECT_THAT(reports[1],
                ::testing::MatchesRegex(
                    "Downloading asset-[0-9]+\\.tar\\.xz \u00B7 60 KB( of 100 KB)? received \u00B7 0s elapsed"));
    EXPECT_THAT(reports[reports.size() - 2],
                ::testing::MatchesRegex(
                    "Downloading asset-[0-9]+\\.tar\\.xz \u00B7 100 KB of 100 KB received \u00B7 [0-9]+s elapsed"));
    EXPECT_EQ(reports.back(), "Verifying " + download->name);
    EXPECT_THAT(test_support::readText(download->installer.log()),
                HasSubstr("\"--continue-at\", \"60000\", \"--header\", \"If-Range: \\\""));
}

TEST_F(ObtainResume, KeptBytesThatNeverVerifyFailWithTheUsualSentenceAndLeaveNothing)
{
    const auto download = cutShort("file", other); // the server holds another file than the asset
    download->reports.clear();

    try {
        download->installer.obtain(download->asset, std::nullopt);
        FAIL() << "the wrong file was accepted";
    } catch (const SetupFailure& failure) {
        EXPECT_EQ(failure.message(),
                  "The download of " + download->name
                      + " failed checksum verification. Nothing from that download was run.");
    }

    EXPECT_EQ(test_support::treeOf(download->downloads()), std::vector<std::string>{});
    EXPECT_EQ(server->bytesSent(download->name), 2 * wholeSize) << "the rest, then one clean download";
    EXPECT_EQ(download->count("Verifying " + download->name), 2);
}

} // namespace corvanel
