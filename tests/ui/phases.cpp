#include "phases.h"

#include "installer/setup_failure.h"

#include <QFile>
#include <QQuickItem>
#include <QSignalSpy>
#include <QTest>
#include <QtQuickTest/quicktest.h>

namespace corvanel::test_support {

namespace fs = std::filesystem;

const QStringList PhaseWindow::phases = {"fresh",
                                         "source-chosen",
                                         "setting-up",
                                         "failed",
                                         "ready",
                                         "playing",
                                         "repair",
                                         "repair-game-files",
                                         "setting-up-environment"};

const QString PhaseWindow::failure = QStringLiteral("The selected folder does not contain h2pc_data.bin or a Halo 2 "
                                                    "game. Choose your h2pc_installer_2.1 folder again.");

const QString PhaseWindow::repairFailure
    = QStringLiteral("The compatibility runtime could not be downloaded. Check your internet connection, then retry.");

namespace {

QString local(const fs::path& path)
{
    return QString::fromStdString(path.string());
}

/// Reports `stage` as started, or started and finished, as the real pipeline does.
void stage(const Installer& installer, SetupStage stage, bool finished)
{
    installer.reportStage({stage, StageEvent::Kind::Started});
    if (finished)
        installer.reportStage({stage, StageEvent::Kind::Finished});
}

/// Ends the running stage and the ones after it, as a setup that went on to the end would.
void finishFrom(const Installer& installer, SetupStage running)
{
    installer.reportStage({running, StageEvent::Kind::Finished});
    for (const SetupStage later : setupStages)
        if (later > running)
            stage(installer, later, true);
}

} // namespace

PhaseWindow::PhaseWindow(const QString& phase, PhaseOptions options)
    : home_(std::make_unique<DataHome>())
{
    const fs::path downloads = home_->path() / "Downloads";
    const QString gameRelease = local(home_->path() / "game-release");
    const QString wine = QStringLiteral("echo \"$@\"\nwhile [ ! -e '%1' ]; do sleep 0.05; done").arg(gameRelease);
    auto released = release_.get_future().share();
    writeText(home_->path() / "Setup Guide.html", "<html></html>");

    LauncherServices services{
        .catalogue = fixtureCatalogue(),
        .guide = home_->path() / "Setup Guide.html",
        .settings = home_->path() / "settings.ini",
        .choose = [downloads](const FilePanel& panel) -> std::optional<QUrl> {
            return QUrl::fromLocalFile(local(downloads / (panel.folders ? "h2pc_installer_2.1" : "MPSetup.exe")));
        },
        .setup =
            [released, wine, later = phase == "setting-up-environment"](const Installer& installer, const fs::path&,
                                                                        const std::optional<fs::path>&,
                                                                        const std::optional<fs::path>&) {
                // Blocked in the import, or later in the Windows environment while Wine applies settings.
                const SetupStage running = later ? SetupStage::WindowsEnvironment : SetupStage::Import;
                for (const SetupStage earlier : setupStages)
                    if (earlier < running)
                        stage(installer, earlier, true);
                stage(installer, running, false);
                if (later) {
                    installer.reportStage({running, StageEvent::Kind::Detail, std::string(applyingSettings)});
                    installer.report("Preparing the game's graphics libraries");
                    installer.report("Creating your private Windows environment");
                } else {
                    installer.report("Importing your Halo 2 files");
                    installer.report("Unpacking the game · 1.24 GB · 42s elapsed");
                }
                if (released.get())
                    throw SetupFailure(failure.toStdString());
                finishFrom(installer, running);
                writeInstallation(installer.root(), wine);
            },
        .repair =
            [released, wine](const Installer& installer, const std::optional<fs::path>&,
                             const std::optional<fs::path>&) {
                // The runtime and the decoder are missing: the import and the graphics libraries have nothing to do.
                for (const SetupStage skipped : {SetupStage::Import, SetupStage::GraphicsLibraries})
                    installer.reportStage({skipped, StageEvent::Kind::Skipped});
                stage(installer, SetupStage::AudioDecoder, true);
                stage(installer, SetupStage::Runtime, false);
                installer.report("Repairing your installation");
                installer.report("Unpacking the compatibility runtime · 180 MB · 12s elapsed");
                if (released.get())
                    throw SetupFailure(repairFailure.toStdString());
                installer.reportStage({SetupStage::Runtime, StageEvent::Kind::Finished});
                stage(installer, SetupStage::WindowsEnvironment, true);
                stage(installer, SetupStage::Finishing, true);
                writeInstallation(installer.root(), wine);
            },
    };
    if (options.noOpener)
        services.open = [](const QUrl&) { return false; };
    if (options.manualClock)
        services.clock = [this] { return std::chrono::milliseconds(clock_.load()); };
    if (phase == "ready" || phase == "playing" || phase.startsWith("repair"))
        writeInstallation(home_->root(), wine);
    if (phase == "repair") {
        fs::remove_all(home_->root() / "Runtime");
        fs::remove(home_->root() / "Install" / "prefix" / "drive_c" / "windows" / "syswow64" / "wmadmod.dll");
    }
    if (phase == "repair-game-files")
        fs::remove(home_->root() / "Install" / "game" / "halo2.exe");

    delegate_ = std::make_unique<AppDelegate>(std::move(services),
                                              [this](const QString& message, const QString& informative) {
                                                  alerts << message + " / " + informative;
                                                  delegate_->showAlert(message, informative);
                                              });
    if (!window())
        return;
    window()->resize(options.size);
    if (!QTest::qWaitForWindowExposed(window()))
        qWarning("the window was not exposed in time");
    window()->setProperty("showAdvanced", options.advanced);
    QTest::qWait(50);

    LauncherModel& launcher = model();
    const bool settingUp = phase == "setting-up" || phase == "setting-up-environment";
    if (phase == "source-chosen" || settingUp || phase == "failed")
        launcher.selectGame();
    if (phase == "source-chosen")
        launcher.selectAudio();
    if (settingUp || phase == "failed") {
        QSignalSpy status(&launcher, &LauncherModel::statusChanged);
        launcher.install();
        while (status.count() < 2 && status.wait(10'000)) { }
    }
    if (phase == "failed") {
        failSetup();
        QTRY_VERIFY_WITH_TIMEOUT(!launcher.busy(), 10'000);
    }
    if (phase == "playing")
        launcher.play();
    settle();
}

void PhaseWindow::settle()
{
    // A phase reached between two frames leaves its layout unpolished, so sizes and positions
    // (a wrapped error's lines, the status box's place) would still be the old ones.
    if (!QQuickTest::qWaitForPolish(window()))
        qWarning("the window's layout did not settle in time");
}

void PhaseWindow::releaseSetup()
{
    if (!released_)
        release_.set_value(false);
    released_ = true;
}

void PhaseWindow::failSetup()
{
    if (!released_)
        release_.set_value(true);
    released_ = true;
}

void PhaseWindow::endGame()
{
    writeText(home_->path() / "game-release", "");
}

PhaseWindow::~PhaseWindow()
{
    endGame();
    releaseSetup();
    if (delegate_)
        QTRY_VERIFY_WITH_TIMEOUT(!model().busy() && !model().playing(), 10'000);
    delegate_.reset();
}

QQuickItem* findItem(QQuickWindow* window, const char* name)
{
    auto* found = window->findChild<QQuickItem*>(QString::fromLatin1(name));
    if (!found)
        qFatal("no item named %s", name);
    return found;
}

bool click(QQuickWindow* window, const char* name)
{
    QQuickItem* target = findItem(window, name);
    const QPointF centre = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
    QQuickItem* scroller = findItem(window, "contentScroller");
    const bool scrolled = scroller->isAncestorOf(target);
    const QRectF visible = scrolled ? contentViewport(window) : QRectF(QPointF(0, 0), window->size());
    if (!target->isVisible() || !visible.contains(centre)) {
        qWarning("%s cannot be clicked: hidden or outside the visible part of the window", name);
        return false;
    }
    QTest::mouseClick(window, Qt::LeftButton, {}, centre.toPoint());
    return true;
}

QRectF sceneRect(QQuickItem* item)
{
    return QRectF(item->mapToScene(QPointF(0, 0)), item->size());
}

QRectF contentViewport(QQuickWindow* window)
{
    return sceneRect(findItem(window, "contentScroller"));
}

} // namespace corvanel::test_support
