#include "ui/launcher_model.h"

#include "installer/display_text.h"
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
#include <QSettings>
#include <QThread>
#include <QThreadPool>
#include <QVariantMap>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
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
const QString repairPrompt = QStringLiteral(
    "Parts of your installation are missing. Press Repair to restore them; your game and saves stay as they are.");
const QString setUpAgainPrompt
    = QStringLiteral("Your game files need to be set up again. Press Set up again; your saves are kept.");
const QString repairNeedsAttention = QStringLiteral("Repair needs attention. Your game and saves are unchanged.");
const QString stoppingWork = QStringLiteral("Stopping. The running step is being ended and tidied up.");
const QString setupStopped = QString::fromUtf8(setupStoppedMessage);
const QString repairStopped = QString::fromUtf8(repairStoppedMessage);
const QString launchNeedsRepair = QStringLiteral(
    "Halo 2 could not start because parts of its installation are missing. Press Repair to restore them.");
const QString openFolderYourself = QStringLiteral("Open this folder yourself");
const QString openPageYourself = QStringLiteral("Open this page yourself");
const QString noFolderOpener = QStringLiteral(
    "Nothing on this computer opens folders for Corvanel. Copy the path below and open it in your file manager.");
const QString noPageOpener = QStringLiteral(
    "Nothing on this computer opens pages for Corvanel. Copy the path below and open it in your web browser.");
const QString noWebOpener = QStringLiteral(
    "Nothing on this computer opens web pages for Corvanel. Copy the address below and open it in your web browser.");
const QString nothingLogged
    = QStringLiteral("Nothing has been logged yet. The setup log starts with the next setup or repair.");
const QString launchNeedsGameFiles = QStringLiteral(
    "Halo 2 could not start because its game files are missing. Press Set up again above; your saves are kept.");

// Where the window's choices are kept between starts.
const QString installationFolderKey = QStringLiteral("installationFolder");
const QString lastSourceKey = QStringLiteral("lastSource");

QString text(const std::string& value)
{
    return QString::fromStdString(value);
}

fs::path localPath(const QUrl& url)
{
    return fs::path(url.toLocalFile().toStdString());
}

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

/// How much of the setup log's end the log view reads: the lines it shows, and the bytes it
/// reads them from (enough for that many lines of any length setup writes).
constexpr std::size_t logViewLines = 2000;
constexpr std::size_t logViewBytes = 1 << 20;

/// How long a game asked to end has before it is killed, in milliseconds.
constexpr int gameStopGrace = 3000;

/// Runs `step` on the GUI thread, later, and only while the model still exists. The weak
/// pointer is read on the GUI thread alone, where the model is deleted.
template <typename Step> void deliver(const QPointer<LauncherModel>& model, Step step)
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
template <typename T> bool assign(T& member, const T& value)
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

/// `path` with a zero-width space after each separator, so that a long path wraps at a
/// separator rather than inside a folder's name.
QString breakableAtSeparators(const QString& path)
{
    QString shown = path;
    return shown.replace(QLatin1Char('/'), QStringLiteral("/\u200B"));
}

QUrl localURL(const fs::path& path)
{
    return QUrl::fromLocalFile(text(path.string()));
}

} // namespace

LauncherModel::LauncherModel(LauncherServices services, QObject* parent)
    : QObject(parent)
    , services_(std::move(services))
    , installer_(services_.root, {}, services_.catalogue)
{
    if (!services_.choose)
        services_.choose = runFilePanel;
    if (!services_.setup)
        services_.setup = [](const Installer& installer, const fs::path& game, const std::optional<fs::path>& audio,
                             const std::optional<fs::path>& cache) { installer.install(game, audio, cache); };
    if (!services_.repair)
        services_.repair = [](const Installer& installer, const std::optional<fs::path>& audio,
                              const std::optional<fs::path>& cache) { installer.repair(audio, cache); };
    if (!services_.open)
        services_.open = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    if (!services_.clock)
        services_.clock = [] {
            return std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now().time_since_epoch());
        };
    const QString remembered = rememberedValue(installationFolderKey);
    if (!remembered.isEmpty() && !services_.root)
        installer_ = Installer(localPath(QUrl::fromLocalFile(remembered)), {}, services_.catalogue);
    surveyInstallation();
    phase_ = decidePhase();
    status_ = restingStatus();
    setupClock_.setInterval(clockReadInterval);
    connect(&setupClock_, &QTimer::timeout, this, &LauncherModel::tickSetupClock);
}

