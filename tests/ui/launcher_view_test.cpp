#include "phases.h"

#include <QDesktopServices>
#include <QQuickItem>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace corvanel;
using corvanel::testing::PhaseWindow;

namespace {

// The icon font's glyphs as the views use them.
const QString folderGlyph = QStringLiteral("\ue2c8");
const QString folderFillGlyph = QStringLiteral("\ue2c7");
const QString warningGlyph = QStringLiteral("\ue002");
const QString infoGlyph = QStringLiteral("\ue88f");

/// Records what the desktop was asked to open.
class Opener : public QObject {
    Q_OBJECT
public:
    Opener()
    {
        for (const char* scheme : {"file", "https"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "open");
    }
    ~Opener() override
    {
        for (const char* scheme : {"file", "https"})
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }
    QStringList opened;
public slots:
    void open(const QUrl& url) { opened.append(url.isLocalFile() ? QFileInfo(url.toLocalFile()).fileName() : url.toString()); }
};

QQuickItem* item(PhaseWindow& shown, const char* name) { return corvanel::testing::findItem(shown.window(), name); }

QString text(PhaseWindow& shown, const char* name) { return item(shown, name)->property("text").toString(); }
QString glyph(PhaseWindow& shown, const char* name) { return item(shown, name)->property("glyph").toString(); }

/// The tooltip's text, with the temporary data folder cut off the front.
QString tooltip(PhaseWindow& shown, const char* name)
{
    for (QObject* child : item(shown, name)->children())
        if (QByteArray(child->metaObject()->className()) == "QQuickToolTipAttached") {
            const QString text = child->property("text").toString();
            const int downloads = text.indexOf("/Downloads/");
            return downloads < 0 ? text : text.mid(downloads);
        }
    return QStringLiteral("(no tooltip)");
}

/// Visible on screen: the item and all its containers.
bool shown(PhaseWindow& window, const char* name) { return item(window, name)->isVisible(); }

#define CLICK(shown, name) QVERIFY(corvanel::testing::click((shown).window(), name))

/// A window tall enough to show the whole content column without scrolling.
std::unique_ptr<PhaseWindow> open(const QString& phase)
{
    auto window = std::make_unique<PhaseWindow>(phase);
    window->window()->resize(940, 1100);
    QTest::qWait(50);
    return window;
}

} // namespace

class LauncherViewTest : public QObject {
    Q_OBJECT

private slots:
    void freshStart()
    {
        auto window = open("fresh");
        PhaseWindow& w = *window;
        QCOMPARE(w.window()->title(), QStringLiteral("Corvanel"));
        QCOMPARE(w.window()->minimumSize(), QSize(860, 690));
        QCOMPARE(text(w, "headerVersion"), QStringLiteral("UNOFFICIAL BETA / 0.2.1"));
        QCOMPARE(item(w, "navCurrent")->property("title").toString(), QStringLiteral("Install Halo 2"));
        QCOMPARE(text(w, "titleEyebrow"), QStringLiteral("HALO 2 FOR WINDOWS VISTA / MAC SETUP"));
        QCOMPARE(text(w, "headline"), QStringLiteral("Bring your game.\nPlay it on your Mac."));
        QCOMPARE(text(w, "subtitle"), QStringLiteral("One folder. We’ll take care of the rest."));
        QVERIFY(shown(w, "installScreen"));
        QVERIFY(!shown(w, "progressScreen"));
        QVERIFY(!shown(w, "playScreen"));
        QVERIFY(shown(w, "statusBox"));
        QCOMPARE(glyph(w, "statusIcon"), infoGlyph);
        QVERIFY(!shown(w, "statusSpinner"));
        QCOMPARE(text(w, "statusText"), QStringLiteral("Choose your h2pc_installer_2.1 folder to get started."));
        QVERIFY(!shown(w, "errorText"));
        QCOMPARE(glyph(w, "sourceIcon"), folderGlyph);
        QCOMPARE(text(w, "sourceDetail"), QStringLiteral("h2pc_installer_2.1 or its downloaded ZIP"));
        QCOMPARE(text(w, "chooseSource"), QStringLiteral("Choose folder…"));
        QCOMPARE(item(w, "setUp")->isEnabled(), false);
        QVERIFY(!shown(w, "advancedContent"));
    }

