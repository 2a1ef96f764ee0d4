#include "installer/assets/byte_count.h"
#include "installer/assets/partial_sidecar.h"
#include "installer/assets/response_headers.h"
#include "installer/assets/sha256.h"
#include "installer/display_text.h"
#include "installer/file_ops.h"
#include "installer/installer.h"
#include "installer/layout.h"
#include "installer/runner.h"
#include "installer/setup_failure.h"
#include "installer/setup_log.h"

#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

namespace corvanel {

namespace {

constexpr double downloadTimeLimit = 1850; // curl's own --max-time plus 50 seconds

void removeQuietly(const fs::path& path) noexcept
{
    std::error_code error;
    fs::remove(path, error);
}

/// The unfinished download of one asset in Downloads: curl's output file, the sidecar that
/// says what it is part of, and curl's header dump. The output file and its sidecar outlive
/// obtain, however it ends, so that the next download can resume; an empty output file, one
/// without its sidecar, and the header dump do not.
class PartialDownload {
public:
    PartialDownload(const fs::path& downloads, const RuntimeAsset& asset)
        : asset_(asset)
        , path_(downloads / (asset.name + std::string(partialSuffix)))
        , sidecar_(downloads / (asset.name + std::string(sidecarSuffix)))
        , headers_(downloads / (asset.name + std::string(headersSuffix)))
    {
    }
    PartialDownload(const PartialDownload&) = delete;
    PartialDownload& operator=(const PartialDownload&) = delete;
    ~PartialDownload()
    {
        removeQuietly(headers_);
        if (size() == 0 || !entryExists(sidecar_))
            discard();
    }

    const fs::path& path() const { return path_; }
    const fs::path& headers() const { return headers_; }

    /// The bytes written so far; 0 when there is no regular file there or its size cannot be read.
    std::int64_t size() const
    {
        struct stat status { };
        return ::lstat(path_.c_str(), &status) == 0 && S_ISREG(status.st_mode) ? status.st_size : 0;
    }

    /// The kept bytes a download can resume from, with the validator they were received under:
    /// only a plain file of its own whose sidecar names this asset's address and digest counts.
    /// Anything else there is removed unread (a link is removed, never followed) and counts 0.
    std::int64_t resumable(std::string& validator)
    {
        const auto sidecar = readSidecar();
        struct stat status { };
        if (sidecar && sidecar->url == asset_.url && sidecar->sha256 == asset_.sha256
            && ::lstat(path_.c_str(), &status) == 0 && S_ISREG(status.st_mode) && status.st_nlink == 1
            && status.st_size > 0) {
            validator = sidecar->validator();
            return status.st_size;
        }
        discard();
        return 0;
    }

    void discard() noexcept
    {
        removeQuietly(path_);
        removeQuietly(sidecar_);
        removeQuietly(headers_);
        recorded_.reset();
    }

    /// Prepares one run of curl: the last answer goes, and the sidecar describes the bytes to
    /// come, received under `validator` when it is not empty.
    void begin(const std::string& validator)
    {
        removeQuietly(headers_);
        PartialSidecar sidecar{.url = asset_.url, .sha256 = asset_.sha256, .etag = {}, .lastModified = {}};
        (validator.starts_with('"') ? sidecar.etag : sidecar.lastModified) = validator;
        record(sidecar);
    }

