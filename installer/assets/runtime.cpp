#include "installer/installer.h"
#include "installer/platform.h"
#include "installer/setup_failure.h"
#include "installer/staging_folder.h"

#include <unistd.h>

namespace corvanel {

namespace {

constexpr double unpackTimeLimit = 900;
constexpr double versionCheckTimeLimit = 30;

bool isExecutableFile(const fs::path& file)
{
    std::error_code error;
    return fs::is_regular_file(file, error) && ::access(file.c_str(), X_OK) == 0;
}

/// Copies the direct entries of `libraries` whose last extension is exactly "dylib" into
/// `destination`, whatever kind of entry they are.
void gatherLibraries(const fs::path& libraries, const fs::path& destination)
{
    for (const auto& entry : fs::directory_iterator(libraries)) {
        const fs::path& path = entry.path();
        if (path.extension() != ".dylib")
            continue;
        fs::copy(path, destination / path.filename(), fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    }
}

} // namespace

void Installer::installRuntime(const std::optional<fs::path>& cache) const
{
    report("Downloading and verifying the compatibility runtime \u00B7 about 341 MB");
    const fs::path engine = obtain(catalogue_.engine, cache);
    const fs::path libraries = obtain(catalogue_.libraries, cache);

    const StagingFolder staging(root_, "Runtime-staging-");
    report("Unpacking the verified runtime");
    const RunOptions unpack{.timeout = unpackTimeLimit};
    run(platform::archiver(), {"-xf", engine.string(), "-C", staging.path().string()}, unpack);
    run(platform::archiver(), {"-xf", libraries.string(), "-C", staging.path().string()}, unpack);

    const fs::path stagedLib = staging / "lib";
    makeDirectory(stagedLib);
    gatherLibraries(staging / "Wine Stable.app" / "Contents" / "Resources" / "wine" / "lib", stagedLib);

    if (!isExecutableFile(staging / "wswine.bundle" / "bin" / "wine") || !fs::exists(stagedLib / "libinotify.0.dylib"))
        throw SetupFailure("The runtime is incomplete. Check whether antivirus quarantined any files.");

    // The live runtime is replaced only now that the staged one is complete.
    fs::remove_all(runtime());
    makeDirectory(runtime());
    fs::rename(staging / "wswine.bundle", runtime() / "wswine.bundle");
    fs::rename(stagedLib, runtime() / "lib");

    run(wine().string(), {"--version"}, RunOptions{.environment = environment(), .timeout = versionCheckTimeLimit});
}

} // namespace corvanel
