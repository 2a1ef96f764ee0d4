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
        const QByteArray unset = "no display was found (neither DISPLAY nor WAYLAND_DISPLAY is set)";
        QTest::addColumn<QString>("platform");
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("wayland");
        QTest::addColumn<QByteArray>("reason");
        QTest::newRow("default platform") << QString() << QString() << QString() << unset;
        QTest::newRow("X11 asked for") << "xcb" << QString() << QString() << unset;
        QTest::newRow("Wayland asked for") << "wayland" << QString() << QString() << unset;
        QTest::newRow("X server gone") << QString() << ":97" << QString()
                                       << QByteArray("its display does not answer (DISPLAY=:97)");
        QTest::newRow("Wayland server gone")
            << QString() << QString() << "/nonexistent/wayland-97"
            << QByteArray("its display does not answer (WAYLAND_DISPLAY=/nonexistent/wayland-97)");
    }

    void withoutDisplay()
    {
        QFETCH(QString, platform);
        QFETCH(QString, display);
        QFETCH(QString, wayland);
        QFETCH(QByteArray, reason);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
        if (!platform.isEmpty())
            environment.insert("QT_QPA_PLATFORM", platform);
        if (!display.isEmpty())
            environment.insert("DISPLAY", display);
        if (!wayland.isEmpty())
            environment.insert("WAYLAND_DISPLAY", wayland);

        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(CORVANEL_BINARY, {});
        QVERIFY(program.waitForFinished(30'000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 1);
        QCOMPARE(program.readAllStandardError(),
                 "Corvanel cannot open its window because " + reason
                     + ". Start it from a desktop session, or use the command line instead, for example: corvanel "
                       "--cli --status\n");
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
