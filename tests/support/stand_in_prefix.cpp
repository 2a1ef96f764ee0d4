#include "support/stand_in_prefix.h"

#include "installer/installed_parts.h"

#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace corvanel::test_support {

namespace fs = std::filesystem;

namespace {

void write(const fs::path& file, const std::string& text)
{
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush())
        throw std::runtime_error("cannot write " + file.string());
}

/// `a\b` as Wine's files write it: `a\\b`.
std::string escaped(std::string_view text)
{
    std::string result;
    for (const char c : text) {
        if (c == '\\' || c == '"')
            result += '\\';
        result += c;
    }
    return result;
}

/// A registry file in Wine's layout holding `rows`: key from the hive → name → text.
std::string registryText(const std::map<std::string, std::vector<std::pair<std::string, std::string>>>& rows)
{
    std::string text = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n";
    for (const auto& [key, values] : rows) {
        text += "\n[" + escaped(key) + "] 1733900000\n#time=1db4b7c2a5f7e10\n";
        for (const auto& [name, data] : values)
            text += (name == "@" ? std::string("@") : "\"" + escaped(name) + "\"") + "=\"" + escaped(data) + "\"\n";
    }
    return text;
}

} // namespace

void writeStandInPrefix(const fs::path& prefix)
{
    std::map<std::string, std::vector<std::pair<std::string, std::string>>> system, user;
    for (const auto& setting : registrySettings) {
        const std::string key = setting.key;
        auto& hive = key.starts_with("HKCU") ? user : system;
        hive[key.substr(5)].emplace_back(setting.name, setting.data);
    }
    system[R"(Software\Classes\Wow6432Node\CLSID\{2EEB4ADF-4578-4D10-BCA7-BB955F56320A}\InprocServer32)"].emplace_back(
        "@", R"(C:\windows\syswow64\wmadmod.dll)");
    write(prefix / "system.reg", registryText(system));
    write(prefix / "user.reg", registryText(user));

    for (const char* side : {"system32", "syswow64"})
        write(prefix / "drive_c/windows" / side / "kernel32.dll", "MZ stand-in kernel32");
    fs::create_directories(prefix / "drive_c/users/player/Documents");
    fs::create_directories(prefix / "dosdevices");
    for (const auto& [name, target] : {std::pair{"c:", "../drive_c"}, std::pair{"z:", "/"}}) {
        fs::remove(prefix / "dosdevices" / name);
        fs::create_symlink(target, prefix / "dosdevices" / name);
    }
}

} // namespace corvanel::test_support
