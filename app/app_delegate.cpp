#include "app/app_delegate.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>

namespace corvanel {

AppDelegate::AppDelegate(LauncherServices services, Alert alert, QObject* parent)
    : QObject(parent)
    , model_(new LauncherModel(std::move(services), this))
    , alert_(std::move(alert))
{
    if (!alert_)
        alert_ = [this](const QString& message, const QString& informative) { showAlert(message, informative); };
    engine_.addImportPath(QStringLiteral("qrc:/qt/qml"));
    engine_.setInitialProperties({{QStringLiteral("model"), QVariant::fromValue(model_)},
                                  {QStringLiteral("requests"), QVariant::fromValue<QObject*>(&requests_)}});
    engine_.load(QUrl(QStringLiteral("qrc:/qt/qml/Corvanel/Main.qml")));
    if (engine_.rootObjects().isEmpty())
        return;

    window_ = qobject_cast<QQuickWindow*>(engine_.rootObjects().front());
    connect(&requests_, &MenuRequests::aboutRequested, this, &AppDelegate::showAbout);
    connect(&requests_, &MenuRequests::quitRequested, this, &AppDelegate::quit);
    window_->installEventFilter(this);
    // The quit guard's alert says what still runs; once nothing does, it has nothing left to say.
    const auto closeStaleAlert = [this] {
        if (!model_->busy() && !model_->playing() && window_)
            QMetaObject::invokeMethod(window_, "closeAlert");
    };
    connect(model_, &LauncherModel::busyChanged, this, closeStaleAlert);
    connect(model_, &LauncherModel::playingChanged, this, closeStaleAlert);
    QCoreApplication::instance()->installEventFilter(this);

    if (QScreen* screen = window_->screen()) {
        const QRect area = screen->availableGeometry();
        window_->setPosition(area.center() - QPoint(window_->width() / 2, window_->height() / 2));
    }
    window_->show();
    window_->raise();
    window_->requestActivate();
}

AppDelegate::~AppDelegate()
{
    if (QCoreApplication* application = QCoreApplication::instance())
        application->removeEventFilter(this);
}

bool AppDelegate::shouldTerminate()
{
    if (!model_->busy() && !model_->playing())
        return true;
    if (model_->busy() && model_->repairing())
        alert_(QStringLiteral("Repair is still running"),
               QStringLiteral("Let the repair finish, or press Cancel, before quitting the launcher."));
    else if (model_->busy())
        alert_(QStringLiteral("Setup is still running"),
               QStringLiteral("Let setup finish, or press Cancel, before quitting the launcher."));
    else
        alert_(QStringLiteral("Halo 2 is still running"),
               QStringLiteral("Save and quit Halo 2 before quitting the launcher."));
    if (window_) {
        window_->show();
        window_->raise();
        window_->requestActivate();
    }
    return false;
}

void AppDelegate::quit()
{
    if (shouldTerminate())
        QCoreApplication::exit(0);
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event)
{
    const bool windowClose = watched == window_ && event->type() == QEvent::Close;
    const bool applicationQuit = watched == QCoreApplication::instance() && event->type() == QEvent::Quit;
    if ((windowClose || applicationQuit) && !shouldTerminate()) {
        event->ignore();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void AppDelegate::showAbout()
{
    if (window_)
        QMetaObject::invokeMethod(window_, "openAbout");
}

void AppDelegate::showAlert(const QString& message, const QString& informative)
{
    if (window_)
        QMetaObject::invokeMethod(window_, "openAlert", Q_ARG(QVariant, message), Q_ARG(QVariant, informative));
}

} // namespace corvanel
