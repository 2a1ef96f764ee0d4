#include "installer/display_text.h"
#include "installer/file_ops.h"
#include "installer/installed_parts.h"
#include "installer/installer.h"
#include "installer/layout.h"
#include "installer/setup_failure.h"
#include "installer/setup_log.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace corvanel {

namespace {

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

/// Refuses a drive folder that holds anything besides links: Wine's drives are all links, so
/// a folder or a file there is someone's own, and is never removed.
void refuseForeignDriveEntries(const fs::path& dosdevices)
{
    if (!isOwnFolder(dosdevices))
        return;
    for (const auto& entry : fs::directory_iterator(dosdevices)) {
        if (!fs::is_symlink(entry.symlink_status()))
            throw SetupFailure("The private Windows environment's drive folder holds " + shownPath(entry.path())
                               + ", which is not a drive link, so it was left as it is. Move it out of "
                               + shownPath(dosdevices) + ", then retry.");
    }
}

/// Leaves exactly the C: and Z: links, each leading to its own target: Wine makes them only in
/// the moment it creates `dosdevices`, so a run ended in that moment leaves a prefix without
/// them, and any other drive would show the game the rest of the computer.
void mendDriveLinks(const fs::path& prefix)
{
    const fs::path dosdevices = prefix / "dosdevices";
    refuseForeignDriveEntries(dosdevices);
    makeDirectory(prefix / "drive_c");
    const std::pair<const char*, fs::path> drives[] = {{"c:", prefix / "drive_c"}, {"z:", "/"}};
    std::vector<fs::path> links;
    for (const auto& entry : fs::directory_iterator(dosdevices))
        links.push_back(entry.path());
    for (const auto& link : links) {
        const auto drive = std::find_if(std::begin(drives), std::end(drives),
                                        [&](const auto& known) { return link.filename() == known.first; });
        if (drive == std::end(drives) || !sameEntry(link, drive->second))
            fs::remove(link);
    }
    for (const auto& [name, target] : {std::pair{"c:", "../drive_c"}, std::pair{"z:", "/"}})
        if (!entryExists(dosdevices / name))
            fs::create_symlink(target, dosdevices / name);
}

/// Wine marks a prefix as current before its set-up has copied the core libraries; a set-up
/// stopped in between (by a full disk or a forced quit) would never be finished. Without the
/// mark the next run sets the prefix up again.
void forgetUnfinishedBoot(const fs::path& prefix)
{
    if (!prefixWasBooted(prefix))
        fs::remove(prefix / ".update-timestamp");
}

/// Removes a registry file that Wine could not load or would wait on (empty, cut short, a
/// folder, a pipe): Wine sets up a missing one afresh, and our rows are written again after.
void discardDamagedRegistry(const fs::path& prefix)
{
    for (const char* name : {"system.reg", "user.reg", "userdef.reg"})
        if (entryExists(prefix / name) && !RegistryFile::read(prefix / name))
            removeTreeQuietly(prefix / name);
}

/// Turns the links Wine makes from the profile's folders (Documents, Desktop, ...) to the home
/// folder into empty folders of the prefix, so that what the game writes there stays inside it.
void keepUserFoldersInside(const fs::path& prefix)
{
    for (const auto& link : linkedUserFolders(prefix)) {
        fs::remove(link);
        createFolders(link);
    }
}

/// A Wine server left by an earlier run of this prefix (a setup that failed a moment ago, or one
/// that was stopped) turns away every program started while it shuts down ("a wine server seems
/// to be running, but I cannot connect to it"). Waits for it to end; one that outlasts the limit
/// is told to end, with whatever it still runs: under the install lock nothing of ours runs
/// there. Returns at once when no server runs.
template <typename RunServer> void endEarlierSession(const RunServer& runServer)
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
        return run(wine().string(), arguments, {.environment = environment(), .capture = capture, .timeout = timeout});
    };

    const std::string wineserver = (wine().parent_path() / "wineserver").string();
    const auto runServer = [&](const char* option, double timeout) {
        run(wineserver, {option}, {.environment = environment(), .timeout = timeout});
    };

    report("Creating your private Windows environment");
    // Wine follows these two wherever they lead; everything below them is Wine's own.
    refuseLinkedFolder(prefix() / "dosdevices");
    refuseLinkedFolder(prefix() / "drive_c");
    refuseForeignDriveEntries(prefix() / "dosdevices");
    if (isOwnFolder(prefix())) {
        endEarlierSession(runServer);
        if (isOwnFolder(prefix() / "dosdevices"))
            mendDriveLinks(prefix());
        forgetUnfinishedBoot(prefix());
        discardDamagedRegistry(prefix());
    }
    requireWineThirtyTwoBitSide();
    reportStage({SetupStage::WindowsEnvironment, StageEvent::Kind::Detail, std::string(creatingEnvironment)});
    runWine({"wineboot", "-u"}, 300);

    mendDriveLinks(prefix());
    keepUserFoldersInside(prefix());
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

    reportStage({SetupStage::WindowsEnvironment, StageEvent::Kind::Detail, std::string(applyingSettings)});
    for (const auto& [key, name, data] : registrySettings)
        runWine({"reg", "add", key, "/v", name, "/t", "REG_SZ", "/d", data, "/f"}, 900);

    report("Installing your verified audio decoder");
    const fs::path installed = prefix() / layout::prefixDecoder;
    if (entryExists(installed))
        fs::remove_all(installed);
    fs::copy_file(codec, installed);
    reportStage({SetupStage::WindowsEnvironment, StageEvent::Kind::Detail, std::string(registeringDecoder)});
    runWine({R"(C:\windows\syswow64\regsvr32.exe)", "/s", R"(C:\windows\syswow64\wmadmod.dll)"}, 900);

    const std::string readBack = runWine({"reg", "query", decoderRegistration}, 900, true);
    if (lowerCased(readBack).find(layout::keptDecoder) == std::string::npos)
        throw SetupFailure("The audio decoder did not register correctly.");

    reportStage({SetupStage::WindowsEnvironment, StageEvent::Kind::Detail, std::string(savingEnvironment)});
    // Setup counts as finished only once the registry is on disk, so that the installed-state
    // test and a launch right after setup see the prefix.
    runServer("-w", registrySaveLimit);
    if (!entryExists(prefix() / "system.reg"))
        throw SetupFailure("Wine did not save your private Windows environment. Open the setup log for details.");
}

} // namespace corvanel
