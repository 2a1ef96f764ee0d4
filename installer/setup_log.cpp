#include "installer/setup_log.h"

#include "installer/file_ops.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <system_error>

#include <fcntl.h>
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
