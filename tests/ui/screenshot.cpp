// Renders the window in one phase into a PNG file, for people to look at what a user sees.
// Usage: corvanel-screenshot --phase NAME --out FILE [--width W --height H] [--advanced]
//          [--tabs N] [--menu] [--about] [--quit]
//   --tabs N   press Tab N times first (keyboard focus)
//   --menu     open the window's menu
//   --about    choose About from the menu
//   --quit     ask to quit through the quit guard (closing the window)
//   --set-up-again  press Set up again, which asks first
//   --cancel   press Escape, which asks whether to stop setup
//   --log      show the setup log in the window's log view
//   --no-opener  with nothing on the computer to open folders, open the logs folder

#include "phases.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QImage>
#include <QTest>

#include <cstdio>

namespace {

/// The menu entry titled `title` of the open menu.
QQuickItem* menuEntry(QQuickItem* root, const QString& title)
{
    for (QQuickItem* child : root->childItems()) {
        if (child->inherits("QQuickMenuItem") && child->property("text").toString() == title)
            return child;
        if (QQuickItem* found = menuEntry(child, title))
            return found;
    }
    return nullptr;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    corvanel::prepareApplication();

    QCommandLineParser parser;
    parser.addOption({"phase", "One of: " + corvanel::test_support::PhaseWindow::phases.join(", "), "NAME"});
    parser.addOption({"out", "The PNG file to write.", "FILE"});
    parser.addOption({"width", "Window width.", "W", "940"});
    parser.addOption({"height", "Window height.", "H", "760"});
    parser.addOption({"advanced", "Open the advanced options first."});
    parser.addOption({"tabs", "Press Tab this many times.", "N", "0"});
    parser.addOption({"menu", "Open the window's menu before rendering."});
    parser.addOption({"about", "Choose About from the window's menu."});
    parser.addOption({"quit", "Ask to quit, through the quit guard."});
    parser.addOption({"cancel", "Press Escape, which asks whether to stop setup."});
    parser.addOption({"set-up-again", "Press Set up again, which asks first."});
    parser.addOption({"log", "Show the setup log in the window's log view."});
    parser.addOption({"no-opener", "With no program to open folders, open the logs folder."});
    parser.process(application);
    const QString phase = parser.value("phase");
    if (!corvanel::test_support::PhaseWindow::phases.contains(phase) || parser.value("out").isEmpty()) {
        std::fprintf(stderr, "%s", qPrintable(parser.helpText()));
        return 2;
    }

    corvanel::test_support::PhaseWindow shown(phase,
                                              {.size = {parser.value("width").toInt(), parser.value("height").toInt()},
                                               .advanced = parser.isSet("advanced"),
                                               .noOpener = parser.isSet("no-opener")});
    QQuickWindow* window = shown.window();
    if (!window)
        return 1;
    QTest::qWait(phase.startsWith("setting-up") ? 2300 : 400);
    for (int tab = parser.value("tabs").toInt(); tab > 0; --tab)
        QTest::keyClick(window, Qt::Key_Tab);
    if (parser.isSet("menu") || parser.isSet("about"))
        if (QObject* menu = window->findChild<QObject*>("applicationMenu"))
            QMetaObject::invokeMethod(menu, "open");
    if (parser.isSet("about")) {
        QTest::qWait(300);
        QQuickItem* entry = menuEntry(window->contentItem(), "About Corvanel");
        if (!entry) {
            std::fprintf(stderr, "The menu has no About entry\n");
            return 1;
        }
        QTest::mouseClick(window, Qt::LeftButton, {},
                          entry->mapToScene(QPointF(entry->width() / 2, entry->height() / 2)).toPoint());
    }
    if (parser.isSet("quit"))
        window->close();
    if (parser.isSet("cancel"))
        QTest::keyClick(window, Qt::Key_Escape);
    if (parser.isSet("set-up-again") && !corvanel::test_support::click(window, "setUpAgain"))
        return 1;
    if (parser.isSet("log"))
        shown.model().showSetupLog();
    if (parser.isSet("no-opener"))
        shown.model().openLogs();
    QTest::qWait(400);
    const QImage image = window->grabWindow();
    if (image.isNull() || !image.save(parser.value("out"))) {
        std::fprintf(stderr, "Cannot write %s\n", qPrintable(parser.value("out")));
        return 1;
    }
    return 0;
}
