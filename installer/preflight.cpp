#include "installer/installer.h"
#include "installer/setup_failure.h"

namespace corvanel {

namespace {
constexpr std::uintmax_t requiredSpace = 12'000'000'000;
}

void Installer::preflight() const
{
    if (root_.native().find('\n') != std::string::npos)
        throw SetupFailure("The installation path contains an unsupported newline.");
    makeDirectory(root_);

    if (const auto available = seams_.freeSpace(root_); available && *available < requiredSpace)
        throw SetupFailure("Setup needs at least 12 GB of available disk space. Free some space and retry.");

    try {
        const auto& probe = seams_.x86Probe;
        run(probe.front(), {probe.begin() + 1, probe.end()}, {.timeout = 20});
    } catch (const std::exception&) {
        throw SetupFailure("This Mac needs Rosetta before it can run the compatibility engine. Install Rosetta through "
                           "macOS, then retry. The setup guide includes instructions.");
    }
}

} // namespace corvanel
