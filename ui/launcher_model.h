#pragma once

#include "installer/assets/catalogue.h"
#include "installer/installer.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace corvanel {

/// What an open panel asks the user for.
struct FilePanel {
    QString title;
    QString message;
    bool folders = false; ///< folders may be chosen as well as files
    bool foldersOnly = false; ///< only a folder may be chosen
    bool newFolder = false; ///< a name not taken yet may be typed, for a folder made on first use
};

/// What the model uses from the world around it: the catalogue, the folders, the panels, the
/// setup and repair operations, the clock and the desktop. Each left at its default is the real one.
struct LauncherServices {
    Catalogue catalogue = releaseCatalogue();
    std::optional<fs::path> root; ///< none means the default root
    std::optional<fs::path> guide; ///< the setup guide page shipped with the program
    /// The file the window's choices are remembered in for the next start; none means nothing
    /// is remembered or read back. The program passes the usual settings file of this computer.
    std::optional<fs::path> settings;
    /// Runs an open panel modally; none when the user cancels.
    std::function<std::optional<QUrl>(const FilePanel&)> choose;
    /// The whole setup, run on a worker thread; none means `Installer::install`. `cache` is the
    /// downloads folder the user chose, if any.
    std::function<void(const Installer&, const fs::path& game, const std::optional<fs::path>& audio,
                       const std::optional<fs::path>& cache)>
        setup;
    /// The whole repair, run on a worker thread; none means `Installer::repair`.
    std::function<void(const Installer&, const std::optional<fs::path>& audio, const std::optional<fs::path>& cache)>
        repair;
    /// A monotonic clock for the setup timer; none means the system's steady clock.
    std::function<std::chrono::milliseconds()> clock;
    /// Asks the desktop to open a file, a folder or a web page; false when nothing on this
    /// computer opens it. None means the desktop services of the running application.
    std::function<bool(const QUrl&)> open;
};

/// The observable state behind the window: the user's selections, the phase flags and the two
/// texts shown. Setup and the wait for the game run on worker threads; every property changes
/// on the model's own thread. No operation throws.
class LauncherModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The application creates the one launcher model.")

public:
    /// Which screen the window shows. Decided here alone, from the flags, in `decidePhase`.
    enum class Phase {
        Install, ///< no installation and setup not running: choose the game and set up
        Progress, ///< setup or a repair is running
        Play, ///< a finished installation: play
        Repair, ///< an installation record whose installation lost parts: repair it
    };
    Q_ENUM(Phase)

private:
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    Q_PROPERTY(bool playing READ playing NOTIFY playingChanged)
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)
    Q_PROPERTY(QString error READ error NOTIFY errorChanged)
    Q_PROPERTY(Phase phase READ phase NOTIFY phaseChanged)
    Q_PROPERTY(bool sourceChosen READ sourceChosen NOTIFY sourceChosenChanged)
    /// One sentence naming what a recorded installation lacks; empty when nothing or no record.
    Q_PROPERTY(QString missingParts READ missingParts NOTIFY missingPartsChanged)
    /// False when the game files themselves are missing: only a new setup brings them back.
    Q_PROPERTY(bool repairable READ repairable NOTIFY missingPartsChanged)
    /// True when the repair rebuilds the Windows environment, so a local audio package helps.
    Q_PROPERTY(bool repairUsesAudio READ repairUsesAudio NOTIFY missingPartsChanged)
    /// True from a request to stop the running setup or repair until it has ended.
    Q_PROPERTY(bool stopping READ stopping NOTIFY stoppingChanged)
    /// True while the running work is a repair rather than a setup.
    Q_PROPERTY(bool repairing READ repairing NOTIFY repairingChanged)
    /// Whole seconds since set-up was pressed, counted on a monotonic clock while setup runs
    /// (a change of the system clock does not move it); kept when setup ends.
    Q_PROPERTY(QString elapsedText READ elapsedText NOTIFY elapsedSecondsChanged)
    /// True once a setup finished in this run of the launcher: the installation is new, not a return.
    Q_PROPERTY(bool newlyInstalled READ newlyInstalled NOTIFY newlyInstalledChanged)
    /// What setup will download, in two short lines, for the choices made so far.
    Q_PROPERTY(QString downloadNote READ downloadNote NOTIFY audioURLChanged)
    /// The stages of the running setup or repair, in order, one map each: title, state
    /// ("waiting", "running", "done" or "skipped"), elapsed (the stage's own time once it has
    /// started) and detail (what Wine is doing, while the stage runs; often empty).
    Q_PROPERTY(QVariantList steps READ steps NOTIFY stepsChanged)
    /// "Step 3 of 6": the running stage among the stages that run.
    Q_PROPERTY(QString stepText READ stepText NOTIFY stepsChanged)

    // Read-only helpers for the view.
    Q_PROPERTY(QString gameName READ gameName NOTIFY gameURLChanged)
    Q_PROPERTY(QString gamePath READ gamePath NOTIFY gameURLChanged)
    Q_PROPERTY(QString audioName READ audioName NOTIFY audioURLChanged)
    Q_PROPERTY(QString audioPath READ audioPath NOTIFY audioURLChanged)
    Q_PROPERTY(QString version READ version CONSTANT)
    /// The platform's words: the computer's noun ("Mac"), the system's name, its requirements.
    Q_PROPERTY(QString computerNoun READ computerNoun CONSTANT)
    Q_PROPERTY(QString systemName READ systemName CONSTANT)
    Q_PROPERTY(QString requirements READ requirements CONSTANT)
    Q_PROPERTY(QString root READ root NOTIFY rootChanged)
    /// The installation folder and the downloads folder, for display: a zero-width space after
    /// each path separator lets a long path wrap there rather than inside a name.
    Q_PROPERTY(QString shownRoot READ shownRoot NOTIFY rootChanged)
    /// True when the installation folder is the one used when none is chosen.
    Q_PROPERTY(bool defaultRoot READ defaultRoot NOTIFY rootChanged)
    /// The folder that may already hold the downloads; empty when none is chosen.
    Q_PROPERTY(QString downloadsFolder READ downloadsFolder NOTIFY downloadsFolderChanged)
    Q_PROPERTY(QString shownDownloadsFolder READ shownDownloadsFolder NOTIFY downloadsFolderChanged)

