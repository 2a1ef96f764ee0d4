#include "installer/assets/byte_count.h"
#include "installer/display_text.h"
#include "installer/file_ops.h"
#include "installer/installer.h"
#include "installer/regular_file.h"
#include "installer/setup_failure.h"
#include "installer/setup_log.h"

#include <system_error>

namespace corvanel {

namespace {

constexpr double downloadTimeLimit = 1850; // curl's own --max-time plus 50 seconds

/// curl's output file while a download runs; removed, errors ignored, however obtain ends.
class PartialFile {
public:
    explicit PartialFile(fs::path path) : path_(std::move(path)) { discard(); }
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;
    ~PartialFile() { discard(); }

    const fs::path& path() const { return path_; }

    /// The bytes written so far; 0 when there is no file yet or its size cannot be read.
    std::int64_t size() const
    {
        std::error_code error;
        const auto bytes = fs::file_size(path_, error);
        return error ? 0 : static_cast<std::int64_t>(bytes);
    }

private:
    void discard() const noexcept
    {
        std::error_code error;
        fs::remove(path_, error);
    }

    fs::path path_;
};

} // namespace

fs::path Installer::obtain(const RuntimeAsset& asset, const std::optional<fs::path>& cache) const
{
    const fs::path downloads = root_ / "Downloads";
    makeDirectory(downloads);
    const fs::path target = downloads / asset.name;

    // Only a regular file there can be a verified copy. Anything else in its place, a pipe or
    // a link included, is never read: it goes like any copy that does not verify.
    std::error_code unreadable;
    if (fs::symlink_status(target, unreadable).type() == fs::file_type::regular && sha256(target) == asset.sha256)
        return target;
    if (entryExists(target))
        fs::remove(target);

    // A stale partial file from an interrupted run is removed at once, so the first progress
    // line reads zero and nothing but this call's bytes can reach the target.
    PartialFile partial(downloads / (asset.name + ".partial"));

    // A cache folder that cannot be searched holds nothing usable: the download goes ahead.
    std::error_code unsearchable;
    if (cache && fs::exists(*cache / asset.name, unsearchable)) {
        const fs::path cached = *cache / asset.name;
        const std::string cachedFailed = "The cached copy of " + asset.name + " in " + shownPath(*cache)
                                       + " failed verification, so it was not used. Remove it from that folder or "
                                         "replace it with the supported file, then retry.";
        if (sha256(cached) != asset.sha256)
            throw SetupFailure(cachedFailed);
        // Copied beside the target and renamed into place, so a failed copy leaves no part of
        // the file where a later run would look. The copy is checked again: the cached file
        // may have changed since it was verified.
        const UniqueFd from = openRegularFile(cached, FinalLink::follow);
        writeNewFile(from.get(), cached, partial.path(), 0644);
        if (sha256(partial.path()) != asset.sha256)
            throw SetupFailure(cachedFailed);
        fs::rename(partial.path(), target);
        return target;
    }

    run("/usr/bin/curl",
        {"--fail", "--location", "--silent", "--show-error", "--retry", "2", "--proto", "=https", "--proto-redir",
         "=https", "--connect-timeout", "20", "--max-time", "1800", "--output", partial.path().string(), asset.url},
        RunOptions{
            .timeout = downloadTimeLimit,
            .progress =
                [&](double seconds) {
                    report("Downloading " + asset.name + " \u00B7 " + formatByteCount(partial.size()) + " received \u00B7 "
                           + elapsed(seconds) + " elapsed");
                },
        });

    report("Verifying " + asset.name);
    if (sha256(partial.path()) != asset.sha256)
        throw SetupFailure("The download of " + asset.name
                           + " failed checksum verification. Nothing from that download was run.");
    fs::rename(partial.path(), target);
    return target;
}

} // namespace corvanel
