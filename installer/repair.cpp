#include "installer/assets/sha256.h"
#include "installer/display_text.h"
#include "installer/file_ops.h"
#include "installer/installation_record.h"
#include "installer/installed_parts.h"
#include "installer/installer.h"
#include "installer/layout.h"
#include "installer/setup_failure.h"
#include "installer/windows/graphics_libraries.h"

#include <algorithm>
#include <cctype>
#include <map>

#include <unistd.h>

namespace corvanel {

namespace {

enum class RecordState { Absent, Folder, Oversized, Unreadable, OtherFormat, Valid };

struct RecordCheck {
    RecordState state;
    std::int64_t format = 0;
};

/// What installed.json holds, judged as the installed-state test judges it.
RecordCheck checkRecord(const fs::path& record)
{
    if (!entryExists(record))
        return {RecordState::Absent};
    std::error_code error;
    if (fs::is_directory(fs::symlink_status(record, error)))
        return {RecordState::Folder};
    if (fs::is_regular_file(record, error) && fs::file_size(record, error) > InstallationRecord::sizeLimit && !error)
        return {RecordState::Oversized};
    // Read as status and launch read it: a device, a pipe or an endless file is never read whole.
    const auto decoded = InstallationRecord::read(record);
    if (!decoded)
        return {RecordState::Unreadable};
    if (decoded->format != layout::recordFormat)
        return {RecordState::OtherFormat, decoded->format};
    return {RecordState::Valid, decoded->format};
}

std::optional<MissingPart> recordProblem(const RecordCheck& check)
{
    const std::string item = "the installation record";
    switch (check.state) {
    case RecordState::Absent:
        return MissingPart{InstallationPart::Record, item, "The installation record installed.json is missing."};
    case RecordState::Folder:
        return MissingPart{InstallationPart::Record, item,
                           "The installation record installed.json is a folder, not a file."};
    case RecordState::Oversized:
    case RecordState::Unreadable:
        return MissingPart{InstallationPart::Record, item, "The installation record installed.json cannot be read."};
    case RecordState::OtherFormat:
        return MissingPart{InstallationPart::Record, item,
                           "The installation record has format " + std::to_string(check.format)
                               + ", which this version of Corvanel does not know."};
    case RecordState::Valid:
        break;
    }
    return std::nullopt;
}

/// A regular file (not a link, not a pipe) whose content has the SHA-256 `digest`.
bool holdsVerified(const fs::path& file, const std::string& digest)
{
    std::error_code error;
    if (!fs::is_regular_file(fs::symlink_status(file, error)))
        return false;
    try {
        return sha256(file) == digest;
    } catch (const std::exception&) {
        return false;
    }
}

std::vector<std::string> uniqueItems(const std::vector<MissingPart>& parts)
{
    std::vector<std::string> items;
    for (const auto& part : parts)
        if (std::find(items.begin(), items.end(), part.item) == items.end())
            items.push_back(part.item);
    return items;
}

bool needs(const std::vector<MissingPart>& parts, InstallationPart part)
{
    return std::any_of(parts.begin(), parts.end(), [part](const MissingPart& missing) { return missing.part == part; });
}

std::string quotedRoot(const fs::path& root)
{
    return printable(shownPath(root));
}

} // namespace

std::string itemsWithVerb(const std::vector<MissingPart>& parts)
{
    const auto items = uniqueItems(parts);
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0)
            text += i + 1 == items.size() ? " and " : ", ";
        text += items[i];
    }
    return text + (items.size() > 1 ? " are" : " is");
}

std::string describeMissingParts(const std::vector<MissingPart>& parts)
{
    if (parts.empty())
        return "";
    std::string text = itemsWithVerb(parts) + " missing or damaged.";
    text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    std::vector<std::string> advice;
    for (const auto& part : parts)
        if (!part.advice.empty() && std::find(advice.begin(), advice.end(), part.advice) == advice.end())
            advice.push_back(part.advice);
    for (const auto& sentence : advice)
        text += " " + sentence;
    return text;
}

std::vector<MissingPart> Installer::missingParts() const
{
    std::vector<MissingPart> parts;
    if (const auto problem = recordProblem(checkRecord(record())))
        parts.push_back(*problem);

    for (const auto& file : missingGameFiles(game()))
        parts.push_back({InstallationPart::GameFiles, "the game file " + file,
                         "The game file " + file + " is missing from the game folder."});

    const auto damaged = damagedParts(*this);
    parts.insert(parts.end(), damaged.begin(), damaged.end());

    const fs::path decoder = prefix() / layout::prefixDecoder;
    if (isWindowsBinary(decoder) && !holdsVerified(decoder, catalogue_.codecHash))
        parts.push_back({InstallationPart::AudioDecoder, "the audio decoder",
                         "The audio decoder in the private Windows environment is not the verified one."});
    return parts;
}

