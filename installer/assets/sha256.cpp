#include "installer/assets/sha256.h"

#include "installer/file_ops.h"
#include "installer/unique_fd.h"

#include <openssl/evp.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <stdexcept>
#include <system_error>

#include <unistd.h>

namespace corvanel {

namespace fs = std::filesystem;

namespace {

constexpr size_t chunkSize = 1 << 20; // 1 MiB: constant memory whatever the file's size
constexpr size_t pageAlignment = 4096; // page-aligned reads copy out of the page cache faster

struct FreeBuffer {
    void operator()(unsigned char* buffer) const { std::free(buffer); }
};

struct FreeContext {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

[[noreturn]] void failDigest()
{
    throw std::runtime_error("SHA-256 is unavailable in the crypto library");
}

} // namespace

std::string sha256(const fs::path& file)
{
    // Only a regular file has an end: a pipe or a device could be read forever.
    UniqueFd fd = openRegularFile(file, FinalLink::follow);

    std::unique_ptr<unsigned char, FreeBuffer> buffer(
        static_cast<unsigned char*>(std::aligned_alloc(pageAlignment, chunkSize)));
    if (!buffer)
        throw std::bad_alloc();
    std::unique_ptr<EVP_MD_CTX, FreeContext> context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        failDigest();

    for (;;) {
        const ssize_t count = readRetrying(fd.get(), buffer.get(), chunkSize);
        if (count < 0) {
            const std::error_code error(errno, std::generic_category());
            fd.reset();
            throw fs::filesystem_error("Unable to read", file, error);
        }
        if (count == 0)
            break;
        if (EVP_DigestUpdate(context.get(), buffer.get(), static_cast<size_t>(count)) != 1)
            failDigest();
    }

    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1)
        failDigest();
    std::string text;
    text.reserve(length * 2);
    for (unsigned int i = 0; i < length; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", digest[i]);
        text += pair;
    }
    return text;
}

} // namespace corvanel
