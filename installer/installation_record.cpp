#include "installer/installation_record.h"

#include "installer/file_ops.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>

namespace corvanel {

namespace {
// 2001-01-01T00:00:00Z as Unix time.
constexpr double referenceDate = 978307200.0;
} // namespace

std::string InstallationRecord::encode() const
{
    nlohmann::ordered_json object;
    object["format"] = format;
    object["launcherVersion"] = launcherVersion;
    object["engine"] = engine;
    object["installedAt"] = installedAt;
    return object.dump();
}

namespace {

/// A JSON number with a whole value that fits a signed 64-bit integer (1 and 1.0 alike).
std::optional<std::int64_t> wholeNumber(const nlohmann::json& value)
{
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return std::nullopt;
        return static_cast<std::int64_t>(number);
    }
    if (value.is_number_integer())
        return value.get<std::int64_t>();
    if (value.is_number_float()) {
        const double number = value.get<double>();
        // -2^63 and 2^63 are exact doubles; the range is half-open.
        if (!std::isfinite(number) || std::trunc(number) != number || number < -0x1p63 || number >= 0x1p63)
            return std::nullopt;
        return static_cast<std::int64_t>(number);
    }
    return std::nullopt;
}

} // namespace

std::optional<InstallationRecord> InstallationRecord::decode(std::string_view json)
{
    // The parser takes a NUL byte for the end of its input; JSON text never holds one.
    if (json.find('\0') != std::string_view::npos)
        return std::nullopt;
    const auto object = nlohmann::json::parse(json.begin(), json.end(), nullptr, /*allow_exceptions=*/false);
    if (!object.is_object())
        return std::nullopt;
    const auto end = object.end();
    const auto format = object.find("format");
    const auto launcherVersion = object.find("launcherVersion");
    const auto engine = object.find("engine");
    const auto installedAt = object.find("installedAt");
    if (format == end || launcherVersion == end || engine == end || installedAt == end)
        return std::nullopt;
    const auto formatNumber = wholeNumber(*format);
    if (!formatNumber || !launcherVersion->is_string() || !engine->is_string() || !installedAt->is_number())
        return std::nullopt;
    const double date = installedAt->get<double>();
    if (!std::isfinite(date))
        return std::nullopt;
    return InstallationRecord{
        .format = *formatNumber,
        .launcherVersion = launcherVersion->get<std::string>(),
        .engine = engine->get<std::string>(),
        .installedAt = date,
    };
}

std::optional<InstallationRecord> InstallationRecord::read(const std::filesystem::path& file) noexcept
{
    try {
        const UniqueFd fd = openRegularFile(file, FinalLink::follow);
        bool longer = false;
        const std::string text = readAtMost(fd.get(), file, sizeLimit, longer);
        if (longer)
            return std::nullopt;
        return decode(text);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

double InstallationRecord::secondsSinceReferenceDate(std::chrono::system_clock::time_point moment)
{
    return std::chrono::duration<double>(moment.time_since_epoch()).count() - referenceDate;
}

} // namespace corvanel
