// Links, pipes and second names planted inside the root: setup and launch never write through
// them, never wait on them, and say which entry is in the way.
#include "installer/installer.h"
#include "installer/setup_failure.h"
#include "support/archives.h"
#include "support/program.h"
#include "support/temp_dir.h"

#include "demo_catalogue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvanel {
namespace {

namespace fs = std::filesystem;
using test_support::TempDir;

const fs::path program = CORVANEL_BINARY;

std::string refusedFile(const fs::path& file, const std::string& kind)
{
    return "Corvanel cannot write to " + file.string() + ": it is " + kind
        + ", not a regular file of its own. Remove it, then retry.";
}

std::string refusedFolder(const fs::path& folder)
{
    return "Corvanel cannot write into " + folder.string()
        + ": it is a symbolic link, not a folder of its own. Remove the link, then retry.";
}

/// A test's folder: the root, and beside it a secret and a folder that nothing may change.
struct Scene {
    Scene()
    {
        test_support::writeText(outside() / "secret", "the user's secret");
        fs::permissions(outside() / "secret", fs::perms(0600));
        fs::create_directories(outside() / "folder");
        fs::create_directories(root());
    }
    fs::path root() const { return folder / "root"; }
    fs::path outside() const { return folder / "outside"; }
    fs::path secret() const { return outside() / "secret"; }

