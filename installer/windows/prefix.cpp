#include "installer/display_text.h"
#include "installer/file_ops.h"
#include "installer/installer.h"
#include "installer/setup_failure.h"
#include "installer/setup_log.h"
#include "installer/windows/lower_case.h"

#include <string>
#include <vector>

namespace corvanel {

namespace {

struct RegistryValue {
    const char* key;
    const char* name;
    const char* data;
};

/// Written as REG_SZ in this order; the numbers too are text values.
constexpr RegistryValue registrySettings[] = {
    {R"(HKCU\Software\Wine)", "Version", "win7"},
    {R"(HKCU\Software\Wine\Direct3D)", "renderer", "gl"},
    {R"(HKCU\Software\Wine\Direct3D)", "VideoMemorySize", "2048"},
    {R"(HKCU\Software\Wine\Mac Driver)", "RetinaMode", "N"},
    {R"(HKCU\SOFTWARE\Microsoft\Halo 2\Video Settings)", "DisplayMode", "1"},
    {R"(HKLM\Software\WOW6432Node\Microsoft\Microsoft Games\Halo 2\1.0)", "GameInstallDir", R"(C:\Games\Halo 2\)"},
    {R"(HKCU\Software\Wine\DllOverrides)", "wmadmod", "native,builtin"},
};

constexpr const char* decoderRegistration
    = R"(HKLM\Software\Classes\Wow6432Node\CLSID\{2EEB4ADF-4578-4D10-BCA7-BB955F56320A}\InprocServer32)";

/// Wine keeps the registry in its server and writes it out only when the server exits, a few
/// seconds after the last command; this bounds the wait for that.
constexpr double registrySaveLimit = 60;

/// How long a Wine server left by an earlier run of this prefix gets to finish on its own before
/// it is told to end.
constexpr double earlierSessionLimit = 30;

/// Programs of the prefix's 32-bit side that later steps and the game rely on. `wineboot -u`
/// exits 0 even when it could not start a single 32-bit program, leaving these out.
constexpr const char* thirtyTwoBitPrograms[] = {"regsvr32.exe", "rundll32.exe"};

/// Fails when `prefix` lacks the 32-bit programs, naming each missing one in `log`.
void requireThirtyTwoBitSide(const fs::path& prefix, const fs::path& log)
{
    const fs::path syswow64 = prefix / "drive_c" / "windows" / "syswow64";
    bool complete = true;
    for (const char* program : thirtyTwoBitPrograms) {
        std::error_code unreadable;
        if (!fs::is_regular_file(syswow64 / program, unreadable)) {
            appendLog("Missing after wineboot: " + printable((syswow64 / program).string()), log);
            complete = false;
        }
    }
    if (!complete)
        throw SetupFailure("Wine could not set up the 32-bit side of your private Windows environment; this "
                           "computer may be unable to run 32-bit programs. Open the setup log for details.");
}

/// Wine makes the C: and Z: links only in the moment it creates `dosdevices`; a setup ended in
/// that moment leaves a prefix that never gets them. Puts back whichever is missing.
void completeDriveLinks(const fs::path& prefix)
{
    const fs::path dosdevices = prefix / "dosdevices";
    if (!isOwnFolder(dosdevices))
        return;
    Installer::makeDirectory(prefix / "drive_c");
    for (const auto& [name, target] : {std::pair{"c:", "../drive_c"}, std::pair{"z:", "/"}})
        if (!entryExists(dosdevices / name))
            fs::create_symlink(target, dosdevices / name);
}

/// A Wine server left by an earlier run of this prefix (a setup that failed a moment ago, or one
/// that was stopped) turns away every program started while it shuts down ("a wine server seems
/// to be running, but I cannot connect to it"). Waits for it to end; one that outlasts the limit
/// is told to end, with whatever it still runs: under the install lock nothing of ours runs
/// there. Returns at once when no server runs.
template <typename RunServer>
void endEarlierSession(const RunServer& runServer)
{
    try {
        runServer("-w", earlierSessionLimit);
        return;
    } catch (const SetupFailure&) {
        // Still running at the limit.
    }
    try {
        runServer("-k", earlierSessionLimit);
    } catch (const SetupFailure&) {
        // It ended in the meantime: nothing left to stop.
    }
    runServer("-w", registrySaveLimit);
}

} // namespace

void Installer::configurePrefix(const fs::path& codec) const
{
    const auto runWine = [this](const std::vector<std::string>& arguments, double timeout, bool capture = false) {
        return run(wine().string(), arguments,
                   {.environment = environment(), .capture = capture, .timeout = timeout});
    };

    const std::string wineserver = (wine().parent_path() / "wineserver").string();
    const auto runServer = [&](const char* option, double timeout) {
        run(wineserver, {option}, {.environment = environment(), .timeout = timeout});
    };

    report("Creating your private Windows environment");
    // Wine follows these two wherever they lead; everything below them is Wine's own.
    refuseLinkedFolder(prefix() / "dosdevices");
    refuseLinkedFolder(prefix() / "drive_c");
    if (isOwnFolder(prefix())) {
        endEarlierSession(runServer);
        completeDriveLinks(prefix());
    }
    requireWineThirtyTwoBitSide();
    runWine({"wineboot", "-u"}, 300);

    std::vector<fs::path> drives;
    for (const auto& entry : fs::directory_iterator(prefix() / "dosdevices"))
        drives.push_back(entry.path());
    for (const auto& drive : drives) {
        const std::string name = drive.filename().string();
        if (name != "c:" && name != "z:")
            fs::remove_all(drive);
    }
    requireThirtyTwoBitSide(prefix(), log());

    const fs::path games = prefix() / "drive_c" / "Games";
    makeDirectory(games);
    const fs::path gameLink = games / "Halo 2";
    std::error_code unreadable;
    const fs::file_type standing = fs::symlink_status(gameLink, unreadable).type();
    if (standing == fs::file_type::symlink)
        fs::remove(gameLink);
    else if (entryExists(gameLink))
        throw SetupFailure("The private Windows environment holds "
                           + std::string(standing == fs::file_type::directory ? "a folder" : "a file") + " at "
                           + shownPath(gameLink) + ", where setup places its link to the game. Move it out of "
                           + shownPath(prefix()) + ", then retry.");
    fs::create_directory_symlink(fs::absolute(game()).lexically_normal(), gameLink);

    for (const auto& [key, name, data] : registrySettings)
        runWine({"reg", "add", key, "/v", name, "/t", "REG_SZ", "/d", data, "/f"}, 900);

    report("Installing your verified audio decoder");
    const fs::path installed = prefix() / "drive_c" / "windows" / "syswow64" / "wmadmod.dll";
    if (entryExists(installed))
        fs::remove_all(installed);
    fs::copy_file(codec, installed);
    runWine({R"(C:\windows\syswow64\regsvr32.exe)", "/s", R"(C:\windows\syswow64\wmadmod.dll)"}, 900);

    const std::string readBack = runWine({"reg", "query", decoderRegistration}, 900, true);
    if (lowerCased(readBack).find("wmadmod.dll") == std::string::npos)
        throw SetupFailure("The audio decoder did not register correctly.");

    // Setup counts as finished only once the registry is on disk, so that the installed-state
    // test and a launch right after setup see the prefix.
    runServer("-w", registrySaveLimit);
    if (!entryExists(prefix() / "system.reg"))
        throw SetupFailure("Wine did not save your private Windows environment. Open the setup log for details.");
}

} // namespace corvanel
