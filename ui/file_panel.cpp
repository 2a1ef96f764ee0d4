#include "ui/launcher_model.h"

#include <QCompleter>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace corvanel {

namespace {

/// Where the last choice was made; the next panel opens there.
QString& lastFolder()
{
    static QString folder;
    return folder;
}

/// The folder a panel opens in: where the last choice was made while it still exists,
/// otherwise the home folder.
QString startFolder()
{
    const QString& last = lastFolder();
    return !last.isEmpty() && QFileInfo(last).isDir() ? last : QDir::homePath();
}

/// The launcher's open panel, built from the toolkit's public widgets:
/// - the message at the top, then the folder being viewed with a way up, its listing, and one
///   row with the name field beside Cancel and Open, so that the name field's completion
///   list opens below the buttons' row and never covers them;
/// - with nothing typed, Open chooses the highlighted entry, or else the folder being viewed
///   (when folders may be chosen); a highlighted folder is entered when only files may be;
/// - a typed folder path is entered; a typed file is chosen;
/// - it opens where the last choice was made, wide enough for its columns.
/// The folder being viewed is the dynamic property "folder", for whoever drives the panel.
class OpenPanel : public QDialog {
public:
    explicit OpenPanel(const FilePanel& panel)
        : folders_(panel.folders || panel.foldersOnly)
        , foldersOnly_(panel.foldersOnly)
        , newFolder_(panel.newFolder)
    {
        setWindowTitle(panel.title);
        setModal(true);
        resize(900, 560);

        files_->setFilter(foldersOnly_ ? QDir::AllDirs | QDir::NoDotAndDotDot
                                       : QDir::AllEntries | QDir::AllDirs | QDir::NoDotAndDotDot);
        files_->setReadOnly(true);

        auto* message = new QLabel(panel.message, this);
        message->setObjectName(QStringLiteral("panelMessage"));
        message->setWordWrap(true);
        message->setContentsMargins(0, 0, 0, 6);

        auto* up = new QToolButton(this);
        up->setObjectName(QStringLiteral("upButton"));
        up->setText(QStringLiteral("Up"));
        up->setToolTip(QStringLiteral("The folder that holds this one"));
        shownFolder_ = new QLabel(this);
        shownFolder_->setObjectName(QStringLiteral("folderPath"));
        shownFolder_->setTextInteractionFlags(Qt::TextSelectableByMouse);
        auto* where = new QHBoxLayout;
        where->addWidget(up);
        where->addWidget(shownFolder_, 1);

        listing_ = new QTreeView(this);
        listing_->setObjectName(QStringLiteral("listing"));
        listing_->setModel(files_);
        listing_->setRootIsDecorated(false);
        listing_->setItemsExpandable(false);
        listing_->setSortingEnabled(true);
        listing_->sortByColumn(0, Qt::AscendingOrder);
        QHeaderView* header = listing_->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
        for (int column = 1; column < files_->columnCount(); ++column)
            header->setSectionResizeMode(column, QHeaderView::ResizeToContents);

        typed_ = new QLineEdit(this);
        typed_->setObjectName(QStringLiteral("nameField"));
        typed_->setPlaceholderText(foldersOnly_ ? QStringLiteral("Folder path")
                                                : QStringLiteral("File or folder name"));
        // The listing's own model completes typed paths: the folder viewed is already read.
        typed_->setCompleter(new QCompleter(files_, this));

        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel | QDialogButtonBox::Open, this);
        buttons->setObjectName(QStringLiteral("buttons"));
        open_ = buttons->button(QDialogButtonBox::Open);
        open_->setObjectName(QStringLiteral("openButton"));
        open_->setDefault(true);
        buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancelButton"));
        auto* bottom = new QHBoxLayout;
        bottom->addWidget(typed_, 1);
        bottom->addWidget(buttons);

        // Why a typed name was not taken; empty and hidden until then.
        notice_ = new QLabel(this);
        notice_->setObjectName(QStringLiteral("panelNotice"));
        notice_->setWordWrap(true);
        notice_->setTextInteractionFlags(Qt::TextSelectableByMouse);
        notice_->hide();

        auto* layout = new QVBoxLayout(this);
        layout->addWidget(message);
        layout->addLayout(where);
        layout->addWidget(listing_, 1);
        layout->addWidget(notice_);
        layout->addLayout(bottom);

