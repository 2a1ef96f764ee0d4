#pragma once

#include <filesystem>
#include <string>

namespace corvanel {

/// The SHA-256 digest of a regular file's content as 64 lower-case hexadecimal digits, read in
/// constant memory. Anything but a regular file raises SetupFailure; read errors raise
/// std::filesystem::filesystem_error.
std::string sha256(const std::filesystem::path& file);

} // namespace corvanel
