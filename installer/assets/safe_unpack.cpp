#include "installer/assets/safe_unpack.h"

#include "installer/assets/byte_count.h"
#include "installer/file_ops.h"
#include "installer/installer.h"
#include "installer/platform.h"
#include "installer/runner.h"
#include "installer/setup_failure.h"
#include "installer/setup_log.h"

#include <algorithm>
#include <chrono>
#include <system_error>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvanel {

namespace {

constexpr double listingTimeLimit = 900;
constexpr double extractionTimeLimit = 3600;
constexpr const char* unsafePaths = "The selected archive contains unsafe file paths.";
constexpr const char* onlyRegularItems = "Game imports must contain regular files and folders, without symbolic links.";
constexpr const char* dot = " \u00B7 ";

EntryType typeOf(char mode)
{
    switch (mode) {
    case '-':
        return EntryType::file;
    case 'd':
        return EntryType::folder;
    case 'l':
        return EntryType::symlink;
    case 'h':
        return EntryType::hardlink;
    case 'c':
        return EntryType::character;
    case 'b':
        return EntryType::block;
    case 'p':
        return EntryType::fifo;
    case 's':
        return EntryType::socket;
    default:
        return EntryType::unreadable;
    }
}

ListedEntry parseVerboseLine(std::string_view line)
{
    ListedEntry entry{EntryType::unreadable, std::string(line)};
    // Mode, link count, owner, group, size (or major,minor), month, day, time or year.
    constexpr int fieldsBeforeName = 8;
    size_t at = 0;
    for (int field = 0; field < fieldsBeforeName; ++field) {
        while (at < line.size() && line[at] == ' ')
            ++at;
        if (at == line.size())
            return entry;
        while (at < line.size() && line[at] != ' ')
            ++at;
    }
    // Exactly one space separates the date from the name, which may itself begin with spaces.
    if (at + 1 >= line.size() || line[at] != ' ')
        return entry;
    std::string_view name = line.substr(at + 1);
    const EntryType type = typeOf(line[0]);
    const std::string_view marker = type == EntryType::symlink ? " -> "
        : type == EntryType::hardlink                          ? " link to "
                                                               : "";
    if (!marker.empty()) {
        const auto split = name.find(marker);
        if (split == std::string_view::npos || split == 0)
            return entry;
        name = name.substr(0, split);
    }
    entry.type = type;
    entry.name = std::string(name);
    return entry;
}

/// Sums regular-file sizes below the open folder `folder`, skipping what it cannot read.
std::int64_t bytesBelow(int folder)
{
    DIR* stream = ::fdopendir(folder);
    if (!stream) {
        ::close(folder);
        return 0;
    }
    std::int64_t total = 0;
    while (const dirent* item = ::readdir(stream)) {
        const char* name = item->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        unsigned char type = item->d_type;
        struct stat status { };
        if (type == DT_REG || type == DT_UNKNOWN) {
            if (::fstatat(::dirfd(stream), name, &status, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            if (S_ISREG(status.st_mode)) {
                total += status.st_size;
                continue;
            }
            if (!S_ISDIR(status.st_mode))
                continue;
            type = DT_DIR;
        }
        if (type == DT_DIR) {
            const int child = ::openat(::dirfd(stream), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child >= 0)
                total += bytesBelow(child);
        }
    }
    ::closedir(stream);
    return total;
}

} // namespace

Environment archiverEnvironment()
{
    Environment result = inheritedEnvironment();
    for (const auto& [name, value] : platform::utf8Locale())
        result[name] = value;
    return result;
}

std::vector<std::string> listingLines(std::string_view output)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= output.size()) {
        size_t end = output.find('\n', start);
        if (end == std::string_view::npos)
            end = output.size();
        if (end > start)
            lines.emplace_back(output.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::vector<ListedEntry> parseVerboseListing(std::string_view output)
{
    std::vector<ListedEntry> entries;
    for (const auto& line : listingLines(output))
        entries.push_back(parseVerboseLine(line));
    return entries;
}

bool onlyFilesAndFolders(const std::vector<std::string>& names, const std::vector<ListedEntry>& entries)
{
    if (names.size() != entries.size())
        return false;
    for (size_t i = 0; i < names.size(); ++i) {
        const auto& entry = entries[i];
        if (entry.type != EntryType::file && entry.type != EntryType::folder)
            return false;
        if (entry.name != names[i])
            return false;
    }
    return true;
}

std::string decodeListedName(std::string_view listed)
{
    std::string name;
    name.reserve(listed.size());
    for (size_t at = 0; at < listed.size(); ++at) {
        const char character = listed[at];
        if (character != '\\' || at + 1 == listed.size()) {
            name += character;
            continue;
        }
        const char next = listed[at + 1];
        const auto octal = [&](size_t i) { return i < listed.size() && listed[i] >= '0' && listed[i] <= '7'; };
        if (octal(at + 1) && octal(at + 2) && octal(at + 3) && listed[at + 1] <= '3') {
            name
                += static_cast<char>((listed[at + 1] - '0') * 64 + (listed[at + 2] - '0') * 8 + (listed[at + 3] - '0'));
            at += 3;
            continue;
        }
        const std::string_view letters = "\\abfnrtv";
        const std::string_view controls("\\\a\b\f\n\r\t\v", 8);
        const auto escape = letters.find(next);
        if (escape == std::string_view::npos) {
            name += character;
            continue;
        }
        name += controls[escape];
        ++at;
    }
    return name;
}

bool onlyRegularMember(const std::vector<std::string>& names, const std::vector<ListedEntry>& entries,
                       std::string_view member)
{
    if (!onlyFilesAndFolders(names, entries))
        return false;
    const std::string below = std::string(member) + "/";
    int found = 0;
    for (const auto& entry : entries) {
        std::string name = decodeListedName(entry.name);
        if (!safeArchiveEntry(name))
            return false;
        // The archiver matches a member with or without a leading "./" or "/".
        std::string_view path(name);
        while (path.starts_with("./") || path.starts_with("/"))
            path.remove_prefix(path.starts_with("/") ? 1 : 2);
        if (path.starts_with(below))
            return false;
        if (path == member) {
            if (entry.type != EntryType::file)
                return false;
            ++found;
        }
    }
    return found == 1;
}

bool safeArchiveEntry(std::string_view name)
{
    std::string path(name);
    std::replace(path.begin(), path.end(), '\\', '/');
    if (path.starts_with('/'))
        return false;
    if (path.find('\0') != std::string::npos)
        return false;
    std::vector<std::string_view> components;
    const std::string_view text(path);
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('/', start);
        if (end == std::string_view::npos)
            end = text.size();
        if (end > start)
            components.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    if (std::find(components.begin(), components.end(), "..") != components.end())
        return false;
    if (components.empty())
        return true;
    return components.front().find(':') == std::string_view::npos;
}

void Installer::unpackUserArchive(const fs::path& archive, const fs::path& destination) const
{
    const std::string name = archive.filename().string();
    const std::string tool = platform::archiver();
    const Environment environment = archiverEnvironment();

    report("Checking " + name);
    const RunOptions listing{
        .environment = environment,
        .capture = true,
        .timeout = listingTimeLimit,
        .progress = [&](double seconds) { report("Checking " + name + dot + elapsed(seconds)); },
    };
    const std::string noArchive = "The file " + name
        + " is not an archive setup can read, or it is empty or damaged. "
          "Choose h2pc_data.bin from installer 2.1, or its ZIP, then retry.";
    std::vector<std::string> names;
    try {
        names = listingLines(run(tool, {"-tf", archive.string()}, listing));
    } catch (const ProgramFailure&) {
        throw SetupFailure(noArchive);
    }
    if (names.empty())
        throw SetupFailure(noArchive);
    if (!std::all_of(names.begin(), names.end(),
                     [](const std::string& entry) { return safeArchiveEntry(decodeListedName(entry)); }))
        throw SetupFailure(unsafePaths);
    // The extraction must never write through a link or create a device: only regular files
    // and folders get that far. Both listings come from the same reader, one line per entry.
    const auto entries = parseVerboseListing(run(tool, {"--numeric-owner", "-tvf", archive.string()}, listing));
    if (!onlyFilesAndFolders(names, entries))
        throw SetupFailure(onlyRegularItems);

    makeDirectory(destination);
    report("Extracting " + name + ". Large game archives can take several minutes.");
    run(tool, {"-xf", archive.string(), "-C", destination.string(), "--no-same-owner", "--no-same-permissions"},
        RunOptions{
            .environment = environment,
            .timeout = extractionTimeLimit,
            .progress =
                [&](double seconds) {
                    report("Extracting " + name + dot + formatByteCount(extractedBytes(destination)) + " unpacked" + dot
                           + elapsed(seconds) + " elapsed");
                },
        });
    report("Verifying extracted files");
    rejectSymlinks(destination);
}

void Installer::rejectSymlinks(const fs::path& folder) const
{
    std::error_code error;
    fs::recursive_directory_iterator walk(folder, error), end;
    if (error)
        return;
    while (walk != end) {
        const auto type = walk->symlink_status(error).type();
        if (error)
            throw fs::filesystem_error("Unable to read", walk->path(), error);
        if (type != fs::file_type::regular && type != fs::file_type::directory)
            throw SetupFailure(onlyRegularItems);
        walk.increment(error);
        if (error)
            throw fs::filesystem_error("Unable to read", folder, error);
    }
}

std::int64_t Installer::extractedBytes(const fs::path& folder) const
{
    const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return descriptor < 0 ? 0 : bytesBelow(descriptor);
}

} // namespace corvanel
