// The window mode, built as a module of its own so that command-line runs never load Qt.

#include "app/app_delegate.h"
#include "installer/assets/catalogue.h"
#include "installer/platform.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QFontDatabase>
#include <QIcon>
#include <QPalette>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QStandardPaths>

#include <memory>

namespace corvanel {

namespace {

/// The launcher's palette as its window defines it, in the theme of the window's module.
class Theme {
public:
    Theme()
    {
        engine_.addImportPath(QStringLiteral("qrc:/qt/qml"));
        QQmlComponent reader(&engine_);
        reader.setData("import Corvanel\nimport QtQml\nQtObject { property QtObject theme: HaloTheme }", QUrl());
        holder_.reset(reader.create());
        if (holder_)
            theme_ = holder_->property("theme").value<QObject*>();
        if (!theme_)
            qWarning("The window's theme could not be read: %s", qPrintable(reader.errorString()));
    }
    QColor colour(const char* name) const { return theme_ ? theme_->property(name).value<QColor>() : QColor(Qt::gray); }

private:
    QQmlEngine engine_;
    std::unique_ptr<QObject> holder_;
    QObject* theme_ = nullptr;
};

/// The dark colours of the launcher for the toolkit's own widgets: menus, dialogs, alerts.
QPalette darkPalette()
{
    const Theme theme;
    const QColor navy = theme.colour("navy");
    const QColor ink = theme.colour("ink");
    const QColor muted = theme.colour("muted");
    const QColor accent = theme.colour("accent");
    const QColor panel = theme.colour("panel");
    const QColor field = theme.colour("field");

    QPalette palette;
    palette.setColor(QPalette::Window, navy);
    palette.setColor(QPalette::WindowText, ink);
    palette.setColor(QPalette::Base, field);
    palette.setColor(QPalette::AlternateBase, panel);
    palette.setColor(QPalette::Text, ink);
    palette.setColor(QPalette::Button, panel);
    palette.setColor(QPalette::ButtonText, ink);
    palette.setColor(QPalette::BrightText, accent);
    palette.setColor(QPalette::Highlight, accent);
    palette.setColor(QPalette::HighlightedText, navy);
    palette.setColor(QPalette::ToolTipBase, panel);
    palette.setColor(QPalette::ToolTipText, ink);
    palette.setColor(QPalette::PlaceholderText, muted);
    palette.setColor(QPalette::Link, accent);
    palette.setColor(QPalette::Light, panel.lighter(160));
    palette.setColor(QPalette::Midlight, panel.lighter(130));
    palette.setColor(QPalette::Mid, panel.darker(120));
    palette.setColor(QPalette::Dark, navy.darker(150));
    palette.setColor(QPalette::Shadow, Qt::black);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, muted);
    return palette;
}

/// The setup guide page shipped with the program: beside the executable in the build tree,
/// under share/corvanel once installed.
std::optional<fs::path> shippedGuide()
{
    const QDir here(QCoreApplication::applicationDirPath());
    for (const QString& candidate :
         {QStringLiteral("resources/Setup Guide.html"), QStringLiteral("../share/corvanel/Setup Guide.html")}) {
        const QFileInfo page(here.filePath(candidate));
        if (page.isFile())
            return fs::path(page.canonicalFilePath().toStdString());
    }
    return std::nullopt;
}

/// Where the window's choices are remembered: this computer's usual place for settings
/// (`~/.config/Corvanel/Corvanel.conf` on Linux, honouring XDG_CONFIG_HOME).
fs::path settingsFile()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return fs::path(folder.toStdString()) / "Corvanel" / "Corvanel.conf";
}

} // namespace

void prepareApplication()
{
    // The application id names the window's class and its desktop entry, so that the desktop
    // matches the window to the entry and its icon.
    QApplication::setApplicationName(QStringLiteral(CORVANEL_APP_ID));
    QGuiApplication::setDesktopFileName(QStringLiteral(CORVANEL_APP_ID));
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/corvanel/icon.png")));
    // No display name: the toolkit would append it to every dialog's title.
    QApplication::setStyle(QStringLiteral("Fusion"));
    QApplication::setPalette(darkPalette());
    QQuickStyle::setStyle(QStringLiteral("Basic"));

    // Trebuchet MS is rarely installed on Linux: a humanist sans stands in.
    QFont::insertSubstitutions(
        QStringLiteral("Trebuchet MS"),
        {QStringLiteral("Open Sans"), QStringLiteral("Noto Sans"), QStringLiteral("DejaVu Sans")});
    if (!QFontDatabase::families().contains(QStringLiteral("Material Icons")))
        for (const auto& file : platform::iconFontFiles())
            QFontDatabase::addApplicationFont(QString::fromStdString(file.string()));
}

} // namespace corvanel

/// Entry of the window module, looked up by name after the executable loads it.
extern "C" __attribute__((visibility("default"))) int corvanel_window_main(int argc, char** argv,
                                                                           const corvanel::Catalogue* catalogue)
{
    QApplication application(argc, argv);
    corvanel::prepareApplication();
    corvanel::AppDelegate delegate(
        {.catalogue = *catalogue, .guide = corvanel::shippedGuide(), .settings = corvanel::settingsFile()});
    if (!delegate.window())
        return 1;
    return QApplication::exec();
}
