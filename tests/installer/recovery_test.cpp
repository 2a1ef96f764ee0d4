// Setup killed with SIGKILL at each stage, then run again on the same root: the retry must end
// exactly where an uninterrupted setup ends, and nothing half-built may ever count as installed.
#include "installer/file_ops.h"
#include "installer/install_lock.h"
#include "installer/installer.h"
#include "installer/setup_failure.h"
#include "support/https_server.h"
#include "support/install_process.h"
#include "support/installation_snapshot.h"
#include "support/registry_rows.h"
#include "support/runtime_choice.h"
#include "support/temp_dir.h"
#include "support/user_sentences.h"

#include "demo_catalogue.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace corvanel {
namespace {

namespace fs = std::filesystem;
using test_support::InstallationSnapshot;
using test_support::InstallOutcome;
using test_support::InstallProcess;
using test_support::InstallRequest;
using test_support::leftoversIn;
using test_support::logContains;
using test_support::snapshotOf;

const fs::path kit = CORVANEL_FIXTURES_DIR;
const fs::path source = kit / "h2pc_installer_2.1";
const char* const alreadyInstalled = "An installation already exists. Its game files and saves were left untouched.";

void expectSameInstallation(const InstallationSnapshot& actual, const InstallationSnapshot& expected)
{
    EXPECT_EQ(actual.record, expected.record);
    EXPECT_EQ(actual.game, expected.game);
    EXPECT_EQ(actual.runtime, expected.runtime);
    EXPECT_EQ(actual.drives, expected.drives);
    EXPECT_EQ(actual.gameLink, expected.gameLink);
    EXPECT_EQ(actual.decoder, expected.decoder);
    EXPECT_EQ(actual.downloads, expected.downloads);
}

std::vector<std::string> entriesStartingWith(const fs::path& folder, std::string_view prefix)
{
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error))
        if (entry->path().filename().string().starts_with(prefix))
            names.push_back(entry->path().filename().string());
    return names;
}

/// Whether the last program the runner started on `root` was seen to finish.
bool lastProgramFinished(const fs::path& root)
{
    const std::string log = test_support::readText(root / "Logs" / "setup.log");
    const auto started = log.rfind("] Starting ");
    return started != std::string::npos && log.find("] Finished ", started) != std::string::npos;
}

/// Serves the fixture kit's assets over local HTTPS (the engine through the slow endpoint, so
/// that a download can be caught half-way) and runs one setup nobody interrupts: the result
/// every interrupted setup must end with.
class Recovery : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        server_ = std::make_unique<test_support::HttpsServer>();
        for (const auto& asset : fs::directory_iterator(kit / "cache"))
            fs::copy_file(asset.path(), server_->folder() / asset.path().filename());
        trust_
            = std::make_unique<test_support::ScopedEnvironmentVariable>("CURL_CA_BUNDLE", server_->caBundle().string());
        // The download-and-unpack runtime: its slow download and its staging are what get interrupted.
        catalogue_ = runtimeDownloadCatalogue();
        catalogue_.engine.url = server_->url("/slow/" + catalogue_.engine.name);
        catalogue_.libraries.url = server_->url("/file/" + catalogue_.libraries.name);
        catalogue_.audio.url = server_->url("/file/" + catalogue_.audio.name);

        folder_ = std::make_unique<test_support::TempDir>();
        referenceOutcome_ = InstallProcess(request(reference())).finish();
        reference_ = snapshotOf(reference());
    }

    static void TearDownTestSuite()
    {
        test_support::waitForWine(reference());
        folder_.reset();
        trust_.reset();
        server_.reset();
        catalogue_ = {};
    }

    void SetUp() override
    {
        ASSERT_TRUE(referenceOutcome_.succeeded) << referenceOutcome_.error;
        ASSERT_FALSE(reference_.record.empty());
    }

    static fs::path reference() { return *folder_ / "reference"; }

    /// The same sources for every setup of these tests: the installer folder, every asset
    /// downloaded, no cache.
    static InstallRequest request(const fs::path& root, std::string holdAt = "")
    {
        return InstallRequest{.root = root,
                              .game = source,
                              .catalogue = catalogue_,
                              .host = test_support::downloadedRuntime(),
                              .holdAt = std::move(holdAt)};
    }

    static inline std::unique_ptr<test_support::HttpsServer> server_;
    static inline std::unique_ptr<test_support::ScopedEnvironmentVariable> trust_;
    static inline Catalogue catalogue_;
    static inline std::unique_ptr<test_support::TempDir> folder_;
    static inline InstallOutcome referenceOutcome_;
    static inline InstallationSnapshot reference_;
};

