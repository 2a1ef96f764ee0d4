#pragma once

#include "installer/installer.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <sys/types.h>

namespace corvanel::test_support {

/// What a forked install is given.
struct InstallRequest {
    std::filesystem::path root;
    std::filesystem::path game;
    std::optional<std::filesystem::path> audio;
    std::optional<std::filesystem::path> cache;
    Catalogue catalogue;
    HostQueries host = HostQueries::platform();
    /// When a progress text contains this, the pipeline stops inside that report (the line is
    /// already logged) until the install is resumed or killed. Empty: never.
    std::string holdAt;
};

/// How a forked install ended.
struct InstallOutcome {
    bool succeeded = false;
    std::string error; ///< describe() of the failure; empty on success
};

/// Installer::install in a forked child of the test process, so that a test can end it with
/// SIGKILL at a chosen point, as a crash or a forced quit would. The runner's children die
/// with it; Wine's own services do not.
class InstallProcess {
public:
    explicit InstallProcess(const InstallRequest& request);
    InstallProcess(const InstallProcess&) = delete;
    InstallProcess& operator=(const InstallProcess&) = delete;
    /// Kills an install that is still running.
    ~InstallProcess();

    /// Waits until the install holds at `holdAt`; false when it ended first or time ran out.
    bool waitUntilHeld(double seconds = 180);
    /// Polls `condition` until it holds (true) or the install ends or time runs out (false).
    bool waitUntil(const std::function<bool()>& condition, double seconds = 180);
    /// Lets a held install go on.
    void resume();
    /// Ends the install with SIGKILL and waits until it and the tools it ran are gone.
    void kill();
    /// Lets a held install go on and waits for its end.
    InstallOutcome finish();

private:
    bool ended();

    std::filesystem::path root_;
    pid_t pid_ = -1;
    int events_ = -1; ///< read end: 'H' when held, then 'S', or 'F' and the failure text
    int resume_ = -1; ///< write end: closing it lets a held install go on
    std::string received_;
};

/// Whether the setup log below `root` contains `text`.
bool logContains(const std::filesystem::path& root, std::string_view text);

/// Waits until no process but Wine's own runs a command line that names `root` (an archiver
/// or a download killed with its launcher can take a moment to go).
void waitForToolsUsing(const std::filesystem::path& root, double seconds = 10);

/// The processes that hold `file` open, one "PID: COMMAND LINE" line each, after the kernel's
/// list of locks on it: who keeps a launcher's lock when a test finds it taken.
std::string holdersOf(const std::filesystem::path& file);

/// Waits for the Wine server of the prefix below `root` to save and exit, so the root can be
/// inspected or removed.
void waitForWine(const std::filesystem::path& root);

} // namespace corvanel::test_support
