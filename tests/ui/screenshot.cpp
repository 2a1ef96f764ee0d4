// Renders the window in one phase into a PNG file, for people to look at what a user sees.
// Usage: corvanel-screenshot --phase NAME --out FILE [--width W --height H]
//        corvanel-screenshot --alert --out FILE   (the quit guard's alert during setup)

#include "phases.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QImage>
#include <QMessageBox>
#include <QTimer>
#include <QTest>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    corvanel::prepareApplication();

    QCommandLineParser parser;
    parser.addOption({"phase", "One of: " + corvanel::testing::PhaseWindow::phases.join(", "), "NAME"});
    parser.addOption({"out", "The PNG file to write.", "FILE"});
    parser.addOption({"width", "Window width.", "W", "940"});
    parser.addOption({"height", "Window height.", "H", "760"});
    parser.addOption({"menu", "Open the window's menu before rendering."});
    parser.addOption({"alert", "Render the quit guard's alert instead of the window."});
    parser.process(application);
    if (parser.isSet("alert")) {
        QTimer::singleShot(500, [out = parser.value("out")] {
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) {
                    box->grab().save(out);
                    box->accept();
                }
        });
        corvanel::showAlert("Setup is still running", "Let setup finish before quitting the launcher.");
        return QFileInfo::exists(parser.value("out")) ? 0 : 1;
    }
    const QString phase = parser.value("phase");
    if (!corvanel::testing::PhaseWindow::phases.contains(phase) || parser.value("out").isEmpty()) {
        std::fprintf(stderr, "%s", qPrintable(parser.helpText()));
        return 2;
    }

    corvanel::testing::PhaseWindow shown(phase);
    if (!shown.window())
        return 1;
    shown.window()->resize(parser.value("width").toInt(), parser.value("height").toInt());
    if (parser.isSet("menu"))
        if (QObject* menu = shown.window()->findChild<QObject*>("applicationMenu"))
            QMetaObject::invokeMethod(menu, "open");
    QTest::qWait(phase == "setting-up" ? 2300 : 400);
    const QImage image = shown.window()->grabWindow();
    if (image.isNull() || !image.save(parser.value("out"))) {
        std::fprintf(stderr, "Cannot write %s\n", qPrintable(parser.value("out")));
        return 1;
    }
    return 0;
}
