// Any bytes as a record's engine or as Wine's version line are read without a crash: a loader is
// named only by an absolute path, a version only by "wine-" and two numbers, and an engine made
// from a found Wine names that Wine's loader again.
#include "installer/assets/system_wine.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto loader = corvanel::SystemWine::recordedLoader(text); loader && !loader->is_absolute())
        std::abort();
    if (const auto version = corvanel::wineVersion(text); version && (version->first < 0 || version->second < 0))
        std::abort();
    if (text.find(" at /") == std::string_view::npos) {
        const corvanel::SystemWine wine{"/usr/lib/wine/wine64", std::string(text)};
        if (corvanel::SystemWine::recordedLoader(wine.engine()) != wine.loader)
            std::abort();
    }
    return 0;
}
