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
#include <QQuickStyle>

namespace corvanel {

namespace {

/// The dark colours of the launcher for the toolkit's own widgets: menus, dialogs, alerts.
QPalette darkPalette()
{
    const QColor navy = QColor::fromRgbF(0.03f, 0.09f, 0.17f);
    const QColor ink = QColor::fromRgbF(0.83f, 0.91f, 0.98f);
    const QColor muted = QColor::fromRgbF(0.60f, 0.72f, 0.82f);
    const QColor accent = QColor::fromRgbF(0.72f, 0.88f, 1.00f);
    const QColor panel = QColor::fromRgbF(0.07f, 0.15f, 0.24f);
    const QColor field = QColor::fromRgbF(0.05f, 0.12f, 0.20f);

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
    for (const QString& candidate : {QStringLiteral("resources/Setup Guide.html"),
                                     QStringLiteral("../share/corvanel/Setup Guide.html")}) {
        const QFileInfo page(here.filePath(candidate));
        if (page.isFile())
            return fs::path(page.canonicalFilePath().toStdString());
    }
    return std::nullopt;
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
    QFont::insertSubstitutions(QStringLiteral("Trebuchet MS"),
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
    corvanel::AppDelegate delegate({.catalogue = *catalogue, .guide = corvanel::shippedGuide()});
    if (!delegate.window())
        return 1;
    return QApplication::exec();
}
