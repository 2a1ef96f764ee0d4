#include "installer/installer.h"

#include "installer/display_text.h"
#include "installer/file_ops.h"
#include "installer/installation_record.h"
#include "installer/installed_parts.h"
#include "installer/layout.h"
#include "installer/platform.h"
#include "installer/setup_log.h"

#include <system_error>
#include <utility>

namespace corvanel {

HostQueries HostQueries::platform()
{
    return HostQueries{.freeSpace = platform::availableCapacity, .x86Probe = platform::x86Probe()};
}

Installer::Installer(std::optional<fs::path> root, Report report, Catalogue catalogue, HostQueries host)
    : root_(root ? std::move(*root) : platform::defaultRoot())
    , log_(root_ / layout::logs / layout::setupLog)
    , report_(std::move(report))
    , catalogue_(std::move(catalogue))
    , host_(std::move(host))
{
}

void Installer::report(const std::string& text) const
{
    appendLog(printable(text), log_);
    if (report_)
        report_(text);
}

void Installer::reportStage(const StageEvent& event) const
{
    if (stageReport_)
        stageReport_(event);
}

void Installer::runStage(SetupStage stage, const std::function<void()>& work) const
{
    reportStage({stage, StageEvent::Kind::Started});
    work();
    reportStage({stage, StageEvent::Kind::Finished});
}

bool Installer::isInstalled() const
{
    const auto record = InstallationRecord::read(this->record());
    if (!record || record->format != layout::recordFormat)
        return false;
    return missingGameFiles(game()).empty() && damagedParts(*this).empty();
}

fs::path Installer::wine() const
{
    if (!usesSystemWine())
        return root_ / layout::runtime / layout::runtimeBundle / "bin" / "wine";
    if (foundWine_)
        return foundWine_->loader;
    const auto recorded = InstallationRecord::read(record());
    if (!recorded)
        return {};
    return SystemWine::recordedLoader(recorded->engine).value_or(fs::path());
}

bool Installer::wineIsPresent() const
{
    const fs::path loader = wine();
    if (loader.empty() || ::access(loader.c_str(), X_OK) != 0)
        return false;
    return !usesSystemWine() || ::access((loader.parent_path() / "wineserver").c_str(), X_OK) == 0;
}

} // namespace corvanel
