#include "installer/file_ops.h"
#include "installer/installer.h"
#include "installer/platform.h"
#include "installer/setup_failure.h"
#include "installer/staging_folder.h"
#include "installer/windows/graphics_libraries.h"

#include <string>

namespace corvanel {

void Installer::installDirectX() const
{
    report("Preparing the game's graphics libraries");
    const StagingFolder staging(root_, "DirectX-staging-");
    const fs::path redistributable = game() / "temp" / "directx.exe";
    const std::string archiver = platform::archiver();

    for (const auto& [cabinet, library] : graphicsLibraries) {
        const fs::path target = game() / library;
        if (entryExists(target))
            continue;
        std::error_code missing;
        if (!fs::exists(redistributable, missing))
            throw SetupFailure("The game is missing " + std::string(library)
                               + " and its bundled DirectX installer. Import the complete installer 2.1 archive.");
        run(archiver, {"-xf", redistributable.string(), "-C", staging.path().string(), cabinet});
        run(archiver, {"-xf", (staging / cabinet).string(), "-C", staging.path().string(), library});
        fs::copy_file(staging / library, target);
    }
}

} // namespace corvanel
