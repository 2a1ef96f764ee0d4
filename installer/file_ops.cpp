#include "installer/file_ops.h"

#include "installer/display_text.h"
#include "installer/layout.h"
#include "installer/regular_file.h"
#include "installer/setup_failure.h"

#include <cerrno>
#include <cstdio>
#include <random>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvanel {

namespace fs = std::filesystem;

namespace {

std::error_code lastError() { return std::error_code(errno, std::generic_category()); }

} // namespace

std::string newUuid()
{
    static thread_local std::random_device device;
    unsigned char bytes[16];
    for (auto& byte : bytes)
        byte = static_cast<unsigned char>(device());
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
    char text[37];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                  bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return text;
}

bool isCanonicalUuid(std::string_view text)
{
    if (text.size() != 36)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

void createFolders(const fs::path& folder)
{
    if (::mkdir(folder.c_str(), 0755) != 0) {
        int error = errno;
        if (error == ENOENT && folder.has_relative_path() && folder.parent_path() != folder) {
            createFolders(folder.parent_path());
            error = ::mkdir(folder.c_str(), 0755) == 0 ? 0 : errno;
        }
        if (error != 0 && error != EEXIST)
            throw fs::filesystem_error("Unable to create the folder", folder, std::error_code(error, std::generic_category()));
    }
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0)
        throw fs::filesystem_error("Unable to create the folder", folder, lastError());
    if (!S_ISDIR(status.st_mode))
        throw fs::filesystem_error("Unable to create the folder", folder, std::make_error_code(std::errc::not_a_directory));
}

void makeDirectory(const fs::path& folder)
{
    refuseLinkedFolder(folder);
    createFolders(folder);
}

void refuseLinkedFolder(const fs::path& folder)
{
    struct stat status {};
    if (::lstat(folder.c_str(), &status) == 0 && S_ISLNK(status.st_mode))
        throw SetupFailure("Corvanel cannot write into " + shownPath(folder)
                           + ": it is a symbolic link, not a folder of its own. Remove the link, then retry.");
}

void createRootFolder(const fs::path& root)
{
    // The root itself is the user's choice and may be a link to a folder; a link whose target
    // is gone would otherwise read as "File exists".
    struct stat status {};
    if (::lstat(root.c_str(), &status) == 0 && S_ISLNK(status.st_mode) && ::stat(root.c_str(), &status) != 0
        && errno == ENOENT) {
        std::error_code unreadable;
        const fs::path target = fs::read_symlink(root, unreadable);
        throw SetupFailure("The installation folder " + shownPath(root) + " is a symbolic link to "
                           + shownPath(target) + ", which does not exist. Create that folder or choose another "
                           "installation folder, then retry.");
    }
    createFolders(root);
}


void writeFileAtomically(const fs::path& file, std::string_view content)
{
    const fs::path aside = file.parent_path() / ("." + file.filename().string() + "." + newUuid() + ".tmp");
    int fd = ::open(aside.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        throw fs::filesystem_error("Unable to write", aside, std::error_code(errno, std::generic_category()));
    size_t done = 0;
    while (done < content.size()) {
        ssize_t written = ::write(fd, content.data() + done, content.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0) {
            std::error_code error(errno, std::generic_category());
            ::close(fd);
            ::unlink(aside.c_str());
            throw fs::filesystem_error("Unable to write", aside, error);
        }
        done += static_cast<size_t>(written);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        std::error_code error(errno, std::generic_category());
        ::unlink(aside.c_str());
        throw fs::filesystem_error("Unable to write", aside, error);
    }
    std::error_code error;
    fs::rename(aside, file, error);
    if (error) {
        ::unlink(aside.c_str());
        throw fs::filesystem_error("Unable to replace", file, error);
    }
}

void requireOwnLayout(const fs::path& root)
{
    using namespace layout;
    for (const fs::path& folder : {fs::path(install), fs::path(runtime), fs::path(logs), fs::path(downloads),
                                   fs::path(audioImport), install / fs::path(gameFolder), install / fs::path(prefixFolder)})
        refuseLinkedFolder(root / folder);
    for (const fs::path& file : {fs::path(lock), logs / fs::path(setupLog), logs / fs::path(gameLog)})
        refusePlantedFile(root / file);
}

std::string readFile(const fs::path& file)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        throw fs::filesystem_error("Unable to read", file, std::error_code(errno, std::generic_category()));
    std::string content;
    char buffer[65536];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count > 0) {
            content.append(buffer, static_cast<size_t>(count));
        } else if (count == 0) {
            break;
        } else if (errno != EINTR) {
            const std::error_code error(errno, std::generic_category());
            ::close(fd);
            throw fs::filesystem_error("Unable to read", file, error);
        }
    }
    ::close(fd);
    return content;
}

void removeTreeQuietly(const fs::path& path) noexcept
{
    std::error_code error;
    if (fs::symlink_status(path, error).type() == fs::file_type::directory) {
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, error);
        for (fs::recursive_directory_iterator walk(path, fs::directory_options::skip_permission_denied, error), end;
             !error && walk != end; walk.increment(error)) {
            std::error_code ignored;
            if (walk->symlink_status(ignored).type() == fs::file_type::directory)
                fs::permissions(walk->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        }
    }
    fs::remove_all(path, error);
}

bool entryExists(const fs::path& path) noexcept
{
    std::error_code error;
    return fs::symlink_status(path, error).type() != fs::file_type::not_found && !error;
}

bool isOwnFolder(const fs::path& path) noexcept
{
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

} // namespace corvanel
