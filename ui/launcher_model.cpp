#include "ui/launcher_model.h"

#include "installer/file_ops.h"
#include "installer/layout.h"
#include "installer/platform.h"
#include "installer/runner.h"
#include "installer/setup_failure.h"
#include "installer/setup_log.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QPointer>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <utility>

namespace corvanel {

namespace {

const QString choosePrompt = QStringLiteral("Choose your h2pc_installer_2.1 folder to get started.");
const QString readyToSetUp = QStringLiteral("Ready to set up. Audio support will be configured automatically.");
const QString readyToSetUpWithAudio = QStringLiteral("Ready to set up with the audio package you chose.");
const QString installed = QStringLiteral("Your installation is ready.");
const QString needsAttention = QStringLiteral("Setup needs attention. Your source files are unchanged.");
const QString starting = QStringLiteral("Halo 2 is starting. The first launch can take a few minutes.");
const QString unexpectedExit = QStringLiteral("Halo 2 exited unexpectedly. Open Logs for details.");
const QString repairPrompt
    = QStringLiteral("Parts of your installation are missing. Press Repair to restore them; your game and saves stay as they are.");
const QString setUpAgainPrompt
    = QStringLiteral("Your game files need to be set up again. Follow the steps above; your saves are kept.");
const QString repairNeedsAttention = QStringLiteral("Repair needs attention. Your game and saves are unchanged.");
const QString stoppingWork = QStringLiteral("Stopping. The running step is being ended and tidied up.");
const QString setupStopped = QStringLiteral("Setup was stopped. Your source files are unchanged.");
const QString repairStopped = QString::fromUtf8(repairStoppedMessage);
const QString launchNeedsRepair
    = QStringLiteral("Halo 2 could not start because parts of its installation are missing. Press Repair to restore them.");
const QString launchNeedsGameFiles = QStringLiteral(
    "Halo 2 could not start because its game files are missing. Set them up again as described above; your saves are kept.");

QString text(const std::string& value) { return QString::fromStdString(value); }

fs::path localPath(const QUrl& url) { return fs::path(url.toLocalFile().toStdString()); }

/// The last component of a chosen path, or the whole path when it has none (the root folder).
QString shownName(const QUrl& url)
{
    if (url.isEmpty())
        return {};
    const QString name = QFileInfo(url.toLocalFile()).fileName();
    return name.isEmpty() ? url.toLocalFile() : name;
}

/// How often the setup clock is read: often enough that the whole seconds shown never lag
/// by more than a quarter second.
constexpr int clockReadInterval = 250;

/// How long a game asked to end has before it is killed, in milliseconds.
constexpr int gameStopGrace = 3000;

/// Runs `step` on the GUI thread, later, and only while the model still exists. The weak
/// pointer is read on the GUI thread alone, where the model is deleted.
template <typename Step>
void deliver(const QPointer<LauncherModel>& model, Step step)
{
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [model, step = std::move(step)]() {
            if (model)
                step(*model);
        },
        Qt::QueuedConnection);
}

/// Stores `value`; true when it differs from what was there, so observers hear of real changes only.
template <typename T>
bool assign(T& member, const T& value)
{
    if (member == value)
        return false;
    member = value;
    return true;
}

bool hasPart(const std::vector<MissingPart>& parts, InstallationPart part)
{
    return std::any_of(parts.begin(), parts.end(), [part](const MissingPart& missing) { return missing.part == part; });
}

void openLocal(const fs::path& path) { QDesktopServices::openUrl(QUrl::fromLocalFile(text(path.string()))); }

} // namespace

LauncherModel::LauncherModel(LauncherSeams seams, QObject* parent)
    : QObject(parent), seams_(std::move(seams)), installer_(seams_.root, {}, seams_.catalogue)
{
    if (!seams_.choose)
        seams_.choose = runFilePanel;
    if (!seams_.setup)
        seams_.setup = [](const Installer& installer, const fs::path& game, const std::optional<fs::path>& audio) {
            installer.install(game, audio, std::nullopt);
        };
    if (!seams_.repair)
        seams_.repair = [](const Installer& installer, const std::optional<fs::path>& audio) {
            installer.repair(audio, std::nullopt);
        };
    if (!seams_.clock)
        seams_.clock = [] {
            return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
        };
    surveyInstallation();
    phase_ = decidePhase();
    status_ = restingStatus();
    setupClock_.setInterval(clockReadInterval);
    connect(&setupClock_, &QTimer::timeout, this, &LauncherModel::tickSetupClock);
}