        connect(up, &QToolButton::clicked, this, [this] {
            QDir parent(folder_);
            if (parent.cdUp())
                enter(parent.absolutePath());
        });
        connect(listing_, &QTreeView::activated, this,
                [this](const QModelIndex& index) { activate(files_->filePath(index)); });
        connect(buttons, &QDialogButtonBox::accepted, this, &OpenPanel::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &OpenPanel::reject);
        connect(typed_, &QLineEdit::textChanged, this, &OpenPanel::updateOpen);
        connect(typed_, &QLineEdit::textChanged, notice_, &QLabel::hide);
        connect(listing_->selectionModel(), &QItemSelectionModel::selectionChanged, this, &OpenPanel::updateOpen);

        enter(startFolder());
        typed_->setFocus();
    }

    QString chosen;

    void accept() override
    {
        const QString text = typed_->text().trimmed();
        if (!text.isEmpty()) {
            const QFileInfo entry(QDir(folder_).absoluteFilePath(QDir::fromNativeSeparators(text)));
            if (entry.isDir())
                enter(entry.absoluteFilePath());
            else if (entry.isFile() && !foldersOnly_)
                choose(entry.absoluteFilePath());
            else if (newFolder_ && !entry.exists() && !entry.isSymLink() && QFileInfo(entry.absolutePath()).isDir())
                choose(entry.absoluteFilePath()); // a new folder, made when it is first used
            else
                tell(entry);
            return;
        }
        const QString highlighted = highlightedPath();
        if (!highlighted.isEmpty())
            activateOrChoose(highlighted);
        else if (folders_)
            choose(folder_);
    }

private:
    /// Says in the panel why the typed name was not taken.
    void tell(const QFileInfo& entry)
    {
        const QString name = QDir::toNativeSeparators(entry.absoluteFilePath());
        notice_->setText(entry.isFile() ? name + QStringLiteral(" is a file. Choose a folder, or type the name of one.")
                                        : QStringLiteral("There is nothing named ") + name
                                 + QStringLiteral(". Check the name, or choose from the list."));
        notice_->show();
    }

    QString highlightedPath() const
    {
        const QModelIndexList rows = listing_->selectionModel()->selectedRows();
        return rows.isEmpty() ? QString() : files_->filePath(rows.front());
    }

    /// A double click or Enter in the listing: a folder is entered, a file chosen.
    void activate(const QString& path)
    {
        if (QFileInfo(path).isDir())
            enter(path);
        else if (!foldersOnly_)
            choose(path);
    }

    /// Open on a highlighted entry: chosen when it may be, otherwise entered.
    void activateOrChoose(const QString& path)
    {
        if (QFileInfo(path).isDir() && folders_)
            choose(path);
        else
            activate(path);
    }

    void enter(const QString& folder)
    {
        folder_ = QDir(folder).absolutePath();
        setProperty("folder", folder_);
        listing_->setRootIndex(files_->setRootPath(folder_));
        listing_->clearSelection();
        shownFolder_->setText(folder_);
        typed_->clear();
        updateOpen();
    }

    /// Open is always a choice where folders may be chosen; otherwise once something is
    /// typed or highlighted.
    void updateOpen()
    {
        open_->setEnabled(folders_ || !typed_->text().trimmed().isEmpty() || !highlightedPath().isEmpty());
    }

    void choose(const QString& path)
    {
        chosen = path;
        lastFolder() = folder_;
        done(QDialog::Accepted);
    }

    bool folders_;
    bool foldersOnly_;
    bool newFolder_;
    QFileSystemModel* files_ = new QFileSystemModel(this);
    QString folder_;
    QLabel* shownFolder_ = nullptr;
    QLabel* notice_ = nullptr;
    QTreeView* listing_ = nullptr;
    QLineEdit* typed_ = nullptr;
    QPushButton* open_ = nullptr;
};

} // namespace

std::optional<QUrl> runFilePanel(const FilePanel& panel)
{
    OpenPanel dialog(panel);
    if (dialog.exec() != QDialog::Accepted || dialog.chosen.isEmpty())
        return std::nullopt;
    return QUrl::fromLocalFile(dialog.chosen);
}

} // namespace corvanel
