// The parser of the archiver's verbose listing reads any output without failing: one entry per
// listed line, each entry's name taken from its own line, and a plain listing that is not
// matched line by line never passes as files and folders only.
#include "installer/assets/safe_unpack.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view output(reinterpret_cast<const char*>(data), size);
    const auto lines = corvanel::listingLines(output);
    const auto entries = corvanel::parseVerboseListing(output);
    if (entries.size() != lines.size())
        std::abort();
    for (size_t i = 0; i < entries.size(); ++i)
        if (lines[i].find(entries[i].name) == std::string::npos)
            std::abort();
    auto shorter = lines;
    if (!shorter.empty()) {
        shorter.pop_back();
        if (corvanel::onlyFilesAndFolders(shorter, entries))
            std::abort();
    }
    return 0;
}
