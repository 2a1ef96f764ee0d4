#include "installer/windows/windows_kit.h"

#include "installer/child_process.h"
#include "installer/platform.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <cstdio>

#include <openssl/evp.h>
#include <stdexcept>

namespace corvanel::test_support {

namespace fs = std::filesystem;

fs::path fixture(const fs::path& relative)
{
    return fs::path(CORVANEL_FIXTURES_DIR) / relative;
}

void runTool(const std::string& executable, const std::vector<std::string>& arguments)
{
    ChildProcess tool = ChildProcess::spawn({.executable = executable, .arguments = arguments});
    if (const int status = tool.wait(); status != 0)
        throw std::runtime_error(executable + " exited with " + std::to_string(status));
}

void copyFixtureGame(const fs::path& root)
{
    fs::create_directories(root / "Install");
    fs::copy(fixture("game"), root / "Install" / "game", fs::copy_options::recursive);
}

void unpackFixtureEngine(const fs::path& root)
{
    fs::create_directories(root / "Runtime");
    runTool(platform::archiver(),
            {"-xf", fixture("runtime/WS12WineCX24.0.7_7.tar.xz").string(), "-C", (root / "Runtime").string()});
}

int startedPrograms(const Installer& installer)
{
    const std::string log = readText(installer.log());
    int count = 0;
    for (size_t at = log.find("] Starting "); at != std::string::npos; at = log.find("] Starting ", at + 1))
        ++count;
    return count;
}

std::string digestOf(const fs::path& file)
{
    const std::string content = readText(file);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!EVP_Digest(content.data(), content.size(), digest, &length, EVP_sha256(), nullptr))
        throw std::runtime_error("SHA-256 failed");
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", digest[i]);
        text += pair;
    }
    return text;
}

std::vector<std::string> entriesStartingWith(const fs::path& folder, const std::string& prefix)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().starts_with(prefix))
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace corvanel::test_support
