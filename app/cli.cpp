#include "app/cli.h"

#include "installer/display_text.h"
#include "installer/installer.h"
#include "installer/runner.h"
#include "installer/setup_failure.h"
#include "installer/signal_forwarding.h"

#include <algorithm>
#include <csignal>
#include <functional>
#include <memory>
#include <optional>

namespace corvanel {

namespace {

const char* const usage = "Usage: --cli --install --game PATH [--audio PATH] [--home PATH] [--cache PATH], "
                          "--cli --repair [--audio PATH] [--cache PATH] [--home PATH], "
                          "or --cli --launch/--status [--home PATH]";

/// The value right after the first occurrence of `name`, taken verbatim.
std::optional<std::string> option(const std::string& name, const std::vector<std::string>& arguments)
{
    const auto found = std::find(arguments.begin(), arguments.end(), name);
    if (found == arguments.end() || found + 1 == arguments.end())
        return std::nullopt;
    return *(found + 1);
}

bool hasFlag(const std::string& name, const std::vector<std::string>& arguments)
{
    return std::find(arguments.begin(), arguments.end(), name) != arguments.end();
}

std::optional<fs::path> pathOption(const std::string& name, const std::vector<std::string>& arguments)
{
    const auto value = option(name, arguments);
    if (!value)
        return std::nullopt;
    if (value->empty())
        return fs::current_path();
    return fs::absolute(fs::path(*value));
}

int installForm(const Installer& installer, const std::vector<std::string>& arguments)
{
    installer.install(*pathOption("--game", arguments), pathOption("--audio", arguments),
                      pathOption("--cache", arguments));
    return 0;
}

int repairForm(const Installer& installer, const std::vector<std::string>& arguments, std::ostream& out)
{
    if (installer.repair(pathOption("--audio", arguments), pathOption("--cache", arguments))
        == RepairOutcome::AlreadyComplete)
        out << "The installation is already complete, so nothing was changed. Launch Halo 2 to play.\n" << std::flush;
    return 0;
}

/// The launcher's exit status for a game that has ended, in the shell's convention: 128 plus
/// the number of the signal that ended the game, or of the last signal sent on to it when the
/// game then ended cleanly; otherwise the game's own status.
int launchStatus(const ChildProcess& game, int forwarded)
{
    if (const auto signal = game.endingSignal())
        return 128 + *signal;
    if (*game.status() == 0 && forwarded != 0)
        return 128 + forwarded;
    return *game.status();
}

/// Starts the game and waits for its end with the lock held: an interrupt, a hang-up or a
/// polite kill meanwhile goes to the game, never ends the wait early.
int launchForm(const Installer& installer, const std::vector<std::string>& arguments)
{
    std::optional<LaunchedGame> launched;
    int forwarded = 0;
    {
        SignalForwarding forwarding;
        launched.emplace(installer.launch(hasFlag("--debug", arguments)));
        forwarding.forwardTo(launched->process.pid());
        while (!launched->process.waitFor(3600)) { }
        forwarded = forwarding.lastForwarded();
    }
    launched->process.wait();
    return launchStatus(launched->process, forwarded);
}

/// Answers whether the root holds a finished installation; an answer that cannot be written
/// (a full device, a closed reader) fails the command.
int statusForm(const Installer& installer, std::ostream& out)
{
    out << (installer.isInstalled() ? "installed" : "not installed") << '\n' << std::flush;
    return out ? 0 : 1;
}

/// The exit status of a setup or repair stopped by Ctrl-C, in the shell's convention for SIGINT.
constexpr int stoppedStatus = 128 + SIGINT;

/// Runs a setup or repair `form` that Ctrl-C stops: the running program's whole group is ended
/// and waited for, and what was being built is removed, before the launcher ends with
/// `stoppedStatus` and the sentence that says so. A second Ctrl-C ends the launcher at once.
int stoppable(Installer& installer, const std::function<int()>& form, const std::string& stoppedMessage,
              std::ostream& err)
{
    InterruptRequest interrupt;
    installer.setStopRequest([&interrupt] { return interrupt.arrived(); });
    // The hook must not outlive the request it reads.
    const std::unique_ptr<Installer, void (*)(Installer*)> unhook(
        &installer, [](Installer* stopped) { stopped->setStopRequest({}); });
    try {
        return form();
    } catch (const std::exception&) {
        // Whatever failure the stop surfaced as, the user's interrupt is what ended the work.
        if (!interrupt.arrived())
            throw;
        err << stoppedMessage << '\n' << std::flush;
        return stoppedStatus;
    }
}

/// Writes one message as a line; control characters in it (from a path, say) are shown, not obeyed.
void printLine(std::ostream& stream, const std::string& text)
{
    stream << printable(text) << '\n' << std::flush;
}

} // namespace

int runCLI(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err, const Catalogue& catalogue)
{
    try {
        auto printer = [&out](const std::string& text) { printLine(out, text); };
        Installer installer(pathOption("--home", arguments), printer, catalogue);

        if (hasFlag("--install", arguments) && option("--game", arguments))
            return stoppable(
                installer, [&] { return installForm(installer, arguments); }, SetupStopped().message(), err);
        if (hasFlag("--repair", arguments))
            return stoppable(
                installer, [&] { return repairForm(installer, arguments, out); }, repairStoppedMessage, err);
        if (hasFlag("--launch", arguments))
            return launchForm(installer, arguments);
        if (hasFlag("--status", arguments))
            return statusForm(installer, out);
        throw SetupFailure(usage);
    } catch (const std::exception& error) {
        printLine(err, describe(error));
        return 1;
    }
}

} // namespace corvanel
