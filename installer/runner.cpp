#include "installer/runner.h"
#include "installer/layout.h"

#include "installer/disk_space.h"
#include "installer/display_text.h"
#include "installer/file_ops.h"
#include "installer/installer.h"
#include "installer/platform.h"
#include "installer/setup_failure.h"
#include "installer/setup_log.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <limits>
#include <optional>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace corvanel {

namespace {

using Clock = std::chrono::steady_clock;

constexpr double progressInterval = 2.0;
constexpr double gracePeriod = 3.0;
/// How long a running program is watched between two questions whether to stop it.
constexpr double stopCheckInterval = 0.2;
/// The most of one program's output that goes into the setup log.
constexpr std::size_t loggedOutputLimit = 1 << 20;
/// Room taken for a program's output before it starts, so that its last words (often the
/// reason it failed) still have somewhere to go on a volume that fills up while it runs.
constexpr std::size_t reservedOutputBytes = 1 << 16;

double secondsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

/// Where a child's output goes: a private capture file that is removed when the run ends,
/// however it ends. Output meant for the setup log goes into a file without a name, which not even
/// a killed launcher leaves behind, written from its start over room taken in advance; when the
/// run ends its lines are copied into the log, each with its control characters escaped, so no
/// program writes raw bytes there.
class OutputFile {
public:
    OutputFile(fs::path path, const std::optional<fs::path>& log)
        : path_(std::move(path))
        , named_(!log)
    {
        // Never through a link, never into a pipe, and private like every file the program writes.
        try {
            if (log)
                log_ = openOwnFile(*log, O_WRONLY | O_APPEND | O_CREAT);
            fd_ = openOwnFile(path_, O_WRONLY | O_CREAT | O_EXCL | (log ? 0 : O_APPEND));
        } catch (const fs::filesystem_error&) {
            throw SetupFailure("Unable to open the setup log.");
        }
        if (log) {
            // Read back through a descriptor of its own, whose offset the program cannot move.
            try {
                reader_ = openRegularFile(path_, FinalLink::refuse);
            } catch (...) {
                ::unlink(path_.c_str());
                throw;
            }
            ::unlink(path_.c_str());
            static const std::string room(reservedOutputBytes, '\0');
            [[maybe_unused]] const auto reserved = ::write(fd_.get(), room.data(), room.size());
            if (::lseek(fd_.get(), 0, SEEK_SET) != 0)
                throw std::system_error(errno, std::generic_category(), "Unable to write " + shownPath(path_));
        }
    }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile()
    {
        copyToLog();
        fd_.reset();
        if (named_)
            ::unlink(path_.c_str());
    }

    int fd() const { return fd_.get(); }
    const fs::path& path() const { return path_; }

    void flush() const
    {
        if (::fdatasync(fd_.get()) != 0 && errno != EINVAL)
            throw std::system_error(errno, std::generic_category(), "Unable to write " + shownPath(path_));
    }

    /// Appends the output to the setup log, once, as unstamped escaped lines. Best effort: output
    /// that cannot be logged is lost, like any log line.
    void copyToLog() noexcept
    {
        if (!log_)
            return;
        const UniqueFd log = std::move(log_);
        try {
            // The program and this object share one offset: it ends where the output ends.
            const off_t end = ::lseek(fd_.get(), 0, SEEK_CUR);
            if (end <= 0)
                return;
            const bool truncated = static_cast<std::uintmax_t>(end) > loggedOutputLimit;
            bool more = false;
            const std::string text
                = readAtMost(reader_.get(), path_, truncated ? loggedOutputLimit : static_cast<std::size_t>(end), more);
            std::string lines = escapedLines(text);
            if (truncated)
                lines += "(the rest of the output is left out)\n";
            if (lines.empty())
                return;
            [[maybe_unused]] auto written = ::write(log.get(), lines.data(), lines.size());
        } catch (const std::exception&) {
        }
    }

private:
    fs::path path_;
    bool named_;
    UniqueFd log_; ///< the setup log, while the output is still to be copied there
    UniqueFd reader_;
    UniqueFd fd_;
};

std::string captured(const OutputFile& output)
{
    std::string text = readFile(output.path());
    if (!isValidUtf8(text))
        throw std::system_error(EILSEQ, std::generic_category(), "The output of the program is not UTF-8 text");
    return text;
}

/// Setup's programs get no display: without one, Wine opens no window of its own (such as its
/// notice that it is updating the prefix) over the launcher. The game's launch keeps it.
std::optional<Environment> withoutDisplay(std::optional<Environment> environment)
{
    if (environment) {
        environment->erase("DISPLAY");
        environment->erase("WAYLAND_DISPLAY");
    }
    return environment;
}

} // namespace

