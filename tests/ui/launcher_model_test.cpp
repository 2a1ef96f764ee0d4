#include "fixture_installation.h"

#include "installer/display_text.h"
#include "installer/install_lock.h"
#include "installer/setup_failure.h"
#include "support/user_sentences.h"
#include "ui/launcher_model.h"

#include <QDesktopServices>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

#include <atomic>
#include <chrono>
#include <future>

#include <sys/stat.h>

using namespace corvanel;
using corvanel::test_support::DataHome;
using corvanel::test_support::fixtureCatalogue;
using corvanel::test_support::writeInstallation;
using corvanel::test_support::writeText;

namespace {

const QString choosePrompt = QStringLiteral("Choose your h2pc_installer_2.1 folder to get started.");
const QString readyToSetUp = QStringLiteral("Ready to set up. Audio support will be configured automatically.");
const QString readyToSetUpWithAudio = QStringLiteral("Ready to set up with the audio package you chose.");
const QString installed = QStringLiteral("Your installation is ready.");
const QString needsAttention = QStringLiteral("Setup needs attention. Your source files are unchanged.");
const QString starting = QStringLiteral("Halo 2 is starting. The first launch can take a few minutes.");
const QString repairPrompt = QStringLiteral(
    "Parts of your installation are missing. Press Repair to restore them; your game and saves stay as they are.");
const QString setUpAgainPrompt
    = QStringLiteral("Your game files need to be set up again. Press Set up again; your saves are kept.");
const QString repairNeedsAttention = QStringLiteral("Repair needs attention. Your game and saves are unchanged.");

/// A complete fixture installation under `root` with `lost` (relative to the root) removed.
void writeDamagedInstallation(const fs::path& root, const QString& lost)
{
    writeInstallation(root);
    if (!lost.isEmpty())
        fs::remove_all(root / lost.toStdString());
}

/// Records what the desktop was asked to open.
class Opener : public QObject {
    Q_OBJECT
public:
    Opener()
    {
        for (const char* scheme : {"file", "https"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "open");
    }
    ~Opener() override
    {
        for (const char* scheme : {"file", "https"})
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.append(url); }
};

/// An open panel that answers from a queue; an empty queue cancels.
struct Panels {
    QList<std::optional<QUrl>> answers;
    QList<FilePanel> asked;
    auto seam()
    {
        return [this](const FilePanel& panel) -> std::optional<QUrl> {
            asked.append(panel);
            return answers.isEmpty() ? std::nullopt : answers.takeFirst();
        };
    }
};

/// Every notification of the model, counted per property.
struct Spies {
    explicit Spies(LauncherModel& model)
        : gameURL(&model, &LauncherModel::gameURLChanged)
        , audioURL(&model, &LauncherModel::audioURLChanged)
        , busy(&model, &LauncherModel::busyChanged)
        , playing(&model, &LauncherModel::playingChanged)
        , ready(&model, &LauncherModel::readyChanged)
        , status(&model, &LauncherModel::statusChanged)
        , error(&model, &LauncherModel::errorChanged)
    {
    }
    QSignalSpy gameURL, audioURL, busy, playing, ready, status, error;
};

std::string readAll(const fs::path& file)
{
    QFile opened(QString::fromStdString(file.string()));
    return opened.open(QIODevice::ReadOnly) ? opened.readAll().toStdString() : std::string("(unreadable)");
}

bool lockIsFree(const fs::path& root)
{
    try {
        InstallLock probe(root / "launcher.lock");
        return true;
    } catch (const SetupFailure&) {
        return false;
    }
}

} // namespace

class LauncherModelTest : public QObject {
    Q_OBJECT

private slots:
    // A model without a settings file of its own never reads the user's real settings.
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void startsIdleWithoutAnInstallation()
    {
        DataHome home;
        LauncherModel model;
        QCOMPARE(model.ready(), false);
        QCOMPARE(model.busy(), false);
        QCOMPARE(model.playing(), false);
        QCOMPARE(model.status(), choosePrompt);
        QVERIFY(model.error().isEmpty());
        QVERIFY(model.gameURL().isEmpty());
        QCOMPARE(model.root(), QString::fromStdString(home.root().string()));
    }

    void startsReadyWithAnInstallation()
    {
        DataHome home;
        writeInstallation(home.root());
        LauncherModel model({.catalogue = fixtureCatalogue()});
        QCOMPARE(model.ready(), true);
        QVERIFY(!model.newlyInstalled()); // a return, not a new installation
        QCOMPARE(model.status(), installed);
    }

    void choosingSourcesSetsSelectionsAndTexts()
    {
        DataHome home;
        Panels panels;
        LauncherModel model({.choose = panels.seam()});
        Spies spies(model);

        model.selectGame(); // cancelled
        QCOMPARE(spies.gameURL.count() + spies.status.count() + spies.error.count(), 0);
        QCOMPARE(panels.asked.size(), 1);
        QCOMPARE(panels.asked[0].title, QStringLiteral("Choose your Halo 2 installer folder"));
        QVERIFY(panels.asked[0].folders);

        panels.answers = {QUrl::fromLocalFile("/media/h2pc_installer_2.1")};
        model.selectGame();
        QCOMPARE(model.gameURL(), QUrl::fromLocalFile("/media/h2pc_installer_2.1"));
        QCOMPARE(model.gameName(), QStringLiteral("h2pc_installer_2.1"));
        QCOMPARE(model.status(), readyToSetUp);
        QCOMPARE(spies.gameURL.count(), 1);
        QCOMPARE(spies.status.count(), 1);

        panels.answers = {QUrl::fromLocalFile("/media/MPSetup.exe")};
        model.selectAudio();
        QCOMPARE(panels.asked.last().title, QStringLiteral("Choose your Microsoft audio package"));
        QVERIFY(!panels.asked.last().folders);
        QCOMPARE(model.audioName(), QStringLiteral("MPSetup.exe"));
        QCOMPARE(spies.audioURL.count(), 1);
        QCOMPARE(model.status(), readyToSetUpWithAudio);
        QCOMPARE(spies.status.count(), 2);

        model.useAutomaticAudio();
        QVERIFY(model.audioURL().isEmpty());
        QCOMPARE(spies.audioURL.count(), 2);
        QCOMPARE(model.status(), readyToSetUp);
        QCOMPARE(spies.status.count(), 3);
    }

