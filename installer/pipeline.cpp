#include "installer/file_ops.h"
#include "installer/installation_record.h"
#include "installer/installer.h"
#include "installer/setup_failure.h"

#include <chrono>
#include <string_view>

namespace corvanel {

namespace {

bool startsWithAny(const std::string& name, std::initializer_list<std::string_view> prefixes)
{
    for (const auto prefix : prefixes)
        if (name.starts_with(prefix))
            return true;
    return false;
}

/// Removes the direct entries of `folder` whose names `matches` accepts; best effort.
template <typename Predicate>
void removeEntries(const fs::path& folder, Predicate matches) noexcept
{
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (matches(name))
            removeTreeQuietly(entry->path());
    }
}

} // namespace

void Installer::sweepLeftovers() const
{
    removeEntries(root_, [](const std::string& name) {
        return startsWithAny(name, {"Runtime-staging-", "Game-staging-", "DirectX-staging-", ".installed.json."});
    });
    removeEntries(root_ / "Downloads", [](const std::string& name) { return name.ends_with(".partial"); });
    removeEntries(root_ / "Logs", [](const std::string& name) {
        return name.starts_with("capture-") && name.ends_with(".txt");
    });
}

void Installer::install(const fs::path& game, const std::optional<fs::path>& audio,
                        const std::optional<fs::path>& cache) const
{
    requireSupportedRoot();
    makeDirectory(root_);
    const InstallLock lock(lockFile());
    if (entryExists(record()))
        throw SetupFailure("An installation already exists. Its game files and saves were left untouched.");
    sweepLeftovers();

    preflight();
    gameInput(game);
    importGame(game);
    const fs::path codec = prepareAudio(game, audio, cache);
    installRuntime(cache);
    installDirectX();
    configurePrefix(codec);

    writeRecord();
    report("Ready to play");
}

void Installer::writeRecord() const
{
    const InstallationRecord finished{
        .format = 1,
        .launcherVersion = std::string(version),
        .engine = catalogue_.engine.name,
        .installedAt = InstallationRecord::secondsSinceReferenceDate(std::chrono::system_clock::now()),
    };
    writeFileAtomically(record(), finished.encode());
}

} // namespace corvanel
