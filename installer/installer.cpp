#include "installer/installer.h"

#include "installer/display_text.h"
#include "installer/file_ops.h"
#include "installer/installation_record.h"
#include "installer/installed_parts.h"
#include "installer/platform.h"
#include "installer/setup_log.h"

#include <system_error>
#include <utility>

namespace corvanel {

Seams Seams::platform()
{
    return Seams{.freeSpace = platform::availableCapacity, .x86Probe = platform::x86Probe()};
}

Installer::Installer(std::optional<fs::path> root, Report report, Catalogue catalogue, Seams seams)
    : root_(root ? std::move(*root) : platform::defaultRoot()),
      log_(root_ / "Logs" / "setup.log"),
      report_(std::move(report)),
      catalogue_(std::move(catalogue)),
      seams_(std::move(seams))
{
}

void Installer::report(const std::string& text) const
{
    appendLog(printable(text), log_);
    if (report_)
        report_(text);
}

bool Installer::isInstalled() const
{
    const auto record = InstallationRecord::read(this->record());
    if (!record || record->format != 1)
        return false;
    return missingGameFiles(game()).empty() && damagedParts(*this).empty();
}

void Installer::makeDirectory(const fs::path& folder)
{
    refuseLinkedFolder(folder);
    createFolders(folder);
}

} // namespace corvanel
