#pragma once

#include "installer/assets/catalogue.h"
#include "installer/assets/system_wine.h"
#include "installer/child_process.h"
#include "installer/install_lock.h"
#include "installer/layout.h"
#include "installer/platform.h"
#include "installer/setup_steps.h"
#include "installer/version.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvanel {

namespace fs = std::filesystem;

using Report = std::function<void(const std::string&)>;
using Progress = std::function<void(double seconds)>;
using Environment = std::map<std::string, std::string>;

/// How `Installer::run` starts and watches one program.
struct RunOptions {
    std::optional<Environment> environment; ///< complete environment; none inherits ours
    std::optional<fs::path> directory; ///< working folder; none inherits ours
    bool capture = false; ///< return the output instead of logging it
    double timeout = 900; ///< seconds from start
    Progress progress; ///< called at once, then every 2 s or more, and after the end
};

/// What the installer asks of this computer: the free space of a volume, how to test that 32-bit
/// x86 programs run, and where its own Wine may be installed. platform() gives this computer's answers.
struct HostQueries {
    /// The bytes free on the volume holding a path, or nothing when that cannot be told.
    std::function<std::optional<std::uintmax_t>(const fs::path&)> freeSpace;
    std::vector<std::string> x86Probe; ///< a program that succeeds only where 32-bit x86 runs, then its arguments
    /// The Wine loaders setup tries, in order, when the runtime is the Wine installed on this
    /// computer; nothing when the verified runtime is downloaded and unpacked below the root.
    std::optional<std::vector<fs::path>> systemWine = platform::systemWineSearch();
    static HostQueries platform();
};

/// The parts of an installation that repair can tell apart, in the order it checks them.
enum class InstallationPart { Record, GameFiles, Runtime, GraphicsLibraries, WindowsEnvironment, AudioDecoder };

/// One thing missing or damaged in an installation.
struct MissingPart {
    InstallationPart part;
    std::string item; ///< what it is, as a phrase: "the compatibility runtime"
    std::string description; ///< one sentence saying what is wrong
    std::string advice = {}; ///< a sentence saying what the user does before a repair; often empty
};

/// How a repair ended when it did not fail.
enum class RepairOutcome { AlreadyComplete, Repaired };

/// One sentence naming every missing item, e.g. "The compatibility runtime and the audio
/// decoder are missing or damaged.", then each part's advice once; empty for none.
std::string describeMissingParts(const std::vector<MissingPart>& parts);

/// "the a is", "the a and the b are", "the a, the b and the c are": each part's item once.
std::string itemsWithVerb(const std::vector<MissingPart>& parts);

/// A started game and the install lock held for its lifetime.
struct LaunchedGame {
    ChildProcess process;
    InstallLock lock;
};

/// Every setup stage and the launch are operations of one Installer, which owns nothing but
/// its root: the installed state is always read fresh from disk.
class Installer {
public:
    static constexpr std::string_view version = programVersion;

    explicit Installer(std::optional<fs::path> root = std::nullopt, Report report = {},
                       Catalogue catalogue = releaseCatalogue(), HostQueries host = HostQueries::platform());

    // Layout below the root.
    const fs::path& root() const { return root_; }
    fs::path game() const { return root_ / layout::install / layout::gameFolder; }
    fs::path prefix() const { return root_ / layout::install / layout::prefixFolder; }
    fs::path runtime() const { return root_ / layout::runtime; }
    /// The Wine loader setup, launch and repair use: the one unpacked below the root, or the
    /// Wine of this computer that this setup found or the record names (empty when none does).
    fs::path wine() const;
    /// Whether the runtime is the Wine installed on this computer rather than a download.
    bool usesSystemWine() const { return host_.systemWine.has_value(); }
    fs::path log() const { return log_; }
    fs::path record() const { return root_ / layout::record; }
    fs::path lockFile() const { return root_ / layout::lock; }
    const Catalogue& catalogue() const { return catalogue_; }

    /// Logs `text`, stamped, to the setup log, then hands it to the creator's callback.
    void report(const std::string& text) const;

    /// `requested` is asked before each program starts and several times a second while one runs;
    /// once it answers true, the running program's whole process group is ended and the
    /// operation raises `SetupStopped`. Set before the operation starts.
    void setStopRequest(std::function<bool()> requested) { stopRequested_ = std::move(requested); }

    /// `stages` hears each stage of a setup or repair start, move between its sub-steps and
    /// finish, and, in a repair, which stages have nothing to do. Set before the operation starts.
    void setStageReport(StageReport stages) { stageReport_ = std::move(stages); }
    /// Hands `event` to the stage report, when there is one.
    void reportStage(const StageEvent& event) const;

