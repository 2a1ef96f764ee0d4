#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvanel {

/// What a download needs to know of the server's answer.
struct ResponseHeaders {
    int status = 0;
    std::optional<std::int64_t> contentLength;
    std::optional<std::int64_t> rangeStart; ///< first byte of the part a 206 carries
    std::optional<std::int64_t> completeLength; ///< the whole file's size when the answer tells it
    std::string etag; ///< a strong entity tag, quotes included; empty when none is usable
    std::string lastModified; ///< empty when absent or unusable

    /// What a range request can be made conditional on: the entity tag, else the date; may be empty.
    std::string validator() const { return etag.empty() ? lastModified : etag; }
};

/// The longest header dump that is read; a longer one is no answer at all.
inline constexpr std::size_t responseHeadersLimit = 64 * 1024;

/// The last complete answer in a header dump as curl writes it (one block per response,
/// redirects included: a status line, header lines, an empty line). Nothing when there is no
/// complete answer yet, or the dump is longer than responseHeadersLimit or malformed.
std::optional<ResponseHeaders> parseResponseHeaders(std::string_view dump);

/// Whether `value` may be sent back to the server as a validator: a strong entity tag in quotes
/// or a date, in printable ASCII, at most 200 characters.
bool isUsableValidator(std::string_view value);

} // namespace corvanel