LauncherModel::~LauncherModel() = default;

QString LauncherModel::gameName() const
{
    return shownName(gameURL_);
}
QString LauncherModel::gamePath() const
{
    return gameURL_.toLocalFile();
}
QString LauncherModel::audioName() const
{
    return shownName(audioURL_);
}
QString LauncherModel::audioPath() const
{
    return audioURL_.toLocalFile();
}
QString LauncherModel::version() const
{
    return text(std::string(Installer::version));
}
QString LauncherModel::computerNoun() const
{
    return text(platform::computerNoun());
}
QString LauncherModel::systemName() const
{
    return text(platform::systemName());
}
QString LauncherModel::requirements() const
{
    return text(platform::requirements());
}
QString LauncherModel::root() const
{
    return text(installer_.root().string());
}
QString LauncherModel::shownRoot() const
{
    return breakableAtSeparators(root());
}
QString LauncherModel::shownDownloadsFolder() const
{
    return breakableAtSeparators(downloadsFolder_);
}

bool LauncherModel::defaultRoot() const
{
    return installer_.root() == (services_.root ? *services_.root : platform::defaultRoot());
}

QString LauncherModel::elapsedText() const
{
    return text(elapsed(elapsedSeconds_));
}

QString LauncherModel::downloadNote() const
{
    const bool audioChosen = !audioURL_.isEmpty();
    if (installer_.usesSystemWine())
        return audioChosen
            ? QStringLiteral("Nothing to download\nUses the audio package you chose")
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
    const auto sinceStart = services_.clock() - setupStartedOnClock_;
    setElapsedSeconds(static_cast<int>(std::max<std::int64_t>(0, sinceStart.count() / 1000)));
    tickStageClock();
}

void LauncherModel::resetStages()
{
    stages_ = {};
    shownStageSeconds_ = -1;
    emit stepsChanged();
}

void LauncherModel::stageMoved(const StageEvent& event)
{
    using State = StageProgress::State;
    const auto index = static_cast<std::size_t>(event.stage);
    if (index >= stages_.size())
        return;
    StageProgress& stage = stages_[index];
    const auto now = services_.clock();
    switch (event.kind) {
    case StageEvent::Kind::Started:
        stage = {.state = State::Running, .started = now};
        shownStageSeconds_ = 0;
        break;
    case StageEvent::Kind::Detail:
        stage.detail = text(event.detail);
        break;
    case StageEvent::Kind::Finished:
        stage.state = State::Done;
        stage.ended = now;
        stage.detail.clear();
        break;
    case StageEvent::Kind::Skipped:
        stage = {.state = State::Skipped};
        break;
    }
    emit stepsChanged();
}

void LauncherModel::tickStageClock()
{
    const auto running = std::find_if(stages_.begin(), stages_.end(), [](const StageProgress& stage) {
        return stage.state == StageProgress::State::Running && !stage.ended;
    });
    if (running == stages_.end())
        return;
    const long long seconds = (services_.clock() - running->started).count() / 1000;
    if (assign(shownStageSeconds_, seconds))
        emit stepsChanged();
}

QVariantList LauncherModel::steps() const
{
    using State = StageProgress::State;
    const auto now = services_.clock();
    QVariantList list;
    for (std::size_t index = 0; index < stages_.size(); ++index) {
        const StageProgress& stage = stages_[index];
        const bool started = stage.state == State::Running || stage.state == State::Done;
        const auto took = stage.ended.value_or(now) - stage.started;
        const char* state = stage.state == State::Running ? "running"
            : stage.state == State::Done                  ? "done"
            : stage.state == State::Skipped               ? "skipped"
                                                          : "waiting";
        list.append(QVariantMap{
            {QStringLiteral("title"), text(std::string(stageTitle(setupStages[index])))},
            {QStringLiteral("state"), QString::fromLatin1(state)},
            {QStringLiteral("elapsed"), started ? text(elapsed(static_cast<double>(took.count()) / 1000)) : QString()},
            {QStringLiteral("detail"), stage.state == State::Running ? stage.detail : QString()},
        });
    }
    return list;
}

