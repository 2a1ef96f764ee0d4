#include "app/app_delegate.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

namespace corvanel {

AppDelegate::AppDelegate(LauncherSeams seams, Alert alert, QObject* parent)
    : QObject(parent), model_(new LauncherModel(std::move(seams), this)), alert_(alert ? std::move(alert) : showAlert)
{
    engine_.addImportPath(QStringLiteral("qrc:/qt/qml"));
    engine_.setInitialProperties({{QStringLiteral("model"), QVariant::fromValue(model_)}});
    engine_.load(QUrl(QStringLiteral("qrc:/qt/qml/Corvanel/Main.qml")));
    if (engine_.rootObjects().isEmpty())
        return;

    window_ = qobject_cast<QQuickWindow*>(engine_.rootObjects().front());
    connect(window_, SIGNAL(aboutRequested()), this, SLOT(showAbout()));
    connect(window_, SIGNAL(quitRequested()), this, SLOT(quit()));
    window_->installEventFilter(this);
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
    if (model_->busy())
        alert_(QStringLiteral("Setup is still running"), QStringLiteral("Let setup finish before quitting the launcher."));
    else
        alert_(QStringLiteral("Halo 2 is still running"), QStringLiteral("Save and quit Halo 2 before quitting the launcher."));
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
    QMessageBox::about(nullptr, QStringLiteral("About Corvanel"),
                       QStringLiteral("<p><b>Corvanel</b> %1</p><p>Sets up and starts Halo 2 for Windows Vista in a "
                                      "private Wine environment.</p><p>An unofficial community launcher, not affiliated "
                                      "with Microsoft, Xbox or Bungie.</p>")
                           .arg(model_->version()));
}

void showAlert(const QString& message, const QString& informative)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Corvanel"), QStringLiteral("<b>%1</b>").arg(message.toHtmlEscaped()),
                    QMessageBox::Ok);
    box.setInformativeText(informative);
    box.setStyleSheet(QStringLiteral(
        "QMessageBox { background: #08172B; }"
        "QLabel { color: #D4E8FA; font-size: 13px; }"
        "QLabel#qt_msgbox_label { font-size: 14px; min-width: 300px; }"
        "QLabel#qt_msgbox_informativelabel { color: #99B8D1; }"
        "QPushButton { background: #B8E0FF; color: #08172B; border: 1px solid rgba(184, 224, 255, 0.55);"
        "  padding: 8px 18px; font-weight: 600; min-width: 48px; }"
        "QPushButton:pressed { background: rgba(184, 224, 255, 0.75); }"));
    box.button(QMessageBox::Ok)->setIcon(QIcon());
    box.exec();
}

} // namespace corvanel
