#pragma once

#include <algorithm>
#include <cctype>
#include <string>

namespace corvanel {

/// `text` with ASCII letters in lower case; other bytes unchanged.
inline std::string lowerCased(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

} // namespace corvanel
