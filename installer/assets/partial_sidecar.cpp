#include "installer/assets/partial_sidecar.h"

#include "installer/assets/response_headers.h"

#include <nlohmann/json.hpp>

namespace corvanel {

std::string PartialSidecar::encode() const
{
    nlohmann::ordered_json object;
    object["url"] = url;
    object["sha256"] = sha256;
    if (!etag.empty())
        object["etag"] = etag;
    if (!lastModified.empty())
        object["lastModified"] = lastModified;
    return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::optional<PartialSidecar> PartialSidecar::decode(std::string_view json)
{
    // The parser takes a NUL byte for the end of its input; JSON text never holds one.
    if (json.size() > sidecarLimit || json.find('\0') != std::string_view::npos)
        return std::nullopt;
    const auto object = nlohmann::json::parse(json.begin(), json.end(), nullptr, /*allow_exceptions=*/false);
    if (!object.is_object())
        return std::nullopt;

    PartialSidecar sidecar;
    bool hasUrl = false;
    bool hasDigest = false;
    for (const auto& [key, value] : object.items()) {
        if (!value.is_string())
            return std::nullopt;
        std::string text = value.get<std::string>();
        if (key == "url") {
            sidecar.url = std::move(text);
            hasUrl = true;
        } else if (key == "sha256") {
            sidecar.sha256 = std::move(text);
            hasDigest = true;
        } else if (key == "etag" && text.starts_with('"') && isUsableValidator(text)) {
            sidecar.etag = std::move(text);
        } else if (key == "lastModified" && !text.starts_with('"') && isUsableValidator(text)) {
            sidecar.lastModified = std::move(text);
        } else {
            return std::nullopt;
        }
    }
    if (!hasUrl || !hasDigest || sidecar.url.empty() || sidecar.sha256.empty())
        return std::nullopt;
    return sidecar;
}

} // namespace corvanel
