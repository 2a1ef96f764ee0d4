#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvanel {

/// An argument list as the setup log shows it: ["-xf", "a \"b\""], with quotes, backslashes
/// and control characters escaped.
std::string quotedArguments(const std::vector<std::string>& arguments);

/// Whether `text` is well-formed UTF-8.
bool isValidUtf8(std::string_view text);

} // namespace corvanel
