// Any bytes given to the sidecar decoder of a kept partial download yield a sidecar or nothing,
// never a crash; a sidecar it accepts carries only validators that can be sent back to a
// server, and survives encoding and decoding again unchanged.
#include "installer/assets/partial_sidecar.h"
#include "installer/assets/response_headers.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto sidecar = corvanel::PartialSidecar::decode(text);
    if (!sidecar)
        return 0;
    if ((!sidecar->etag.empty() && !corvanel::isUsableValidator(sidecar->etag))
        || (!sidecar->lastModified.empty() && !corvanel::isUsableValidator(sidecar->lastModified)))
        std::abort();
    const auto again = corvanel::PartialSidecar::decode(sidecar->encode());
    if (!again || again->url != sidecar->url || again->sha256 != sidecar->sha256 || again->etag != sidecar->etag
        || again->lastModified != sidecar->lastModified)
        std::abort();
    return 0;
}