std::string Installer::run(const std::string& executable, const std::vector<std::string>& arguments,
                           const RunOptions& options) const
{
    if (stopRequested())
        throw SetupStopped();
    makeDirectory(root_ / layout::logs);
    const std::string captureName = std::string(layout::captureStart) + newUuid() + std::string(layout::captureEnd);
    OutputFile output(root_ / layout::logs / captureName, options.capture ? std::nullopt : std::optional(log_));

    appendLog("Starting " + printable(executable) + ": " + quotedArguments(arguments), log_);
    ChildProcess child = ChildProcess::spawn({
        .executable = executable,
        .arguments = arguments,
        .environment = withoutDisplay(options.environment),
        .directory = options.directory,
        .output = output.fd(),
        .endsWithLauncher = true,
        .restrictedUmask = true,
    });

    // The child is watched through its process descriptor, so its end is seen at once; the
    // wait between two looks lasts until the next progress call or the deadline.
    const auto start = Clock::now();
    const double limit = std::isnan(options.timeout) ? 0.0 : std::min(options.timeout, 1e8);
    double lastProgress = -std::numeric_limits<double>::infinity();
    for (;;) {
        const double sinceStart = secondsBetween(start, Clock::now());
        if (sinceStart >= limit) {
            if (child.waitFor(0))
                break;
            child.terminate(gracePeriod);
            output.copyToLog();
            appendLog("Timed out after " + elapsed(secondsBetween(start, Clock::now())) + ": " + printable(executable),
                      log_);
            throw SetupFailure(fs::path(executable).filename().string() + " timed out after " + elapsed(options.timeout)
                               + ". Retry setup; details are in the setup log.");
        }
        if (stopRequested()) {
            child.terminate(gracePeriod);
            output.copyToLog();
            appendLog("Stopped at the user's request after " + elapsed(secondsBetween(start, Clock::now())) + ": "
                          + printable(executable),
                      log_);
            throw SetupStopped();
        }
        if (sinceStart - lastProgress >= progressInterval) {
            lastProgress = sinceStart;
            if (options.progress)
                options.progress(sinceStart);
        }
        const double now = secondsBetween(start, Clock::now());
        double wait = std::min(lastProgress + progressInterval, limit) - now;
        if (stopRequested_)
            wait = std::min(wait, stopCheckInterval);
        if (child.waitFor(wait))
            break;
    }

    const int status = child.wait();
    const double duration = secondsBetween(start, Clock::now());
    if (options.progress)
        options.progress(duration);
    output.copyToLog();
    appendLog("Finished " + printable(executable) + ", exit " + std::to_string(status) + ", elapsed "
                  + elapsed(duration),
              log_);
    output.flush();
    std::string text = options.capture ? captured(output) : std::string();
    if (status != 0 && volumeIsFull())
        throw SetupFailure(diskFullMessage);
    if (status != 0)
        throw ProgramFailure(fs::path(executable).filename().string() + " failed (" + std::to_string(status)
                                 + "). Open the setup log for details. If antivirus quarantined a file, review its "
                                   "report before retrying.",
                             status, child.endingSignal().has_value());
    return text;
}

bool Installer::volumeIsFull() const noexcept
{
    try {
        return host_.freeSpace && isFull(host_.freeSpace(root_));
    } catch (const std::exception&) {
        return false;
    }
}

Environment Installer::environment() const
{
    Environment result = inheritedEnvironment();
    std::erase_if(result, [](const auto& variable) {
        return variable.first.starts_with("WINE") || platform::isForeignWineVariable(variable.first);
    });
    result["WINEPREFIX"] = fs::absolute(prefix()).string();
    result["WINEARCH"] = "win64";
    result["WINEPRELOADERAPPNAME"] = "Halo 2";
    result["WINEDEBUG"] = "-all";
    result["WINEDLLOVERRIDES"] = "mscoree,mshtml=;wmadmod,xlive,d3dx9_31,d3dx9_43,d3dcompiler_43=n,b";
    for (auto& [name, value] : platform::wineVariables(runtime()))
        result[name] = std::move(value);
    return result;
}

} // namespace corvanel
