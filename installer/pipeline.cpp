#include "installer/file_ops.h"
#include "installer/installation_record.h"
#include "installer/installer.h"
#include "installer/setup_failure.h"

#include <chrono>

namespace corvanel {

void Installer::install(const fs::path& game, const std::optional<fs::path>& audio,
                        const std::optional<fs::path>& cache) const
{
    makeDirectory(root_);
    const InstallLock lock(lockFile());
    if (entryExists(record()))
        throw SetupFailure("An installation already exists. Its game files and saves were left untouched.");

    preflight();
    gameInput(game);
    importGame(game);
    const fs::path codec = prepareAudio(game, audio, cache);
    installRuntime(cache);
    installDirectX();
    configurePrefix(codec);

    const InstallationRecord finished{
        .format = 1,
        .launcherVersion = std::string(version),
        .engine = catalogue_.engine.name,
        .installedAt = InstallationRecord::secondsSinceReferenceDate(std::chrono::system_clock::now()),
    };
    writeFileAtomically(record(), finished.encode());
    report("Ready to play");
}

} // namespace corvanel
