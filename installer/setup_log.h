#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>

namespace corvanel {

/// Appends "[stamp] text\n" to `file` in one write, creating the file (0600) and its folders.
/// `text` is written as given: pass what may hold control characters through printable().
/// Never follows a link for the file or its folder, never waits on a pipe. Never fails: a
/// line that cannot be written is lost.
void appendLog(const std::string& text, const std::filesystem::path& file) noexcept;

/// The last `lines` lines of the log `file`, read from at most its last `byteLimit` bytes, each
/// passed through printable() and ended by a line feed; empty when there is no log yet. Seeks
/// rather than reading what comes before. Anything but a regular file in an unlinked folder (a
/// pipe, a link, a device) raises SetupFailure without being opened for long or waited on.
std::string readLogTail(const std::filesystem::path& file, std::size_t lines, std::size_t byteLimit);

/// UTC time in ISO 8601 internet form with whole seconds, e.g. 2026-12-05T08:06:32Z.
std::string timestamp(std::chrono::system_clock::time_point moment);

/// A short duration: 42s, or 1m 5s; no hour unit; fractions dropped, negatives read as 0.
std::string elapsed(double seconds);

} // namespace corvanel
