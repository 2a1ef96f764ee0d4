#include "installer/assets/safe_unpack.h"
#include "installer/file_ops.h"
#include "installer/installer.h"
#include "installer/layout.h"
#include "installer/platform.h"
#include "installer/runner.h"
#include "installer/setup_failure.h"
#include "installer/staging_folder.h"
#include "installer/windows/graphics_libraries.h"

#include <string>

namespace corvanel {

namespace {

/// Installed libraries are readable by everyone and writable by their owner alone.
constexpr mode_t libraryMode = 0644;

std::string damaged(const std::string& library)
{
    return "The game's DirectX installer is damaged or unsafe, so " + library
        + " could not be taken from it. Import the complete installer 2.1 archive again.";
}

} // namespace

void Installer::installDirectX() const
{
    report("Preparing the game's graphics libraries");
    const StagingFolder staging(root_, layout::directxStaging);
    const fs::path redistributable = game() / "temp" / "directx.exe";
    const std::string archiver = platform::archiver();
    const Environment environment = archiverEnvironment();

    // The redistributable comes with the user's game and carries no digest: each archive is
    // listed first, and only one regular file of the member's name may come out of it.
    const auto extractMember = [&](const fs::path& archive, const std::string& member, const std::string& library) {
        bool sound = false;
        try {
            const RunOptions listing{.environment = environment, .capture = true};
            const auto names = listingLines(run(archiver, {"-tf", archive.string()}, listing));
            const auto entries
                = parseVerboseListing(run(archiver, {"--numeric-owner", "-tvf", archive.string()}, listing));
            sound = onlyRegularMember(names, entries, member);
        } catch (const SetupStopped&) {
            throw;
        } catch (const SetupFailure&) {
            // An archive the archiver cannot list to its end is damaged.
        }
        if (!sound)
            throw SetupFailure(damaged(library));
        run(archiver, {"-xf", archive.string(), "-C", staging.path().string(), member}, {.environment = environment});
    };

    for (const auto& [cabinet, library] : graphicsLibraries) {
        const fs::path target = game() / library;
        if (entryExists(target))
            continue;
        std::error_code missing;
        if (!fs::exists(redistributable, missing))
            throw SetupFailure("The game is missing " + std::string(library)
                               + " and its bundled DirectX installer. Import the complete installer 2.1 archive.");
        extractMember(redistributable, cabinet, library);
        extractMember(staging / cabinet, library, library);

        // Copied through a descriptor that cannot lead anywhere else, written beside the
        // target and renamed into place, so an interrupted copy never looks installed.
        UniqueFd staged;
        try {
            staged = openRegularFile(staging / library, FinalLink::refuse);
        } catch (const SetupFailure&) {
            throw SetupFailure(damaged(library));
        }
        const fs::path copy = staging / (std::string("installed-") + library);
        writeNewFile(staged.get(), staging / library, copy, libraryMode);
        fs::rename(copy, target);
    }
}

} // namespace corvanel