public:
    explicit LauncherModel(LauncherServices services = {}, QObject* parent = nullptr);
    ~LauncherModel() override;

    QUrl gameURL() const { return gameURL_; }
    QUrl audioURL() const { return audioURL_; }
    bool busy() const { return busy_; }
    bool playing() const { return playing_; }
    bool ready() const { return ready_; }
    QString status() const { return status_; }
    QString error() const { return error_; }
    Phase phase() const { return phase_; }
    bool sourceChosen() const { return !gameURL_.isEmpty(); }
    QString missingParts() const { return missingParts_; }
    bool repairable() const { return repairable_; }
    bool repairUsesAudio() const { return repairUsesAudio_; }
    bool repairing() const { return repairing_; }
    bool stopping() const { return stopping_; }
    int elapsedSeconds() const { return elapsedSeconds_; }
    /// `elapsedSeconds` as a short duration such as 1m 5s.
    QString elapsedText() const;
    bool newlyInstalled() const { return newlyInstalled_; }
    QString downloadNote() const;
    QVariantList steps() const;
    QString stepText() const;

    QString gameName() const;
    QString gamePath() const;
    QString audioName() const;
    QString audioPath() const;
    QString version() const;
    QString computerNoun() const;
    QString systemName() const;
    QString requirements() const;
    QString root() const;
    QString shownRoot() const;
    bool defaultRoot() const;
    QString downloadsFolder() const { return downloadsFolder_; }
    QString shownDownloadsFolder() const;

    static constexpr const char* gameFilesPage = "https://cartographer.online/install/";

public slots:
    void selectGame();
    void selectAudio();
    /// Drops the chosen audio package: setup downloads the decoder itself.
    void useAutomaticAudio();
    void install();
    /// Rebuilds what a recorded installation lacks, in the background like setup.
    void repair();
    /// Stops the running setup or repair: its program's whole process group is ended, what was
    /// being built is removed and the lock released; what was finished stays for the next run.
    void stop();
    void play();
    /// Ends the running game's whole process group: asked to end first, killed if it has not
    /// within a few seconds. The lock goes once the game has ended, as after any end.
    void stopGame();
    void openGuide();
    void openLogs();
    void openSaves();
    void openGameFiles();
    /// Asks for an installation folder: an empty folder or an existing Corvanel folder is
    /// taken, remembered for the next start and its installed state read; anything else is
    /// refused with the reason and changes nothing. Not while setup runs or the game plays.
    void chooseInstallationFolder();
    /// Goes back to the installation folder used when none is chosen, and forgets the choice.
    void useDefaultInstallationFolder();
    /// Asks for a folder that may already hold the downloads, as the command line's cache.
    void chooseDownloadsFolder();
    void forgetDownloadsFolder();
    /// For lost game files: removes the installation record (only that file; a link in its
    /// place is removed, never followed) and shows the setup screen with the last source
    /// chosen again. The saves and everything else in the folder stay.
    void setUpAgain();
    /// Reads the end of the setup log for the window's own log view, which `setupLogShown`
    /// opens; never through the desktop, never waiting on what stands in the log's place.
    void showSetupLog();

