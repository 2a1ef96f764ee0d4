#include "phases.h"
#include "support/user_sentences.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QQuickItem>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <functional>

#include <sys/stat.h>

using namespace corvanel;
namespace fs = std::filesystem;
using corvanel::test_support::PhaseOptions;
using corvanel::test_support::PhaseWindow;
using corvanel::test_support::sceneRect;

namespace {

// The icon font's glyphs as the views use them.
const QString folderGlyph = QStringLiteral("\ue2c8");
const QString folderFillGlyph = QStringLiteral("\ue2c7");
const QString warningGlyph = QStringLiteral("\ue002");
const QString infoGlyph = QStringLiteral("\ue88f");

/// The private Windows environment of the installation the model shows.
QString prefixOf(const LauncherModel& model)
{
    return QString::fromStdString(Installer(fs::path(model.root().toStdString())).prefix().string());
}

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
    void open(const QUrl& url)
    {
        opened.append(url.isLocalFile() ? QFileInfo(url.toLocalFile()).fileName() : url.toString());
    }
};

QQuickItem* item(PhaseWindow& shown, const char* name)
{
    return corvanel::test_support::findItem(shown.window(), name);
}

QString text(PhaseWindow& shown, const char* name)
{
    return item(shown, name)->property("text").toString();
}
QString glyph(PhaseWindow& shown, const char* name)
{
    return item(shown, name)->property("glyph").toString();
}

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
bool shown(PhaseWindow& window, const char* name)
{
    return item(window, name)->isVisible();
}

#define CLICK(shown, name) QVERIFY(corvanel::test_support::click((shown).window(), name))

/// A window tall enough to show the whole content column without scrolling.
std::unique_ptr<PhaseWindow> open(const QString& phase,
                                  corvanel::test_support::PhaseOptions options = {.size = {940, 1100}})
{
    return std::make_unique<PhaseWindow>(phase, options);
}

/// Every visual descendant of `root`.
QList<QQuickItem*> visualItems(QQuickItem* root)
{
    QList<QQuickItem*> found;
    QList<QQuickItem*> pending{root};
    while (!pending.isEmpty()) {
        QQuickItem* item = pending.takeFirst();
        found << item;
        pending << item->childItems();
    }
    return found;
}

/// The visual descendant of `root` named `name`, or none.
QQuickItem* descendant(QQuickItem* root, const QString& name)
{
    if (!root)
        return nullptr;
    for (QQuickItem* child : root->childItems()) {
        if (child->objectName() == name)
            return child;
        if (QQuickItem* found = descendant(child, name))
            return found;
    }
    return nullptr;
}

/// A dialog drawn over the window ("alert" or "about").
struct Dialog {
    QObject* popup;
    QQuickItem* content() const { return popup->property("contentItem").value<QQuickItem*>(); }
    bool visible() const { return popup->property("visible").toBool(); }
    /// True when the dark card is drawn behind all of the dialog's content.
    bool cardHoldsContent() const
    {
        auto* card = popup->property("background").value<QQuickItem*>();
        const QRectF drawn(card->mapToScene(QPointF(0, 0)), card->size());
        const QRectF held(content()->mapToScene(QPointF(0, 0)), content()->size());
        return card->isVisible() && drawn.contains(held) && held.height() >= content()->implicitHeight() - 0.5;
    }
    QString text(const char* name) const { return descendant(content(), name)->property("text").toString(); }
    QStringList paragraphs() const
    {
        QStringList texts;
        for (QQuickItem* item : content()->childItems())
            if (item->objectName() == "dialogParagraph")
                texts << item->property("text").toString();
        return texts;
    }
    /// Every button shown inside the card.
    QList<QQuickItem*> buttons() const
    {
        QList<QQuickItem*> found;
        for (QQuickItem* item : visualItems(content()))
            if (item->inherits("QQuickAbstractButton") && item->isVisible())
                found << item;
        return found;
    }
};

Dialog dialog(PhaseWindow& shown, const char* name)
{
    auto* popup = shown.window()->findChild<QObject*>(QString::fromLatin1(name));
    if (!popup)
        qFatal("no dialog named %s", name);
    return Dialog{popup};
}

/// Presses the dialog's OK button with the mouse.
void pressOk(PhaseWindow& shown, const Dialog& box)
{
    QQuickItem* ok = descendant(box.content(), "dialogOk");
    QTest::mouseClick(shown.window(), Qt::LeftButton, {},
                      ok->mapToScene(QPointF(ok->width() / 2, ok->height() / 2)).toPoint());
}

/// The row of the progress screen's step list for the stage at `index`.
QQuickItem* stepRow(PhaseWindow& shown, int index)
{
    QQuickItem* row = descendant(shown.window()->contentItem(), QStringLiteral("step%1").arg(index));
    if (!row)
        qFatal("no step row %d", index);
    return row;
}

const QColor accentColour = QColor::fromRgbF(0.72f, 0.88f, 1.00f);

/// True when `inner` lies wholly inside `outer` (to within half a point).
bool inside(const QRectF& inner, const QRectF& outer)
{
    return outer.adjusted(-0.5, -0.5, 0.5, 0.5).contains(inner);
}

QString describe(const QRectF& rect)
{
    return QStringLiteral("(%1, %2) to (%3, %4)").arg(rect.left()).arg(rect.top()).arg(rect.right()).arg(rect.bottom());
}

} // namespace

class LauncherViewTest : public QObject {
    Q_OBJECT