    TempDir folder;
};

using Plant = std::function<void(const Scene&)>;

void linkTo(const fs::path& target, const fs::path& link)
{
    fs::create_directories(link.parent_path());
    fs::create_symlink(target, link);
}

void pipeAt(const fs::path& file)
{
    fs::create_directories(file.parent_path());
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
}

void hardLinkTo(const fs::path& target, const fs::path& link)
{
    fs::create_directories(link.parent_path());
    fs::create_hard_link(target, link);
}

struct Case {
    const char* name;
    Plant plant;
    std::function<std::string(const Scene&)> expected;
};

TEST(PlantedEntries, SetupRefusesThemBeforeWritingAnything)
{
    const Case cases[] = {
        {"setup.log links outside", [](const Scene& s) { linkTo(s.secret(), s.root() / "Logs/setup.log"); },
         [](const Scene& s) { return refusedFile(s.root() / "Logs/setup.log", "a symbolic link"); }},
        {"setup.log is a second name of a file outside",
         [](const Scene& s) { hardLinkTo(s.secret(), s.root() / "Logs/setup.log"); },
         [](const Scene& s) {
             return refusedFile(s.root() / "Logs/setup.log", "a second name of another file (a hard link)");
         }},
        {"setup.log is a pipe", [](const Scene& s) { pipeAt(s.root() / "Logs/setup.log"); },
         [](const Scene& s) { return refusedFile(s.root() / "Logs/setup.log", "a named pipe"); }},
        {"launcher.lock is a dangling link",
         [](const Scene& s) { linkTo(s.outside() / "created", s.root() / "launcher.lock"); },
         [](const Scene& s) { return refusedFile(s.root() / "launcher.lock", "a symbolic link"); }},
        {"Logs links outside", [](const Scene& s) { linkTo(s.outside() / "folder", s.root() / "Logs"); },
         [](const Scene& s) { return refusedFolder(s.root() / "Logs"); }},
        {"Downloads links outside", [](const Scene& s) { linkTo(s.outside() / "folder", s.root() / "Downloads"); },
         [](const Scene& s) { return refusedFolder(s.root() / "Downloads"); }},
        {"Audio-import links outside",
         [](const Scene& s) { linkTo(s.outside() / "folder", s.root() / "Audio-import"); },
         [](const Scene& s) { return refusedFolder(s.root() / "Audio-import"); }},
        {"Install links outside", [](const Scene& s) { linkTo(s.outside() / "folder", s.root() / "Install"); },
         [](const Scene& s) { return refusedFolder(s.root() / "Install"); }},
        {"Install/game links outside",
         [](const Scene& s) { linkTo(s.outside() / "folder", s.root() / "Install/game"); },
         [](const Scene& s) { return refusedFolder(s.root() / "Install/game"); }},
        {"Runtime links outside", [](const Scene& s) { linkTo(s.outside() / "folder", s.root() / "Runtime"); },
         [](const Scene& s) { return refusedFolder(s.root() / "Runtime"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Scene scene;
        c.plant(scene);
        const std::string outsideBefore = test_support::treeState(scene.outside());
        const std::string rootBefore = test_support::treeState(scene.root());

        const HostQueries noSpaceCheck{.freeSpace = {}, .x86Probe = HostQueries::platform().x86Probe};
        const Installer installer(scene.root(), {}, demoCatalogue(), noSpaceCheck);
        try {
            installer.install(scene.folder / "no such game", std::nullopt, std::nullopt);
            ADD_FAILURE() << "setup went ahead";
        } catch (const std::exception& error) {
            EXPECT_EQ(describe(error), c.expected(scene));
        }
        EXPECT_EQ(test_support::treeState(scene.outside()), outsideBefore);
        EXPECT_EQ(test_support::treeState(scene.root()), rootBefore);
    }
}

// What a report or a program run writes during setup goes the same way, whenever the entry
// appears: a report loses its line, a program run refuses to start.
TEST(PlantedEntries, TheSetupLogIsNeverWrittenThroughALinkOrIntoAPipe)
{
    const Case cases[] = {
        {"setup.log links outside", [](const Scene& s) { linkTo(s.secret(), s.root() / "Logs/setup.log"); },
         [](const Scene& s) { return refusedFile(s.root() / "Logs/setup.log", "a symbolic link"); }},
        {"setup.log is a pipe with a reader", [](const Scene& s) { pipeAt(s.root() / "Logs/setup.log"); },
         [](const Scene& s) { return refusedFile(s.root() / "Logs/setup.log", "a named pipe"); }},
        {"Logs links outside", [](const Scene& s) { linkTo(s.outside() / "folder", s.root() / "Logs"); },
         [](const Scene& s) { return refusedFolder(s.root() / "Logs"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Scene scene;
        c.plant(scene);
        const std::string outsideBefore = test_support::treeState(scene.outside());
        // A reader keeps the pipe open, so an open for writing would succeed at once.
        std::error_code absent;
        const bool piped = fs::is_fifo(fs::symlink_status(scene.root() / "Logs/setup.log", absent));
        const int reader = piped ? ::open((scene.root() / "Logs/setup.log").c_str(), O_RDONLY | O_NONBLOCK) : -1;

        std::vector<std::string> shown;
        const Installer installer(scene.root(), [&](const std::string& text) { shown.push_back(text); });
        installer.report("A game path\nwith a line of the attacker's choosing");
        EXPECT_EQ(shown.size(), 1u) << "the report still reaches the user";
        try {
            installer.run("/bin/sh", {"-c", "echo written by a tool"});
            ADD_FAILURE() << "the program ran";
        } catch (const std::exception& error) {
            EXPECT_EQ(describe(error), c.expected(scene));
        }
        if (reader >= 0) {
            char buffer[256];
            const auto got = ::read(reader, buffer, sizeof buffer);
            EXPECT_LE(got, 0) << "nothing was written into the pipe: " << std::string(buffer, got > 0 ? got : 0);
            ::close(reader);
        }
        EXPECT_EQ(test_support::treeState(scene.outside()), outsideBefore);
    }
}

/// A launch by the program, ended if it has not finished in time.
test_support::ProgramOutcome launchWithin(const Scene& scene, double seconds)
{
    test_support::StartedProgram launch(program, {"--cli", "--launch", "--home", scene.root().string()},
                                        scene.folder.path());
    if (!test_support::processGone(launch.pid(), seconds)) {
        ::kill(launch.pid(), SIGKILL);
        ADD_FAILURE() << "the launch was still waiting after " << seconds << " s";
    }
    return launch.finish();
}

TEST(PlantedEntries, LaunchRefusesThemWithoutWaitingOrStartingTheGame)
{
    const Case cases[] = {
        {"halo2.log links outside", [](const Scene& s) { linkTo(s.secret(), s.root() / "Logs/halo2.log"); },
         [](const Scene& s) { return refusedFile(s.root() / "Logs/halo2.log", "a symbolic link"); }},
        {"halo2.log is a pipe nobody reads", [](const Scene& s) { pipeAt(s.root() / "Logs/halo2.log"); },
         [](const Scene& s) { return refusedFile(s.root() / "Logs/halo2.log", "a named pipe"); }},
        {"halo2.log is a second name of a file outside",
         [](const Scene& s) { hardLinkTo(s.secret(), s.root() / "Logs/halo2.log"); },
         [](const Scene& s) {
             return refusedFile(s.root() / "Logs/halo2.log", "a second name of another file (a hard link)");
         }},
        {"launcher.lock is a dangling link",
         [](const Scene& s) { linkTo(s.outside() / "created", s.root() / "launcher.lock"); },
         [](const Scene& s) { return refusedFile(s.root() / "launcher.lock", "a symbolic link"); }},
        {"launcher.lock is a pipe", [](const Scene& s) { pipeAt(s.root() / "launcher.lock"); },
         [](const Scene& s) { return refusedFile(s.root() / "launcher.lock", "a named pipe"); }},
        {"Logs links outside", [](const Scene& s) { linkTo(s.outside() / "folder", s.root() / "Logs"); },
         [](const Scene& s) { return refusedFolder(s.root() / "Logs"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Scene scene;
        test_support::makeInstalledState(scene.root());
        test_support::writeText(scene.root() / "Runtime/wswine.bundle/bin/wine",
                                "#!/bin/sh\necho played > played.txt\n");
        c.plant(scene);
        const std::string outsideBefore = test_support::treeState(scene.outside());

        const auto launch = launchWithin(scene, 20);
        EXPECT_EQ(launch.status, 1);
        EXPECT_EQ(launch.err, c.expected(scene) + "\n");
        EXPECT_FALSE(fs::exists(scene.root() / "Install/game/played.txt")) << "the game did not start";
        EXPECT_EQ(test_support::treeState(scene.outside()), outsideBefore);
    }
}

} // namespace
} // namespace corvanel
