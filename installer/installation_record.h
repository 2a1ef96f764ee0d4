#pragma once

#include "installer/layout.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace corvanel {

/// The record installed.json that marks a finished installation.
struct InstallationRecord {
    std::int64_t format = layout::recordFormat;
    std::string launcherVersion;
    std::string engine;
    double installedAt = 0; ///< seconds since 2001-01-01T00:00:00Z

    /// One compact JSON object, members in the order format, launcherVersion, engine, installedAt.
    std::string encode() const;
    /// The record, or nullopt for anything that is not an object with all four members of the
    /// right types. Unknown members are ignored; member order does not matter.
    /// Anything after the object other than white space makes the text invalid.
    static std::optional<InstallationRecord> decode(std::string_view json);
    /// The record in `file`, or nullopt when it is not a regular file (a pipe or a device,
    /// also behind a link, is never waited on), cannot be read, is longer than `sizeLimit`
    /// bytes or does not decode. Never fails.
    static std::optional<InstallationRecord> read(const std::filesystem::path& file) noexcept;

    /// Far above any record written (under 200 bytes); a longer file is not a record.
    static constexpr std::size_t sizeLimit = 64 * 1024;

    static double secondsSinceReferenceDate(std::chrono::system_clock::time_point moment);
};

} // namespace corvanel
