#include "installer/display_text.h"
#include "installer/file_ops.h"
#include "installer/installation_record.h"
#include "installer/installer.h"
#include "installer/layout.h"
#include "installer/platform.h"
#include "installer/runner.h"
#include "installer/setup_failure.h"
#include "installer/setup_log.h"
#include "installer/staging_folder.h"

#include <string_view>

#include <unistd.h>

namespace corvanel {

namespace {

constexpr double unpackTimeLimit = 900;
constexpr double versionCheckTimeLimit = 30;

const char* const noWine
    = "Corvanel needs Wine 8.0 or later, and none was found on this computer. Install your distribution's Wine (on "
      "Debian: sudo dpkg --add-architecture i386, sudo apt update, sudo apt install wine wine64 wine32:i386), then "
      "retry.";

const char* const noThirtyTwoBitSide
    = "Wine's 32-bit side is not installed, and Halo 2 is a 32-bit game. Install it (on Debian: sudo dpkg "
      "--add-architecture i386, sudo apt update, sudo apt install wine32:i386), then retry.";

std::string tooOldWine(std::string_view versionLine)
{
    std::string_view version = versionLine.substr(std::string_view("wine-").size());
    version = version.substr(0, version.find(' '));
    return "The Wine on this computer is version " + std::string(version)
        + ", but Corvanel needs 8.0 or later. Update Wine, then retry.";
}

/// The first line of a program's output, without surrounding white space.
std::string firstLine(const std::string& output)
{
    std::string line = output.substr(0, output.find('\n'));
    const auto begin = line.find_first_not_of(" \t\r");
    const auto end = line.find_last_not_of(" \t\r");
    return begin == std::string::npos ? std::string() : line.substr(begin, end - begin + 1);
}

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
    if (usesSystemWine())
        locateSystemWine();
    else
        unpackRuntime(cache);
}

void Installer::locateSystemWine() const
{
    report("Checking the Wine installed on this computer");
    foundWine_.reset();
    std::optional<std::string> tooOld;
    bool lacksThirtyTwoBitSide = false;
    for (const fs::path& candidate : *host_.systemWine) {
        const fs::path loader = preferredLoader(candidate);
        if (!isExecutableFile(loader) || !isExecutableFile(loader.parent_path() / "wineserver"))
            continue;
        std::string versionLine;
        try {
            versionLine
                = firstLine(run(loader.string(), {"--version"},
                                {.environment = environment(), .capture = true, .timeout = versionCheckTimeLimit}));
        } catch (const SetupStopped&) {
            throw;
        } catch (const std::exception&) {
            continue; // does not run here: the next one may
        }
        if (!wineVersion(versionLine))
            continue;
        if (!isSupportedWine(versionLine)) {
            tooOld = tooOld.value_or(versionLine);
            continue;
        }
        if (!hasThirtyTwoBitSide(loader)) {
            appendLog("No 32-bit side beside " + printable(loader.string()), log());
            lacksThirtyTwoBitSide = true;
            continue;
        }
        foundWine_ = SystemWine{loader, versionLine};
        break;
    }
    if (!foundWine_) {
        if (lacksThirtyTwoBitSide)
            throw SetupFailure(noThirtyTwoBitSide);
        if (tooOld)
            throw SetupFailure(tooOldWine(*tooOld));
        throw SetupFailure(noWine);
    }
    appendLog("Using " + printable(foundWine_->engine()), log());
    if (platform::emulatesThirtyTwoBit())
        report("This computer runs 32-bit programs only through emulation, so setup and the game will be slow here");
}

void Installer::requireWineThirtyTwoBitSide() const
{
    if (usesSystemWine() && !hasThirtyTwoBitSide(wine()))
        throw SetupFailure(noThirtyTwoBitSide);
}

void Installer::unpackRuntime(const std::optional<fs::path>& cache) const
{
    report("Downloading and verifying the compatibility runtime \u00B7 about 341 MB");
    const fs::path engine = obtain(catalogue_.engine, cache);
    const fs::path libraries = obtain(catalogue_.libraries, cache);

    const StagingFolder staging(root_, layout::runtimeStaging);
    report("Unpacking the verified runtime");
    const RunOptions unpack{.timeout = unpackTimeLimit};
    run(platform::archiver(), {"-xf", engine.string(), "-C", staging.path().string()}, unpack);
    run(platform::archiver(), {"-xf", libraries.string(), "-C", staging.path().string()}, unpack);

    const fs::path stagedLib = staging / layout::runtimeLibraries;
    makeDirectory(stagedLib);
    gatherLibraries(staging / "Wine Stable.app" / "Contents" / "Resources" / "wine" / "lib", stagedLib);

    if (!isExecutableFile(staging / layout::runtimeBundle / "bin" / "wine") || !fs::exists(stagedLib / "libinotify.0.dylib"))
        throw SetupFailure("The runtime is incomplete. Check whether antivirus quarantined any files.");

    // The live runtime is replaced only now that the staged one is complete.
    fs::remove_all(runtime());
    makeDirectory(runtime());
    fs::rename(staging / layout::runtimeBundle, runtime() / layout::runtimeBundle);
    fs::rename(stagedLib, runtime() / layout::runtimeLibraries);

    run(wine().string(), {"--version"}, RunOptions{.environment = environment(), .timeout = versionCheckTimeLimit});
}

} // namespace corvanel