    std::function<void()> menuOpenWhenAboutOpened_;

public slots:
    void noteMenu()
    {
        if (menuOpenWhenAboutOpened_)
            menuOpenWhenAboutOpened_();
    }

private slots:
    void freshStart()
    {
        auto window = open("fresh");
        PhaseWindow& w = *window;
        QCOMPARE(w.window()->title(), QStringLiteral("Corvanel"));
        QCOMPARE(w.window()->minimumSize(), QSize(860, 690));
        QCOMPARE(text(w, "headerVersion"), QStringLiteral("UNOFFICIAL BETA / 0.2.1"));
        QCOMPARE(item(w, "navCurrent")->property("title").toString(), QStringLiteral("Install Halo 2"));
        QCOMPARE(text(w, "titleEyebrow"), QStringLiteral("HALO 2 FOR WINDOWS VISTA / LINUX SETUP"));
        QCOMPARE(text(w, "headline"), QStringLiteral("Bring your game.\nPlay it on your computer."));
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
        QCOMPARE(text(w, "statusText"),
                 QStringLiteral("Ready to set up. Audio support will be configured automatically."));
        QVERIFY(item(w, "setUp")->isEnabled());

        CLICK(w, "advancedToggle");
        QVERIFY(shown(w, "advancedContent"));
        QCOMPARE(text(w, "audioDetail"), QStringLiteral("Optional local audio package"));
        QCOMPARE(tooltip(w, "audioDetail"), QStringLiteral("Otherwise downloaded automatically"));
        QVERIFY(!shown(w, "automaticAudio"));
        // On this system the runtime is the computer's own Wine: only the audio package is fetched.
        QCOMPARE(text(w, "downloadNote"),
                 QStringLiteral("Only the audio package to download\nUnless your installer folder holds it"));
        CLICK(w, "chooseAudio");
        QCOMPARE(text(w, "audioDetail"), QStringLiteral("MPSetup.exe"));
        QCOMPARE(tooltip(w, "audioDetail"), QStringLiteral("/Downloads/MPSetup.exe"));
        QVERIFY(shown(w, "automaticAudio"));
        // Nothing still promises automatic audio or a download once a package is chosen.
        QCOMPARE(text(w, "statusText"), QStringLiteral("Ready to set up with the audio package you chose."));
        QCOMPARE(text(w, "automaticNote"),
                 QStringLiteral("Graphics are configured automatically; audio uses the package you chose."));
        QCOMPARE(text(w, "downloadNote"), QStringLiteral("Nothing to download\nUses the audio package you chose"));
        CLICK(w, "automaticAudio");
        QVERIFY(!shown(w, "automaticAudio"));
        QVERIFY(model.audioURL().isEmpty());
        QCOMPARE(text(w, "audioDetail"), QStringLiteral("Optional local audio package"));
        QCOMPARE(text(w, "statusText"),
                 QStringLiteral("Ready to set up. Audio support will be configured automatically."));
        QCOMPARE(text(w, "automaticNote"), QStringLiteral("Graphics and audio are configured automatically."));

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
        QCOMPARE(text(w, "headline"),
                 QStringLiteral("You’re all set.")); // not "Welcome back." right after the first setup

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
        w.settle();
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
        QCOMPARE(text(w, "errorText"), PhaseWindow::failure);
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

    /// A recorded installation that lost parts opens on the repair screen; Repair runs through
    /// the progress screen to the play screen, or back with the failure's message in view.
    void repairScreen_data()
    {
        QTest::addColumn<bool>("fails");
        QTest::newRow("success") << false;
        QTest::newRow("failure") << true;
    }

    void repairScreen()
    {
        QFETCH(bool, fails);
        auto window = open("repair");
        PhaseWindow& w = *window;
        QCOMPARE(item(w, "navCurrent")->property("title").toString(), QStringLiteral("Repair Halo 2"));
        QCOMPARE(text(w, "titleEyebrow"), QStringLiteral("YOUR INSTALLATION / NEEDS REPAIR"));
        QCOMPARE(text(w, "headline"), QStringLiteral("Welcome back."));
        QCOMPARE(text(w, "subtitle"), QStringLiteral("A few parts of your installation need to be put back first."));
        QVERIFY(shown(w, "repairScreen"));
        QVERIFY(!shown(w, "installScreen"));
        QVERIFY(!shown(w, "playScreen"));
        QCOMPARE(text(w, "repairHeading"), QStringLiteral("Your installation needs repair"));
        QCOMPARE(
            text(w, "missingParts"),
            QStringLiteral("Wine and the audio decoder are missing or damaged. Install your distribution's Wine 8.0 or "
                           "later (on Debian: sudo apt install wine wine64 wine32:i386) before repairing."));
        QCOMPARE(
            text(w, "repairAdvice"),
            QStringLiteral(
                "Repair downloads and rebuilds only what is missing. Your game files and saves stay as they are."));
        QVERIFY(shown(w, "repairAdvanced")); // the decoder is rebuilt: a local audio package helps
        QCOMPARE(text(w, "repair"), QStringLiteral("Repair"));
        QCOMPARE(glyph(w, "statusIcon"), infoGlyph);
        QCOMPARE(text(w, "statusText"),
                 QStringLiteral("Parts of your installation are missing. Press Repair to restore them; your game and "
                                "saves stay as they are."));

        CLICK(w, "repair");
        QVERIFY(shown(w, "progressScreen"));
        QVERIFY(!shown(w, "repairScreen"));
        QVERIFY(!shown(w, "statusBox"));
        QCOMPARE(text(w, "progressTitle"), QStringLiteral("Repairing Halo 2"));
        QCOMPARE(item(w, "navCurrent")->property("title").toString(), QStringLiteral("Repair Halo 2"));
        QTRY_COMPARE_WITH_TIMEOUT(text(w, "progressLine"),
                                  QStringLiteral("Unpacking the compatibility runtime · 180 MB · 12s elapsed"), 10'000);

        if (fails)
            w.failSetup();
        else
            w.releaseSetup();
        QTRY_VERIFY_WITH_TIMEOUT(!w.model().busy(), 10'000);
        QTest::qWait(100);
        w.settle();
        if (fails) {
            QVERIFY(shown(w, "repairScreen"));
            QCOMPARE(text(w, "statusText"),
                     QStringLiteral("Repair needs attention. Your game and saves are unchanged."));
            QCOMPARE(glyph(w, "statusIcon"), warningGlyph);
            QCOMPARE(text(w, "errorText"), PhaseWindow::repairFailure);
            const QRectF viewport = corvanel::test_support::contentViewport(w.window());
            QVERIFY(inside(sceneRect(item(w, "errorText")), viewport));
        } else {
            QVERIFY(shown(w, "playScreen"));
            QCOMPARE(text(w, "headline"), QStringLiteral("Welcome back."));
            QCOMPARE(text(w, "statusText"), QStringLiteral("Your installation is ready."));
            QCOMPARE(item(w, "navCurrent")->property("title").toString(), QStringLiteral("Play Halo 2"));
        }
    }

    /// Lost game files cannot be repaired: no Repair button, and the way to set them up again.
    void lostGameFilesAreNotOfferedARepair()
    {
        auto window = open("repair-game-files");
        PhaseWindow& w = *window;
        QVERIFY(shown(w, "repairScreen"));
        QCOMPARE(text(w, "repairHeading"), QStringLiteral("Your game files need setting up again"));
        QCOMPARE(text(w, "missingParts"), QStringLiteral("The game file halo2.exe is missing or damaged."));
        QCOMPARE(
            text(w, "repairAdvice"),
            QStringLiteral("Repair cannot restore game files. Press Set up again to choose your h2pc_installer_2.1 "
                           "folder and set the game up afresh; your saves are kept."));
        QVERIFY(!shown(w, "repair"));
        QVERIFY(!shown(w, "repairAdvanced"));
        QCOMPARE(text(w, "statusText"),
                 QStringLiteral("Your game files need to be set up again. Press Set up again; your saves are kept."));

        // Set up again asks once; keeping things as they are changes nothing.
        const fs::path record = fs::path(w.model().root().toStdString()) / "installed.json";
        const Dialog question = dialog(w, "setUpAgainQuestion");
        CLICK(w, "setUpAgain");
        QTRY_VERIFY(question.visible());
        QCOMPARE(question.text("dialogHeading"), QStringLiteral("Set up Halo 2 again?"));
        QCOMPARE(question.paragraphs(),
                 QStringList{"Corvanel forgets this installation and shows the setup screen. Your saves are kept."});
        QCOMPARE(descendant(question.content(), "dialogOk")->property("text").toString(),
                 QStringLiteral("Set up again"));
        QCOMPARE(descendant(question.content(), "dialogReject")->property("text").toString(), QStringLiteral("Cancel"));
        QTest::keyClick(w.window(), Qt::Key_Escape);
        QTRY_VERIFY(!question.visible());
        QVERIFY(fs::exists(record));
        QVERIFY(shown(w, "repairScreen"));

        CLICK(w, "setUpAgain");
        QTRY_VERIFY(question.visible());
        pressOk(w, question);
        QTRY_VERIFY(!question.visible());
        QVERIFY(!fs::exists(record));
        QTRY_VERIFY(shown(w, "installScreen"));
        QVERIFY(fs::exists(fs::path(prefixOf(w.model()).toStdString())));
    }

    /// The main button and the status stay in view without scrolling at the usual size and the
    /// minimum, after a resize between them, and with the advanced options opened and closed.
    void mainButtonAndStatusStayInView_data()
    {
        QTest::addColumn<QString>("phase");
        QTest::addColumn<QString>("button");
        const std::pair<const char*, const char*> cases[] = {
            {"source-chosen", "setUp"},          {"failed", "setUp"}, {"ready", "play"}, {"repair", "repair"},
            {"repair-game-files", "setUpAgain"},
        };
        for (const auto& [phase, button] : cases)
            QTest::newRow(phase) << QString::fromLatin1(phase) << QString::fromLatin1(button);
    }

    void mainButtonAndStatusStayInView()
    {
        QFETCH(QString, phase);
        QFETCH(QString, button);
        auto window = open(phase, {.size = {940, 760}});
        PhaseWindow& w = *window;
        const auto check = [&](const char* when) {
            QTest::qWait(100);
            w.settle();
            const QRectF viewport = corvanel::test_support::contentViewport(w.window());
            const QRectF main = sceneRect(item(w, button.toLatin1().constData()));
            const QRectF box = sceneRect(item(w, "statusBox"));
            QVERIFY2(shown(w, button.toLatin1().constData()), when);
            QVERIFY2(
                inside(main, viewport),
                qPrintable(QStringLiteral("%1: button %2, viewport %3").arg(when, describe(main), describe(viewport))));
            QVERIFY2(
                inside(box, viewport),
                qPrintable(QStringLiteral("%1: status %2, viewport %3").arg(when, describe(box), describe(viewport))));
        };
        check("at 940x760");
        w.window()->resize(860, 690);
        check("after the resize to 860x690");
        w.window()->setProperty("showAdvanced", true);
        check("with advanced options open at 860x690");
        w.window()->resize(940, 760);
        check("with advanced options open at 940x760");
        w.window()->setProperty("showAdvanced", false);
        check("with advanced options closed again");
    }

    /// While setup runs, Cancel and the latest progress line stay in view at both sizes, however
    /// far down the step list reaches.
    void cancelAndProgressStayInViewWhileSettingUp()
    {
        auto window = open("setting-up-environment", {.size = {940, 760}});
        PhaseWindow& w = *window;
        for (const QSize size : {QSize(940, 760), QSize(860, 690)}) {
            w.window()->resize(size);
            QTest::qWait(100);
            w.settle();
            const QRectF viewport = corvanel::test_support::contentViewport(w.window());
            for (const char* name : {"cancelSetup", "progressLine"}) {
                const QRectF rect = sceneRect(item(w, name));
                QVERIFY2(inside(rect, viewport),
                         qPrintable(QStringLiteral("%1x%2: %3 %4, viewport %5")
                                        .arg(size.width())
                                        .arg(size.height())
                                        .arg(QString::fromLatin1(name), describe(rect), describe(viewport))));
            }
        }
    }

    /// The title block gives up room at the minimum size and with the advanced options open.
    void titleShrinksWhenRoomIsShort()
    {
        auto window = open("source-chosen", {.size = {940, 760}});
        PhaseWindow& w = *window;
        const qreal full = item(w, "titleBlock")->height();
        w.window()->resize(860, 690);
        QTest::qWait(100);
        w.settle();
        QVERIFY(item(w, "titleBlock")->height() < full);
        w.window()->resize(940, 760);
        w.window()->setProperty("showAdvanced", true);
        QTest::qWait(100);
        w.settle();
        QVERIFY(item(w, "titleBlock")->height() < full);
    }

    /// The advanced options show both folders; a chosen one can be cleared, and their paths
    /// break after a separator rather than running past the column.
    void advancedOptionsChooseTheFolders()
    {
        auto window = open("fresh", {.size = {940, 1100}, .advanced = true});
        PhaseWindow& w = *window;
        QCOMPARE(text(w, "installationFolderPath"), w.model().shownRoot());
        QCOMPARE(text(w, "downloadsFolderPath"), QStringLiteral("None chosen. Setup downloads what it needs."));
        QVERIFY(!shown(w, "installationFolderReset"));
        QVERIFY(!shown(w, "downloadsFolderReset"));

        CLICK(w, "downloadsFolderChoose");
        QVERIFY(w.model().downloadsFolder().endsWith("/Downloads/h2pc_installer_2.1"));
        QTRY_VERIFY(shown(w, "downloadsFolderReset"));
        QCOMPARE(text(w, "downloadsFolderReset"), QStringLiteral("Clear"));
        CLICK(w, "installationFolderChoose");
        QVERIFY(w.model().root().endsWith("/Downloads/h2pc_installer_2.1"));
        QTRY_COMPARE(text(w, "installationFolderPath"), w.model().shownRoot());
        QTRY_VERIFY(shown(w, "installationFolderReset"));
        QCOMPARE(text(w, "installationFolderReset"), QStringLiteral("Use default"));
        w.settle();
        for (const char* name : {"installationFolderPath", "downloadsFolderPath"}) {
            QQuickItem* path = item(w, name);
            QCOMPARE(path->property("wrapMode").toInt(), 4); // Text.Wrap: within a name only when it must
            QVERIFY(path->property("contentWidth").toReal() <= path->width() + 0.5);
            QVERIFY(text(w, name).contains(QStringLiteral("/\u200B")));
        }
        w.window()->resize(860, 1100);
        w.settle();
        QQuickItem* path = item(w, "installationFolderPath");
        QVERIFY(path->property("contentWidth").toReal() <= path->width() + 0.5);

        CLICK(w, "downloadsFolderReset");
        QVERIFY(w.model().downloadsFolder().isEmpty());
        CLICK(w, "installationFolderReset");
        QVERIFY(w.model().defaultRoot());
    }

    /// The toolkit's own menus and dialogs take their colours from the window's theme.
    void applicationPaletteComesFromTheTheme()
    {
        auto window = open("fresh");
        PhaseWindow& w = *window;
        const QPalette palette = QApplication::palette();
        QCOMPARE(palette.color(QPalette::Window), w.window()->color());
        QCOMPARE(palette.color(QPalette::Highlight), accentColour);
        QCOMPARE(palette.color(QPalette::Base), QColor::fromRgbF(0.05f, 0.12f, 0.20f));
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
        QCOMPARE(opener.opened,
                 (QStringList{"Setup Guide.html", "https://cartographer.online/install/", "Logs", "users"}));
    }

    /// Where nothing opens files, folders or pages, each open action shows the path in a
    /// selectable line, and Copy puts it on the clipboard.
    void unopenedPathsAreShownForCopying()
    {
        auto window = open("ready", {.size = {940, 1100}, .noOpener = true});
        PhaseWindow& w = *window;
        const Dialog shownPath = dialog(w, "unopened");
        const QString folderAdvice = QStringLiteral("Nothing on this computer opens folders for Corvanel. Copy the "
                                                    "path below and open it in your file manager.");
        const QString root = w.model().root();
        struct Case {
            const char* button;
            QString heading;
            QString advice;
            QString path;
        };
        const Case cases[] = {
            {"navLogs", "Open this folder yourself", folderAdvice, root + "/Logs"},
            {"showSaves", "Open this folder yourself", folderAdvice, prefixOf(w.model()) + "/drive_c/users"},
            {"navGameFiles", "Open this page yourself",
             "Nothing on this computer opens web pages for Corvanel. Copy the address below and open it in your web "
             "browser.",
             "https://cartographer.online/install/"},
            {"navGuide", "Open this page yourself",
             "Nothing on this computer opens pages for Corvanel. Copy the path below and open it in your web browser.",
             QFileInfo(root).dir().path() + "/Setup Guide.html"},
        };
        QClipboard* clipboard = QGuiApplication::clipboard();
        for (const Case& expected : cases) {
            clipboard->clear();
            CLICK(w, expected.button);
            QTRY_VERIFY(shownPath.visible());
            QCOMPARE(shownPath.text("dialogHeading"), expected.heading);
            QCOMPARE(shownPath.paragraphs(), QStringList{expected.advice});
            QQuickItem* line = descendant(shownPath.content(), "dialogLineText");
            QVERIFY(line->isVisible());
            QVERIFY(line->property("selectByMouse").toBool());
            QVERIFY(line->property("readOnly").toBool());
            QVERIFY(line->height() >= line->property("contentHeight").toReal()); // no line of the path cut off
            QVERIFY(line->property("text").toString().endsWith(expected.path.section('/', -2)));
            QVERIFY(shownPath.cardHoldsContent());
            QQuickItem* copy = descendant(shownPath.content(), "dialogCopy");
            QCOMPARE(copy->property("text").toString(), QStringLiteral("Copy"));
            QTest::mouseClick(w.window(), Qt::LeftButton, {},
                              copy->mapToScene(QPointF(copy->width() / 2, copy->height() / 2)).toPoint());
            QTRY_COMPARE(clipboard->text(), line->property("text").toString());
            QCOMPARE(copy->property("text").toString(), QStringLiteral("Copied"));
            pressOk(w, shownPath);
            QTRY_VERIFY(!shownPath.visible());
        }
    }

    /// The setup log opens inside the window in every case: its last 2,000 lines, newest at
    /// the bottom and scrolled there, selectable, read-only.
    void setupLogOpensInTheWindow()
    {
        Opener opener; // the desktop is never asked
        auto window = open("setting-up");
        PhaseWindow& w = *window;
        const fs::path log = fs::path(w.model().root().toStdString()) / "Logs" / "setup.log";
        {
            std::ofstream longer(log, std::ios::app);
            for (int line = 1; line <= 2500; ++line)
                longer << "[2026-12-11T09:00:00Z] line " << line << '\n';
        }
        const Dialog view = dialog(w, "logView");
        CLICK(w, "showSetupLog");
        QTRY_VERIFY(view.visible());
        QVERIFY(opener.opened.isEmpty());
        QQuickItem* area = descendant(view.content(), "logText");
        const QStringList lines = area->property("text").toString().split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2000);
        QCOMPARE(lines.first(), QStringLiteral("[2026-12-11T09:00:00Z] line 501"));
        QCOMPARE(lines.last(), QStringLiteral("[2026-12-11T09:00:00Z] line 2500"));
        QVERIFY(area->property("readOnly").toBool());
        QVERIFY(area->property("selectByMouse").toBool());
        QVERIFY(!descendant(view.content(), "logNote")->isVisible());
        QQuickItem* scroller = descendant(view.content(), "logScroller");
        QTRY_VERIFY(scroller->property("contentY").toReal() > 0);
        QTRY_VERIFY(scroller->property("contentY").toReal() + scroller->height()
                    >= scroller->property("contentHeight").toReal() - 1);
        QTest::keyClick(w.window(), Qt::Key_Escape);
        QTRY_VERIFY(!view.visible());
    }

    /// A failure that points to the setup log offers it right there.
    void failureOffersTheSetupLog()
    {
        auto window = open("failed");
        PhaseWindow& w = *window;
        QCOMPARE(text(w, "failureSetupLog"), QStringLiteral("Show setup log"));
        CLICK(w, "failureSetupLog");
        const Dialog view = dialog(w, "logView");
        QTRY_VERIFY(view.visible());
        QVERIFY(
            descendant(view.content(), "logText")->property("text").toString().contains("Importing your Halo 2 files"));
    }

    /// A pipe or a link planted in place of the log never blocks the view; it says why there
    /// is nothing to show, and so does a log that is not there yet.
    void plantedLogIsNotRead_data()
    {
        QTest::addColumn<QString>("planted");
        QTest::addRow("pipe") << "pipe";
        QTest::addRow("link") << "link";
        QTest::addRow("missing") << "missing";
        QTest::addRow("linked folder") << "linked folder";
    }

    void plantedLogIsNotRead()
    {
        QFETCH(QString, planted);
        auto window = open("ready");
        PhaseWindow& w = *window;
        const fs::path log = fs::path(w.model().root().toStdString()) / "Logs" / "setup.log";
        fs::remove(log);
        if (planted == "pipe")
            QCOMPARE(::mkfifo(log.c_str(), 0600), 0);
        if (planted == "link") {
            std::ofstream(log.parent_path() / "elsewhere.txt") << "not the log\n";
            fs::create_symlink("elsewhere.txt", log);
        }
        if (planted == "linked folder") {
            const fs::path aside = log.parent_path().parent_path() / "elsewhere";
            fs::rename(log.parent_path(), aside);
            std::ofstream(aside / "setup.log") << "not the log\n";
            fs::create_symlink(aside, log.parent_path());
        }
        const Dialog view = dialog(w, "logView");
        w.model().showSetupLog(); // the failure screen's and the progress screen's button
        QTRY_VERIFY(view.visible());
        QCOMPARE(descendant(view.content(), "logText")->property("text").toString(), QString());
        const QString note = descendant(view.content(), "logNote")->property("text").toString();
        if (planted == "missing")
            QCOMPARE(
                note,
                QStringLiteral("Nothing has been logged yet. The setup log starts with the next setup or repair."));
        else if (planted == "linked folder")
            QCOMPARE(note,
                     "The setup log cannot be shown because its folder "
                         + QString::fromStdString(log.parent_path().string())
                         + " is a link, not a folder of its own. Remove the link; the next setup or repair "
                           "starts a new log.");
        else
            QCOMPARE(note,
                     "The setup log cannot be shown because something other than a plain file stands at "
                         + QString::fromStdString(log.string())
                         + ". Remove it; the next setup or repair starts a new log.");
    }

    /// The progress screen lists the stages: waiting, running with its own clock, done; the
    /// step count follows the running stage, and the environment stage says what Wine does.
    void stepsFollowTheSetup()
    {
        auto window = open("setting-up-environment", {.size = {940, 1100}, .manualClock = true});
        PhaseWindow& w = *window;
        const QStringList titles{"Importing your Halo 2 files",
                                 "Getting the audio decoder",
                                 "Getting the compatibility runtime",
                                 "Installing the game's graphics libraries",
                                 "Creating your private Windows environment",
                                 "Finishing"};
        const auto states = [&w] {
            QStringList found;
            for (const QVariant& step : w.model().steps())
                found << step.toMap().value("state").toString();
            return found;
        };
        QCOMPARE(states(), (QStringList{"done", "done", "done", "done", "running", "waiting"}));
        QCOMPARE(text(w, "stepCount"), QStringLiteral("Step 5 of 6"));
        for (int index = 0; index < titles.size(); ++index) {
            QQuickItem* row = stepRow(w, index);
            QVERIFY(row->isVisible());
            QCOMPARE(descendant(row, "stepTitle")->property("text").toString(), titles[index]);
            QCOMPARE(descendant(row, "stepDetail")->isVisible(), index == 4);
        }
        QCOMPARE(descendant(stepRow(w, 4), "stepDetail")->property("text").toString(),
                 QStringLiteral("Wine is applying the game's settings."));
        QCOMPARE(descendant(stepRow(w, 5), "stepState")->property("text").toString(), QString());
        // The running stage's clock is its own.
        w.advanceClock(std::chrono::seconds(43));
        QTRY_COMPARE(descendant(stepRow(w, 4), "stepState")->property("text").toString(), QStringLiteral("43s"));

        w.releaseSetup();
        QTRY_VERIFY_WITH_TIMEOUT(!w.model().busy(), 10'000);
        QCOMPARE(states(), QStringList(6, "done"));
        QCOMPARE(w.model().stepText(), QStringLiteral("Step 6 of 6"));
    }

    /// A repair lists the stages it skips and counts only those it runs; a new run starts
    /// with every stage waiting again.
    void repairSkipsWhatItDoesNotNeed()
    {
        auto window = open("repair");
        PhaseWindow& w = *window;
        QSignalSpy status(&w.model(), &LauncherModel::statusChanged);
        CLICK(w, "repair");
        QVERIFY(w.model().busy());
        QTRY_COMPARE_WITH_TIMEOUT(text(w, "progressLine"),
                                  QStringLiteral("Unpacking the compatibility runtime · 180 MB · 12s elapsed"), 10'000);
        QStringList found;
        for (const QVariant& step : w.model().steps())
            found << step.toMap().value("state").toString();
        QCOMPARE(found, (QStringList{"skipped", "done", "running", "skipped", "waiting", "waiting"}));
        QCOMPARE(text(w, "stepCount"), QStringLiteral("Step 2 of 4"));
        QCOMPARE(descendant(stepRow(w, 0), "stepState")->property("text").toString(), QStringLiteral("Not needed"));
        w.releaseSetup();
        QTRY_VERIFY_WITH_TIMEOUT(!w.model().busy(), 10'000);
        QCOMPARE(w.model().stepText(), QStringLiteral("Step 4 of 4"));
    }

    /// When setup ends or an error appears, the whole status box scrolls into view and the
    /// error is not clipped: at the usual size and the minimum, advanced options open or not.
    void statusComesIntoViewWhenSetupEnds_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("advanced");
        QTest::addColumn<bool>("fails");
        for (const QSize size : {QSize(940, 760), QSize(860, 690)})
            for (const bool advanced : {false, true})
                for (const bool fails : {true, false})
                    QTest::addRow("%dx%d, advanced %s, %s", size.width(), size.height(), advanced ? "open" : "closed",
                                  fails ? "failure" : "success")
                        << size << advanced << fails;
    }

    void statusComesIntoViewWhenSetupEnds()
    {
        QFETCH(QSize, size);
        QFETCH(bool, advanced);
        QFETCH(bool, fails);
        auto window = open("setting-up", {.size = size, .advanced = advanced});
        PhaseWindow& w = *window;
        QCOMPARE(w.window()->size(), size);
        QCOMPARE(w.window()->minimumSize(), QSize(860, 690));
        if (fails)
            w.failSetup();
        else
            w.releaseSetup();
        QTRY_VERIFY_WITH_TIMEOUT(!w.model().busy(), 10'000);
        QTest::qWait(100);
        w.settle();

        const QRectF viewport = corvanel::test_support::contentViewport(w.window());
        const QRectF box = sceneRect(item(w, "statusBox"));
        QVERIFY2(inside(box, viewport), qPrintable("status box " + describe(box) + ", viewport " + describe(viewport)));
        if (fails) {
            QQuickItem* error = item(w, "errorText");
            const QRectF shownError = sceneRect(error);
            QVERIFY2(inside(shownError, viewport), qPrintable("error " + describe(shownError)));
            QVERIFY(inside(shownError, box));
            // Every line of it fits its own height: nothing is cut off at the bottom.
            QVERIFY2(error->property("contentHeight").toReal() <= error->height() + 0.5,
                     qPrintable(QStringLiteral("text %1 high in %2")
                                    .arg(error->property("contentHeight").toReal())
                                    .arg(error->height())));
            QVERIFY(error->property("lineCount").toInt() >= 2);
        }
    }

    /// A failed launch on the play screen shows its error in view, even when scrolled away.
    void launchErrorComesIntoView()
    {
        auto window = open("ready", {.size = {860, 690}});
        PhaseWindow& w = *window;
        fs::remove(fs::path(w.model().root().toStdString()) / "installed.json");
        CLICK(w, "play");
        QCOMPARE(w.model().error(), QStringLiteral("Setup is incomplete. Complete setup before launching Halo 2."));
        QTest::qWait(100);
        w.settle();
        const QRectF viewport = corvanel::test_support::contentViewport(w.window());
        QVERIFY(inside(sceneRect(item(w, "statusBox")), viewport));
        QVERIFY(inside(sceneRect(item(w, "errorText")), viewport));
    }

    /// Tab walks every control in order; the one with the keyboard shows a ring in the accent
    /// colour, drawn around it, and no other ring shows.
    void keyboardFocusIsVisible()
    {
        auto window = open("failed", {.size = {940, 1100}, .advanced = true});
        PhaseWindow& w = *window;
        const QStringList order = {"navGuide",
                                   "navGameFiles",
                                   "navLogs",
                                   "chooseSource",
                                   "advancedToggle",
                                   "chooseAudio",
                                   "downloadsFolderChoose",
                                   "installationFolderChoose",
                                   "setUp",
                                   "errorText"};
        const auto rings = [&] {
            QStringList shown;
            for (QQuickItem* ring : visualItems(w.window()->contentItem()))
                if (ring->objectName() == "focusRing" && ring->isVisible())
                    shown << ring->parentItem()->objectName();
            return shown;
        };
        QVERIFY2(rings().isEmpty(), qPrintable(rings().join(", ")));

        QImage before = w.window()->grabWindow();
        for (const QString& name : order) {
            QTest::keyClick(w.window(), Qt::Key_Tab);
            QQuickItem* focused = w.window()->activeFocusItem();
            QVERIFY(focused);
            QCOMPARE(focused->objectName(), name);
            QQuickItem* ring = descendant(focused, "focusRing");
            if (!ring) // a button's ring sits on its background
                ring = descendant(focused->property("background").value<QQuickItem*>(), "focusRing");
            QVERIFY2(ring && ring->isVisible(), qPrintable(name));
            QCOMPARE(rings().size(), 1);
            QCOMPARE(ring->property("border").value<QObject*>()->property("color").value<QColor>(), accentColour);

            QTest::qWait(30);
            const QImage after = w.window()->grabWindow();
            QVERIFY2(after != before, qPrintable(name + " looks the same with the keyboard"));
            const QRectF outline = sceneRect(ring);
            const QPoint onRing(qRound(outline.left() + 1), qRound(outline.center().y()));
            QCOMPARE(after.pixelColor(onRing).name(), accentColour.name());
            before = after;
        }
    }

    /// The error text can be selected and copied with the keyboard and with the mouse.
    void errorTextCanBeCopied()
    {
        auto window = open("failed");
        PhaseWindow& w = *window;
        QQuickItem* error = item(w, "errorText");
        QClipboard* clipboard = QGuiApplication::clipboard();

        clipboard->clear();
        while (w.window()->activeFocusItem() != error) {
            QTest::keyClick(w.window(), Qt::Key_Tab);
            QVERIFY(w.window()->activeFocusItem());
        }
        QTest::keyClick(w.window(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(w.window(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(clipboard->text(), PhaseWindow::failure);

        clipboard->clear();
        QMetaObject::invokeMethod(error, "deselect");
        w.settle();
        QRectF first, end;
        QMetaObject::invokeMethod(error, "positionToRectangle", Q_RETURN_ARG(QRectF, first), Q_ARG(int, 0));
        QMetaObject::invokeMethod(error, "positionToRectangle", Q_RETURN_ARG(QRectF, end),
                                  Q_ARG(int, PhaseWindow::failure.size()));
        const QPoint from = error->mapToScene(QPointF(1, first.center().y())).toPoint();
        const QPoint to = error->mapToScene(QPointF(end.right() + 2, end.center().y())).toPoint();
        QTest::mousePress(w.window(), Qt::LeftButton, {}, from);
        for (int step = 1; step <= 8; ++step)
            QTest::mouseMove(w.window(), from + (to - from) * step / 8);
        QTest::mouseRelease(w.window(), Qt::LeftButton, {}, to);
        QCOMPARE(error->property("selectedText").toString(), PhaseWindow::failure);
        QTest::keyClick(w.window(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(clipboard->text(), PhaseWindow::failure);
    }

    /// The clock counts from the press of set-up on a monotonic clock: a progress screen drawn
    /// later shows the time since the press, not since it was drawn.
    void setupClockCountsFromThePress()
    {
        auto window = open("source-chosen", {.size = {940, 1100}, .manualClock = true});
        PhaseWindow& w = *window;
        w.window()->hide();
        w.model().install(); // what the button does
        w.advanceClock(std::chrono::seconds(42));
        QTest::qWait(300);
        w.window()->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.window()));
        QVERIFY(shown(w, "progressScreen"));
        QCOMPARE(text(w, "elapsed"), QStringLiteral("42s"));
        w.advanceClock(std::chrono::seconds(23));
        QTRY_COMPARE(text(w, "elapsed"), QStringLiteral("1m 5s"));
    }

    /// About opens from the menu once the menu has closed, drawn in the launcher's look.
    void aboutOpensAfterTheMenuCloses()
    {
        auto window = open("ready");
        PhaseWindow& w = *window;
        QObject* menu = w.window()->findChild<QObject*>("applicationMenu");
        QVERIFY(menu);
        const Dialog about = dialog(w, "about");
        bool menuShownWithAbout = true;
        connect(about.popup, SIGNAL(opened()), this, SLOT(noteMenu()));
        menuOpenWhenAboutOpened_ = [&] { menuShownWithAbout = menu->property("visible").toBool(); };

        QMetaObject::invokeMethod(menu, "open");
        QTRY_VERIFY(menu->property("visible").toBool());
        QQuickItem* entry = nullptr;
        for (QQuickItem* candidate : visualItems(w.window()->contentItem()))
            if (candidate->inherits("QQuickMenuItem") && candidate->property("text").toString() == "About Corvanel")
                entry = candidate;
        QVERIFY(entry);
        QTest::mouseClick(w.window(), Qt::LeftButton, {},
                          entry->mapToScene(QPointF(entry->width() / 2, entry->height() / 2)).toPoint());
        QTRY_VERIFY(about.visible());
        QVERIFY(!menu->property("visible").toBool());
        QVERIFY(!menuShownWithAbout);

        QCOMPARE(about.text("dialogEyebrow"), QStringLiteral("ABOUT CORVANEL"));
        QCOMPARE(about.text("dialogHeading"), QStringLiteral("Corvanel"));
        QCOMPARE(about.text("dialogHeadingNote"), QStringLiteral("0.2.1"));
        QCOMPARE(about.paragraphs(),
                 (QStringList{"Sets up and starts Halo 2 for Windows Vista in a private Wine environment.",
                              "An unofficial community launcher, not affiliated with Microsoft, Xbox or Bungie.",
                              "Corvanel is free software under the GNU General Public License, version 3 or any later "
                              "version, and comes with no warranty."}));
        QCOMPARE(about.buttons().size(), 1);
        QVERIFY(about.cardHoldsContent());
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
        pressOk(w, about);
        QTRY_VERIFY(!about.visible());
    }

    /// Cancel and Escape ask once; "Keep going" changes nothing, "Stop setup" stops the work and
    /// the window returns to the screen before setup with the sentence that says so.
    void cancelAsksOnceThenStops()
    {
        auto window = open("setting-up");
        PhaseWindow& w = *window;
        const Dialog question = dialog(w, "stopQuestion");
        QVERIFY(shown(w, "cancelSetup"));

        CLICK(w, "cancelSetup");
        QTRY_VERIFY(question.visible());
        QCOMPARE(question.text("dialogHeading"), QStringLiteral("Stop setup?"));
        QCOMPARE(question.paragraphs(),
                 QStringList{"Nothing you chose is lost; the next setup continues from where it stopped."});
        QCOMPARE(question.buttons().size(), 2);
        QCOMPARE(descendant(question.content(), "dialogOk")->property("text").toString(), QStringLiteral("Stop setup"));
        QCOMPARE(descendant(question.content(), "dialogReject")->property("text").toString(),
                 QStringLiteral("Keep going"));
        QVERIFY(question.cardHoldsContent());
        QTest::keyClick(w.window(), Qt::Key_Return); // "Keep going" has the keyboard
        QTRY_VERIFY(!question.visible());
        QVERIFY(w.model().busy());
        QVERIFY(!w.model().stopping());

        QTest::keyClick(w.window(), Qt::Key_Escape);
        QTRY_VERIFY(question.visible());
        pressOk(w, question);
        QTRY_VERIFY(!question.visible());
        QVERIFY(w.model().stopping());
        QVERIFY(!item(w, "cancelSetup")->isEnabled());
        QCOMPARE(text(w, "progressLine"), QStringLiteral("Stopping. The running step is being ended and tidied up."));

        w.failSetup(); // the stand-in setup ends the way a stopped one does
        QTRY_VERIFY_WITH_TIMEOUT(!w.model().busy(), 10'000);
        QVERIFY(shown(w, "installScreen"));
        QCOMPARE(text(w, "statusText"), QString::fromStdString(test_support::setupStopped));
        QVERIFY(!shown(w, "errorText"));
    }

    /// The alert that the game still runs goes away by itself once the game has ended.
    void runningGameAlertClosesWhenTheGameEnds()
    {
        auto window = open("playing");
        PhaseWindow& w = *window;
        const Dialog box = dialog(w, "alert");
        w.window()->close();
        QTRY_VERIFY(box.visible());
        w.endGame();
        QTRY_VERIFY_WITH_TIMEOUT(!w.model().playing(), 10'000);
        QTRY_VERIFY(!box.visible());
    }

    /// "Stop the game" ends the game's whole process group; the lock goes and no failure shows.
    void runningGameAlertStopsTheGame()
    {
        auto window = open("playing");
        PhaseWindow& w = *window;
        const Dialog box = dialog(w, "alert");
        w.window()->close();
        QTRY_VERIFY(box.visible());
        pressOk(w, box);
        QTRY_VERIFY_WITH_TIMEOUT(!w.model().playing(), 10'000);
        QTRY_VERIFY(!box.visible());
        QVERIFY(w.model().error().isEmpty());
        QCOMPARE(w.model().status(), QStringLiteral("Your installation is ready."));
        QVERIFY(w.delegate().shouldTerminate());
    }

    /// Return and Enter press the button that has the keyboard; F10 opens the menu.
    void keyboardPressesButtonsAndOpensTheMenu()
    {
        const auto focusOn = [](PhaseWindow& w, const QString& name) {
            for (int tabs = 0;
                 tabs < 20 && (!w.window()->activeFocusItem() || w.window()->activeFocusItem()->objectName() != name);
                 ++tabs)
                QTest::keyClick(w.window(), Qt::Key_Tab);
            return w.window()->activeFocusItem() && w.window()->activeFocusItem()->objectName() == name;
        };
        {
            auto window = open("fresh");
            PhaseWindow& w = *window;
            QVERIFY(focusOn(w, "chooseSource"));
            QTest::keyClick(w.window(), Qt::Key_Return);
            QVERIFY(w.model().sourceChosen());
            QVERIFY(focusOn(w, "setUp"));
            QTest::keyClick(w.window(), Qt::Key_Enter, Qt::KeypadModifier);
            QVERIFY(w.model().busy());
        }
        auto window = open("ready");
        PhaseWindow& w = *window;
        QObject* menu = w.window()->findChild<QObject*>("applicationMenu");
        QVERIFY(!menu->property("visible").toBool());
        QTest::keyClick(w.window(), Qt::Key_F10);
        QTRY_VERIFY(menu->property("visible").toBool());
        QTest::keyClick(w.window(), Qt::Key_Escape);
        QTRY_VERIFY(!menu->property("visible").toBool());
    }

    void quitGuard_data()
    {
        QTest::addColumn<QString>("phase");
        QTest::addColumn<QString>("alert");
        QTest::addColumn<QStringList>("buttons");
        QTest::newRow("setting up")
            << "setting-up"
            << "Setup is still running / Let setup finish, or press Cancel, before quitting the launcher."
            << QStringList{"OK"};
        QTest::newRow("playing") << "playing"
                                 << "Halo 2 is still running / Save and quit Halo 2 before quitting the launcher."
                                 << QStringList{"Keep playing", "Stop the game"};
        QTest::newRow("repairing")
            << "repairing"
            << "Repair is still running / Let the repair finish, or press Cancel, before quitting the launcher."
            << QStringList{"OK"};
    }

    /// A window close, the menu, the shortcut and an application quit request are refused alike.
    void quitGuard()
    {
        QFETCH(QString, phase);
        QFETCH(QString, alert);
        QFETCH(QStringList, buttons);
        auto window = open(phase == "repairing" ? QStringLiteral("repair") : phase);
        PhaseWindow& w = *window;
        QQuickWindow* quickWindow = w.window();
        if (phase == "repairing") {
            w.model().repair();
            QVERIFY(w.model().busy());
        }

        const Dialog box = dialog(w, "alert");
        const QStringList texts = alert.split(" / ");
        quickWindow->close();
        QVERIFY(quickWindow->isVisible());
        QCOMPARE(w.alerts, QStringList{alert});
        // The alert is drawn over the window in its own look, with OK, or the game's two answers.
        QTRY_VERIFY(box.visible());
        w.settle();
        QCOMPARE(box.text("dialogHeading"), texts[0]);
        QCOMPARE(box.paragraphs(), QStringList{texts[1]});
        QStringList shownButtons;
        for (QQuickItem* shownButton : box.buttons())
            shownButtons << shownButton->property("text").toString();
        QCOMPARE(shownButtons, buttons);
        QVERIFY(box.buttons().last()->property("prominent").toBool());
        // The button is wider than its label, which sits in its middle.
        QQuickItem* label = box.buttons().last()->findChild<QQuickItem*>("label");
        const QRectF button = sceneRect(box.buttons().last());
        QVERIFY2(button.width() > label->width() + 20,
                 qPrintable(describe(sceneRect(label)) + " in " + describe(button)));
        QVERIFY2(qAbs(sceneRect(label).center().x() - button.center().x()) <= 1,
                 qPrintable(describe(sceneRect(label)) + " in " + describe(button)));
        QVERIFY(box.cardHoldsContent());
        QVERIFY(QApplication::topLevelWidgets().isEmpty()); // no stock message box
        QQuickItem* keep = box.buttons().first(); // OK, or "Keep playing"
        QTest::mouseClick(quickWindow, Qt::LeftButton, {},
                          keep->mapToScene(QPointF(keep->width() / 2, keep->height() / 2)).toPoint());
        QTRY_VERIFY(!box.visible());
        QCOMPARE(w.model().busy() || w.model().playing(), true);

        QMetaObject::invokeMethod(quickWindow, "quitRequested");
        QCOMPARE(w.alerts.size(), 2);
        QTRY_VERIFY(box.visible());
        QTest::keyClick(quickWindow, Qt::Key_Return); // OK, or "Keep playing", has the keyboard
        QTRY_VERIFY(!box.visible());

        quickWindow->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(quickWindow));
        QTest::keyClick(quickWindow, Qt::Key_Q, Qt::ControlModifier);
        QCOMPARE(w.alerts.size(), 3);
        QTRY_VERIFY(box.visible());
        QTest::keyClick(quickWindow, Qt::Key_Escape);
        QTRY_VERIFY(!box.visible());
        // Escape closed the alert only: it did not also ask whether to stop setup.
        QVERIFY(!dialog(w, "stopQuestion").visible());

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