LauncherModel::~LauncherModel() = default;

QString LauncherModel::gameName() const { return shownName(gameURL_); }
QString LauncherModel::gamePath() const { return gameURL_.toLocalFile(); }
QString LauncherModel::audioName() const { return shownName(audioURL_); }
QString LauncherModel::audioPath() const { return audioURL_.toLocalFile(); }
QString LauncherModel::version() const { return text(std::string(Installer::version)); }
QString LauncherModel::computerNoun() const { return text(platform::computerNoun()); }
QString LauncherModel::systemName() const { return text(platform::systemName()); }
QString LauncherModel::requirements() const { return text(platform::requirements()); }
QString LauncherModel::root() const { return text(installer_.root().string()); }
QString LauncherModel::prefix() const { return text(installer_.prefix().string()); }

QString LauncherModel::elapsedText() const { return text(elapsed(elapsedSeconds_)); }

QString LauncherModel::downloadNote() const
{
    const bool audioChosen = !audioURL_.isEmpty();
    if (installer_.usesSystemWine())
        return audioChosen ? QStringLiteral("Nothing to download\nUses the audio package you chose")
                           : QStringLiteral("Only the audio package to download\nUnless your installer folder holds it");
    return audioChosen ? QStringLiteral("Up to 355 MB to download\nThe compatibility runtime")
                       : QStringLiteral("About 355 MB to download\nIncludes Microsoft audio support");
}

LauncherModel::Phase LauncherModel::decidePhase() const
{
    if (busy_)
        return Phase::Progress;
    if (ready_)
        return Phase::Play;
    if (!missingParts_.isEmpty())
        return Phase::Repair;
    return Phase::Install;
}

void LauncherModel::surveyInstallation()
{
    // A root without a record is set up, not repaired; the record alone is never "missing" there.
    std::error_code error;
    const bool recorded = fs::exists(fs::symlink_status(installer_.record(), error));
    const auto parts = recorded ? installer_.missingParts() : std::vector<MissingPart>{};
    setReady(recorded && parts.empty());
    const QString sentence = text(describeMissingParts(parts));
    const bool repairable = !hasPart(parts, InstallationPart::GameFiles);
    const bool usesAudio
        = hasPart(parts, InstallationPart::WindowsEnvironment) || hasPart(parts, InstallationPart::AudioDecoder);
    if (sentence == missingParts_ && repairable == repairable_ && usesAudio == repairUsesAudio_)
        return;
    missingParts_ = sentence;
    repairable_ = repairable;
    repairUsesAudio_ = usesAudio;
    emit missingPartsChanged();
}

QString LauncherModel::restingStatus() const
{
    switch (decidePhase()) {
    case Phase::Play:
        return installed;
    case Phase::Repair:
        return repairable_ ? repairPrompt : setUpAgainPrompt;
    case Phase::Install:
    case Phase::Progress:
        break;
    }
    if (gameURL_.isEmpty())
        return choosePrompt;
    return audioURL_.isEmpty() ? readyToSetUp : readyToSetUpWithAudio;
}

void LauncherModel::updatePhase()
{
    if (assign(phase_, decidePhase()))
        emit phaseChanged();
}

void LauncherModel::tickSetupClock()
{
    const auto sinceStart = seams_.clock() - setupStartedOnClock_;
    setElapsedSeconds(static_cast<int>(std::max<std::int64_t>(0, sinceStart.count() / 1000)));
}

void LauncherModel::selectGame()
{
    const auto chosen = seams_.choose({
        .title = QStringLiteral("Choose your Halo 2 installer folder"),
        .message = QStringLiteral("Choose h2pc_installer_2.1. You can also select its ZIP, h2pc_data.bin, or a "
                                  "complete game folder. Audio support is set up automatically."),
        .folders = true,
    });
    if (!chosen)
        return;
    setGameURL(*chosen);
    setError({});
    setStatus(restingStatus());
}

