#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvanel {

/// The record installed.json that marks a finished installation.
struct InstallationRecord {
    std::int64_t format = 1;
    std::string launcherVersion;
    std::string engine;
    double installedAt = 0; ///< seconds since 2001-01-01T00:00:00Z

    /// One compact JSON object, members in the order format, launcherVersion, engine, installedAt.
    std::string encode() const;
    /// The record, or nullopt for anything that is not an object with all four members of the
    /// right types. Unknown members are ignored; member order does not matter.
    static std::optional<InstallationRecord> decode(std::string_view json);

    static double secondsSinceReferenceDate(std::chrono::system_clock::time_point moment);
};

} // namespace corvanel
