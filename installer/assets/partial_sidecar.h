#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace corvanel {

/// Names below Downloads that an unfinished download of NAME keeps beside its target:
/// NAME.partial holds the bytes received, NAME.partial.json says what they are part of,
/// NAME.partial.headers holds the server's last answer while curl runs.
inline constexpr std::string_view partialSuffix = ".partial";
inline constexpr std::string_view sidecarSuffix = ".partial.json";
inline constexpr std::string_view headersSuffix = ".partial.headers";

/// The longest sidecar that is read; a longer one is discarded unread.
inline constexpr std::size_t sidecarLimit = 4096;

/// What a kept partial download is part of: the address it came from, the digest the whole
/// file must have, and the server's validator for it when the server sent one.
struct PartialSidecar {
    std::string url;
    std::string sha256;
    std::string etag; ///< a strong entity tag in quotes, or empty
    std::string lastModified; ///< the server's date, or empty

    /// The validator a resumed request is made conditional on: the entity tag, else the date.
    std::string validator() const { return etag.empty() ? lastModified : etag; }

    std::string encode() const;
    /// The sidecar in `json`; nothing for anything unexpected: another shape, unknown or missing
    /// members, a validator that could not be sent back to a server.
    static std::optional<PartialSidecar> decode(std::string_view json);
};

} // namespace corvanel
