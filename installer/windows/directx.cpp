#include "installer/file_ops.h"
#include "installer/installer.h"
#include "installer/platform.h"
#include "installer/setup_failure.h"
#include "installer/staging_folder.h"

#include <string>

namespace corvanel {

namespace {

/// The graphics libraries the game loads natively, each with the cabinet of the bundled
/// DirectX redistributable that carries it. Names keep their letter case: they are archive
/// members and file names alike.
struct GraphicsLibrary {
    const char* cabinet;
    const char* library;
};

constexpr GraphicsLibrary graphicsLibraries[] = {
    {"OCT2006_d3dx9_31_x86.cab", "d3dx9_31.dll"},
    {"Jun2010_d3dx9_43_x86.cab", "d3dx9_43.dll"},
    {"Jun2010_D3DCompiler_43_x86.cab", "D3DCompiler_43.dll"},
};

} // namespace

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
