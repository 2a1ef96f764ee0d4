#include "installer/disk_space.h"
#include "installer/display_text.h"
#include "installer/file_ops.h"
#include "installer/installer.h"
#include "installer/platform.h"
#include "installer/runner.h"
#include "installer/setup_failure.h"

#include <algorithm>

namespace corvanel {

void Installer::requireSupportedRoot() const
{
    // A line feed would split the path in every tool's output and in the log; the other control
    // characters (a tab, an escape, a bell) reach the Windows side, which cannot use them.
    const std::string& path = root_.native();
    if (path.find('\n') != std::string::npos)
        throw SetupFailure("The installation path contains an unsupported newline.");
    if (std::any_of(path.begin(), path.end(), [](unsigned char c) { return c < 0x20 || c == 0x7F; }))
        throw SetupFailure("The installation path " + shownPath(root_)
                           + " contains a control character such as a tab, which the game cannot use. "
                             "Choose a folder whose path has none, then retry.");
}

void Installer::preflight() const
{
    requireSupportedRoot();
    createRootFolder(root_);

    const auto available = host_.freeSpace ? host_.freeSpace(root_) : std::nullopt;
    if (available && *available < requiredSpace)
        throw SetupFailure("Setup needs at least 12 GB of available disk space. Free some space and retry.");

    const auto& probe = host_.x86Probe;
    if (probe.empty())
        throw SetupFailure(platform::x86Missing());
    try {
        run(probe.front(), {probe.begin() + 1, probe.end()}, {.timeout = 20});
    } catch (const SetupStopped&) {
        throw;
    } catch (const std::exception&) {
        throw SetupFailure(platform::x86Missing());
    }
}

} // namespace corvanel
