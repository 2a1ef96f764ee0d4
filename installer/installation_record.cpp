#include "installer/installation_record.h"

#include <nlohmann/json.hpp>

namespace corvanel {

namespace {
// 2001-01-01T00:00:00Z as Unix time.
constexpr double referenceDate = 978307200.0;
}

std::string InstallationRecord::encode() const
{
    nlohmann::ordered_json object;
    object["format"] = format;
    object["launcherVersion"] = launcherVersion;
    object["engine"] = engine;
    object["installedAt"] = installedAt;
    return object.dump();
}

std::optional<InstallationRecord> InstallationRecord::decode(std::string_view json)
{
    const auto object = nlohmann::json::parse(json, nullptr, /*allow_exceptions=*/false);
    if (!object.is_object())
        return std::nullopt;
    const auto format = object.find("format");
    const auto launcherVersion = object.find("launcherVersion");
    const auto engine = object.find("engine");
    const auto installedAt = object.find("installedAt");
    const auto end = object.end();
    if (format == end || launcherVersion == end || engine == end || installedAt == end)
        return std::nullopt;
    if (!format->is_number_integer() || !launcherVersion->is_string() || !engine->is_string() || !installedAt->is_number())
        return std::nullopt;
    InstallationRecord record;
    record.format = format->is_number_unsigned() ? static_cast<std::int64_t>(format->get<std::uint64_t>()) : format->get<std::int64_t>();
    if (format->is_number_unsigned() && format->get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX))
        return std::nullopt;
    record.launcherVersion = launcherVersion->get<std::string>();
    record.engine = engine->get<std::string>();
    record.installedAt = installedAt->get<double>();
    return record;
}

double InstallationRecord::secondsSinceReferenceDate(std::chrono::system_clock::time_point moment)
{
    return std::chrono::duration<double>(moment.time_since_epoch()).count() - referenceDate;
}

} // namespace corvanel
