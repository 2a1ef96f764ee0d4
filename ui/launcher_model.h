#pragma once

#include "installer/assets/catalogue.h"
#include "installer/installer.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

#include <functional>
#include <memory>
#include <optional>

namespace corvanel {

/// What an open panel asks the user for.
struct FilePanel {
    QString title;
    QString message;
    bool folders = false; ///< folders may be chosen as well as files
};

/// The outside world of the model: everything a test replaces.
struct LauncherSeams {
    Catalogue catalogue = releaseCatalogue();
    std::optional<fs::path> root;     ///< none means the default root
    std::optional<fs::path> guide;    ///< the setup guide page shipped with the program
    /// Runs an open panel modally; none when the user cancels.
    std::function<std::optional<QUrl>(const FilePanel&)> choose;
    /// The whole setup, run on a worker thread; none means `Installer::install` with no cache.
    std::function<void(const Installer&, const fs::path& game, const std::optional<fs::path>& audio)> setup;
};

/// The observable state behind the window: the user's selections, the phase flags and the two
/// texts shown. Setup and the wait for the game run on worker threads; every property changes
/// on the model's own thread. No operation throws.
class LauncherModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The application creates the one launcher model.")

    Q_PROPERTY(QUrl gameURL READ gameURL NOTIFY gameURLChanged)
    Q_PROPERTY(QUrl audioURL READ audioURL NOTIFY audioURLChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    Q_PROPERTY(QDateTime setupStartedAt READ setupStartedAt NOTIFY setupStartedAtChanged)
    Q_PROPERTY(bool playing READ playing NOTIFY playingChanged)
    Q_PROPERTY(bool ready READ ready NOTIFY readyChanged)
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)
    Q_PROPERTY(QString error READ error NOTIFY errorChanged)

    // Read-only helpers for the view.
    Q_PROPERTY(QString gameName READ gameName NOTIFY gameURLChanged)
    Q_PROPERTY(QString gamePath READ gamePath NOTIFY gameURLChanged)
    Q_PROPERTY(QString audioName READ audioName NOTIFY audioURLChanged)
    Q_PROPERTY(QString audioPath READ audioPath NOTIFY audioURLChanged)
    Q_PROPERTY(QString version READ version CONSTANT)
    Q_PROPERTY(QString root READ root CONSTANT)
    Q_PROPERTY(QString prefix READ prefix CONSTANT)

public:
    explicit LauncherModel(LauncherSeams seams = {}, QObject* parent = nullptr);
    ~LauncherModel() override;

    QUrl gameURL() const { return gameURL_; }
    QUrl audioURL() const { return audioURL_; }
    bool busy() const { return busy_; }
    QDateTime setupStartedAt() const { return setupStartedAt_; }
    bool playing() const { return playing_; }
    bool ready() const { return ready_; }
    QString status() const { return status_; }
    QString error() const { return error_; }

    QString gameName() const;
    QString gamePath() const;
    QString audioName() const;
    QString audioPath() const;
    QString version() const;
    QString root() const;
    QString prefix() const;

    /// The progress clock: the time from `start` (or from `now` when there is no start) to
    /// `now`, as a short duration such as 1m 5s.
    Q_INVOKABLE static QString elapsedText(const QDateTime& start, const QDateTime& now);

    static constexpr const char* gameFilesPage = "https://cartographer.online/install/";

public slots:
    void selectGame();
    void selectAudio();
    /// Drops the chosen audio package: setup downloads the decoder itself.
    void useAutomaticAudio();
    void install();
    void play();
    void openGuide();
    void openLogs();
    void openSaves();
    void openGameFiles();

signals:
    void gameURLChanged();
    void audioURLChanged();
    void busyChanged();
    void setupStartedAtChanged();
    void playingChanged();
    void readyChanged();
    void statusChanged();
    void errorChanged();

private:
    void setGameURL(const QUrl& value);
    void setAudioURL(const QUrl& value);
    void setBusy(bool value);
    void setSetupStartedAt(const QDateTime& value);
    void setPlaying(bool value);
    void setReady(bool value);
    void setStatus(const QString& value);
    void setError(const QString& value);
    void gameExited(int status);

    LauncherSeams seams_;
    Installer installer_;
    QUrl gameURL_;
    QUrl audioURL_;
    bool busy_ = false;
    QDateTime setupStartedAt_;
    bool playing_ = false;
    bool ready_ = false;
    QString status_;
    QString error_;
    std::shared_ptr<ChildProcess> process_;
    std::optional<InstallLock> playLock_;
};

/// The open panel of the running application (a file dialog).
std::optional<QUrl> runFilePanel(const FilePanel& panel);

} // namespace corvanel
