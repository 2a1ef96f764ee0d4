// Property of the entry-name rule: a name it accepts never resolves outside the folder it is
// unpacked into, whichever separator the archive used.
#include "installer/assets/safe_unpack.h"
#include "installer/installer.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string name(reinterpret_cast<const char*>(data), size);
    if (!corvanel::safeArchiveEntry(name))
        return 0;
    std::string slashed = name;
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    if (slashed.find('\0') != std::string::npos || slashed.starts_with('/'))
        std::abort();
    const std::filesystem::path destination = "/destination";
    const auto resolved = (destination / slashed).lexically_normal();
    const auto inside = resolved.lexically_relative(destination);
    if (inside.empty() || *inside.begin() == "..")
        std::abort();
    return 0;
}
