#include "installer/assets/partial_sidecar.h"
#include "installer/disk_space.h"
#include "installer/display_text.h"
#include "installer/file_ops.h"
#include "installer/installation_record.h"
#include "installer/installed_parts.h"
#include "installer/installer.h"
#include "installer/layout.h"
#include "installer/setup_failure.h"
#include "installer/setup_log.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <string_view>
#include <vector>

#include <sys/stat.h>

namespace corvanel {

namespace {

/// Whether `name` is `prefix`, a canonical UUID and `suffix`, the form of every temporary name
/// the program makes.
bool hasUuidBetween(std::string_view name, std::string_view prefix, std::string_view suffix)
{
    return name.size() == prefix.size() + 36 + suffix.size() && name.starts_with(prefix) && name.ends_with(suffix)
        && isCanonicalUuid(name.substr(prefix.size(), 36));
}

/// The temporary entries an interrupted setup can leave directly below the root: staging
/// folders and the record's aside file.
bool isRootLeftover(std::string_view name)
{
    return std::any_of(std::begin(layout::stagingPrefixes), std::end(layout::stagingPrefixes),
                       [name](std::string_view prefix) { return hasUuidBetween(name, prefix, ""); })
        || hasUuidBetween(name, ".installed.json.", ".tmp");
}

/// What an unfinished download of an asset leaves in Downloads.
struct DownloadLeftover {
    const RuntimeAsset* asset = nullptr;
    std::string_view suffix; ///< partialSuffix, sidecarSuffix or headersSuffix; empty for an aside file
};

std::optional<DownloadLeftover> downloadLeftover(std::string_view name, const Catalogue& catalogue)
{
    for (const RuntimeAsset* asset : {&catalogue.engine, &catalogue.libraries, &catalogue.audio}) {
        for (const std::string_view suffix : {partialSuffix, sidecarSuffix, headersSuffix})
            if (name.size() == asset->name.size() + suffix.size() && name.starts_with(asset->name)
                && name.ends_with(suffix))
                return DownloadLeftover{asset, suffix};
        // The sidecar's aside file, left when a write of it was cut short.
        if (hasUuidBetween(name, "." + asset->name + std::string(sidecarSuffix) + ".", ".tmp"))
            return DownloadLeftover{asset, {}};
    }
    return std::nullopt;
}

bool isDownloadLeftover(std::string_view name, const Catalogue& catalogue)
{
    return downloadLeftover(name, catalogue).has_value();
}

/// Whether the sweep removes `name` from Downloads: a partial download is kept with its sidecar
/// for the next download to resume, and a sidecar with its partial download; whether the two
/// still belong together is for that download to judge.
bool isStaleDownload(const fs::path& downloads, std::string_view name, const Catalogue& catalogue)
{
    const auto leftover = downloadLeftover(name, catalogue);
    if (!leftover)
        return false;
    if (leftover->suffix == partialSuffix)
        return !entryExists(downloads / (leftover->asset->name + std::string(sidecarSuffix)));
    if (leftover->suffix == sidecarSuffix)
        return !entryExists(downloads / (leftover->asset->name + std::string(partialSuffix)));
    return true;
}

bool isLogLeftover(std::string_view name)
{
    return hasUuidBetween(name, layout::captureStart, layout::captureEnd);
}

/// One folder of the layout and the names the program gives the entries it puts there.
struct LayoutFolder {
    const char* path; ///< below the root; empty for the root itself
    std::vector<std::string> names;
    bool (*leftover)(std::string_view name, const Catalogue& catalogue);
};

std::vector<LayoutFolder> layoutOf(const Catalogue& catalogue)
{
    return {
        {"",
         {std::begin(layout::rootEntries), std::end(layout::rootEntries)},
         [](std::string_view name, const Catalogue&) { return isRootLeftover(name); }},
        {layout::install, {layout::gameFolder, layout::prefixFolder}, nullptr},
        {layout::runtime, {layout::runtimeBundle, layout::runtimeLibraries}, nullptr},
        {layout::logs,
         {layout::setupLog, layout::gameLog},
         [](std::string_view name, const Catalogue&) { return isLogLeftover(name); }},
        {layout::downloads,
         {catalogue.engine.name, catalogue.libraries.name, catalogue.audio.name},
         [](std::string_view name, const Catalogue& assets) { return isDownloadLeftover(name, assets); }},
        {layout::audioImport, {layout::keptDecoder, layout::packagedDecoder}, nullptr},
    };
}

/// The sorted names in `folder`; raises std::filesystem::filesystem_error.
std::vector<std::string> namesIn(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

/// Refuses a root that holds anything the program does not make, at the top or inside the
/// layout folders it writes into, a layout folder that is a link, and a file it writes that is
/// not a plain file. Reads only: it runs before anything is created or changed there.
void requireOwnRoot(const fs::path& root, const Catalogue& catalogue)
{
    struct stat status { };
    if (::stat(root.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
        return; // nothing there yet, or nothing that could be written into
    requireOwnLayout(root);

    for (const LayoutFolder& layout : layoutOf(catalogue)) {
        const fs::path folder = root / layout.path;
        if (*layout.path && !isOwnFolder(folder))
            continue;
        for (const std::string& name : namesIn(folder)) {
            const bool own = std::find(layout.names.begin(), layout.names.end(), name) != layout.names.end()
                || (layout.leftover && layout.leftover(name, catalogue));
            if (!own)
                throw SetupFailure("The folder " + shownPath(root)
                                   + " already holds files that Corvanel did not create, such as "
                                   + shownPath(fs::path(layout.path) / name)
                                   + ". Choose an empty folder or an existing Corvanel folder, then retry.");
        }
    }
}

/// Removes the direct entries of `folder` whose names `matches` accepts; best effort.
template <typename Predicate> void removeEntries(const fs::path& folder, Predicate matches) noexcept
{
    if (!isOwnFolder(folder))
        return;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (matches(name))
            removeTreeQuietly(entry->path());
    }
}

bool isSpaceError(const std::system_error& error)
{
    return error.code() == std::errc::no_space_on_device || error.code().value() == EDQUOT;
}

} // namespace

void Installer::sweepLeftovers() const
{
    removeEntries(root_, isRootLeftover);
    const fs::path downloads = root_ / layout::downloads;
    removeEntries(downloads, [&](std::string_view name) { return isStaleDownload(downloads, name, catalogue_); });
    removeEntries(root_ / layout::logs, isLogLeftover);
}

void Installer::requireUsableRoot() const
{
    requireSupportedRoot();
    requireOwnRoot(root_, catalogue_);
}

void Installer::install(const fs::path& game, const std::optional<fs::path>& audio,
                        const std::optional<fs::path>& cache) const
{
    requireSupportedRoot();
    requireOwnRoot(root_, catalogue_);
    // Before the root exists: a root inside the game folder must not leave a trace in it, nor
    // may a source that is missing or unusable. A root that holds an installation is refused
    // under the lock, whatever the source.
    requireSourceApart(fs::absolute(game));
    if (!entryExists(record()))
        gameInput(game);
    createRootFolder(root_);
    const InstallLock lock(lockFile());
    if (entryExists(record()))
        throw SetupFailure("An installation already exists. Its game files and saves were left untouched.");
    sweepLeftovers();

    try {
        preflight();
        reportReplacedParts();
        runStage(SetupStage::Import, [&] { importGame(game); });
        fs::path codec;
        runStage(SetupStage::AudioDecoder, [&] { codec = prepareAudio(game, audio, cache); });
        runStage(SetupStage::Runtime, [&] { installRuntime(cache); });
        runStage(SetupStage::GraphicsLibraries, [&] { installDirectX(); });
        runStage(SetupStage::WindowsEnvironment, [&] { configurePrefix(codec); });
        runStage(SetupStage::Finishing, [&] {
            requireFinishedParts();
            writeRecord();
        });
    } catch (const std::system_error& error) {
        if (isSpaceError(error))
            throw SetupFailure(diskFullMessage);
        throw;
    }
    report("Ready to play");
}

void Installer::requireFinishedParts() const
{
    // Each stage checks its own result; this is the same test the installed state and repair
    // apply, so setup never says ready about an installation they would call damaged.
    const auto unfinished = damagedParts(*this);
    for (const auto& part : unfinished)
        appendLog("Still missing or damaged after setup: " + printable(part.description), log_);
    if (!unfinished.empty() && volumeIsFull())
        throw SetupFailure(diskFullMessage);
    if (!unfinished.empty())
        throw SetupFailure("Setup could not finish: " + itemsWithVerb(unfinished)
                           + " still missing or damaged. Retry setup; details are in the setup log.");
}

void Installer::reportReplacedParts() const
{
    std::vector<std::string> parts;
    if (entryExists(this->game()))
        parts.push_back("game files");
    if (entryExists(runtime()))
        parts.push_back("compatibility runtime");
    if (parts.size() == 1)
        report("Replacing the " + parts[0] + " left by an earlier setup");
    else if (parts.size() == 2)
        report("Replacing the " + parts[0] + " and the " + parts[1] + " left by an earlier setup");
}

void Installer::writeRecord() const
{
    const InstallationRecord finished{
        .format = layout::recordFormat,
        .launcherVersion = std::string(version),
        .engine = engineName(),
        .installedAt = InstallationRecord::secondsSinceReferenceDate(std::chrono::system_clock::now()),
    };
    writeFileAtomically(record(), finished.encode());
}

std::string Installer::engineName() const
{
    if (!usesSystemWine())
        return catalogue_.engine.name;
    if (foundWine_)
        return foundWine_->engine();
    // A repair that left the runtime alone keeps the Wine the record names.
    const auto recorded = InstallationRecord::read(record());
    return recorded ? recorded->engine : std::string();
}

} // namespace corvanel
