#include "installer/file_ops.h"
#include "installer/installer.h"
#include "installer/platform.h"
#include "installer/setup_failure.h"
#include "installer/windows/lower_case.h"

#include <string>
#include <vector>

namespace corvanel {

namespace {

/// Names that select candidates next to the game input, library first. Only the digest decides.
constexpr const char* audioCandidates[] = {"wmadmod.dll", "mpsetup.exe"};

/// The package member that holds the decoder library.
constexpr const char* packagedLibrary = "WMADMOD.DLL";

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
    try {
        return prepareCodec(obtain(catalogue_.audio, cache));
    } catch (const std::exception& error) {
        throw SetupFailure("Audio setup could not finish. Check your internet connection and retry. You can also "
                           "place the supported MPSetup.exe in your installer folder or select it under Advanced "
                           "options. Details: " + describe(error));
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
    const fs::path staging = root_ / "Audio-import";
    makeDirectory(staging);
    const fs::path target = staging / "wmadmod.dll";
    if (entryExists(target))
        fs::remove_all(target);

    if (digest == catalogue_.codecHash) {
        fs::copy_file(file, target);
    } else if (digest == catalogue_.mediaPackageHash) {
        run(platform::archiver(), {"-xf", file.string(), "-C", staging.string(), packagedLibrary});
        // On a case-insensitive volume the member already sits at the target.
        if (!entryExists(target))
            fs::rename(staging / packagedLibrary, target);
    } else {
        throw SetupFailure("This audio file is not the tested Microsoft WMA 9 decoder/package. Select the supported "
                           "MPSetup.exe or WMADMOD.DLL described in the setup guide.");
    }

    if (sha256(target) != catalogue_.codecHash)
        throw SetupFailure("Audio codec verification failed.");
    return target;
}

} // namespace corvanel
