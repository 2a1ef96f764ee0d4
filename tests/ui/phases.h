#pragma once

#include "app/app_delegate.h"
#include "fixture_installation.h"

#include <QQuickItem>
#include <QString>
#include <QStringList>

#include <future>
#include <memory>

namespace corvanel::testing {

/// The window, in a temporary data folder, brought to one of the phases a user sees:
/// "fresh", "source-chosen" (with the advanced options open), "setting-up" (with a progress
/// line), "failed", "ready" and "playing". Open panels answer with files in a Downloads folder;
/// setup reports two lines and then fails ("failed") or waits for releaseSetup(); the game
/// waits for endGame().
class PhaseWindow {
public:
    static const QStringList phases;

    explicit PhaseWindow(const QString& phase);
    ~PhaseWindow();

    AppDelegate& delegate() { return *delegate_; }
    /// Lets the blocked setup run on: it ends with a finished installation.
    void releaseSetup();
    /// Ends the running game (exit status 0).
    void endGame();
    LauncherModel& model() { return delegate_->model(); }
    QQuickWindow* window() { return delegate_->window(); }
    QStringList alerts; ///< "message / informative" of every alert shown

private:
    std::unique_ptr<DataHome> home_;
    std::promise<void> release_;
    bool released_ = false;
    std::unique_ptr<AppDelegate> delegate_;
};

/// The item of the window's content named `name`; aborts the test program when there is none.
QQuickItem* findItem(QQuickWindow* window, const char* name);

/// A real mouse click in the middle of a visible item; false when it cannot be clicked.
bool click(QQuickWindow* window, const char* name);

} // namespace corvanel::testing