signals:
    void gameURLChanged();
    void audioURLChanged();
    void busyChanged();
    void playingChanged();
    void readyChanged();
    void statusChanged();
    void errorChanged();
    void phaseChanged();
    void sourceChosenChanged();
    void missingPartsChanged();
    void repairingChanged();
    void stoppingChanged();
    void elapsedSecondsChanged();
    void newlyInstalledChanged();
    void rootChanged();
    void downloadsFolderChanged();
    void stepsChanged();
    /// The last lines of the setup log, newest last, and a sentence when there is nothing to
    /// show or the log cannot be read (then `text` is empty).
    void setupLogShown(const QString& text, const QString& note);
    /// Nothing on this computer opened `path` (a file, folder or web address): the window shows
    /// it with `heading` and `advice` so the user can copy it.
    void openFailed(const QString& heading, const QString& advice, const QString& path);

private:
    void setGameURL(const QUrl& value);
    void setAudioURL(const QUrl& value);
    void setBusy(bool value);
    void setPlaying(bool value);
    void setReady(bool value);
    void setStatus(const QString& value);
    void setError(const QString& value);
    void setElapsedSeconds(int value);
    void setRepairing(bool value);
    void setStopping(bool value);
    void setNewlyInstalled(bool value);
    Phase decidePhase() const;
    void updatePhase();
    /// Reads the installation afresh: `ready` and what is missing.
    void surveyInstallation();
    /// The status line that belongs to the current phase when nothing else is being reported.
    QString restingStatus() const;
    /// Brings the status before setup in line with the audio choice just made.
    void showAudioChoice();
    void tickSetupClock();
    /// Starts `work` on a worker thread with an Installer of its own on the model's root; `ended`
    /// then receives its failure's message, or an empty text after success.
    void runInBackground(std::function<void(const Installer&)> work, void (LauncherModel::*ended)(const QString&));
    void setupEnded(const QString& failure);
    void repairEnded(const QString& failure);
    void gameExited(int status);
    /// Uses `root` as the installation folder from now on, or the default one when none.
    void switchRoot(const std::optional<fs::path>& root);
    /// What was remembered under `key` at an earlier start; empty when nothing was, or when no
    /// settings file is given.
    QString rememberedValue(const QString& key) const;
    /// Keeps `value` under `key` for the next start; an empty value forgets the key.
    void remember(const QString& key, const QString& value) const;
    /// The downloads folder to hand to setup or repair; none when none is chosen.
    std::optional<fs::path> cache() const;
    /// Every stage waiting again, for a new setup or repair.
    void resetStages();
    void stageMoved(const StageEvent& event);
    /// Tells observers when the running stage's whole seconds have moved on.
    void tickStageClock();
    /// Opens `url` through the desktop, or has the window show it for copying.
    void openOrShow(const QUrl& url, const QString& heading, const QString& advice);

    LauncherServices services_;
    Installer installer_;
    QUrl gameURL_;
    QUrl audioURL_;
    bool busy_ = false;
    bool playing_ = false;
    bool ready_ = false;
    QString status_;
    QString error_;
    Phase phase_ = Phase::Install;
    QString missingParts_;
    bool repairable_ = true;
    bool repairUsesAudio_ = false;
    bool repairing_ = false;
    bool stopping_ = false;
    bool stoppingGame_ = false;
    /// Read by the running work's installer; a new one for every run.
    std::shared_ptr<std::atomic<bool>> stopRequest_;
    int elapsedSeconds_ = 0;
    bool newlyInstalled_ = false;
    std::chrono::milliseconds setupStartedOnClock_{};
    QTimer setupClock_;
    std::shared_ptr<ChildProcess> process_;
    std::optional<InstallLock> playLock_;
    QString downloadsFolder_;

    /// Where one stage of the running setup or repair stands, on the setup clock.
    struct StageProgress {
        enum class State { Waiting, Running, Done, Skipped } state = State::Waiting;
        std::chrono::milliseconds started{};
        std::optional<std::chrono::milliseconds> ended;
        QString detail;
    };
    std::array<StageProgress, std::size(setupStages)> stages_;
    long long shownStageSeconds_ = -1;
};

/// The open panel of the running application (a file dialog).
std::optional<QUrl> runFilePanel(const FilePanel& panel);

} // namespace corvanel
