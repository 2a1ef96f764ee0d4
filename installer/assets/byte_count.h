#pragma once

#include <cstdint>
#include <string>

namespace corvanel {

/// A file size as people read it, in decimal units (1 KB = 1000 bytes): "Zero KB", "1 byte",
/// "999 bytes", "2 KB", "1.5 MB", "1.23 GB". Kilobytes are whole, megabytes carry one decimal,
/// larger units two; trailing zeros are dropped, and a value that rounds up to 1000 of a unit
/// is shown in the next one ("1 MB", never "1000 KB").
std::string formatByteCount(std::int64_t bytes);

} // namespace corvanel
