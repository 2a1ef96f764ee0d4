#include "support/digest.h"

#include <cstdio>

#include <openssl/sha.h>

namespace corvanel::test_support {

std::string digestOf(const std::string& data)
{
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest);
    std::string text;
    for (unsigned char byte : digest) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", byte);
        text += pair;
    }
    return text;
}

} // namespace corvanel::test_support
