#pragma once

#include "app/app_delegate.h"
#include "fixture_installation.h"

#include <QQuickItem>
#include <QSize>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>

namespace corvanel::test_support {

/// How the window is shown before it is brought to its phase.
struct PhaseOptions {
    QSize size{940, 760};
    bool advanced = false; ///< the advanced options open
    bool manualClock = false; ///< the setup clock moves only by advanceClock()
    bool noOpener = false; ///< nothing on this computer opens files, folders or pages
};

/// The window, in a temporary data folder, brought to one of the phases a user sees:
/// "fresh", "source-chosen" (with an audio package), "setting-up" (with a progress line, in
/// the import), "setting-up-environment" (later: Wine applies settings in the Windows environment),
/// "failed", "ready", "playing", "repair" (an installation that lost its runtime and audio
/// decoder) and "repair-game-files" (one that lost the game's executable). Open panels answer
/// with files in a Downloads folder; setup reports two lines and then fails ("failed") or waits
/// for releaseSetup() or failSetup(); a repair does the same, and the game waits for endGame().
class PhaseWindow {
public:
    static const QStringList phases;

    explicit PhaseWindow(const QString& phase, PhaseOptions options = {});
    ~PhaseWindow();

    AppDelegate& delegate() { return *delegate_; }
    /// Lets the blocked setup run on: it ends with a finished installation.
    void releaseSetup();
    /// Ends the blocked setup with the failure `failure`.
    void failSetup();
    /// Ends the running game (exit status 0).
    void endGame();
    /// Waits until the window's layout has caught up with the model's latest change.
    void settle();
    /// Moves the manual setup clock on.
    void advanceClock(std::chrono::milliseconds by) { clock_ += by.count(); }
    LauncherModel& model() { return delegate_->model(); }
    QQuickWindow* window() { return delegate_->window(); }
    QStringList alerts; ///< "message / informative" of every alert shown

    static const QString failure; ///< the message of a failed setup
    static const QString repairFailure; ///< the message of a failed repair

private:
    std::unique_ptr<DataHome> home_;
    std::promise<bool> release_; ///< true: the setup fails
    bool released_ = false;
    std::atomic<long long> clock_{0};
    std::unique_ptr<AppDelegate> delegate_;
};

/// The item of the window's content named `name`; aborts the test program when there is none.
QQuickItem* findItem(QQuickWindow* window, const char* name);

/// A real mouse click in the middle of a visible item; false when it cannot be clicked.
bool click(QQuickWindow* window, const char* name);

/// The part of the window in which the content column is seen, in window coordinates.
QRectF contentViewport(QQuickWindow* window);

/// `item`'s rectangle in window coordinates.
QRectF sceneRect(QQuickItem* item);

} // namespace corvanel::test_support