void LauncherModel::selectAudio()
{
    const auto chosen = seams_.choose({
        .title = QStringLiteral("Choose your Microsoft audio package"),
        .message = QStringLiteral("Select the supported MPSetup.exe package or WMADMOD.DLL from your licensed files. "
                                  "See Setup Guide for details."),
        .folders = false,
    });
    if (!chosen)
        return;
    setAudioURL(*chosen);
    setError({});
    showAudioChoice();
}

void LauncherModel::useAutomaticAudio()
{
    setAudioURL({});
    showAudioChoice();
}

void LauncherModel::showAudioChoice()
{
    // Only the line that speaks of the audio changes; a failure's status stays until the next setup.
    if (status_ == readyToSetUp || status_ == readyToSetUpWithAudio)
        setStatus(restingStatus());
}

void LauncherModel::install()
{
    if (gameURL_.isEmpty() || busy_)
        return;
    const fs::path game = localPath(gameURL_);
    const std::optional<fs::path> audio = audioURL_.isEmpty() ? std::nullopt : std::optional(localPath(audioURL_));

    runInBackground([setup = seams_.setup, game, audio](const Installer& installer) { setup(installer, game, audio); },
                    &LauncherModel::setupEnded);
}

void LauncherModel::repair()
{
    if (busy_ || phase_ != Phase::Repair)
        return;
    const std::optional<fs::path> audio = audioURL_.isEmpty() ? std::nullopt : std::optional(localPath(audioURL_));
    setRepairing(true);
    runInBackground([repair = seams_.repair, audio](const Installer& installer) { repair(installer, audio); },
                    &LauncherModel::repairEnded);
}

void LauncherModel::stop()
{
    if (!busy_ || stopping_ || !stopRequest_)
        return;
    stopRequest_->store(true);
    setStopping(true);
    setStatus(stoppingWork);
}

void LauncherModel::runInBackground(std::function<void(const Installer&)> work, void (LauncherModel::*ended)(const QString&))
{
    setError({});
    auto stop = std::make_shared<std::atomic<bool>>(false);
    stopRequest_ = stop;
    setupStartedOnClock_ = seams_.clock();
    setElapsedSeconds(0);
    setupClock_.start();
    setSetupStartedAt(QDateTime::currentDateTime());
    setBusy(true);
    updatePhase();

    QThreadPool::globalInstance()->start([model = QPointer(this), root = installer_.root(), catalogue = seams_.catalogue,
                                          work = std::move(work), ended, stop]() {
        try {
            const auto progress = [model, stop](const std::string& line) {
                deliver(model, [line = text(line), stop](LauncherModel& launcher) {
                    if (!stop->load())
                        launcher.setStatus(line);
                });
            };
            Installer installer(root, progress, catalogue);
            installer.setStopRequest([stop] { return stop->load(); });
            work(installer);
            deliver(model, [ended](LauncherModel& launcher) { (launcher.*ended)({}); });
        } catch (const std::exception& failure) {
            deliver(model, [ended, message = text(describe(failure))](LauncherModel& launcher) { (launcher.*ended)(message); });
        }
    });
}

/// The end of a setup run: `failure` is its message, or empty after success. The phase
/// changes last, once the texts it shows are in place.
void LauncherModel::setupEnded(const QString& failure)
{
    tickSetupClock();
    setupClock_.stop();
    setBusy(false);
    const bool stopped = stopping_;
    setStopping(false);
    if (failure.isEmpty()) {
        setReady(true);
        setNewlyInstalled(true);
        setStatus(installed);
    } else if (stopped) {
        // Whatever failure the stop surfaced as, the user's request is what ended the work.
        setStatus(setupStopped);
    } else {
        setError(failure);
        setStatus(needsAttention);
    }
    updatePhase();
}

/// The end of a repair run. A failed repair may have fixed some parts: what is missing is read
/// again, so the sentence shown names only what is still missing.
void LauncherModel::repairEnded(const QString& failure)
{
    tickSetupClock();
    setupClock_.stop();
    setBusy(false);
    setRepairing(false);
    const bool stopped = stopping_;
    setStopping(false);
    surveyInstallation();
    if (failure.isEmpty()) {
        setStatus(restingStatus());
    } else if (stopped) {
        setStatus(repairStopped);
    } else {
        setError(failure);
        setStatus(repairNeedsAttention);
    }
    updatePhase();
}

