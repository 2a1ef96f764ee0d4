// Any bytes given as curl's header dump yield an answer or nothing, never a crash; an answer
// carries only a validator that can be sent back to a server, and a part's first byte only
// for a 206 and inside the whole file's size when that is known.
#include "installer/assets/response_headers.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view dump(reinterpret_cast<const char*>(data), size);
    const auto answer = corvanel::parseResponseHeaders(dump);
    if (!answer)
        return 0;
    if (answer->status < 100 || answer->status > 999)
        std::abort();
    const std::string validator = answer->validator();
    if (!validator.empty() && !corvanel::isUsableValidator(validator))
        std::abort();
    if (answer->rangeStart
        && (answer->status != 206 || *answer->rangeStart < 0
            || (answer->completeLength && *answer->rangeStart >= *answer->completeLength)))
        std::abort();
    if ((answer->completeLength && *answer->completeLength < 0)
        || (answer->contentLength && *answer->contentLength < 0))
        std::abort();
    return 0;
}