    void setupWithoutSourceDoesNothing()
    {
        DataHome home;
        LauncherModel model;
        Spies spies(model);
        model.install();
        QCOMPARE(spies.busy.count() + spies.status.count() + spies.error.count(), 0);
    }

    /// The real installer refuses a game source that has gone away; the selections stay.
    void failedSetupNeedsAttention()
    {
        DataHome home;
        Panels panels;
        panels.answers = {QUrl::fromLocalFile(QString::fromStdString((home.path() / "gone").string())),
                          QUrl::fromLocalFile("/media/MPSetup.exe")};
        LauncherModel model({.choose = panels.seam()});
        model.selectGame();
        model.selectAudio();
        Spies spies(model);

        model.install();
        QCOMPARE(model.busy(), true);
        QVERIFY(spies.busy.wait(120'000));
        QCOMPARE(model.busy(), false);
        QCOMPARE(spies.busy.count(), 2);
        QCOMPARE(model.status(), needsAttention);
        QCOMPARE(model.ready(), false);
        QCOMPARE(spies.ready.count(), 0);
        QCOMPARE(model.error(),
                 QStringLiteral("The selected game files are no longer available. Choose your "
                                "h2pc_installer_2.1 folder again."));
        QCOMPARE(model.gameName(), QStringLiteral("gone"));
        QCOMPARE(model.audioName(), QStringLiteral("MPSetup.exe"));

        panels.answers = {QUrl::fromLocalFile("/media/WMADMOD.DLL")};
        model.selectAudio();
        QVERIFY(model.error().isEmpty());
        QCOMPARE(model.status(), needsAttention);

        panels.answers = {QUrl::fromLocalFile("/media/h2pc_installer_2.1.zip")};
        model.selectGame();
        QCOMPARE(model.status(), readyToSetUpWithAudio);
    }

    /// Progress lines arrive in order, then the final status; each line is also logged.
    void progressLinesThenSuccess()
    {
        DataHome home;
        Panels panels;
        panels.answers = {QUrl::fromLocalFile("/media/h2pc_installer_2.1")};
        LauncherModel model({
            .choose = panels.seam(),
            .setup =
                [](const Installer& installer, const fs::path&, const std::optional<fs::path>&,
                   const std::optional<fs::path>&) {
                    installer.report("Importing your Halo 2 files");
                    installer.report("Downloading and verifying the compatibility runtime · about 341 MB");
                    writeInstallation(installer.root());
                },
        });
        model.selectGame();
        QStringList statuses;
        connect(&model, &LauncherModel::statusChanged, this, [&] { statuses << model.status(); });
        QSignalSpy ready(&model, &LauncherModel::readyChanged);

        model.install();
        QVERIFY(ready.wait(10'000));
        QCOMPARE(statuses,
                 (QStringList{"Importing your Halo 2 files",
                              "Downloading and verifying the compatibility runtime · about 341 MB", installed}));
        QCOMPARE(model.busy(), false);
        QCOMPARE(model.ready(), true);
        QVERIFY(model.newlyInstalled());
        QVERIFY(model.error().isEmpty());
        QFile log(QString::fromStdString((home.root() / "Logs" / "setup.log").string()));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().contains("Importing your Halo 2 files"));
    }

    void secondPressWhileBusyDoesNothing()
    {
        DataHome home;
        Panels panels;
        panels.answers = {QUrl::fromLocalFile("/media/h2pc_installer_2.1")};
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        std::atomic<int> runs = 0;
        LauncherModel model({
            .choose = panels.seam(),
            .setup =
                [&runs, released](const Installer&, const fs::path&, const std::optional<fs::path>&,
                                  const std::optional<fs::path>&) {
                    ++runs;
                    released.wait();
                    throw SetupFailure("The selected game files are not a supported Halo 2 installer.");
                },
        });
        model.selectGame();
        Spies spies(model);

        model.install();
        model.install();
        QCOMPARE(spies.busy.count(), 1);

        release.set_value();
        QVERIFY(spies.busy.wait(10'000));
        QCOMPARE(runs.load(), 1);
        QCOMPARE(model.error(), QStringLiteral("The selected game files are not a supported Halo 2 installer."));
    }

    /// A run whose model has gone still ends, and its results are dropped: nothing reaches
    /// another model that lives on.
    void modelGoneBeforeSetupEnds()
    {
        DataHome home;
        Panels panels;
        panels.answers = {QUrl::fromLocalFile("/media/h2pc_installer_2.1")};
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        std::atomic<bool> ended = false;
        auto model = std::make_unique<LauncherModel>(LauncherServices{
            .choose = panels.seam(),
            .setup =
                [released, &ended](const Installer& installer, const fs::path&, const std::optional<fs::path>&,
                                   const std::optional<fs::path>&) {
                    released.wait();
                    installer.report("Importing your Halo 2 files");
                    ended = true;
                    throw SetupFailure("The selected game files are not a supported Halo 2 installer.");
                },
        });
        LauncherModel survivor;
        Spies survivorSpies(survivor);
        model->selectGame();
        model->install();
        QPointer<LauncherModel> watched = model.get();
        model.reset();
        QVERIFY(!watched);
        release.set_value();
        QTRY_VERIFY(ended.load());
        QVERIFY(QThreadPool::globalInstance()->waitForDone(10'000));
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents();

        // The run reported its line (it went to the log) and failed; no result landed anywhere.
        QFile log(QString::fromStdString((home.root() / "Logs" / "setup.log").string()));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().contains("Importing your Halo 2 files"));
        QCOMPARE(survivorSpies.status.count() + survivorSpies.error.count() + survivorSpies.busy.count(), 0);
        QCOMPARE(survivor.status(), choosePrompt);
    }

    void refusedLaunchSetsErrorOnly_data()
    {
        QTest::addColumn<bool>("installed");
        QTest::addColumn<bool>("lockedElsewhere");
        QTest::addColumn<QString>("message");
        QTest::newRow("setup incomplete")
            << false << false << "Setup is incomplete. Complete setup before launching Halo 2.";
        QTest::newRow("another launcher") << true << true << QString::fromStdString(test_support::competingLauncher);
    }

    void refusedLaunchSetsErrorOnly()
    {
        QFETCH(bool, installed);
        QFETCH(bool, lockedElsewhere);
        QFETCH(QString, message);
        DataHome home;
        if (installed)
            writeInstallation(home.root());
        QProcess holder;
        if (lockedElsewhere) {
            holder.start("/usr/bin/flock",
                         {"--nonblock", "--close", QString::fromStdString((home.root() / "launcher.lock").string()),
                          "-c", "echo locked; exec sleep 60"});
            QVERIFY(holder.waitForReadyRead(10'000));
        }
        LauncherModel model({.catalogue = fixtureCatalogue()});
        const QString status = model.status();
        Spies spies(model);

        model.play();
        QCOMPARE(model.error(), message);
        QCOMPARE(model.playing(), false);
        QCOMPARE(model.status(), status);
        QCOMPARE(spies.playing.count() + spies.status.count(), 0);

        if (lockedElsewhere) {
            holder.kill();
            holder.waitForFinished();
        }
        if (installed)
            QVERIFY(lockIsFree(home.root())); // the model kept no lock
    }

    void gameExit_data()
    {
        QTest::addColumn<int>("exitStatus");
        QTest::addColumn<QString>("error");
        QTest::newRow("clean exit") << 0 << QString();
        QTest::newRow("crash") << 1 << "Halo 2 exited unexpectedly. Open Logs for details.";
    }

    void gameExit()
    {
        QFETCH(int, exitStatus);
        QFETCH(QString, error);
        DataHome home;
        const fs::path release = home.path() / "release";
        writeInstallation(home.root(),
                          QStringLiteral("while [ ! -e '%1' ]; do sleep 0.05; done\necho \"$@\"\nexit %2")
                              .arg(QString::fromStdString(release.string()))
                              .arg(exitStatus));
        LauncherModel model({.catalogue = fixtureCatalogue()});
        Spies spies(model);

        model.play();
        QVERIFY2(model.error().isEmpty(), qPrintable(model.error()));
        QCOMPARE(model.playing(), true);
        QCOMPARE(model.status(), starting);
        QVERIFY(!lockIsFree(home.root()));

        model.play(); // already running: nothing happens
        QCOMPARE(spies.playing.count(), 1);
        QCOMPARE(spies.error.count(), 0);

        corvanel::test_support::writeText(release, "");
        QVERIFY(spies.playing.wait(10'000));
        QCOMPARE(model.playing(), false);
        QCOMPARE(model.ready(), true);
        QCOMPARE(model.status(), installed);
        QCOMPARE(model.error(), error);
        QVERIFY(lockIsFree(home.root()));
        QFile gameLog(QString::fromStdString((home.root() / "Logs" / "halo2.log").string()));
        QVERIFY(gameLog.open(QIODevice::ReadOnly));
        QCOMPARE(gameLog.readAll(), QByteArray("halo2.exe -windowed -hiresfix\n"));
    }

    void opensFoldersAndPages()
    {
        DataHome home;
        Opener opener;
        const fs::path guide = home.path() / "Setup Guide.html";
        {
            LauncherModel model({.guide = guide});
            model.openGuide(); // no page shipped: nothing
            QVERIFY(opener.opened.isEmpty());
        }
        corvanel::test_support::writeText(guide, "<html></html>");
        LauncherModel model({.guide = guide});

        model.openGuide();
        model.openLogs();
        model.openSaves();
        model.openGameFiles();
        const QString root = QString::fromStdString(home.root().string());
        QCOMPARE(opener.opened,
                 (QList<QUrl>{
                     QUrl::fromLocalFile(QString::fromStdString(guide.string())),
                     QUrl::fromLocalFile(root + "/Logs"),
                     QUrl::fromLocalFile(root + "/Install/prefix/drive_c/users"),
                     QUrl("https://cartographer.online/install/"),
                 }));
        QVERIFY(fs::is_directory(home.root() / "Logs"));
        QVERIFY(!fs::exists(home.root() / "Install" / "prefix"));
    }

    /// The phase follows setup from start to end, announced once per change, with the texts
    /// already in place when it changes.
    void phaseFollowsSetup_data()
    {
        QTest::addColumn<bool>("fails");
        QTest::addColumn<QList<LauncherModel::Phase>>("phases");
        QTest::newRow("success") << false << QList{LauncherModel::Phase::Progress, LauncherModel::Phase::Play};
        QTest::newRow("failure") << true << QList{LauncherModel::Phase::Progress, LauncherModel::Phase::Install};
    }

    void phaseFollowsSetup()
    {
        QFETCH(bool, fails);
        QFETCH(QList<LauncherModel::Phase>, phases);
        DataHome home;
        Panels panels;
        panels.answers = {QUrl::fromLocalFile("/media/h2pc_installer_2.1")};
        LauncherModel model({
            .choose = panels.seam(),
            .setup =
                [fails](const Installer& installer, const fs::path&, const std::optional<fs::path>&,
                        const std::optional<fs::path>&) {
                    installer.report("Importing your Halo 2 files");
                    if (fails)
                        throw SetupFailure("The selected game files are not a supported Halo 2 installer.");
                    writeInstallation(installer.root());
                },
        });
        QCOMPARE(model.phase(), LauncherModel::Phase::Install);
        model.selectGame();
        QSignalSpy phase(&model, &LauncherModel::phaseChanged);
        QList<LauncherModel::Phase> seen;
        QStringList statuses;
        connect(&model, &LauncherModel::phaseChanged, this, [&] {
            seen << model.phase();
            statuses << model.status();
        });

        model.install();
        QCOMPARE(model.phase(), LauncherModel::Phase::Progress);
        QTRY_COMPARE_WITH_TIMEOUT(phase.count(), 2, 10'000);
        QTest::qWait(50);
        QCOMPARE(phase.count(), 2);
        QCOMPARE(seen, phases);
        QCOMPARE(statuses.last(), fails ? needsAttention : installed);
        QCOMPARE(model.busy(), false);
    }

    /// Whether a source is chosen does not depend on the name shown: the root folder has none.
    void sourceChosenFollowsTheSelection()
    {
        DataHome home;
        Panels panels;
        panels.answers = {QUrl::fromLocalFile("/"), QUrl::fromLocalFile("/media/h2pc_installer_2.1")};
        LauncherModel model({.choose = panels.seam()});
        QSignalSpy chosen(&model, &LauncherModel::sourceChosenChanged);
        QCOMPARE(model.sourceChosen(), false);

        model.selectGame();
        QCOMPARE(model.sourceChosen(), true);
        QCOMPARE(model.gameName(), QStringLiteral("/"));
        QCOMPARE(chosen.count(), 1);

        model.selectGame(); // another source: still chosen, no change announced
        QCOMPARE(model.sourceChosen(), true);
        QCOMPARE(chosen.count(), 1);
        model.selectGame(); // cancelled
        QCOMPARE(chosen.count(), 1);
    }

    /// The setup clock counts whole seconds on the monotonic clock from the press of set-up,
    /// moves while no progress line arrives, and stops where it was when setup ends.
    /// The screen follows what the installation holds: a record whose installation lost parts
    /// is repaired (even when the coarse installed-state test still passes, as for a graphics
    /// library); lost game files cannot be repaired; no record means setup.
    void phaseFollowsWhatIsMissing_data()
    {
        QTest::addColumn<QString>("lost");
        QTest::addColumn<LauncherModel::Phase>("phase");
        QTest::addColumn<QString>("sentence");
        QTest::addColumn<bool>("repairable");
        QTest::addColumn<bool>("usesAudio");
        QTest::addColumn<QString>("status");
        using Phase = LauncherModel::Phase;
        QTest::newRow("complete") << "" << Phase::Play << "" << true << false << installed;
        QTest::newRow("runtime") << "Runtime" << Phase::Repair
                                 << "Wine is missing or damaged. Install your distribution's Wine 8.0 or later (on "
                                    "Debian: sudo apt install wine wine64 wine32:i386) before repairing."
                                 << true << false << repairPrompt;
        QTest::newRow("graphics library")
            << "Install/game/d3dx9_43.dll" << Phase::Repair
            << "The graphics library d3dx9_43.dll is missing or damaged." << true << false << repairPrompt;
        QTest::newRow("system registry") << "Install/prefix/system.reg" << Phase::Repair
                                         << "The private Windows environment is missing or damaged." << true << true
                                         << repairPrompt;
        QTest::newRow("decoder") << "Install/prefix/drive_c/windows/syswow64/wmadmod.dll" << Phase::Repair
                                 << "The audio decoder is missing or damaged." << true << true << repairPrompt;
        QTest::newRow("game files") << "Install/game/halo2.exe" << Phase::Repair
                                    << "The game file halo2.exe is missing or damaged." << false << false
                                    << setUpAgainPrompt;
        QTest::newRow("no record") << "installed.json" << Phase::Install << "" << true << false << choosePrompt;
    }

    void phaseFollowsWhatIsMissing()
    {
        QFETCH(QString, lost);
        QFETCH(LauncherModel::Phase, phase);
        QFETCH(QString, sentence);
        QFETCH(bool, repairable);
        QFETCH(bool, usesAudio);
        QFETCH(QString, status);
        DataHome home;
        writeDamagedInstallation(home.root(), lost);
        LauncherModel model({.catalogue = fixtureCatalogue()});
        QCOMPARE(model.phase(), phase);
        QCOMPARE(model.ready(), phase == LauncherModel::Phase::Play);
        QCOMPARE(model.missingParts(), sentence);
        QCOMPARE(model.repairable(), repairable);
        QCOMPARE(model.repairUsesAudio(), usesAudio);
        QCOMPARE(model.status(), status);
        QVERIFY(model.error().isEmpty());
    }

    /// The window reads the record as status and launch do: a record far larger than any we
    /// write, or a pipe in its place, is damage found at once, never read whole nor waited on.
    void unreadableRecordIsDamageFoundAtOnce_data()
    {
        QTest::addColumn<bool>("pipe");
        QTest::newRow("3 GiB record") << false;
        QTest::newRow("named pipe") << true;
    }

    void unreadableRecordIsDamageFoundAtOnce()
    {
        QFETCH(bool, pipe);
        DataHome home;
        writeInstallation(home.root());
        const fs::path record = home.root() / "installed.json";
        if (pipe) {
            fs::remove(record);
            QCOMPARE(::mkfifo(record.c_str(), 0600), 0);
        } else {
            fs::resize_file(record, std::uintmax_t{3} << 30); // sparse: no blocks written
        }
        LauncherModel model({.catalogue = fixtureCatalogue()});
        QCOMPARE(model.phase(), LauncherModel::Phase::Repair);
        QCOMPARE(model.ready(), false);
        // Without a record to name it, the Wine it recorded cannot be found either.
        QVERIFY2(
            model.missingParts().startsWith(QStringLiteral("The installation record and Wine are missing or damaged.")),
            qPrintable(model.missingParts()));
    }

    /// A repair runs like setup, through the progress phase, with the chosen audio package;
    /// success leads to play, failure back to the repair screen with the message and with the
    /// sentence naming only what is still missing.
    void repairRunsLikeSetup_data()
    {
        QTest::addColumn<bool>("fails");
        QTest::addColumn<QList<LauncherModel::Phase>>("phases");
        QTest::newRow("success") << false << QList{LauncherModel::Phase::Progress, LauncherModel::Phase::Play};
        QTest::newRow("failure") << true << QList{LauncherModel::Phase::Progress, LauncherModel::Phase::Repair};
    }

    void repairRunsLikeSetup()
    {
        QFETCH(bool, fails);
        QFETCH(QList<LauncherModel::Phase>, phases);
        DataHome home;
        writeDamagedInstallation(home.root(), "Runtime");
        const fs::path userRegistry = home.root() / "Install" / "prefix" / "user.reg";
        const fs::path keptRegistry = home.path() / "user.reg";
        fs::rename(userRegistry, keptRegistry);
        Panels panels;
        panels.answers = {QUrl::fromLocalFile("/media/MPSetup.exe")};
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        std::optional<fs::path> audioSeen;
        LauncherModel model({
            .catalogue = fixtureCatalogue(),
            .choose = panels.seam(),
            .repair =
                [&audioSeen, released, fails, &keptRegistry](
                    const Installer& installer, const std::optional<fs::path>& audio, const std::optional<fs::path>&) {
                    audioSeen = audio;
                    installer.report("Repairing your installation");
                    released.wait();
                    // The environment comes back either way; the runtime only when the repair succeeds.
                    fs::copy_file(keptRegistry, installer.prefix() / "user.reg");
                    if (fails)
                        throw SetupFailure("The compatibility runtime could not be downloaded. Check your internet "
                                           "connection, then retry.");
                    writeInstallation(installer.root());
                },
        });
        QCOMPARE(model.phase(), LauncherModel::Phase::Repair);
        QCOMPARE(model.missingParts(),
                 QStringLiteral(
                     "Wine and the private Windows environment are missing or damaged. Install your distribution's "
                     "Wine 8.0 or later (on Debian: sudo apt install wine wine64 wine32:i386) before repairing."));
        QVERIFY(model.repairUsesAudio());
        model.selectAudio();
        QList<LauncherModel::Phase> seen;
        QStringList statuses;
        connect(&model, &LauncherModel::phaseChanged, this, [&] {
            seen << model.phase();
            statuses << model.status();
        });

        model.repair();
        QCOMPARE(model.busy(), true);
        QCOMPARE(model.repairing(), true);
        QTRY_COMPARE_WITH_TIMEOUT(model.status(), QStringLiteral("Repairing your installation"), 10'000);
        model.repair(); // already running: nothing happens
        release.set_value();
        QTRY_COMPARE_WITH_TIMEOUT(seen.size(), 2, 10'000);
        QTest::qWait(50);

        QCOMPARE(seen, phases);
        QCOMPARE(model.busy(), false);
        QCOMPARE(model.repairing(), false);
        QCOMPARE(audioSeen, std::optional<fs::path>("/media/MPSetup.exe"));
        if (fails) {
            QCOMPARE(statuses.last(), repairNeedsAttention);
            QCOMPARE(
                model.error(),
                QStringLiteral(
                    "The compatibility runtime could not be downloaded. Check your internet connection, then retry."));
            QCOMPARE(model.missingParts(),
                     QStringLiteral("Wine is missing or damaged. Install your distribution's Wine 8.0 or later (on "
                                    "Debian: sudo apt install wine wine64 wine32:i386) before repairing."));
            QVERIFY(!model.repairUsesAudio());
            QCOMPARE(model.ready(), false);
        } else {
            QCOMPARE(statuses.last(), installed);
            QVERIFY(model.error().isEmpty());
            QVERIFY(model.missingParts().isEmpty());
            QCOMPARE(model.ready(), true);
        }
    }

    /// The real repair refuses lost game files and changes nothing, and the window points to Set
    /// up again; a repair asked for outside the repair phase does nothing at all.
    void realRepairRefusesLostGameFiles()
    {
        DataHome home;
        {
            LauncherModel fresh({.catalogue = fixtureCatalogue()});
            QSignalSpy busy(&fresh, &LauncherModel::busyChanged);
            fresh.repair();
            QCOMPARE(busy.count(), 0);
            QCOMPARE(fresh.phase(), LauncherModel::Phase::Install);
        }
        writeDamagedInstallation(home.root(), "Install/game/halo2.exe");
        const auto recordBefore = fs::last_write_time(home.root() / "installed.json");
        LauncherModel model({.catalogue = fixtureCatalogue()});
        QCOMPARE(model.phase(), LauncherModel::Phase::Repair);

        model.repair();
        QTRY_VERIFY_WITH_TIMEOUT(!model.busy(), 30'000);
        // The repair's own advice is to delete the record by hand; the window has a button for it.
        QCOMPARE(model.error(), setUpAgainPrompt);
        QCOMPARE(model.status(), repairNeedsAttention);
        QCOMPARE(model.phase(), LauncherModel::Phase::Repair);
        QCOMPARE(model.missingParts(), QStringLiteral("The game file halo2.exe is missing or damaged."));
        QCOMPARE(fs::last_write_time(home.root() / "installed.json"), recordBefore);
        QVERIFY(fs::exists(home.root() / "Runtime" / "wswine.bundle" / "bin" / "wine"));
    }

    /// A launch refused because the installation lost parts since the window opened moves
    /// the window to the repair screen, keeping the launch's message.
    void failedLaunchOffersRepair()
    {
        DataHome home;
        writeInstallation(home.root());
        LauncherModel model({.catalogue = fixtureCatalogue()});
        QCOMPARE(model.phase(), LauncherModel::Phase::Play);
        fs::remove_all(home.root() / "Runtime");
        QSignalSpy phase(&model, &LauncherModel::phaseChanged);

        model.play();
        // The failure points to the Repair button beside it, not to a setup the screen does not offer.
        QCOMPARE(model.error(),
                 QStringLiteral("Halo 2 could not start because parts of its installation are missing. "
                                "Press Repair to restore them."));
        QCOMPARE(model.playing(), false);
        QCOMPARE(model.phase(), LauncherModel::Phase::Repair);
        QCOMPARE(phase.count(), 1);
        QCOMPARE(model.ready(), false);
        QCOMPARE(model.status(), repairPrompt);
        QCOMPARE(model.missingParts(),
                 QStringLiteral("Wine is missing or damaged. Install your distribution's Wine 8.0 or later (on Debian: "
                                "sudo apt install wine wine64 wine32:i386) before repairing."));
        QVERIFY(lockIsFree(home.root()));
    }

    /// The installation folder accepts an empty folder or a Corvanel folder and refuses anything
    /// else with the reason, changing nothing; the downloads folder reaches setup as its cache;
    /// the installation lands in the chosen folder, and a new model starts there.
    void chosenFoldersAreUsedAndTheInstallationFolderIsRemembered()
    {
        DataHome home;
        const fs::path settings = home.path() / "settings" / "corvanel.ini";
        const fs::path foreign = home.path() / "Documents";
        writeText(foreign / "letter.txt", QStringLiteral("mine"));
        const fs::path plainFile = home.path() / "notes.txt";
        writeText(plainFile, QStringLiteral("mine"));
        const fs::path chosenRoot = home.path() / "Games" / "Corvanel here";
        fs::create_directories(chosenRoot);
        const fs::path downloads = home.path() / "Kept downloads";
        fs::create_directories(downloads);
        const fs::path game = home.path() / "h2pc_installer_2.1";
        fs::create_directories(game);

        Panels panels;
        std::optional<fs::path> cacheSeen;
        fs::path rootSeen;
        auto setup = [&cacheSeen, &rootSeen](const Installer& installer, const fs::path&,
                                             const std::optional<fs::path>&, const std::optional<fs::path>& cache) {
            cacheSeen = cache;
            rootSeen = installer.root();
            writeInstallation(installer.root());
        };
        LauncherModel model(
            {.catalogue = fixtureCatalogue(), .settings = settings, .choose = panels.seam(), .setup = setup});
        const QString defaultRoot = model.root();
        QVERIFY(model.defaultRoot());
        QSignalSpy rootChanged(&model, &LauncherModel::rootChanged);

        struct Refusal {
            fs::path folder;
            QString error;
        };
        const Refusal refusals[] = {
            {foreign,
             "The folder " + QString::fromStdString(shownPath(foreign))
                 + " already holds files that Corvanel did not create, such as letter.txt. Choose an empty "
                   "folder or an existing Corvanel folder, then retry."},
            {plainFile,
             "The installation folder must be a folder, and " + QString::fromStdString(shownPath(plainFile))
                 + " is a file. Choose an empty folder or an existing Corvanel folder."},
        };
        for (const Refusal& refusal : refusals) {
            panels.answers = {QUrl::fromLocalFile(QString::fromStdString(refusal.folder.string()))};
            model.chooseInstallationFolder();
            QCOMPARE(model.error(), refusal.error);
            QCOMPARE(model.root(), defaultRoot);
            QCOMPARE(rootChanged.count(), 0);
            QVERIFY(!fs::exists(settings));
        }
        QCOMPARE(readAll(foreign / "letter.txt"), std::string("mine"));
        QVERIFY(panels.asked.last().foldersOnly);

        panels.answers = {QUrl::fromLocalFile(QString::fromStdString(chosenRoot.string())),
                          QUrl::fromLocalFile(QString::fromStdString(downloads.string())),
                          QUrl::fromLocalFile(QString::fromStdString(game.string()))};
        model.chooseInstallationFolder();
        QVERIFY(model.error().isEmpty());
        QCOMPARE(model.root(), QString::fromStdString(chosenRoot.string()));
        QVERIFY(!model.defaultRoot());
        QCOMPARE(rootChanged.count(), 1);
        model.chooseDownloadsFolder();
        QCOMPARE(model.downloadsFolder(), QString::fromStdString(downloads.string()));
        model.selectGame();
        model.install();
        QTRY_VERIFY(!model.busy());
        QVERIFY(model.error().isEmpty());
        QCOMPARE(rootSeen, chosenRoot);
        QCOMPARE(cacheSeen, std::optional(downloads));
        QVERIFY(fs::is_regular_file(chosenRoot / "installed.json"));
        QVERIFY(!fs::exists(home.root()));

        // The next start uses the chosen folder and finds its installation; the default brings
        // back the folder used before, and is remembered too.
        {
            LauncherModel next({.catalogue = fixtureCatalogue(), .settings = settings, .choose = panels.seam()});
            QCOMPARE(next.root(), QString::fromStdString(chosenRoot.string()));
            QCOMPARE(next.phase(), LauncherModel::Phase::Play);
            QVERIFY(next.downloadsFolder().isEmpty());
            next.useDefaultInstallationFolder();
            QCOMPARE(next.root(), defaultRoot);
            QCOMPARE(next.phase(), LauncherModel::Phase::Install);
        }
        LauncherModel afterDefault({.catalogue = fixtureCatalogue(), .settings = settings, .choose = panels.seam()});
        QCOMPARE(afterDefault.root(), defaultRoot);

        // An existing Corvanel folder is taken as it is, and read at once.
        panels.answers = {QUrl::fromLocalFile(QString::fromStdString(chosenRoot.string()))};
        afterDefault.chooseInstallationFolder();
        QVERIFY(afterDefault.error().isEmpty());
        QCOMPARE(afterDefault.phase(), LauncherModel::Phase::Play);
    }

    /// A long folder name is shown breakable after each separator, never inside a name.
    void shownFoldersBreakAtSeparators()
    {
        DataHome home;
        LauncherModel model;
        QCOMPARE(model.shownRoot().remove(QChar(0x200B)), model.root());
        QCOMPARE(model.shownRoot().count(QChar(0x200B)), model.root().count(QLatin1Char('/')));
        for (const QString& part : model.shownRoot().split(QChar(0x200B)).mid(1))
            QVERIFY2(part.isEmpty() || !part.startsWith(QLatin1Char('/')), qPrintable(part));
        QVERIFY(model.shownRoot().contains(QStringLiteral("/\u200B")));
    }

    /// Lost game files: Set up again removes the record alone (a link in its place as a link)
    /// and offers the setup screen with the last source chosen again; saves and the rest stay.
    void setUpAgainRemovesOnlyTheRecord_data()
    {
        QTest::addColumn<bool>("recordIsLink");
        QTest::newRow("record") << false;
        QTest::newRow("record is a link to a file outside") << true;
    }

    void setUpAgainRemovesOnlyTheRecord()
    {
        QFETCH(bool, recordIsLink);
        DataHome home;
        const fs::path settings = home.path() / "corvanel.ini";
        const fs::path source = home.path() / "h2pc_installer_2.1";
        fs::create_directories(source);
        const fs::path outside = home.path() / "outside.json";
        writeInstallation(home.root());
        const fs::path save = home.root() / "Install" / "prefix" / "drive_c" / "users" / "player" / "save.bin";
        writeText(save, QStringLiteral("progress"));
        if (recordIsLink) {
            fs::rename(home.root() / "installed.json", outside);
            fs::create_symlink(outside, home.root() / "installed.json");
        }
        Panels panels;
        panels.answers = {QUrl::fromLocalFile(QString::fromStdString(source.string()))};
        {
            // Setup from this source once ran here; the source is what the next start remembers.
            LauncherModel earlier({.catalogue = fixtureCatalogue(),
                                   .settings = settings,
                                   .choose = panels.seam(),
                                   .setup = [](const Installer&, const fs::path&, const std::optional<fs::path>&,
                                               const std::optional<fs::path>&) {}});
            fs::rename(home.root() / "installed.json", home.path() / "aside");
            earlier.selectGame();
            earlier.install();
            QTRY_VERIFY(!earlier.busy());
            fs::rename(home.path() / "aside", home.root() / "installed.json");
        }
        fs::remove(home.root() / "Install" / "game" / "halo2.exe");

        LauncherModel model({.catalogue = fixtureCatalogue(), .settings = settings});
        QCOMPARE(model.phase(), LauncherModel::Phase::Repair);
        QVERIFY(!model.repairable());
        QVERIFY(model.gameURL().isEmpty());
        model.setUpAgain();
        QCOMPARE(model.phase(), LauncherModel::Phase::Install);
        QVERIFY(!fs::exists(fs::symlink_status(home.root() / "installed.json")));
        QCOMPARE(model.gameURL(), QUrl::fromLocalFile(QString::fromStdString(source.string())));
        QCOMPARE(model.status(), readyToSetUp);
        QVERIFY(model.error().isEmpty());
        QCOMPARE(readAll(save), std::string("progress"));
        QVERIFY(fs::exists(home.root() / "Install" / "game"));
        QCOMPARE(fs::exists(outside), recordIsLink);
    }

    /// The screen may be older than the folder: game files put back since it was read keep their
    /// record, and the installation is ready again.
    void setUpAgainKeepsARecordWhoseGameFilesCameBack()
    {
        DataHome home;
        writeInstallation(home.root());
        const fs::path game = home.root() / "Install" / "game" / "halo2.exe";
        fs::rename(game, home.path() / "halo2.exe");
        LauncherModel model({.catalogue = fixtureCatalogue(), .settings = home.path() / "corvanel.ini"});
        QCOMPARE(model.phase(), LauncherModel::Phase::Repair);
        QVERIFY(!model.repairable());
        fs::rename(home.path() / "halo2.exe", game);
        model.setUpAgain();
        QVERIFY(fs::exists(home.root() / "installed.json"));
        QCOMPARE(model.phase(), LauncherModel::Phase::Play);
    }

    /// Only a setup that finished leaves its source for Set up again, and an installation folder
    /// the caller names wins over a remembered one; without a settings file nothing is kept.
    void rememberedChoicesFollowWhatHappened()
    {
        DataHome home;
        const fs::path settings = home.path() / "corvanel.ini";
        Panels panels;
        panels.answers = {QUrl::fromLocalFile(QStringLiteral("/media/h2pc_installer_2.1"))};
        {
            LauncherModel failing({.catalogue = fixtureCatalogue(),
                                   .settings = settings,
                                   .choose = panels.seam(),
                                   .setup = [](const Installer&, const fs::path&, const std::optional<fs::path>&,
                                               const std::optional<fs::path>&) {
                                       throw SetupFailure("The selected game files are not a supported Halo 2 "
                                                          "installer.");
                                   }});
            failing.selectGame();
            failing.install();
            QTRY_VERIFY(!failing.busy());
            QVERIFY(!failing.error().isEmpty());
        }
        QCOMPARE(QSettings(QString::fromStdString(settings.string()), QSettings::IniFormat).value("lastSource"),
                 QVariant());

        const fs::path elsewhere = home.path() / "elsewhere";
        QSettings(QString::fromStdString(settings.string()), QSettings::IniFormat)
            .setValue("installationFolder", QString::fromStdString(elsewhere.string()));
        const LauncherModel named({.catalogue = fixtureCatalogue(), .root = home.root(), .settings = settings});
        QCOMPARE(named.root(), QString::fromStdString(home.root().string()));
        const LauncherModel remembered({.catalogue = fixtureCatalogue(), .settings = settings});
        QCOMPARE(remembered.root(), QString::fromStdString(elsewhere.string()));
        const LauncherModel forgetful({.catalogue = fixtureCatalogue()});
        QVERIFY(forgetful.root() != QString::fromStdString(elsewhere.string()));
    }

    /// Set up again is only for lost game files: a repairable installation keeps its record.
    void setUpAgainLeavesARepairableInstallationAlone()
    {
        DataHome home;
        writeInstallation(home.root());
        fs::remove_all(home.root() / "Runtime");
        LauncherModel model({.catalogue = fixtureCatalogue(), .settings = home.path() / "corvanel.ini"});
        QVERIFY(model.repairable());
        model.setUpAgain();
        QVERIFY(fs::exists(home.root() / "installed.json"));
        QCOMPARE(model.phase(), LauncherModel::Phase::Repair);
    }

    /// Lost game files cannot be repaired: the failure says so and points to the steps shown.
    void failedLaunchWithoutGameFilesPointsToSetup()
    {
        DataHome home;
        writeInstallation(home.root());
        LauncherModel model({.catalogue = fixtureCatalogue()});
        fs::remove(home.root() / "Install" / "game" / "halo2.exe");

        model.play();
        QCOMPARE(model.error(),
                 QStringLiteral("Halo 2 could not start because its game files are missing. Press Set up "
                                "again above; your saves are kept."));
        QCOMPARE(model.phase(), LauncherModel::Phase::Repair);
        QVERIFY(!model.repairable());
        QCOMPARE(model.status(), setUpAgainPrompt);
    }

    /// A stop ends the running program at once and returns to the screen the work started
    /// from, with no failure shown; a stop with nothing running does nothing.
    void stopEndsTheRunningWork()
    {
        DataHome home;
        Panels panels;
        panels.answers = {QUrl::fromLocalFile("/media/h2pc_installer_2.1")};
        const fs::path started = home.path() / "started";
        const auto longStep = [started](const Installer& installer) {
            installer.report("Creating your private Windows environment");
            installer.run("/bin/sh", {"-c", "echo > '" + started.string() + "'; exec sleep 60"});
        };
        LauncherModel model({
            .catalogue = fixtureCatalogue(),
            .choose = panels.seam(),
            .setup = [longStep](const Installer& installer, const fs::path&, const std::optional<fs::path>&,
                                const std::optional<fs::path>&) { longStep(installer); },
            .repair = [longStep](const Installer& installer, const std::optional<fs::path>&,
                                 const std::optional<fs::path>&) { longStep(installer); },
        });
        model.stop();
        QVERIFY(!model.stopping());
        model.selectGame();
        QSignalSpy stopping(&model, &LauncherModel::stoppingChanged);

        const auto started_ = std::chrono::steady_clock::now();
        model.install();
        QTRY_VERIFY_WITH_TIMEOUT(fs::exists(started), 10'000);
        model.stop();
        QVERIFY(model.stopping());
        QCOMPARE(model.status(), QStringLiteral("Stopping. The running step is being ended and tidied up."));
        QTRY_VERIFY_WITH_TIMEOUT(!model.busy(), 10'000);
        QVERIFY(std::chrono::steady_clock::now() - started_ < std::chrono::seconds(30));
        QCOMPARE(model.status(), QString::fromStdString(test_support::setupStopped));
        QVERIFY(model.error().isEmpty());
        QVERIFY(!model.stopping());
        QCOMPARE(stopping.count(), 2);
        QCOMPARE(model.phase(), LauncherModel::Phase::Install);
        QVERIFY(model.sourceChosen());

        // A repair stops the same way and comes back to the repair screen.
        writeDamagedInstallation(home.root(), "Runtime");
        fs::remove(started);
        LauncherModel repairing({.catalogue = fixtureCatalogue(),
                                 .repair = [longStep](const Installer& installer, const std::optional<fs::path>&,
                                                      const std::optional<fs::path>&) { longStep(installer); }});
        QCOMPARE(repairing.phase(), LauncherModel::Phase::Repair);
        repairing.repair();
        QTRY_VERIFY_WITH_TIMEOUT(fs::exists(started), 10'000);
        repairing.stop();
        QTRY_VERIFY_WITH_TIMEOUT(!repairing.busy(), 10'000);
        QCOMPARE(repairing.status(), QString::fromStdString(test_support::repairStopped));
        QVERIFY(repairing.error().isEmpty());
        QCOMPARE(repairing.phase(), LauncherModel::Phase::Repair);
    }

    void setupClockCountsFromThePress()
    {
        DataHome home;
        Panels panels;
        panels.answers = {QUrl::fromLocalFile("/media/h2pc_installer_2.1")};
        std::atomic<long long> now = 1'000'000;
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        LauncherModel model({
            .choose = panels.seam(),
            .setup =
                [released](const Installer&, const fs::path&, const std::optional<fs::path>&,
                           const std::optional<fs::path>&) {
                    released.wait();
                    throw SetupFailure("The selected game files are not a supported Halo 2 installer.");
                },
            .clock = [&now] { return std::chrono::milliseconds(now.load()); },
        });
        model.selectGame();
        now += 30'000; // time before the press does not count
        QSignalSpy seconds(&model, &LauncherModel::elapsedSecondsChanged);

        model.install();
        QCOMPARE(model.elapsedSeconds(), 0);
        QCOMPARE(model.elapsedText(), QStringLiteral("0s"));
        now += 999;
        QTest::qWait(400);
        QCOMPARE(model.elapsedSeconds(), 0);
        now += 1;
        QTRY_COMPARE(model.elapsedSeconds(), 1);
        now += 64'000;
        QTRY_COMPARE(model.elapsedSeconds(), 65);
        QCOMPARE(model.elapsedText(), QStringLiteral("1m 5s"));
        QCOMPARE(seconds.count(), 2);

        now += 5'000;
        release.set_value();
        QTRY_VERIFY(!model.busy());
        QCOMPARE(model.elapsedSeconds(), 70); // read once more at the end
        now += 60'000;
        QTest::qWait(400);
        QCOMPARE(model.elapsedSeconds(), 70);
    }
};

QTEST_MAIN(LauncherModelTest)
#include "launcher_model_test.moc"
