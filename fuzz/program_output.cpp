// Any bytes a program prints become setup-log lines that hold no control character but their
// line feeds, one line for each line of the output.
#include "installer/display_text.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view output(reinterpret_cast<const char*>(data), size);
    const std::string lines = corvanel::escapedLines(output);
    const bool control = std::any_of(lines.begin(), lines.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && byte != '\n') || byte == 0x7F;
    });
    const auto feeds = [](std::string_view text) { return std::count(text.begin(), text.end(), '\n'); };
    const auto expected = feeds(output) + (!output.empty() && output.back() != '\n' ? 1 : 0);
    if (control || feeds(lines) != expected || (!lines.empty() && lines.back() != '\n'))
        std::abort();
    return 0;
}
