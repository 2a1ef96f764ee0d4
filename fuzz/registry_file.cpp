// Any bytes given to the registry reader yield a registry or nothing, never a crash, and the
// questions the installed-state test asks of it always get an answer.
#include "installer/installed_parts.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto registry = corvanel::RegistryFile::parse(text);
    if (!registry)
        return 0;
    corvanel::holdsDecoderRegistration(*registry);
    corvanel::holdsSettings(*registry, "HKCU");
    corvanel::holdsSettings(*registry, "HKLM");
    registry->value(R"(Software\Wine)", "Version");
    return 0;
}