QString LauncherModel::stepText() const
{
    int total = 0;
    int current = 0;
    int done = 0;
    for (const StageProgress& stage : stages_) {
        if (stage.state == StageProgress::State::Skipped)
            continue;
        ++total;
        if (stage.state == StageProgress::State::Running && current == 0)
            current = total;
        if (stage.state == StageProgress::State::Done)
            ++done;
    }
    if (total == 0)
        return {};
    if (current == 0)
        current = std::min(done + 1, total);
    return QStringLiteral("Step %1 of %2").arg(current).arg(total);
}

void LauncherModel::selectGame()
{
    const auto chosen = services_.choose({
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
    const auto chosen = services_.choose({
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

    runInBackground([setup = services_.setup, game, audio,
                     cache = cache()](const Installer& installer) { setup(installer, game, audio, cache); },
                    &LauncherModel::setupEnded);
}

void LauncherModel::repair()
{
    if (busy_ || phase_ != Phase::Repair)
        return;
    const std::optional<fs::path> audio = audioURL_.isEmpty() ? std::nullopt : std::optional(localPath(audioURL_));
    setRepairing(true);
    runInBackground([repair = services_.repair, audio,
                     cache = cache()](const Installer& installer) { repair(installer, audio, cache); },
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

void LauncherModel::runInBackground(std::function<void(const Installer&)> work,
                                    void (LauncherModel::*ended)(const QString&))
{
    setError({});
    auto stop = std::make_shared<std::atomic<bool>>(false);
    stopRequest_ = stop;
    setupStartedOnClock_ = services_.clock();
    setElapsedSeconds(0);
    resetStages();
    setupClock_.start();
    setBusy(true);
    updatePhase();

    QThreadPool::globalInstance()->start([model = QPointer(this), root = installer_.root(),
                                          catalogue = services_.catalogue, work = std::move(work), ended, stop]() {
        try {
            const auto progress = [model, stop](const std::string& line) {
                deliver(model, [line = text(line), stop](LauncherModel& launcher) {
                    if (!stop->load())
                        launcher.setStatus(line);
                });
            };
            Installer installer(root, progress, catalogue);
            installer.setStopRequest([stop] { return stop->load(); });
            installer.setStageReport([model](const StageEvent& event) {
                deliver(model, [event](LauncherModel& launcher) { launcher.stageMoved(event); });
            });
            work(installer);
            deliver(model, [ended](LauncherModel& launcher) { (launcher.*ended)({}); });
        } catch (const std::exception& failure) {
            deliver(model, [ended, message = text(describe(failure))](LauncherModel& launcher) {
                (launcher.*ended)(message);
            });
        }
    });
}

/// The end of a setup run: `failure` is its message, or empty after success. The phase
/// changes last, once the texts it shows are in place.
void LauncherModel::setupEnded(const QString& failure)
{
    tickSetupClock();
    setupClock_.stop();
    for (StageProgress& stage : stages_)
        if (stage.state == StageProgress::State::Running && !stage.ended)
            stage.ended = services_.clock();
    setBusy(false);
    const bool stopped = stopping_;
    setStopping(false);
    if (failure.isEmpty()) {
        // Set up again offers the source of the last setup that finished, not of an attempt.
        remember(lastSourceKey, gameURL_.toLocalFile());
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
    for (StageProgress& stage : stages_)
        if (stage.state == StageProgress::State::Running && !stage.ended)
            stage.ended = services_.clock();
    setBusy(false);
    setRepairing(false);
    const bool stopped = stopping_;
    setStopping(false);
    surveyInstallation();
    if (failure.isEmpty()) {
        setStatus(restingStatus());
    } else if (stopped) {
        setStatus(repairStopped);
    } else if (decidePhase() == Phase::Repair && !repairable_) {
        // The game files went while the repair ran: the window's own button is the way on.
        setError(setUpAgainPrompt);
        setStatus(repairNeedsAttention);
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

void LauncherModel::openOrShow(const QUrl& url, const QString& heading, const QString& advice)
{
    if (!services_.open(url))
        emit openFailed(heading, advice, url.isLocalFile() ? url.toLocalFile() : url.toString());
}

void LauncherModel::openGuide()
{
    std::error_code ignored;
    if (services_.guide && fs::is_regular_file(*services_.guide, ignored))
        openOrShow(localURL(*services_.guide), openPageYourself, noPageOpener);
}

void LauncherModel::openLogs()
{
    const fs::path logs = installer_.root() / layout::logs;
    try {
        makeDirectory(logs);
    } catch (const std::exception&) {
        // The folder is opened all the same; the browser shows what is there.
    }
    openOrShow(localURL(logs), openFolderYourself, noFolderOpener);
}

void LauncherModel::openSaves()
{
    openOrShow(localURL(installer_.prefix() / "drive_c" / "users"), openFolderYourself, noFolderOpener);
}

void LauncherModel::openGameFiles()
{
    openOrShow(QUrl(QString::fromLatin1(gameFilesPage)), openPageYourself, noWebOpener);
}

void LauncherModel::showSetupLog()
{
    const fs::path log = installer_.log();
    try {
        const QString tail = QString::fromUtf8(readLogTail(log, logViewLines, logViewBytes));
        emit setupLogShown(tail, tail.isEmpty() ? nothingLogged : QString());
    } catch (const SetupFailure&) {
        std::error_code unreadable;
        if (fs::is_symlink(log.parent_path(), unreadable))
            emit setupLogShown({},
                               "The setup log cannot be shown because its folder " + text(shownPath(log.parent_path()))
                                   + " is a link, not a folder of its own. Remove the link; the next setup or "
                                     "repair starts a new log.");
        else
            emit setupLogShown({},
                               "The setup log cannot be shown because something other than a plain file stands at "
                                   + text(shownPath(log)) + ". Remove it; the next setup or repair starts a new log.");
    } catch (const std::exception&) {
        emit setupLogShown({},
                           "The setup log at " + text(shownPath(log))
                               + " cannot be read. Check that your account may read it, then try again.");
    }
}

QString LauncherModel::rememberedValue(const QString& key) const
{
    if (!services_.settings)
        return {};
    return QSettings(text(services_.settings->string()), QSettings::IniFormat).value(key).toString();
}

void LauncherModel::remember(const QString& key, const QString& value) const
{
    if (!services_.settings)
        return;
    QSettings settings(text(services_.settings->string()), QSettings::IniFormat);
    if (value.isEmpty())
        settings.remove(key);
    else
        settings.setValue(key, value);
}

std::optional<fs::path> LauncherModel::cache() const
{
    if (downloadsFolder_.isEmpty())
        return std::nullopt;
    return localPath(QUrl::fromLocalFile(downloadsFolder_));
}

void LauncherModel::switchRoot(const std::optional<fs::path>& root)
{
    installer_ = Installer(root ? root : services_.root, {}, services_.catalogue);
    emit rootChanged();
    surveyInstallation();
    setError({});
    setStatus(restingStatus());
    updatePhase();
}

void LauncherModel::chooseInstallationFolder()
{
    if (busy_ || playing_)
        return;
    const auto chosen = services_.choose({
        .title = QStringLiteral("Choose the installation folder"),
        .message = QStringLiteral("Choose an empty folder or an existing Corvanel folder. Corvanel keeps the game, its "
                                  "Windows environment and your saves there."),
        .folders = true,
        .foldersOnly = true,
        .newFolder = true,
    });
    if (!chosen)
        return;
    const fs::path folder = localPath(*chosen);
    try {
        std::error_code error;
        if (fs::exists(folder, error) && !fs::is_directory(folder, error))
            throw SetupFailure("The installation folder must be a folder, and " + shownPath(folder)
                               + " is a file. Choose an empty folder or an existing Corvanel folder.");
        Installer(folder, {}, services_.catalogue).requireUsableRoot();
    } catch (const std::exception& failure) {
        setError(text(describe(failure)));
        return;
    }
    remember(installationFolderKey, chosen->toLocalFile());
    switchRoot(folder);
}

void LauncherModel::useDefaultInstallationFolder()
{
    if (busy_ || playing_ || defaultRoot())
        return;
    remember(installationFolderKey, {});
    switchRoot(std::nullopt);
}

void LauncherModel::chooseDownloadsFolder()
{
    if (busy_)
        return;
    const auto chosen = services_.choose({
        .title = QStringLiteral("Choose your downloads folder"),
        .message = QStringLiteral("Choose a folder that already holds the files setup downloads. Corvanel checks each "
                                  "file there and downloads only what is missing."),
        .folders = true,
        .foldersOnly = true,
    });
    if (!chosen || !assign(downloadsFolder_, chosen->toLocalFile()))
        return;
    emit downloadsFolderChanged();
}

void LauncherModel::forgetDownloadsFolder()
{
    if (!busy_ && assign(downloadsFolder_, QString()))
        emit downloadsFolderChanged();
}

void LauncherModel::setUpAgain()
{
    if (busy_ || playing_ || phase_ != Phase::Repair || repairable_)
        return;
    try {
        // Another launcher may be setting up or playing from this folder.
        const InstallLock lock(installer_.lockFile());
        // The screen may be older than the folder: game files put back since then keep their record.
        surveyInstallation();
        if (ready_ || repairable_) {
            setStatus(restingStatus());
            updatePhase();
            return;
        }
        // unlink removes a link in the record's place as a link and refuses a folder.
        if (::unlink(installer_.record().c_str()) != 0 && errno != ENOENT)
            throw SetupFailure("The installation record " + shownPath(installer_.record())
                               + " could not be removed: " + std::strerror(errno)
                               + ". Move it out of the installation folder, then press Set up again.");
    } catch (const std::exception& failure) {
        setError(text(describe(failure)));
        return;
    }
    const QString source = gameURL_.isEmpty() ? rememberedValue(lastSourceKey) : gameURL_.toLocalFile();
    if (!source.isEmpty() && QFileInfo::exists(source))
        setGameURL(QUrl::fromLocalFile(source));
    surveyInstallation();
    setError({});
    setStatus(restingStatus());
    updatePhase();
}

void LauncherModel::setGameURL(const QUrl& value)
{
    const bool chosenBefore = sourceChosen();
    if (!assign(gameURL_, value))
        return;
    emit gameURLChanged();
    if (sourceChosen() != chosenBefore)
        emit sourceChosenChanged();
}

void LauncherModel::setAudioURL(const QUrl& value)
{
    if (assign(audioURL_, value))
        emit audioURLChanged();
}
void LauncherModel::setBusy(bool value)
{
    if (assign(busy_, value))
        emit busyChanged();
}
void LauncherModel::setPlaying(bool value)
{
    if (assign(playing_, value))
        emit playingChanged();
}
void LauncherModel::setReady(bool value)
{
    if (assign(ready_, value))
        emit readyChanged();
}
void LauncherModel::setStatus(const QString& value)
{
    if (assign(status_, value))
        emit statusChanged();
}
void LauncherModel::setError(const QString& value)
{
    if (assign(error_, value))
        emit errorChanged();
}
void LauncherModel::setRepairing(bool value)
{
    if (assign(repairing_, value))
        emit repairingChanged();
}
void LauncherModel::setStopping(bool value)
{
    if (assign(stopping_, value))
        emit stoppingChanged();
}
void LauncherModel::setNewlyInstalled(bool value)
{
    if (assign(newlyInstalled_, value))
        emit newlyInstalledChanged();
}
void LauncherModel::setElapsedSeconds(int value)
{
    if (assign(elapsedSeconds_, value))
        emit elapsedSecondsChanged();
}

} // namespace corvanel
