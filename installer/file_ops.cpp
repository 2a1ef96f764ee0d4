#include "installer/file_ops.h"

#include <cerrno>
#include <cstdio>
#include <random>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

namespace corvanel {

namespace fs = std::filesystem;

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

void writeFileAtomically(const fs::path& file, std::string_view content)
{
    const fs::path aside = file.parent_path() / ("." + file.filename().string() + "." + newUuid() + ".tmp");
    int fd = ::open(aside.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
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

} // namespace corvanel
