// The whole setup through the window's buttons, on the fixture kit: choose the installer
// folder, set up with the real installer, then play.

#include "phases.h"

#include "demo_catalogue.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

using namespace corvanel;
namespace fs = std::filesystem;

class FullSetupTest : public QObject {
    Q_OBJECT

private slots:
    void setUpAndPlayThroughTheButtons()
    {
        const fs::path kit = CORVANEL_FIXTURES_DIR;
        if (!fs::exists(kit / "h2pc_installer_2.1" / "h2pc_data.bin"))
            QSKIP("The fixture kit is not built.");
        test_support::DataHome home;
        // The downloads are already in place, as after an earlier attempt: no network needed.
        fs::create_directories(home.root() / "Downloads");
        for (const auto& asset : fs::directory_iterator(kit / "cache"))
            fs::copy_file(asset.path(), home.root() / "Downloads" / asset.path().filename());

        AppDelegate delegate(
            {
                .catalogue = demoCatalogue(),
                .settings = home.path() / "settings.ini",
                .choose = [&kit](const FilePanel&) -> std::optional<QUrl> {
                    return QUrl::fromLocalFile(QString::fromStdString((kit / "h2pc_installer_2.1").string()));
                },
            },
            [](const QString& message, const QString&) { QFAIL(qPrintable("unexpected alert: " + message)); });
        QQuickWindow* window = delegate.window();
        QVERIFY(window);
        window->resize(940, 1100);
        QVERIFY(QTest::qWaitForWindowExposed(window));
        LauncherModel& model = delegate.model();

        // Every state each stage passes through, in order, and the details shown while it ran.
        QList<QStringList> stateTrail(6);
        QStringList details;
        QStringList stepTexts;
        QObject::connect(&model, &LauncherModel::stepsChanged, &model, [&] {
            const QVariantList steps = model.steps();
            for (int index = 0; index < steps.size(); ++index) {
                const QVariantMap step = steps[index].toMap();
                if (stateTrail[index].value(stateTrail[index].size() - 1) != step["state"].toString())
                    stateTrail[index] << step["state"].toString();
                if (!step["detail"].toString().isEmpty() && !details.contains(step["detail"].toString()))
                    details << step["detail"].toString();
            }
            if (!stepTexts.contains(model.stepText()))
                stepTexts << model.stepText();
        });

        QVERIFY(test_support::click(window, "chooseSource"));
        QVERIFY(test_support::click(window, "setUp"));
        QVERIFY(model.busy());
        QTRY_VERIFY_WITH_TIMEOUT(!model.busy(), 840'000);
        QCOMPARE(model.error(), QString());
        for (const QStringList& trail : stateTrail)
            QCOMPARE(trail, (QStringList{"waiting", "running", "done"}));
        QCOMPARE(
            stepTexts,
            (QStringList{"Step 1 of 6", "Step 2 of 6", "Step 3 of 6", "Step 4 of 6", "Step 5 of 6", "Step 6 of 6"}));
        QCOMPARE(details,
                 (QStringList{"Wine is creating the Windows environment.", "Wine is applying the game's settings.",
                              "Wine is registering the audio decoder.", "Wine is saving the Windows environment."}));
        QVERIFY(model.ready());
        QCOMPARE(model.status(), QStringLiteral("Your installation is ready."));
        QVERIFY(test_support::findItem(window, "playScreen")->isVisible());

        QSignalSpy playing(&model, &LauncherModel::playingChanged);
        QVERIFY(test_support::click(window, "play"));
        QVERIFY2(model.error().isEmpty(), qPrintable(model.error()));
        QTRY_VERIFY_WITH_TIMEOUT(!model.playing(), 120'000);
        QCOMPARE(model.error(), QString());
        QFile gameLog(QString::fromStdString((home.root() / "Logs" / "halo2.log").string()));
        QVERIFY(gameLog.open(QIODevice::ReadOnly));
        QVERIFY(gameLog.readAll().contains("-windowed -hiresfix"));
    }
};

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    corvanel::prepareApplication();
    FullSetupTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "full_setup_test.moc"
