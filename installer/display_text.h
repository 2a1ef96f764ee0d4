#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace corvanel {

/// `text` with every control character (C0, DEL and C1), every byte that is not part of a
/// well-formed UTF-8 character, and the backslash itself written as a visible escape (`\n`,
/// `\t`, `\e`, `\\`, `\xHH` per byte), so it can be shown on a terminal or written as one log
/// line without acting on either, and read back unambiguously. Other characters pass unchanged.
std::string printable(std::string_view text);

/// A program's output as lines for the setup log: each line of it written through printable(),
/// then a line feed. The result holds no control character but those line feeds.
std::string escapedLines(std::string_view output);

/// An argument list as the setup log shows it: ["-xf", "a \"b\""], each argument written
/// through printable() with its double quotes escaped as well.
std::string quotedArguments(const std::vector<std::string>& arguments);

/// Whether `text` is well-formed UTF-8.
bool isValidUtf8(std::string_view text);

/// `text` with ASCII letters in lower case; other bytes unchanged.
std::string lowerCased(std::string text);

/// `path` as it reads inside a message: at most `limit` bytes, keeping its head and tail around
/// an ellipsis when it is longer, never cutting a UTF-8 character in two.
std::string shownPath(const std::filesystem::path& path, std::size_t limit = 120);

} // namespace corvanel
