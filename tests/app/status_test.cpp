#include "app/cli.h"
#include "installer/child_process.h"
#include "installer/installation_record.h"
#include "installer/installer.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvanel {
namespace {

using test_support::TempDir;
using test_support::writeText;

struct StatusResult {
    int status;
    std::string out;
    std::string err;
};

StatusResult statusOf(const fs::path& root)
{
    std::ostringstream out, err;
    const int code = runCLI({"corvanel", "--cli", "--status", "--home", root.string()}, out, err);
    return {code, out.str(), err.str()};
}

void expectStatus(const fs::path& root, bool installed)
{
    const StatusResult result = statusOf(root);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, installed ? "installed\n" : "not installed\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(Installer(root).isInstalled(), installed);
}

TEST(Status, ReadsTheRecordAndAcceptsOnlyAFormatOneRecordWithAllFourMembers)
{
    const std::string valid = test_support::validRecordText();
    const struct {
        const char* name;
        std::string record;
        bool installed;
    } cases[] = {
        {"as setup writes it", valid, true},
        {"members in another order", R"({"installedAt":1.5,"engine":"e","format":1,"launcherVersion":"9"})", true},
        {"unknown members",
         R"({"format":1,"launcherVersion":"0.2.1","engine":"e","installedAt":0,"extra":{"a":[1,2]},"x":null})", true},
        {"indented, integer date",
         "{\n  \"format\" : 1,\n  \"launcherVersion\" : \"\",\n  \"engine\" : \"\",\n  \"installedAt\" : "
         "786625592\n}\n",
         true},
        {"negative date", R"({"format":1,"launcherVersion":"v","engine":"e","installedAt":-1e9})", true},
        {"huge date", R"({"format":1,"launcherVersion":"v","engine":"e","installedAt":1e308})", true},
        {"format written as 1.0", R"({"format":1.0,"launcherVersion":"v","engine":"e","installedAt":0})", true},
        {"empty", "", false},
        {"only white space", " \n", false},
        {"format 2", R"({"format":2,"launcherVersion":"0.2.1","engine":"e","installedAt":0})", false},
        {"format 0", R"({"format":0,"launcherVersion":"0.2.1","engine":"e","installedAt":0})", false},
        {"format -1", R"({"format":-1,"launcherVersion":"0.2.1","engine":"e","installedAt":0})", false},
        {"format 1.5", R"({"format":1.5,"launcherVersion":"0.2.1","engine":"e","installedAt":0})", false},
        {"format 2^64 + 1", R"({"format":18446744073709551617,"launcherVersion":"v","engine":"e","installedAt":0})",
         false},
        {"format 2^63", R"({"format":9223372036854775808,"launcherVersion":"v","engine":"e","installedAt":0})", false},
        {"format 2^64 - 1", R"({"format":18446744073709551615,"launcherVersion":"v","engine":"e","installedAt":0})",
         false},
        {"format 2^64 + 1 as a float",
         R"({"format":1.8446744073709552e19,"launcherVersion":"v","engine":"e","installedAt":0})", false},
        {"format as text", R"({"format":"1","launcherVersion":"0.2.1","engine":"e","installedAt":0})", false},
        {"format true", R"({"format":true,"launcherVersion":"0.2.1","engine":"e","installedAt":0})", false},
        {"format null", R"({"format":null,"launcherVersion":"0.2.1","engine":"e","installedAt":0})", false},
        {"version as number", R"({"format":1,"launcherVersion":0.21,"engine":"e","installedAt":0})", false},
        {"engine as array", R"({"format":1,"launcherVersion":"v","engine":["e"],"installedAt":0})", false},
        {"engine null", R"({"format":1,"launcherVersion":"v","engine":null,"installedAt":0})", false},
        {"date as ISO text", R"({"format":1,"launcherVersion":"v","engine":"e","installedAt":"2026-12-05T08:06:32Z"})",
         false},
        {"date true", R"({"format":1,"launcherVersion":"v","engine":"e","installedAt":true})", false},
        {"date out of range", R"({"format":1,"launcherVersion":"v","engine":"e","installedAt":1e999})", false},
        {"no format", R"({"launcherVersion":"v","engine":"e","installedAt":0})", false},
        {"no launcherVersion", R"({"format":1,"engine":"e","installedAt":0})", false},
        {"no engine", R"({"format":1,"launcherVersion":"v","installedAt":0})", false},
        {"no installedAt", R"({"format":1,"launcherVersion":"v","engine":"e"})", false},
        {"member names in another case", R"({"Format":1,"launcherversion":"v","engine":"e","installedAt":0})", false},
        {"array", "[" + valid + "]", false},
        {"text", R"("installed")", false},
        {"number", "1", false},
        {"null", "null", false},
        {"two objects", valid + valid, false},
        {"trailing garbage", valid + "x", false},
        {"comment", "// setup\n" + valid, false},
        {"invalid UTF-8 in a value", "{\"format\":1,\"launcherVersion\":\"\xff\",\"engine\":\"e\",\"installedAt\":0}",
         false},
        {"invalid UTF-8 in an unknown member",
         "{\"format\":1,\"launcherVersion\":\"v\",\"engine\":\"e\",\"installedAt\":0,\"\xc0\xaf\":1}", false},
        {"NUL inside", std::string("{\"format\":1,\0\"launcherVersion\":\"v\",\"engine\":\"e\",\"installedAt\":0}", 60),
         false},
        {"deeply nested", std::string(100'000, '['), false},
        {"deeply nested member",
         "{\"format\":1,\"launcherVersion\":\"v\",\"engine\":\"e\",\"installedAt\":0,\"x\":" + std::string(30'000, '[')
             + std::string(30'000, ']') + "}",
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir root;
        test_support::makeInstalledState(root.path());
        // An accepted record must also name a Wine that is there: the stand-in's, as setup records it.
        const auto standIn = InstallationRecord::read(root / "installed.json");
        ASSERT_TRUE(standIn);
        const std::string record = c.installed ? std::regex_replace(c.record, std::regex(R"("engine"\s*:\s*"[^"]*")"),
                                                                    "\"engine\":\"" + standIn->engine + "\"")
                                               : c.record;
        writeText(root / "installed.json", record);
        expectStatus(root.path(), c.installed);
    }
}

TEST(Status, EveryShorterPrefixOfAValidRecordIsNotInstalled)
{
    TempDir root;
    test_support::makeInstalledState(root.path());
    const std::string valid = test_support::readText(root / "installed.json");
    for (size_t length = 0; length < valid.size(); ++length) {
        SCOPED_TRACE(length);
        writeText(root / "installed.json", valid.substr(0, length));
        expectStatus(root.path(), false);
    }
    writeText(root / "installed.json", valid);
    expectStatus(root.path(), true);
}

TEST(Status, NeedsEveryInstalledFile)
{
    const struct {
        const char* name;
        void (*change)(const fs::path& root);
        bool installed;
    } cases[] = {
        {"complete", [](const fs::path&) {}, true},
        {"no record", [](const fs::path& r) { fs::remove(r / "installed.json"); }, false},
        {"record is a folder",
         [](const fs::path& r) {
             fs::remove(r / "installed.json");
             fs::create_directory(r / "installed.json");
         },
         false},
        {"record is a pipe",
         [](const fs::path& r) {
             fs::remove(r / "installed.json");
             ::mkfifo((r / "installed.json").c_str(), 0600);
         },
         false},
        {"record is an endless device",
         [](const fs::path& r) {
             fs::remove(r / "installed.json");
             fs::create_symlink("/dev/zero", r / "installed.json");
         },
         false},
        {"record is a link to a valid record",
         [](const fs::path& r) {
             fs::rename(r / "installed.json", r / "record.json");
             fs::create_symlink(r / "record.json", r / "installed.json");
         },
         true},
        {"no game", [](const fs::path& r) { fs::remove(r / "Install/game/halo2.exe"); }, false},
        {"no wine", [](const fs::path& r) { fs::remove(r / "Runtime/wswine.bundle/bin/wine"); }, false},
        {"wine not executable",
         [](const fs::path& r) { fs::permissions(r / "Runtime/wswine.bundle/bin/wine", fs::perms(0644)); }, false},
        {"wine executable by the owner only",
         [](const fs::path& r) { fs::permissions(r / "Runtime/wswine.bundle/bin/wine", fs::perms(0700)); }, true},
        {"no system.reg", [](const fs::path& r) { fs::remove(r / "Install/prefix/system.reg"); }, false},
        {"no decoder", [](const fs::path& r) { fs::remove(r / "Install/prefix/drive_c/windows/syswow64/wmadmod.dll"); },
         false},
        {"no prefix", [](const fs::path& r) { fs::remove_all(r / "Install/prefix"); }, false},
        {"game is a dangling link",
         [](const fs::path& r) {
             fs::remove(r / "Install/game/halo2.exe");
             fs::create_symlink(r / "nowhere", r / "Install/game/halo2.exe");
         },
         true},
        {"game folder is a file",
         [](const fs::path& r) {
             fs::remove_all(r / "Install/game");
             test_support::writeText(r / "Install/game", "");
         },
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir root;
        test_support::makeInstalledState(root.path());
        c.change(root.path());
        expectStatus(root.path(), c.installed);
    }
}

TEST(Status, OnAMissingRootCreatesNothing)
{
    TempDir parent;
    expectStatus(parent / "Corvanel", false);
    EXPECT_FALSE(fs::exists(parent / "Corvanel"));
}

// An answer that cannot be written (a full device) fails the command, in process and as a program.
TEST(Status, AnAnswerThatCannotBeWrittenFailsTheCommand)
{
    struct FullDevice : std::streambuf {
        int overflow(int) override { return traits_type::eof(); }
        std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
    };
    TempDir folder;
    test_support::makeInstalledState(folder / "installed");
    for (const fs::path root : {folder / "installed", folder / "empty"}) {
        SCOPED_TRACE(root.filename().string());
        FullDevice device;
        std::ostream out(&device);
        std::ostringstream err;
        EXPECT_EQ(runCLI({"corvanel", "--cli", "--status", "--home", root.string()}, out, err), 1);

        const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
        ASSERT_GE(full, 0);
        const int status = ChildProcess::spawn({.executable = CORVANEL_BINARY,
                                                .arguments = {"--cli", "--status", "--home", root.string()},
                                                .output = full})
                               .wait();
        ::close(full);
        EXPECT_EQ(status, 1) << "as a program writing to /dev/full";
    }
}

} // namespace
} // namespace corvanel