    /// Choose, the advanced options, set up and play, all through the controls.
    void clickThrough()
    {
        auto window = open("fresh");
        PhaseWindow& w = *window;
        LauncherModel& model = w.model();

        CLICK(w, "setUp"); // disabled: nothing happens
        QCOMPARE(model.busy(), false);

        CLICK(w, "chooseSource");
        QCOMPARE(glyph(w, "sourceIcon"), folderFillGlyph);
        QCOMPARE(text(w, "sourceDetail"), QStringLiteral("h2pc_installer_2.1"));
        QCOMPARE(tooltip(w, "sourceDetail"), QStringLiteral("/Downloads/h2pc_installer_2.1"));
        QCOMPARE(text(w, "chooseSource"), QStringLiteral("Change…"));
        QCOMPARE(text(w, "statusText"), QStringLiteral("Ready to set up. Audio support will be configured automatically."));
        QVERIFY(item(w, "setUp")->isEnabled());

        CLICK(w, "advancedToggle");
        QVERIFY(shown(w, "advancedContent"));
        QCOMPARE(text(w, "audioDetail"), QStringLiteral("Optional local audio package"));
        QCOMPARE(tooltip(w, "audioDetail"), QStringLiteral("Otherwise downloaded automatically"));
        QVERIFY(!shown(w, "automaticAudio"));
        CLICK(w, "chooseAudio");
        QCOMPARE(text(w, "audioDetail"), QStringLiteral("MPSetup.exe"));
        QCOMPARE(tooltip(w, "audioDetail"), QStringLiteral("/Downloads/MPSetup.exe"));
        QVERIFY(shown(w, "automaticAudio"));
        CLICK(w, "automaticAudio");
        QVERIFY(!shown(w, "automaticAudio"));
        QVERIFY(model.audioURL().isEmpty());
        QCOMPARE(text(w, "audioDetail"), QStringLiteral("Optional local audio package"));

        QSignalSpy status(&model, &LauncherModel::statusChanged);
        CLICK(w, "setUp");
        QVERIFY(model.busy());
        QVERIFY(shown(w, "progressScreen"));
        QVERIFY(!shown(w, "installScreen"));
        QVERIFY(!shown(w, "statusBox"));
        QCOMPARE(text(w, "elapsed"), QStringLiteral("0s"));
        while (status.count() < 2)
            QVERIFY(status.wait(5000));
        QCOMPARE(text(w, "progressLine"), QStringLiteral("Unpacking the game · 1.24 GB · 42s elapsed"));
        // The clock runs on its own, counted from the press.
        QTRY_COMPARE_WITH_TIMEOUT(text(w, "elapsed"), QStringLiteral("2s"), 4000);

        w.releaseSetup();
        QTRY_VERIFY_WITH_TIMEOUT(model.ready(), 10'000);
        QVERIFY(shown(w, "playScreen"));
        QCOMPARE(item(w, "navCurrent")->property("title").toString(), QStringLiteral("Play Halo 2"));
        QCOMPARE(text(w, "statusText"), QStringLiteral("Your installation is ready."));

        CLICK(w, "play");
        QVERIFY(model.playing());
        QCOMPARE(text(w, "play"), QStringLiteral("Game running"));
        QVERIFY(!item(w, "play")->isEnabled());
        w.endGame();
        QTRY_VERIFY_WITH_TIMEOUT(!model.playing(), 10'000);
        QCOMPARE(text(w, "play"), QStringLiteral("Play Halo 2"));
        QVERIFY(item(w, "play")->isEnabled());
        QVERIFY(!shown(w, "errorText"));
    }

    /// Prominent and secondary, enabled and disabled, and the dimming while pressed.
    void buttonAppearance()
    {
        auto window = open("fresh");
        PhaseWindow& w = *window;
        const auto fill = [&](const char* name) {
            return item(w, name)->property("background").value<QQuickItem*>()->property("color").value<QColor>();
        };
        const auto border = [&](const char* name) {
            auto* background = item(w, name)->property("background").value<QQuickItem*>();
            return background->property("border").value<QObject*>()->property("color").value<QColor>();
        };
        const auto label = [&](const char* name) {
            return item(w, name)->findChild<QQuickItem*>("label")->property("color").value<QColor>();
        };
        const auto rgba = [](const QColor& colour) { return QString::number(colour.rgba(), 16); };
        const QColor ink = QColor::fromRgbF(0.83f, 0.91f, 0.98f), muted = QColor::fromRgbF(0.60f, 0.72f, 0.82f);
        const QColor accent = QColor::fromRgbF(0.72f, 0.88f, 1.00f), navy = QColor::fromRgbF(0.03f, 0.09f, 0.17f);
        const auto faded = [](QColor colour, float opacity) {
            colour.setAlphaF(opacity);
            return colour;
        };
        const QColor faintEdge = faded(QColor::fromRgbF(0.29f, 0.45f, 0.57f), 0.18f);

        // Prominent, disabled: no accent fill, muted text, faint border.
        QCOMPARE(rgba(fill("setUp")), rgba(faintEdge));
        QCOMPARE(rgba(label("setUp")), rgba(muted));
        QCOMPARE(rgba(border("setUp")), rgba(faded(accent, 0.18f)));
        // Secondary, enabled.
        QCOMPARE(rgba(fill("chooseSource")), rgba(faintEdge));
        QCOMPARE(rgba(label("chooseSource")), rgba(ink));
        QCOMPARE(rgba(border("chooseSource")), rgba(faded(accent, 0.55f)));

        CLICK(w, "chooseSource");
        QCOMPARE(rgba(fill("setUp")), rgba(accent));
        QCOMPARE(rgba(label("setUp")), rgba(navy));
        QCOMPARE(rgba(border("setUp")), rgba(faded(accent, 0.55f)));

        QQuickItem* button = item(w, "chooseSource");
        const QPoint corner = button->mapToScene(QPointF(2, 2)).toPoint(); // the padding takes presses too
        QTest::mousePress(w.window(), Qt::LeftButton, {}, corner);
        QCOMPARE(button->opacity(), 0.75);
        QTest::mouseRelease(w.window(), Qt::LeftButton, {}, corner);
        QCOMPARE(button->opacity(), 1.0);
    }

    /// The backdrop's scan lines cover the whole window, one every 4 points, after a resize too.
    void scanLinesFollowTheSize()
    {
        auto window = open("fresh");
        PhaseWindow& w = *window;
        w.window()->resize(1000, 1300);
        QTest::qWait(100);
        const QImage image = w.window()->grabWindow();
        QCOMPARE(image.height(), 1300);
        // The footer's middle shows the bare backdrop: lit rows are brighter than the rows between.
        const int x = 500;
        int lit = 0, dark = 0;
        const int top = qRound(item(w, "scanLines")->mapToScene(QPointF(0, 0)).y()); // below the menu bar
        for (int y = top + 4 * ((1260 - top) / 4); y < 1292; y += 4) {
            lit += qRed(image.pixel(x, y)) + qRed(image.pixel(x, y - 1));
            dark += qRed(image.pixel(x, y + 1)) + qRed(image.pixel(x, y + 2));
        }
        QVERIFY2(lit > dark, qPrintable(QStringLiteral("lit %1, dark %2").arg(lit).arg(dark)));
    }

    void failedSetup()
    {
        auto window = open("failed");
        PhaseWindow& w = *window;
        QVERIFY(shown(w, "installScreen"));
        QCOMPARE(text(w, "statusText"), QStringLiteral("Setup needs attention. Your source files are unchanged."));
        QCOMPARE(glyph(w, "statusIcon"), warningGlyph);
        QVERIFY(shown(w, "errorText"));
        QCOMPARE(text(w, "errorText"), QStringLiteral("The selected folder does not contain h2pc_data.bin or a Halo 2 "
                                                      "game. Choose your h2pc_installer_2.1 folder again."));
        QCOMPARE(item(w, "errorText")->property("color").value<QColor>(), QColor::fromRgbF(1.0f, 0.77f, 0.6f));
        QVERIFY(item(w, "errorText")->property("readOnly").toBool());
        QVERIFY(item(w, "errorText")->property("selectByMouse").toBool());
        QCOMPARE(text(w, "sourceDetail"), QStringLiteral("h2pc_installer_2.1"));
        QVERIFY(item(w, "setUp")->isEnabled());
    }

    void readyAndPlaying()
    {
        {
            auto window = open("ready");
            PhaseWindow& w = *window;
            QCOMPARE(text(w, "titleEyebrow"), QStringLiteral("YOUR INSTALLATION / READY"));
            QCOMPARE(text(w, "headline"), QStringLiteral("Welcome back."));
            QCOMPARE(text(w, "subtitle"), QStringLiteral("Your next campaign is a click away."));
            QVERIFY(shown(w, "playScreen"));
            QVERIFY(!shown(w, "installScreen"));
            QCOMPARE(text(w, "play"), QStringLiteral("Play Halo 2"));
            QVERIFY(item(w, "play")->isEnabled());
            QCOMPARE(glyph(w, "statusIcon"), infoGlyph);
        }
        auto window = open("playing");
        PhaseWindow& w = *window;
        QCOMPARE(text(w, "play"), QStringLiteral("Game running"));
        QVERIFY(!item(w, "play")->isEnabled());
        QVERIFY(shown(w, "statusSpinner"));
        QVERIFY(!shown(w, "statusIcon"));
        QCOMPARE(text(w, "statusText"), QStringLiteral("Halo 2 is starting. The first launch can take a few minutes."));
    }

    void linksOpenInTheDesktop()
    {
        Opener opener;
        {
            auto window = open("ready");
            CLICK(*window, "navGuide");
            CLICK(*window, "navGameFiles");
            CLICK(*window, "navLogs");
            CLICK(*window, "showSaves");
        }
        auto window = open("setting-up");
        CLICK(*window, "showSetupLog");
        QCOMPARE(opener.opened, (QStringList{"Setup Guide.html", "https://cartographer.online/install/", "Logs", "users", "Logs"}));
    }

    void quitGuard_data()
    {
        QTest::addColumn<QString>("phase");
        QTest::addColumn<QString>("alert");
        QTest::newRow("setting up") << "setting-up" << "Setup is still running / Let setup finish before quitting the launcher.";
        QTest::newRow("playing") << "playing" << "Halo 2 is still running / Save and quit Halo 2 before quitting the launcher.";
    }

    /// A window close, the menu, the shortcut and an application quit request are refused alike.
    void quitGuard()
    {
        QFETCH(QString, phase);
        QFETCH(QString, alert);
        auto window = open(phase);
        PhaseWindow& w = *window;
        QQuickWindow* quickWindow = w.window();

        quickWindow->close();
        QVERIFY(quickWindow->isVisible());
        QCOMPARE(w.alerts, QStringList{alert});

        QMetaObject::invokeMethod(quickWindow, "quitRequested");
        QCOMPARE(w.alerts.size(), 2);

        quickWindow->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(quickWindow));
        QTest::keyClick(quickWindow, Qt::Key_Q, Qt::ControlModifier);
        QCOMPARE(w.alerts.size(), 3);

        QEvent quit(QEvent::Quit);
        QCoreApplication::sendEvent(QCoreApplication::instance(), &quit);
        QVERIFY(!quit.isAccepted());
        QVERIFY(quickWindow->isVisible());
        QCOMPARE(w.alerts.last(), alert);

        // Once setup or the game has ended, quitting is allowed at once.
        w.releaseSetup();
        w.endGame();
        QTRY_VERIFY_WITH_TIMEOUT(!w.model().busy() && !w.model().playing(), 10'000);
        const auto alerts = w.alerts.size();
        QVERIFY(w.delegate().shouldTerminate());
        // Closing the idle window ends the event loop.
        QTimer::singleShot(0, quickWindow, [quickWindow] { quickWindow->close(); });
        QTimer giveUp;
        giveUp.setSingleShot(true);
        connect(&giveUp, &QTimer::timeout, qApp, [] { QCoreApplication::exit(2); });
        giveUp.start(10'000);
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!quickWindow->isVisible());
        QCOMPARE(w.alerts.size(), alerts);
    }
};

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    corvanel::prepareApplication();
    LauncherViewTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "launcher_view_test.moc"
