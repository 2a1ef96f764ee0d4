#include "support/registry_rows.h"

#include <gtest/gtest.h>

#include <string>

namespace corvanel::test_support {

const RegistryRow expectedRegistryRows[7] = {
    {R"(HKCU\Software\Wine)", "Version", "win7"},
    {R"(HKCU\Software\Wine\Direct3D)", "renderer", "gl"},
    {R"(HKCU\Software\Wine\Direct3D)", "VideoMemorySize", "2048"},
    {R"(HKCU\Software\Wine\Mac Driver)", "RetinaMode", "N"},
    {R"(HKCU\SOFTWARE\Microsoft\Halo 2\Video Settings)", "DisplayMode", "1"},
    {R"(HKLM\Software\WOW6432Node\Microsoft\Microsoft Games\Halo 2\1.0)", "GameInstallDir", R"(C:\Games\Halo 2\)"},
    {R"(HKCU\Software\Wine\DllOverrides)", "wmadmod", "native,builtin"},
};

void expectRegistryRowsReadBack(const Installer& installer)
{
    const RunOptions query{.environment = installer.environment(), .capture = true, .timeout = 60};
    for (const auto& row : expectedRegistryRows) {
        SCOPED_TRACE(std::string(row.key) + " " + row.name);
        const std::string answer
            = installer.run(installer.wine().string(), {"reg", "query", row.key, "/v", row.name}, query);
        // reg prints "    NAME    REG_SZ    DATA" and ends its lines with CR LF.
        EXPECT_NE(answer.find(std::string(row.name) + "    REG_SZ    " + row.data + "\r"), std::string::npos) << answer;
    }
}

} // namespace corvanel::test_support
