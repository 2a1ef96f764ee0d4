#pragma once

// The one place that knows which operating system we run on. Everything else asks here.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace corvanel::platform {

/// Absolute path of the system archiver that reads tar, ZIP, 7-Zip, cabinets and
/// self-extracting programs with the same -tf / -xf arguments.
std::string archiver();

/// Program and arguments of the check that x86-64 programs can run here.
std::vector<std::string> x86Probe();

/// Bytes available to the user on the volume holding `path`; nullopt when the platform has no
/// figure. A failing query raises std::system_error.
std::optional<std::uintmax_t> availableCapacity(const std::filesystem::path& path);

/// The installation root used when none is given; its last component is "Corvanel".
std::filesystem::path defaultRoot();

/// Variables that make the archiver read and write file names as UTF-8.
std::map<std::string, std::string> utf8Locale();

} // namespace corvanel::platform
