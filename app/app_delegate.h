#pragma once

#include "ui/launcher_model.h"

#include <QObject>
#include <QPointer>
#include <QQmlApplicationEngine>
#include <QQuickWindow>

#include <functional>

namespace corvanel {

/// What the window's menu asks of the application; the window emits these, the delegate answers.
class MenuRequests : public QObject {
    Q_OBJECT
signals:
    void aboutRequested();
    void quitRequested();
};

/// Owns everything of the window mode: the one model, the window with its menu, and the quit
/// guard that refuses to end the application while setup or the game runs.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    /// Shows an alert with one button: a message and an informative text.
    using Alert = std::function<void(const QString& message, const QString& informative)>;

    /// `alert` replaces the window's own alert (tests observe it that way).
    explicit AppDelegate(LauncherServices services, Alert alert = {}, QObject* parent = nullptr);
    ~AppDelegate() override;

    LauncherModel& model() { return *model_; }
    QQuickWindow* window() const { return window_; }

    /// The quit guard: true when the application may end now; otherwise explains why not in an
    /// alert and brings the window back.
    bool shouldTerminate();

    /// The window's alert: a card in the launcher's look over the window, until OK is pressed.
    void showAlert(const QString& message, const QString& informative);

public slots:
    /// About, over the window, once the menu it was chosen from has closed.
    void showAbout();
    /// The menu's and the shortcut's quit: ends the application unless the guard refuses.
    void quit();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    LauncherModel* model_;
    Alert alert_;
    MenuRequests requests_;
    QQmlApplicationEngine engine_;
    QPointer<QQuickWindow> window_;
};

/// Gives the application the launcher's dark look and fonts. Call once the application object
/// exists, before the first window.
void prepareApplication();

} // namespace corvanel
