// Any bytes given to the record decoder yield a record or nothing, never a crash; a record it
// accepts survives encoding and decoding again unchanged.
#include "installer/installation_record.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto record = corvanel::InstallationRecord::decode(text);
    if (!record)
        return 0;
    const auto again = corvanel::InstallationRecord::decode(record->encode());
    if (!again || again->format != record->format || again->launcherVersion != record->launcherVersion
        || again->engine != record->engine)
        std::abort();
    return 0;
}