    /// The server's answer to the running or last run of curl; nothing until its headers are
    /// complete, or when they cannot be read or make no sense.
    std::optional<ResponseHeaders> answer() const
    {
        try {
            const UniqueFd fd = openRegularFile(headers_, FinalLink::refuse);
            bool truncated = false;
            const std::string dump = readAtMost(fd.get(), headers_, responseHeadersLimit, truncated);
            return truncated ? std::nullopt : parseResponseHeaders(dump);
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }

    /// Keeps the validator of `answer`, which carries the bytes being written, in the sidecar
    /// for a later run to resume under. A part that names none leaves the one the request was
    /// made under.
    void remember(const ResponseHeaders& answer)
    {
        if (answer.status == 206 && answer.validator().empty())
            return;
        const PartialSidecar sidecar{
            .url = asset_.url, .sha256 = asset_.sha256, .etag = answer.etag, .lastModified = answer.lastModified};
        if (recorded_ && recorded_->etag == sidecar.etag && recorded_->lastModified == sidecar.lastModified)
            return;
        record(sidecar);
    }

private:
    /// The sidecar, read bounded and never through a link or from a pipe; nothing for anything odd.
    std::optional<PartialSidecar> readSidecar() const
    {
        try {
            const UniqueFd fd = openRegularFile(sidecar_, FinalLink::refuse);
            bool truncated = false;
            const std::string json = readAtMost(fd.get(), sidecar_, sidecarLimit, truncated);
            return truncated ? std::nullopt : PartialSidecar::decode(json);
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }

    void record(const PartialSidecar& sidecar)
    {
        writeFileAtomically(sidecar_, sidecar.encode());
        recorded_ = sidecar;
    }

    const RuntimeAsset& asset_;
    fs::path path_;
    fs::path sidecar_;
    fs::path headers_;
    std::optional<PartialSidecar> recorded_;
};

/// What went wrong with a download, in words a user understands, from curl's exit status and
/// the server's last answer. curl's own number stays in the setup log.
std::string downloadFailure(const std::string& name, int curlStatus, const std::optional<ResponseHeaders>& answer,
                            const fs::path& downloads)
{
    switch (curlStatus) {
    case 5: // the proxy's name could not be resolved
        return "The download of " + name
            + " could not start because the name of the proxy server set on this "
              "computer could not be found. Check the proxy settings (the https_proxy variable, say), then retry.";
    case 6: // the server's name could not be resolved
        return "The download of " + name
            + " could not start because the name of its server could not be found. "
              "Check that this computer is connected to the internet, then retry.";
    case 7: // no connection could be made
        return "The download of " + name
            + " could not reach its server, or the server refused the connection. "
              "Check your internet connection and any firewall or proxy settings, then retry; if it keeps failing, "
              "the server may be down, so try again later.";
    case 28: // timed out
        return "The download of " + name
            + " timed out. Check your internet connection, then retry; a slow "
              "connection may need more than one try.";
    case 53:
    case 54:
    case 58:
    case 59:
    case 66:
    case 77:
    case 82: // this computer's own secure-connection setup
        return "The download of " + name
            + " could not start a secure connection because this computer's list of "
              "trusted certificates or its encryption settings could not be used. Reinstall the ca-certificates "
              "package (or your system's equivalent), then retry.";
    case 35:
    case 51:
    case 60:
    case 64:
    case 80:
    case 83:
    case 90:
    case 91: // the server's certificate failed
        return "The download of " + name
            + " stopped because the security certificate of its server could not be "
              "verified. Check that this computer's date and time are correct and that no network filter intercepts "
              "secure connections, then retry.";
    case 22: // the server answered with an error
        if (answer && (answer->status == 404 || answer->status == 410))
            return "The file " + name
                + " was not found on its server. Update Corvanel to its latest version, "
                  "then retry.";
        if (answer && answer->status >= 500)
            return "The server of " + name + " had a problem and could not send it. Try again later.";
        return "The server of " + name
            + " refused to send it. Try again later; if it keeps failing, update "
              "Corvanel to its latest version.";
    case 1: // a redirect to an address other than https
        return "The server of " + name
            + " sent the download to an address that is not secure, so it was refused. "
              "Try again later; if it keeps failing, update Corvanel to its latest version.";
    case 16:
    case 18:
    case 52:
    case 55:
    case 56:
    case 92: // the connection broke off
        return "The download of " + name + " was interrupted. Check your internet connection, then retry.";
    case 23: // the file could not be written
        return name + " could not be saved in " + shownPath(downloads)
            + ". Check that its disk has free space and "
              "that the folder can be written, then retry.";
    default:
        return "The download of " + name
            + " failed. Check your internet connection, then retry; the setup log "
              "names the cause.";
    }
}

/// How one run of curl ended when it did not fail.
enum class Attempt {
    Received, ///< the partial file holds what the server sent, from its first byte on
    Refused, ///< the server would not continue the kept bytes; nothing was appended
};

/// Runs curl once into the partial file: from the start when `offset` is 0, else for the rest
/// after the kept `offset` bytes, on condition that the server's file still has `validator`.
/// curl appends a part only when it starts exactly at `offset`; a whole file sent instead, or a
/// part that starts elsewhere, is refused unwritten. A 416 (nothing left after `offset`) leaves
/// the kept bytes for verification to judge. Raises curl's failure for anything else.
Attempt fetch(const Installer& installer, const RuntimeAsset& asset, PartialDownload& partial, std::int64_t offset,
              const std::string& validator)
{
    std::vector<std::string> arguments
        = {"--fail",        "--location", "--silent",          "--show-error",
           "--retry",       "2",          "--proto",           "=https",
           "--proto-redir", "=https",     "--connect-timeout", "20",
           "--max-time",    "1800",       "--dump-header",     partial.headers().string()};
    if (offset > 0) {
        arguments.insert(arguments.end(), {"--continue-at", std::to_string(offset)});
        if (!validator.empty())
            arguments.insert(arguments.end(), {"--header", "If-Range: " + validator});
    }
    arguments.insert(arguments.end(), {"--output", partial.path().string(), asset.url});
    partial.begin(offset > 0 ? validator : std::string());

    const auto partFromOffset = [offset](const std::optional<ResponseHeaders>& answer) {
        return answer && answer->status == 206 && answer->rangeStart == offset;
    };
    const auto progress = [&](double seconds) {
        const auto answer = partial.answer();
        std::string amount = formatByteCount(partial.size());
        // Only an answer whose bytes go into the file tells its size and validator.
        if (offset == 0 ? answer && answer->status == 200 : partFromOffset(answer)) {
            partial.remember(*answer);
            if (answer->completeLength)
                amount += " of " + formatByteCount(*answer->completeLength);
        }
        installer.report("Downloading " + asset.name + " \u00B7 " + amount + " received \u00B7 " + elapsed(seconds)
                         + " elapsed");
    };
    try {
        installer.run("/usr/bin/curl", arguments, RunOptions{.timeout = downloadTimeLimit, .progress = progress});
    } catch (const SetupStopped&) {
        throw; // the kept bytes stay for the next run to continue
    } catch (const SetupFailure& failure) {
        const auto answer = partial.answer();
        if (offset > 0 && answer && (answer->status == 200 || (answer->status == 206 && !partFromOffset(answer))))
            return Attempt::Refused;
        if (offset > 0 && answer && answer->status == 416)
            return Attempt::Received;
        // A curl ended by a signal has no exit status to read a cause from.
        if (const auto* curl = dynamic_cast<const ProgramFailure*>(&failure))
            throw SetupFailure(downloadFailure(asset.name, curl->signalled() ? -1 : curl->status(), answer,
                                               partial.path().parent_path()));
        throw;
    }
    const auto answer = partial.answer();
    if (offset > 0 && answer && answer->status != 416 && !partFromOffset(answer))
        return Attempt::Refused;
    return Attempt::Received;
}

} // namespace

fs::path Installer::obtain(const RuntimeAsset& asset, const std::optional<fs::path>& cache) const
{
    const fs::path downloads = root_ / layout::downloads;
    makeDirectory(downloads);
    const fs::path target = downloads / asset.name;

    // Only a regular file there can be a verified copy. Anything else in its place, a pipe or
    // a link included, is never read: it goes like any copy that does not verify.
    std::error_code unreadable;
    if (fs::symlink_status(target, unreadable).type() == fs::file_type::regular && sha256(target) == asset.sha256)
        return target;
    if (entryExists(target))
        fs::remove(target);

    PartialDownload partial(downloads, asset);

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
        // may have changed since it was verified. A kept partial download is no longer needed.
        partial.discard();
        const UniqueFd from = openRegularFile(cached, FinalLink::follow);
        writeNewFile(from.get(), cached, partial.path(), 0644);
        if (sha256(partial.path()) != asset.sha256)
            throw SetupFailure(cachedFailed);
        fs::rename(partial.path(), target);
        return target;
    }

    std::string validator;
    const std::int64_t kept = partial.resumable(validator);
    bool resumed = false;
    if (kept > 0) {
        report("Downloading " + asset.name + " \u00B7 resumed at " + formatByteCount(kept));
        resumed = fetch(*this, asset, partial, kept, validator) == Attempt::Received;
        if (!resumed) {
            appendLog("The server did not continue " + asset.name
                          + " from the kept bytes; downloading it from the start",
                      log_);
            partial.discard();
        }
    }
    if (!resumed)
        fetch(*this, asset, partial, 0, {});

    // The whole file is checked, kept bytes included. Bytes kept from an earlier run that do
    // not verify get one clean download from the start before setup gives up.
    for (;;) {
        report("Verifying " + asset.name);
        if (sha256(partial.path()) == asset.sha256)
            break;
        partial.discard();
        if (!resumed)
            throw SetupFailure("The download of " + asset.name
                               + " failed checksum verification. Nothing from that download was run.");
        appendLog("The resumed " + asset.name + " failed verification; downloading it from the start", log_);
        resumed = false;
        fetch(*this, asset, partial, 0, {});
    }
    fs::rename(partial.path(), target);
    return target;
}

} // namespace corvanel
