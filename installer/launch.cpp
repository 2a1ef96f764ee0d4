#include "installer/file_ops.h"
#include "installer/installer.h"
#include "installer/layout.h"
#include "installer/setup_failure.h"
#include "installer/unique_fd.h"

#include <cerrno>
#include <system_error>

#include <fcntl.h>

namespace corvanel {

LaunchedGame Installer::launch(bool debug) const
{
    if (!isInstalled())
        throw SetupFailure("Setup is incomplete. Complete setup before launching Halo 2.");
    InstallLock lock(lockFile());

    Environment variables = environment();
    if (debug)
        variables["WINEDEBUG"] = "+loaddll";

    // Setup left Logs in place; a user may have cleared it since.
    makeDirectory(root_ / layout::logs);
    const fs::path gameLog = root_ / layout::logs / layout::gameLog;
    UniqueFd output;
    try {
        output = openOwnFile(gameLog, O_WRONLY | O_APPEND | O_CREAT);
    } catch (const fs::filesystem_error& error) {
        throw fs::filesystem_error("Unable to open the game log", gameLog, error.code());
    }

    ChildProcess game = ChildProcess::spawn({
        .executable = wine().string(),
        .arguments = {"halo2.exe", "-windowed", "-hiresfix"},
        .environment = std::move(variables),
        .directory = this->game(),
        .output = output.get(),
        // The game holds the lock too, so a launcher killed outright leaves no room for a
        // second game until this one and everything it started have ended.
        .inherited = lock.fd(),
        .restrictedUmask = true,
    });
    if (output.reset() != 0) {
        // The game already runs; it keeps running, without the lock.
        const int error = errno;
        game.detach();
        throw std::system_error(error, std::generic_category(), "Unable to close the game log");
    }
    return LaunchedGame{std::move(game), std::move(lock)};
}

} // namespace corvanel
