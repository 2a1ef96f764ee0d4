// The open panel as a user drives it: where it opens, what Open and Enter do, and its layout.

#include "ui/launcher_model.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QComboBox>
#include <QCompleter>
#include <QDialog>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <functional>

using namespace corvanel;

namespace {

const FilePanel gamePanel{
    .title = QStringLiteral("Choose your Halo 2 installer folder"),
    .message
    = QStringLiteral("Choose h2pc_installer_2.1. You can also select its ZIP, h2pc_data.bin, or a complete game "
                     "folder. Audio support is set up automatically."),
    .folders = true,
};
const FilePanel audioPanel{
    .title = QStringLiteral("Choose your Microsoft audio package"),
    .message = QStringLiteral("Select the supported MPSetup.exe package or WMADMOD.DLL from your licensed files. See "
                              "Setup Guide for details."),
    .folders = false,
};

/// Runs the panel; `steps` act on the open dialog as a user would. A panel still open after
/// them is cancelled, so a failing step cannot leave the test waiting.
std::optional<QUrl> runPanel(const FilePanel& panel, const std::function<void(QDialog&)>& steps)
{
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        poll.stop();
        steps(*dialog);
        if (dialog->isVisible())
            dialog->reject();
    });
    poll.start();
    return runFilePanel(panel);
}

QTreeView* details(QDialog& dialog)
{
    return dialog.findChild<QTreeView*>("listing");
}
QLineEdit* typed(QDialog& dialog)
{
    return dialog.findChild<QLineEdit*>("nameField");
}
QPushButton* openButton(QDialog& dialog)
{
    return dialog.findChild<QPushButton*>("openButton");
}
/// The folder the panel is viewing.
QString viewed(QDialog& dialog)
{
    return dialog.property("folder").toString();
}

/// Waits until the folder being viewed is listed.
void waitListed(QDialog& dialog)
{
    QTreeView* view = details(dialog);
    QTRY_VERIFY_WITH_TIMEOUT(view->model()->rowCount(view->rootIndex()) > 0, 5000);
    QTest::qWait(50);
}

/// Types `text` into the name field and presses Enter, as a user would (the completion list
/// that typing opens is closed first, as a user's Escape would).
void typeAndEnter(QDialog& dialog, const QString& text)
{
    QLineEdit* field = typed(dialog);
    field->setFocus();
    QTest::keyClicks(field, text);
    if (field->completer() && field->completer()->popup())
        field->completer()->popup()->hide();
    QTest::keyClick(field, Qt::Key_Return);
}

QString canonical(const QString& path)
{
    return QFileInfo(path).canonicalFilePath();
}

} // namespace

class FilePanelTest : public QObject {
    Q_OBJECT

    QTemporaryDir home_;
    QString downloads() const { return home_.filePath("Downloads"); }
    QString installer() const { return home_.filePath("Downloads/h2pc_installer_2.1"); }

private slots:
    void initTestCase()
    {
        QVERIFY(home_.isValid());
        qputenv("HOME", home_.path().toUtf8());
        QVERIFY(QDir().mkpath(installer() + "/Redist"));
        QFile data(installer() + "/h2pc_data.bin");
        QVERIFY(data.open(QIODevice::WriteOnly));
        data.write(QByteArray(37 * 1024 + 123, 'x')); // a size that needs its whole column
        data.close();
        QFile audio(downloads() + "/MPSetup.exe");
        QVERIFY(audio.open(QIODevice::WriteOnly));
        audio.write("MZ");
    }

