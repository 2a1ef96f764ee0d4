// The executable's window mode from outside: without a display it explains itself instead of
// aborting inside Qt, and the command line never loads Qt.

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class WindowEntryTest : public QObject {
    Q_OBJECT

private slots:
    void withoutDisplay_data()
    {
        QTest::addColumn<QString>("platform");
        QTest::newRow("default platform") << QString();
        QTest::newRow("X11 asked for") << "xcb";
        QTest::newRow("Wayland asked for") << "wayland";
    }

    void withoutDisplay()
    {
        QFETCH(QString, platform);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
        if (!platform.isEmpty())
            environment.insert("QT_QPA_PLATFORM", platform);

        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(CORVANEL_BINARY, {});
        QVERIFY(program.waitForFinished(30'000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 1);
        QCOMPARE(program.readAllStandardError(),
                 QByteArray("Corvanel cannot open its window because no display was found (neither DISPLAY nor "
                            "WAYLAND_DISPLAY is set). Start it from a desktop session, or use the command line "
                            "instead, for example: corvanel --cli --status\n"));
    }

    void guideShipsBesideTheProgram()
    {
        const QFileInfo program(CORVANEL_BINARY);
        QVERIFY(QFileInfo(program.dir().filePath("resources/Setup Guide.html")).isFile());
    }

    void commandLineDoesNotLoadQt()
    {
        QProcess ldd;
        ldd.start("/usr/bin/ldd", {CORVANEL_BINARY});
        QVERIFY(ldd.waitForFinished(30'000));
        const QByteArray libraries = ldd.readAllStandardOutput();
        QVERIFY(libraries.contains("libc.so"));
        QVERIFY2(!libraries.contains("libQt6"), libraries.constData());

        QTemporaryDir home;
        QProcess program;
        program.start(CORVANEL_BINARY, {"--cli", "--status", "--home", home.path()});
        QVERIFY(program.waitForFinished(30'000));
        QCOMPARE(program.readAllStandardOutput(), QByteArray("not installed\n"));
        QCOMPARE(program.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(WindowEntryTest)
#include "window_entry_test.moc"
