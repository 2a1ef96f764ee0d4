#pragma once

// Reading the archiver's listings of a user archive before anything is unpacked.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvanel {

/// The kind of one archive entry, from the first character of its verbose listing line.
enum class EntryType {
    file,       ///< '-'
    folder,     ///< 'd'
    symlink,    ///< 'l'
    hardlink,   ///< 'h' (a hard link to another entry, whatever its mode)
    character,  ///< 'c'
    block,      ///< 'b'
    fifo,       ///< 'p'
    socket,     ///< 's'
    unreadable, ///< anything else, including a tool warning or a line that does not parse
};

struct ListedEntry {
    EntryType type = EntryType::unreadable;
    /// The entry's path as the plain listing shows it. For links, the text before the first
    /// " -> " or " link to " (a name holding that text splits early; links are refused anyway).
    /// For an unreadable line, the whole line.
    std::string name;
};

/// Splits the archiver's output at line feeds, dropping empty lines.
std::vector<std::string> listingLines(std::string_view output);

/// Parses a verbose listing (`-tvf` with `--numeric-owner`, C or UTF-8 locale), one entry per
/// non-empty line: mode, link count, owner, group, size or device numbers, three date fields,
/// one space, then the name. Never fails; what it cannot read is `unreadable`.
std::vector<ListedEntry> parseVerboseListing(std::string_view output);

/// Whether every entry of the plain listing `names` is a regular file or a folder according
/// to the verbose listing `entries` of the same archive, matched line by line by name.
/// Counts that differ, names that differ, and every other entry type make it false.
bool onlyFilesAndFolders(const std::vector<std::string>& names, const std::vector<ListedEntry>& entries);

} // namespace corvanel