    /// The first panel opens at home, titled and worded as designed, the message at the top,
    /// and wide enough for every column of the listing.
    void opensWithItsOwnTitleMessageAndRoomForItsColumns()
    {
        runPanel(gamePanel, [&](QDialog& dialog) {
            QCOMPARE(canonical(viewed(dialog)), canonical(home_.path()));
            QCOMPARE(dialog.windowTitle(), gamePanel.title);
            auto* message = dialog.findChild<QLabel*>("panelMessage");
            QVERIFY(message);
            QCOMPARE(message->text(), gamePanel.message);
            for (const char* below : {"folderPath", "listing", "nameField", "openButton"}) {
                auto* widget = dialog.findChild<QWidget*>(below);
                QVERIFY2(widget, below);
                QVERIFY2(message->geometry().bottom() < widget->mapTo(&dialog, QPoint(0, 0)).y(), below);
            }

            typeAndEnter(dialog, installer());
            waitListed(dialog);
            QTreeView* view = details(dialog);
            const QAbstractItemView* listing = view; // the column size hint is public here
            QVERIFY(view->isVisible());
            for (int column = 0; column < view->header()->count(); ++column) {
                if (view->header()->isSectionHidden(column))
                    continue;
                QVERIFY2(view->columnWidth(column) >= listing->sizeHintForColumn(column),
                         qPrintable(QStringLiteral("column %1 is %2 wide, needs %3")
                                        .arg(column)
                                        .arg(view->columnWidth(column))
                                        .arg(listing->sizeHintForColumn(column))));
                QVERIFY(view->columnWidth(column) >= view->header()->sectionSizeHint(column));
            }
        });
    }

    /// A typed folder path is entered, not chosen; with nothing typed or highlighted, Open
    /// chooses the folder being viewed.
    void typedFolderIsEnteredAndTheViewedFolderCanBeChosen()
    {
        bool stillOpen = false;
        const auto chosen = runPanel(gamePanel, [&](QDialog& dialog) {
            waitListed(dialog);
            typeAndEnter(dialog, installer());
            stillOpen = dialog.isVisible();
            QCOMPARE(canonical(viewed(dialog)), canonical(installer()));
            QVERIFY(typed(dialog)->text().isEmpty());
            waitListed(dialog);
            QVERIFY(openButton(dialog)->isEnabled());
            QTest::mouseClick(openButton(dialog), Qt::LeftButton);
        });
        QVERIFY(stillOpen);
        QVERIFY(chosen);
        QCOMPARE(canonical(chosen->toLocalFile()), canonical(installer()));
    }

    /// The next panel opens where the last choice was made; a highlighted folder is chosen
    /// with Open, a typed file name with Enter.
    void reopensWhereTheLastChoiceWasMade()
    {
        auto chosen = runPanel(gamePanel, [&](QDialog& dialog) {
            QCOMPARE(canonical(viewed(dialog)), canonical(installer()));
            typeAndEnter(dialog, "h2pc_data.bin");
        });
        QVERIFY(chosen);
        QCOMPARE(canonical(chosen->toLocalFile()), canonical(installer() + "/h2pc_data.bin"));

        chosen = runPanel(gamePanel, [&](QDialog& dialog) {
            QCOMPARE(canonical(viewed(dialog)), canonical(installer()));
            typeAndEnter(dialog, downloads());
            waitListed(dialog);
            QTreeView* view = details(dialog);
            const QModelIndex folder = view->model()->index(0, 0, view->rootIndex()); // folders come first
            QCOMPARE(folder.data().toString(), QStringLiteral("h2pc_installer_2.1"));
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(folder).center());
            QVERIFY(openButton(dialog)->isEnabled());
            QTest::mouseClick(openButton(dialog), Qt::LeftButton);
        });
        QVERIFY(chosen);
        QCOMPARE(canonical(chosen->toLocalFile()), canonical(installer()));