// Each run below is killed at the next stage; the run after it must have swept what the killed
// one left before it gets anywhere. Points too short to catch from outside (between the two
// moves of a replacement, during a captured read-back) are arranged as the kill would leave
// them. One uninterrupted run on the same root then finishes the installation.
TEST_F(Recovery, SetupKilledAtEachStageCountsAsNotInstalledAndTheNextSetupFinishesIt)
{
    const fs::path root = *folder_ / "killed";
    const Installer installer(root, {}, catalogue_, test_support::downloadedRuntime());
    const fs::path partial = root / "Downloads" / (catalogue_.engine.name + ".partial");
    const auto engineSize = fs::file_size(kit / "cache" / catalogue_.engine.name);

    {
        SCOPED_TRACE("during the download");
        InstallProcess setup(request(root));
        ASSERT_TRUE(setup.waitUntil([&] {
            // curl creates its output file with the first bytes it receives, and buffers them.
            std::error_code error;
            const auto size = fs::file_size(partial, error);
            return !error && size < engineSize;
        })) << "the slow download was caught half-way";
        setup.kill();
        EXPECT_FALSE(installer.isInstalled());
        EXPECT_TRUE(fs::exists(partial));
    }
    {
        SCOPED_TRACE("during the game's extraction");
        InstallProcess setup(request(root, "Extracting h2pc_data.bin \u00B7 "));
        ASSERT_TRUE(setup.waitUntilHeld());
        EXPECT_TRUE(fs::exists(partial)) << "the killed run's part is kept for the next download to continue";
        EXPECT_TRUE(fs::exists(partial.string() + ".json"));
        setup.kill();
        EXPECT_FALSE(installer.isInstalled());
        EXPECT_EQ(entriesStartingWith(root, "Game-staging-").size(), 1u);
    }
    {
        SCOPED_TRACE("during the verification of a download");
        InstallProcess setup(request(root, "Verifying " + catalogue_.engine.name));
        ASSERT_TRUE(setup.waitUntilHeld());
        EXPECT_EQ(entriesStartingWith(root, "Game-staging-"), std::vector<std::string>{});
        EXPECT_EQ(fs::file_size(partial), engineSize);
        setup.kill();
        EXPECT_FALSE(installer.isInstalled());
        EXPECT_TRUE(fs::exists(partial)) << "the verified name is never given to an unverified file";
        EXPECT_FALSE(fs::exists(root / "Downloads" / catalogue_.engine.name));
    }
    {
        SCOPED_TRACE("during wineboot");
        InstallProcess setup(request(root));
        ASSERT_TRUE(setup.waitUntil([&] {
            return logContains(root, R"(wine: ["wineboot", "-u"])") && fs::exists(installer.prefix() / "drive_c");
        })) << "wineboot was caught while it builds the prefix";
        setup.kill();
        EXPECT_FALSE(lastProgramFinished(root));
        EXPECT_FALSE(installer.isInstalled());
        EXPECT_EQ(leftoversIn(root), std::vector<std::string>{});
    }
    const std::string runtimeBefore = snapshotOf(root).runtime;
    {
        SCOPED_TRACE("during the runtime's replacement");
        InstallProcess setup(request(root, "Unpacking the verified runtime"));
        ASSERT_TRUE(setup.waitUntilHeld());
        setup.kill();
        EXPECT_FALSE(installer.isInstalled());
        EXPECT_EQ(snapshotOf(root).runtime, runtimeBefore)
            << "the live runtime is untouched until the staged one is complete";
        const auto staging = entriesStartingWith(root, "Runtime-staging-");
        ASSERT_EQ(staging.size(), 1u);

        // Arranged: the kill came between the runtime's two moves, and between the game's two
        // moves (old game removed, new one still in staging), and while a read-back was captured.
        fs::rename(installer.runtime() / "lib", root / staging.front() / "lib");
        const fs::path gameStaging = root / ("Game-staging-" + newUuid());
        fs::create_directory(gameStaging);
        fs::rename(installer.game(), gameStaging / "Imported");
        test_support::writeText(root / "Logs" / ("capture-" + newUuid() + ".txt"), "HKEY_LOCAL_MACHINE\\Software\r\n");
        EXPECT_FALSE(installer.isInstalled());
    }
    {
        SCOPED_TRACE("during the registry writes");
        InstallProcess setup(request(root));
        ASSERT_TRUE(setup.waitUntil([&] { return logContains(root, R"(wine: ["reg", "add")"); }));
        setup.kill();
        EXPECT_FALSE(lastProgramFinished(root));
        EXPECT_FALSE(installer.isInstalled());
        EXPECT_EQ(leftoversIn(root), std::vector<std::string>{});
        EXPECT_TRUE(fs::exists(installer.runtime() / "lib" / "libinotify.0.dylib"));
        EXPECT_TRUE(fs::exists(installer.game() / "halo2.exe"));
    }

    const InstallOutcome finished = InstallProcess(request(root)).finish();
    ASSERT_TRUE(finished.succeeded) << finished.error << "\n" << test_support::holdersOf(installer.lockFile());
    EXPECT_TRUE(installer.isInstalled());
    expectSameInstallation(snapshotOf(root), reference_);
    EXPECT_EQ(leftoversIn(root), std::vector<std::string>{});

    // The rows the killed run had begun to write, and the decoder registration, are all there.
    test_support::expectRegistryRowsReadBack(installer);
    const std::string decoder = installer.run(
        installer.wine().string(),
        {"reg", "query",
         R"(HKLM\Software\Classes\Wow6432Node\CLSID\{2EEB4ADF-4578-4D10-BCA7-BB955F56320A}\InprocServer32)"},
        {.environment = installer.environment(), .capture = true, .timeout = 60});
    EXPECT_NE(decoder.find("wmadmod.dll"), std::string::npos) << decoder;
    test_support::waitForWine(root);
}