    /// True only for a valid record whose installed files are all in place. Never fails.
    bool isInstalled() const;

    // Process runner and Wine environment.
    std::string run(const std::string& executable, const std::vector<std::string>& arguments,
                    const RunOptions& options = {}) const;
    Environment environment() const;

    void preflight() const;

    // Downloads and the compatibility runtime.
    fs::path obtain(const RuntimeAsset& asset, const std::optional<fs::path>& cache) const;
    /// Makes the runtime ready: finds this computer's Wine, or downloads and unpacks the verified one.
    void installRuntime(const std::optional<fs::path>& cache) const;

    // The user's game.
    void unpackUserArchive(const fs::path& archive, const fs::path& destination) const;
    void rejectSymlinks(const fs::path& folder) const;
    std::int64_t extractedBytes(const fs::path& folder) const;
    fs::path gameInput(const fs::path& source) const;
    std::optional<fs::path> locateGame(const fs::path& folder) const;
    void validateGame(const fs::path& folder) const;
    void importGame(const fs::path& source) const;

    // The Windows side.
    void installDirectX() const;
    fs::path prepareAudio(const fs::path& gameSource, const std::optional<fs::path>& override,
                          const std::optional<fs::path>& cache) const;
    std::optional<fs::path> localAudio(const fs::path& gameSource) const;
    fs::path prepareCodec(const fs::path& file) const;
    void configurePrefix(const fs::path& codec) const;

    // The whole setup, and play.
    void install(const fs::path& game, const std::optional<fs::path>& audio,
                 const std::optional<fs::path>& cache) const;
    LaunchedGame launch(bool debug = false) const;

    // Repair of an installation that holds a record but lost parts.
    /// Everything missing or damaged below the root: the installed-state test's checks, in its
    /// order, each with the further checks of its part. Never fails; empty for a complete root.
    std::vector<MissingPart> missingParts() const;
    /// Rebuilds only the missing parts, under the install lock, and rewrites the record.
    RepairOutcome repair(const std::optional<fs::path>& audio, const std::optional<fs::path>& cache) const;
    /// The game files of `folder` that the game needs and lacks, in a fixed order.
    static std::vector<std::string> missingGameFiles(const fs::path& folder);

    /// Whether the Wine `wine()` names is there, with its server.
    bool wineIsPresent() const;

    /// Refuses, with the sentence setup would give, a root that setup could not use: a path with
    /// control characters, or a folder holding anything Corvanel did not create. Reads only.
    void requireUsableRoot() const;

private:
    /// Refuses a root whose path holds a line feed or another control character, before the
    /// path is used for anything.
    void requireSupportedRoot() const;
    /// Removes what an interrupted setup left behind: staging folders, partial downloads
    /// without their sidecar, capture files and half-written records. Only ever called under
    /// the install lock.
    void sweepLeftovers() const;
    /// Refuses a root inside the chosen game folder, which the copy would carry into itself, and
    /// a source inside the root's own layout, which setup replaces or removes.
    void requireSourceApart(const fs::path& source) const;
    /// Says in one progress line which parts an earlier, unfinished setup left that this one replaces.
    void reportReplacedParts() const;
    /// Raises when any part besides the record is missing or damaged once every stage ran.
    void requireFinishedParts() const;
    /// Writes a fresh installed.json in one atomic step.
    void writeRecord() const;
    /// The record's engine for a record written now.
    std::string engineName() const;
    /// Finds the Wine of this computer that setup uses, checking its version and 32-bit side.
    void locateSystemWine() const;
    /// Downloads, verifies and unpacks the runtime below the root.
    void unpackRuntime(const std::optional<fs::path>& cache) const;
    /// Fails when a system Wine lacks its 32-bit side.
    void requireWineThirtyTwoBitSide() const;
    /// The verified decoder library for a repair of the prefix.
    fs::path repairAudio(const std::optional<fs::path>& audio, const std::optional<fs::path>& cache) const;
    /// Whether the root's volume is so nearly full that a failure just seen is put down to it.
    bool volumeIsFull() const noexcept;
    bool stopRequested() const { return stopRequested_ && stopRequested_(); }
    /// Runs `work` as `stage`: reported as started, then as finished once `work` returns.
    void runStage(SetupStage stage, const std::function<void()>& work) const;

    fs::path root_;
    fs::path log_;
    Report report_;
    Catalogue catalogue_;
    HostQueries host_;
    /// The Wine of this computer found by this setup or repair, before the record names it.
    mutable std::optional<SystemWine> foundWine_;
    std::function<bool()> stopRequested_;
    StageReport stageReport_;
};

} // namespace corvanel