        // The audio panel follows too; it chooses files only.
        chosen = runPanel(audioPanel, [&](QDialog& dialog) {
            QCOMPARE(canonical(viewed(dialog)), canonical(downloads()));
            QCOMPARE(dialog.windowTitle(), audioPanel.title);
            waitListed(dialog);
            QVERIFY(!openButton(dialog)->isEnabled()); // no folder is an audio package
            typeAndEnter(dialog, "MPSetup.exe");
        });
        QVERIFY(chosen);
        QCOMPARE(canonical(chosen->toLocalFile()), canonical(downloads() + "/MPSetup.exe"));
    }

    void cancelChoosesNothing()
    {
        QVERIFY(!runPanel(gamePanel, [](QDialog& dialog) { dialog.reject(); }));
    }

    /// The completion list that typing opens lies wholly outside Cancel and Open.
    void completionsNeverCoverTheButtons()
    {
        runPanel(gamePanel, [&](QDialog& dialog) {
            typeAndEnter(dialog, installer());
            waitListed(dialog);
            QLineEdit* field = typed(dialog);
            field->setFocus();
            QTest::keyClicks(field, installer() + "/R");
            QAbstractItemView* popup = field->completer()->popup();
            QTRY_VERIFY(popup->isVisible());
            const QRect list(popup->mapToGlobal(QPoint(0, 0)), popup->size());
            for (const char* name : {"openButton", "cancelButton"}) {
                auto* button = dialog.findChild<QPushButton*>(name);
                QVERIFY2(button && button->isVisible(), name);
                const QRect shown(button->mapToGlobal(QPoint(0, 0)), button->size());
                QVERIFY2(!list.intersects(shown), name);
            }
            popup->hide();
        });
    }

    /// The installation folder's panel lists and chooses folders only.
    void foldersOnlyPanelListsAndChoosesFolders()
    {
        const FilePanel folderPanel{.title = QStringLiteral("Choose the installation folder"),
                                    .message = QStringLiteral("Choose an empty folder."),
                                    .folders = true,
                                    .foldersOnly = true};
        const auto chosen = runPanel(folderPanel, [&](QDialog& dialog) {
            typeAndEnter(dialog, installer());
            waitListed(dialog);
            QTreeView* view = details(dialog);
            QCOMPARE(view->model()->rowCount(view->rootIndex()), 1); // Redist, not h2pc_data.bin
            typeAndEnter(dialog, "h2pc_data.bin"); // a file is not a choice here
            QVERIFY(dialog.isVisible());
            const auto* notice = dialog.findChild<QLabel*>("panelNotice");
            QVERIFY(notice->isVisible());
            QCOMPARE(notice->text(),
                     QDir::toNativeSeparators(installer() + "/h2pc_data.bin")
                         + " is a file. Choose a folder, or type the name of one.");
            typed(dialog)->clear();
            QTest::mouseClick(openButton(dialog), Qt::LeftButton);
        });
        QVERIFY(chosen);
        QCOMPARE(canonical(chosen->toLocalFile()), canonical(installer()));
    }

    /// Where a new folder may be named, a name not taken yet in an existing folder is chosen as
    /// it is; a name below a folder that does not exist is refused in the panel, saying why.
    void newFolderIsChosenByNameWhereAllowed()
    {
        const FilePanel newFolderPanel{.title = QStringLiteral("Choose the installation folder"),
                                       .message = QStringLiteral("Choose an empty folder."),
                                       .folders = true,
                                       .foldersOnly = true,
                                       .newFolder = true};
        const QString fresh = downloads() + "/Corvanel games";
        const QString nowhere = downloads() + "/missing/Corvanel games";
        const auto chosen = runPanel(newFolderPanel, [&](QDialog& dialog) {
            waitListed(dialog);
            typeAndEnter(dialog, nowhere);
            QVERIFY(dialog.isVisible());
            const auto* notice = dialog.findChild<QLabel*>("panelNotice");
            QVERIFY(notice->isVisible());
            QCOMPARE(notice->text(),
                     "There is nothing named " + QDir::toNativeSeparators(nowhere)
                         + ". Check the name, or choose from the list.");
            typed(dialog)->clear();
            QVERIFY(!notice->isVisible());
            typeAndEnter(dialog, fresh);
        });
        QVERIFY(chosen);
        QCOMPARE(chosen->toLocalFile(), fresh);
        QVERIFY(!QFileInfo::exists(fresh)); // made by setup when it is first used, not by the panel
    }
};

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    FilePanelTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "file_panel_test.moc"