fs::path Installer::repairAudio(const std::optional<fs::path>& audio, const std::optional<fs::path>& cache) const
{
    if (audio)
        return prepareCodec(*audio);
    const fs::path kept = root_ / layout::audioImport / layout::keptDecoder;
    if (holdsVerified(kept, catalogue_.codecHash)) {
        report("Found the verified audio decoder kept from setup");
        return kept;
    }
    const fs::path installed = prefix() / layout::prefixDecoder;
    if (holdsVerified(installed, catalogue_.codecHash)) {
        report("Found the verified audio decoder in your Windows environment");
        return prepareCodec(installed);
    }
    // The imported game folder, then the kept or cached download, then the network.
    return prepareAudio(game(), std::nullopt, cache);
}

RepairOutcome Installer::repair(const std::optional<fs::path>& audio, const std::optional<fs::path>& cache) const
{
    requireSupportedRoot();
    const std::string noInstallation
        = "There is no installation to repair in " + quotedRoot(root_) + ". Set up Halo 2 first.";
    if (!entryExists(record()))
        throw SetupFailure(noInstallation);
    requireOwnLayout(root_);
    const InstallLock lock(lockFile());
    sweepLeftovers();

    const RecordCheck recorded = checkRecord(record());
    switch (recorded.state) {
    case RecordState::Absent:
        throw SetupFailure(noInstallation);
    case RecordState::Folder:
        throw SetupFailure("The installation record installed.json is a folder, so nothing was changed. Move it out of "
                           + quotedRoot(root_) + ", then set up Halo 2 again.");
    case RecordState::Oversized:
        throw SetupFailure("The installation record installed.json is far larger than any record Corvanel writes, so "
                           "nothing was changed. Move it out of "
                           + quotedRoot(root_) + ", then set up Halo 2 again.");
    case RecordState::OtherFormat:
        throw SetupFailure(
            "This installation was recorded in format " + std::to_string(recorded.format)
            + ", which this version of Corvanel cannot repair, so nothing was changed. Update Corvanel, then retry.");
    case RecordState::Unreadable:
    case RecordState::Valid:
        break;
    }
    if (const auto missing = missingGameFiles(game()); !missing.empty())
        throw SetupFailure("The game file " + missing.front()
                           + " is missing, so the game files need to be set up again; nothing was changed. Delete "
                             "installed.json in "
                           + quotedRoot(root_)
                           + ", then set up again from your h2pc_installer_2.1 folder; your saves are kept.");

    const auto parts = missingParts();
    if (parts.empty())
        return RepairOutcome::AlreadyComplete;
    // The graphics libraries come from the game's own DirectX installer and from nowhere else.
    std::error_code unreadable;
    if (needs(parts, InstallationPart::GraphicsLibraries) && !fs::exists(game() / "temp" / "directx.exe", unreadable))
        throw SetupFailure(
            "The game's DirectX installer temp/directx.exe is missing, and the graphics libraries cannot be "
            "restored without it, so nothing was changed. Delete installed.json in "
            + quotedRoot(root_) + ", then set up again from your h2pc_installer_2.1 folder; your saves are kept.");

    report("Repairing your installation");
    for (const auto& part : parts)
        report(part.description);

    const bool prefixNeeded
        = needs(parts, InstallationPart::WindowsEnvironment) || needs(parts, InstallationPart::AudioDecoder);
    // The game files are never imported by a repair; the other stages run only for what is missing.
    const std::map<SetupStage, bool> planned{
        {SetupStage::Import, false},
        {SetupStage::AudioDecoder, prefixNeeded},
        {SetupStage::Runtime, needs(parts, InstallationPart::Runtime)},
        {SetupStage::GraphicsLibraries, needs(parts, InstallationPart::GraphicsLibraries)},
        {SetupStage::WindowsEnvironment, prefixNeeded},
        {SetupStage::Finishing, true},
    };
    for (const auto& [stage, runs] : planned)
        if (!runs)
            reportStage({stage, StageEvent::Kind::Skipped});
    const auto runPlanned = [&](SetupStage stage, const std::function<void()>& work) {
        if (planned.at(stage))
            runStage(stage, work);
    };

    std::optional<fs::path> codec;
    runPlanned(SetupStage::AudioDecoder, [&] { codec = repairAudio(audio, cache); });
    runPlanned(SetupStage::Runtime, [&] { installRuntime(cache); });
    runPlanned(SetupStage::GraphicsLibraries, [&] { installDirectX(); });
    runPlanned(SetupStage::WindowsEnvironment, [&] { configurePrefix(*codec); });
    runPlanned(SetupStage::Finishing, [&] {
        auto remaining = missingParts();
        std::erase_if(remaining, [](const MissingPart& part) { return part.part == InstallationPart::Record; });
        if (!remaining.empty())
            throw SetupFailure("Repair finished, but " + itemsWithVerb(remaining)
                               + " still missing or damaged. Open the setup log for details.");
        writeRecord();
    });
    report("Ready to play");
    return RepairOutcome::Repaired;
}

} // namespace corvanel
