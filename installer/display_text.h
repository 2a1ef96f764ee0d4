#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace corvanel {

/// `text` with every control character (C0, DEL and C1), every byte that is not part of a
/// well-formed UTF-8 character, and the backslash itself written as a visible escape (`\n`,
/// `\t`, `\e`, `\\`, `\xHH` per byte), so it can be shown on a terminal or written as one log
/// line without acting on either, and read back unambiguously. Other characters pass unchanged.
std::string printable(std::string_view text);

/// `path` as it reads inside a message: at most `limit` bytes, keeping its head and tail around
/// an ellipsis when it is longer, never cutting a UTF-8 character in two.
std::string shownPath(const std::filesystem::path& path, std::size_t limit = 120);

} // namespace corvanel
