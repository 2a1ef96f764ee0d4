#pragma once

// Reading the archiver's listings of a user archive before anything is unpacked.

#include "installer/installer.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvanel {

/// The kind of one archive entry, from the first character of its verbose listing line.
enum class EntryType {
    file, ///< '-'
    folder, ///< 'd'
    symlink, ///< 'l'
    hardlink, ///< 'h' (a hard link to another entry, whatever its mode)
    character, ///< 'c'
    block, ///< 'b'
    fifo, ///< 'p'
    socket, ///< 's'
    unreadable, ///< anything else, including a tool warning or a line that does not parse
};

struct ListedEntry {
    EntryType type = EntryType::unreadable;
    /// The entry's path as the plain listing shows it. For links, the text before the first
    /// " -> " or " link to " (a name holding that text splits early; links are refused anyway).
    /// For an unreadable line, the whole line.
    std::string name;
};

/// Our own environment with a UTF-8 locale on top: without one, the archiver silently leaves
/// entries with non-ASCII names out of listings and extraction.
Environment archiverEnvironment();

/// Splits the archiver's output at line feeds, dropping empty lines.
std::vector<std::string> listingLines(std::string_view output);

/// Parses a verbose listing (`-tvf` with `--numeric-owner`, C or UTF-8 locale), one entry per
/// non-empty line: mode, link count, owner, group, size or device numbers, three date fields,
/// one space, then the name. Never fails; what it cannot read is `unreadable`.
std::vector<ListedEntry> parseVerboseListing(std::string_view output);

/// Whether every entry of the plain listing `names` is a regular file or a folder according
/// to the verbose listing `entries` of the same archive, matched line by line by name.
/// Counts that differ, names that differ, and every other entry type make it false. The name
/// match matters: a hard link that carries data is listed with a file's mode and only its
/// " link to ..." suffix tells it apart.
bool onlyFilesAndFolders(const std::vector<std::string>& names, const std::vector<ListedEntry>& entries);

/// The name as stored in the archive: the listing shows a backslash as `\\`, a few control
/// characters as `\n`, `\t` and the like, and every other unprintable byte as three octal
/// digits (`\232`). A backslash that starts no such escape stays as it is.
std::string decodeListedName(std::string_view listed);

/// Whether unpacking an entry of this name stays inside the destination: a relative path (with
/// backslashes read as slashes) that holds no NUL byte, no ".." component and no drive letter.
bool safeArchiveEntry(std::string_view name);

/// Whether extracting just `member` from the archive with these listings writes one regular
/// file of that name and nothing else: every entry passes the name rule and is a file or a
/// folder (as for onlyFilesAndFolders), exactly one entry is `member`, it is a file, and no
/// entry lies below `member` as if it were a folder.
bool onlyRegularMember(const std::vector<std::string>& names, const std::vector<ListedEntry>& entries,
                       std::string_view member);

} // namespace corvanel