void LauncherModel::play()
{
    if (playing_)
        return;
    setError({});
    try {
        LaunchedGame launched = installer_.launch(false);
        process_ = std::make_shared<ChildProcess>(std::move(launched.process));
        playLock_.emplace(std::move(launched.lock));
    } catch (const std::exception& failure) {
        setError(text(describe(failure)));
        // The installation may have lost parts since it was last read: offer what fixes them.
        surveyInstallation();
        if (decidePhase() != phase_) {
            // The repair screen says what to do; a failure that says "complete setup" would contradict it.
            if (decidePhase() == Phase::Repair)
                setError(repairable_ ? launchNeedsRepair : launchNeedsGameFiles);
            setStatus(restingStatus());
            updatePhase();
        }
        return;
    }
    setPlaying(true);
    setStatus(starting);

    QThread* watcher = QThread::create([model = QPointer(this), process = process_]() {
        const int status = process->wait();
        deliver(model, [status](LauncherModel& launcher) { launcher.gameExited(status); });
    });
    connect(watcher, &QThread::finished, watcher, &QObject::deleteLater);
    watcher->start(QThread::LowPriority);
}

void LauncherModel::stopGame()
{
    if (!playing_ || !process_ || stoppingGame_)
        return;
    stoppingGame_ = true;
    process_->signal(SIGTERM);
    QTimer::singleShot(gameStopGrace, this, [this, process = process_] {
        if (process_ == process)
            process->signal(SIGKILL);
    });
}

void LauncherModel::gameExited(int status)
{
    setPlaying(false);
    process_.reset();
    playLock_.reset();
    setStatus(installed);
    // A game ended at the user's request did not exit unexpectedly.
    if (status != 0 && !stoppingGame_)
        setError(unexpectedExit);
    stoppingGame_ = false;
}

void LauncherModel::openGuide()
{
    std::error_code ignored;
    if (seams_.guide && fs::is_regular_file(*seams_.guide, ignored))
        openLocal(*seams_.guide);
}

void LauncherModel::openLogs()
{
    const fs::path logs = installer_.root() / layout::logs;
    try {
        makeDirectory(logs);
    } catch (const std::exception&) {
        // The folder is opened all the same; the browser shows what is there.
    }
    openLocal(logs);
}

void LauncherModel::openSaves() { openLocal(installer_.prefix() / "drive_c" / "users"); }

void LauncherModel::openGameFiles() { QDesktopServices::openUrl(QUrl(QString::fromLatin1(gameFilesPage))); }

void LauncherModel::setGameURL(const QUrl& value)
{
    const bool chosenBefore = sourceChosen();
    if (!assign(gameURL_, value))
        return;
    emit gameURLChanged();
    if (sourceChosen() != chosenBefore)
        emit sourceChosenChanged();
}

void LauncherModel::setAudioURL(const QUrl& value) { if (assign(audioURL_, value)) emit audioURLChanged(); }
void LauncherModel::setBusy(bool value) { if (assign(busy_, value)) emit busyChanged(); }
void LauncherModel::setSetupStartedAt(const QDateTime& value) { if (assign(setupStartedAt_, value)) emit setupStartedAtChanged(); }
void LauncherModel::setPlaying(bool value) { if (assign(playing_, value)) emit playingChanged(); }
void LauncherModel::setReady(bool value) { if (assign(ready_, value)) emit readyChanged(); }
void LauncherModel::setStatus(const QString& value) { if (assign(status_, value)) emit statusChanged(); }
void LauncherModel::setError(const QString& value) { if (assign(error_, value)) emit errorChanged(); }
void LauncherModel::setRepairing(bool value) { if (assign(repairing_, value)) emit repairingChanged(); }
void LauncherModel::setStopping(bool value) { if (assign(stopping_, value)) emit stoppingChanged(); }
void LauncherModel::setNewlyInstalled(bool value) { if (assign(newlyInstalled_, value)) emit newlyInstalledChanged(); }
void LauncherModel::setElapsedSeconds(int value) { if (assign(elapsedSeconds_, value)) emit elapsedSecondsChanged(); }

} // namespace corvanel