// The record is written in one step, too fast to kill around from outside; both sides of it are
// arranged from the uninterrupted installation: just before, the root is complete but holds only
// the record's aside file; just after, it holds the record.
TEST_F(Recovery, AKillJustBeforeTheRecordIsRepairedAndOneJustAfterLeavesAnInstalledRoot)
{
    const fs::path root = reference();
    const Installer installer(root, {}, catalogue_, test_support::downloadedRuntime());
    test_support::waitForWine(root);
    const std::string record = test_support::readText(installer.record());
    fs::remove(installer.record());
    test_support::writeText(root / (".installed.json." + newUuid() + ".tmp"), record.substr(0, record.size() / 2));
    EXPECT_FALSE(installer.isInstalled());

    {
        SCOPED_TRACE("just before the record");
        InstallProcess setup(request(root, "Ready to play"));
        ASSERT_TRUE(setup.waitUntilHeld());
        // The record is written and the setup still holds the lock: a launch now is refused.
        EXPECT_TRUE(installer.isInstalled());
        EXPECT_EQ(leftoversIn(root), std::vector<std::string>{});
        try {
            LaunchedGame game = installer.launch();
            game.process.wait();
            ADD_FAILURE() << "the game started while setup still ran";
        } catch (const SetupFailure& failure) {
            EXPECT_EQ(failure.message(), test_support::competingLauncher);
        }
        const InstallOutcome finished = setup.finish();
        ASSERT_TRUE(finished.succeeded) << finished.error;
        EXPECT_TRUE(installer.isInstalled());
        expectSameInstallation(snapshotOf(root), reference_);
        EXPECT_EQ(leftoversIn(root), std::vector<std::string>{});
    }
    {
        SCOPED_TRACE("just after the record");
        test_support::waitForWine(root);
        const InstallOutcome again = InstallProcess(request(root)).finish();
        EXPECT_FALSE(again.succeeded);
        EXPECT_EQ(again.error, alreadyInstalled);
        EXPECT_TRUE(installer.isInstalled());
        expectSameInstallation(snapshotOf(root), reference_);
    }
}

// Leftovers of an interrupted setup belong to whoever holds the lock: a setup refused by the
// lock must not touch the running one's staging folders.
TEST(RecoverySweep, OnlyTheSetupThatHoldsTheLockSweepsWhatAKilledSetupLeft)
{
    test_support::TempDir folder;
    const fs::path root = folder / "root";
    const std::vector<std::string> leftovers = {
        ".installed.json." + newUuid() + ".tmp",
        "DirectX-staging-" + newUuid(),
        "Downloads/" + demoCatalogue().engine.name + ".partial",
        "Game-staging-" + newUuid(),
        "Logs/capture-" + newUuid() + ".txt",
        "Runtime-staging-" + newUuid(),
    };
    for (const auto& name : leftovers) {
        if (name.find("-staging-") != std::string::npos) {
            test_support::writeText(root / name / "Imported" / "maps" / "shared.map", "half");
            fs::permissions(root / name / "Imported", fs::perms(0500));
        } else {
            test_support::writeText(root / name, "half");
        }
    }
    const std::vector<std::string> kept
        = {"Downloads/" + demoCatalogue().audio.name, "Install/game/halo2.exe", "Logs/halo2.log"};
    for (const auto& name : kept)
        test_support::writeText(root / name, "kept");
    ASSERT_EQ(leftoversIn(root), leftovers);

    const HostQueries noSpaceCheck{.freeSpace = {}, .x86Probe = HostQueries::platform().x86Probe};
    const Installer installer(root, {}, demoCatalogue(), noSpaceCheck);
    // Not an archive at all: setup gets as far as the lock and the sweep, then fails.
    const fs::path notAnArchive = folder / "source" / "h2pc_data.bin";
    test_support::writeText(notAnArchive, "not an archive");
    {
        const InstallLock running(installer.lockFile());
        try {
            installer.install(notAnArchive, std::nullopt, std::nullopt);
            ADD_FAILURE() << "setup ran while another held the lock";
        } catch (const SetupFailure& failure) {
            EXPECT_EQ(failure.message(), test_support::competingLauncher);
        }
        EXPECT_EQ(leftoversIn(root), leftovers);
    }

    EXPECT_THROW(installer.install(notAnArchive, std::nullopt, std::nullopt), SetupFailure);
    EXPECT_EQ(leftoversIn(root), std::vector<std::string>{});
    for (const auto& name : kept)
        EXPECT_EQ(test_support::readText(root / name), "kept") << name;
}

} // namespace
} // namespace corvanel
