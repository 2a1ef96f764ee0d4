#include "installer/setup_log.h"

#include "installer/display_text.h"
#include "installer/file_ops.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvanel {

void appendLog(const std::string& text, const std::filesystem::path& file) noexcept
{
    try {
        refuseLinkedFolder(file.parent_path());
        createFolders(file.parent_path());
        const UniqueFd fd = openOwnFile(file, O_WRONLY | O_APPEND | O_CREAT);
        const std::string line = "[" + timestamp(std::chrono::system_clock::now()) + "] " + text + "\n";
        [[maybe_unused]] auto written = ::write(fd.get(), line.data(), line.size());
    } catch (const std::exception&) {
        // The line is lost; logging never interrupts setup.
    }
}

std::string readLogTail(const std::filesystem::path& file, std::size_t lines, std::size_t byteLimit)
{
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::symlink_status(file, error)))
        return {};
    refuseLinkedFolder(file.parent_path());
    const UniqueFd log = openRegularFile(file, FinalLink::refuse);
    struct stat status { };
    if (::fstat(log.get(), &status) != 0)
        throw std::filesystem::filesystem_error("Unable to read", file,
                                                std::error_code(errno, std::generic_category()));
    const auto size = static_cast<std::uintmax_t>(std::max<off_t>(status.st_size, 0));
    const std::uintmax_t start = size > byteLimit ? size - byteLimit : 0;
    if (::lseek(log.get(), static_cast<off_t>(start), SEEK_SET) < 0)
        throw std::filesystem::filesystem_error("Unable to read", file,
                                                std::error_code(errno, std::generic_category()));
    bool truncated = false;
    std::string bytes = readAtMost(log.get(), file, byteLimit, truncated);
    // A read that starts inside the file starts inside a line: that partial line is dropped.
    if (const std::size_t firstEnd = bytes.find('\n'); start > 0)
        bytes.erase(0, firstEnd == std::string::npos ? bytes.size() : firstEnd + 1);
    if (!bytes.empty() && bytes.back() != '\n')
        bytes += '\n';

    // Back from the end, one line at a time: `begin` is where the earliest kept line starts.
    std::size_t begin = bytes.size();
    for (std::size_t kept = 0; kept < lines && begin > 0; ++kept) {
        const std::size_t lineFeed = begin >= 2 ? bytes.rfind('\n', begin - 2) : std::string::npos;
        begin = lineFeed == std::string::npos ? 0 : lineFeed + 1;
    }
    std::string tail;
    for (std::size_t end; begin < bytes.size(); begin = end + 1) {
        end = bytes.find('\n', begin);
        tail += printable(std::string_view(bytes).substr(begin, end - begin)) + '\n';
    }
    return tail;
}

std::string timestamp(std::chrono::system_clock::time_point moment)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(moment);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string elapsed(double seconds)
{
    const long long whole = std::isfinite(seconds) && seconds > 0 ? static_cast<long long>(std::min(seconds, 9e15)) : 0;
    if (whole < 60)
        return std::to_string(whole) + "s";
    return std::to_string(whole / 60) + "m " + std::to_string(whole % 60) + "s";
}

} // namespace corvanel
