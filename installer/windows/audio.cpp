#include "installer/assets/sha256.h"
#include "installer/disk_space.h"
#include "installer/display_text.h"
#include "installer/file_ops.h"
#include "installer/installed_parts.h"
#include "installer/installer.h"
#include "installer/layout.h"
#include "installer/platform.h"
#include "installer/runner.h"
#include "installer/setup_failure.h"

#include <cerrno>
#include <string>
#include <system_error>
#include <vector>

#include <sys/stat.h>

namespace corvanel {

namespace {

/// Names that select candidates next to the game input, library first. Only the digest decides.
constexpr const char* audioCandidates[] = {"wmadmod.dll", "mpsetup.exe"};

/// The package member that holds the decoder library.
constexpr const char* packagedLibrary = layout::packagedDecoder;

/// What a user without a connection can do instead of the download.
constexpr const char* audioAlternative = "You can also place the supported MPSetup.exe in your installer folder or "
                                         "select it under Advanced options.";

/// The verified library is readable by everyone and writable by its owner alone.
constexpr mode_t libraryMode = 0644;

/// Whether `file` is one of the entries of `folder` itself, by whatever path it was named.
bool liesIn(const fs::path& file, const fs::path& folder)
{
    std::error_code unresolved;
    const fs::path real = fs::canonical(file, unresolved);
    return !unresolved && sameEntry(real.parent_path(), folder);
}

} // namespace

fs::path Installer::prepareAudio(const fs::path& gameSource, const std::optional<fs::path>& override,
                                 const std::optional<fs::path>& cache) const
{
    if (override)
        return prepareCodec(*override);

    if (const auto found = localAudio(gameSource)) {
        report("Found and verified the audio package in your folder");
        return prepareCodec(*found);
    }

    report("Downloading and verifying the audio support package");
    // A cached copy is used instead of a download: what goes wrong with it is not the network's.
    std::error_code unsearchable;
    if (cache && fs::exists(*cache / catalogue_.audio.name, unsearchable))
        return prepareCodec(obtain(catalogue_.audio, cache));
    try {
        return prepareCodec(obtain(catalogue_.audio, cache));
    } catch (const SetupStopped&) {
        throw;
    } catch (const SetupFailure& failure) {
        // The download's own sentence already names the cause and the next step.
        if (failure.message() == diskFullMessage)
            throw;
        throw SetupFailure(failure.message() + " " + audioAlternative);
    } catch (const std::exception& error) {
        throw SetupFailure("Audio setup could not finish. Check your internet connection and retry. You can also "
                           "place the supported MPSetup.exe in your installer folder or select it under Advanced "
                           "options. Details: "
                           + describe(error));
    }
}

std::optional<fs::path> Installer::localAudio(const fs::path& gameSource) const
{
    std::error_code notFolder;
    fs::path folder = fs::is_directory(gameSource, notFolder) ? gameSource : gameSource.parent_path();
    if (folder.empty())
        folder = ".";

    std::vector<fs::directory_entry> entries;
    for (const auto& entry : fs::directory_iterator(folder))
        entries.push_back(entry);

    for (const char* candidate : audioCandidates) {
        for (const auto& entry : entries) {
            if (lowerCased(entry.path().filename().string()) != candidate)
                continue;
            if (fs::symlink_status(entry.path()).type() != fs::file_type::regular)
                continue;
            const std::string digest = sha256(entry.path());
            if (digest == catalogue_.codecHash || digest == catalogue_.mediaPackageHash)
                return entry.path();
        }
    }
    return std::nullopt;
}

fs::path Installer::prepareCodec(const fs::path& file) const
{
    const std::string digest = sha256(file);
    const fs::path staging = root_ / layout::audioImport;
    makeDirectory(staging);
    const fs::path target = staging / layout::keptDecoder;
    // The kept library itself, by any name, is used where it is: it is never removed to be
    // copied onto itself.
    std::error_code different;
    if (digest == catalogue_.codecHash && fs::symlink_status(target, different).type() == fs::file_type::regular
        && fs::equivalent(file, target, different))
        return target;
    // Anything else in that folder would be replaced by the result (the package at the
    // library's place, or at the member's name): it is the user's file and stays untouched.
    if (liesIn(file, staging) || sameEntry(file, target))
        throw SetupFailure("The audio file you selected, " + shownPath(file)
                           + ", is inside Corvanel's own folder, where setup replaces it. Copy it to another "
                             "folder, then select it there.");
    if (entryExists(target))
        fs::remove_all(target);

    if (digest == catalogue_.codecHash) {
        const UniqueFd from = openRegularFile(file, FinalLink::follow);
        writeNewFile(from.get(), file, target, libraryMode);
    } else if (digest == catalogue_.mediaPackageHash) {
        run(platform::archiver(), {"-xf", file.string(), "-C", staging.string(), packagedLibrary});
        // On a case-insensitive volume the member already sits at the target.
        if (!entryExists(target))
            fs::rename(staging / packagedLibrary, target);
        // The package's own permission bits are not kept, whoever runs the extraction.
        const UniqueFd extracted = openRegularFile(target, FinalLink::refuse);
        if (::fchmod(extracted.get(), libraryMode) != 0)
            throw fs::filesystem_error("Unable to write", target, std::error_code(errno, std::generic_category()));
    } else {
        throw SetupFailure("This audio file is not the tested Microsoft WMA 9 decoder/package. Select the supported "
                           "MPSetup.exe or WMADMOD.DLL described in the setup guide.");
    }

    if (sha256(target) != catalogue_.codecHash)
        throw SetupFailure("Audio codec verification failed.");
    return target;
}

} // namespace corvanel
