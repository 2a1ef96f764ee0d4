#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace corvanel {

/// `text` with every control character, and the backslash itself, written as a visible escape
/// (`\n`, `\t`, `\e`, `\\`, `\xHH`), so it can be shown on a terminal or written as one log
/// line without acting on either, and read back unambiguously. Other bytes pass unchanged.
std::string printable(std::string_view text);

/// `path` as it reads inside a message: at most `limit` bytes, keeping its head and tail around
/// an ellipsis when it is longer, never cutting a UTF-8 character in two.
std::string shownPath(const std::filesystem::path& path, std::size_t limit = 120);

} // namespace corvanel
