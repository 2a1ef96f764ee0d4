#include "ui/launcher_model.h"

#include <QPushButton>
#include <QDialogButtonBox>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTreeView>

#include <tuple>
#include <vector>

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

/// Puts `widget` in a new first row of `grid`, spanning all its columns, above everything else.
void prependRow(QGridLayout* grid, QWidget* widget)
{
    const int columns = grid->columnCount();
    std::vector<std::tuple<QLayoutItem*, int, int, int, int>> items;
    while (grid->count() > 0) {
        int row = 0, column = 0, rowSpan = 0, columnSpan = 0;
        grid->getItemPosition(0, &row, &column, &rowSpan, &columnSpan);
        items.emplace_back(grid->takeAt(0), row, column, rowSpan, columnSpan);
    }
    grid->addWidget(widget, 0, 0, 1, columns);
    for (const auto& [item, row, column, rowSpan, columnSpan] : items)
        grid->addItem(item, row + 1, column, rowSpan, columnSpan);
}

/// The toolkit's file dialog, made to behave as an open panel that may also choose folders:
/// - with nothing typed, Open chooses the highlighted entry, or else the folder being viewed;
/// - a typed folder path is entered, as a double click would; a typed file is chosen;
/// - it opens where the last choice was made, wide enough for its columns, with the message
///   at the top.
class OpenPanel : public QFileDialog {
public:
    explicit OpenPanel(const FilePanel& panel) : QFileDialog(nullptr, panel.title), folders_(panel.folders)
    {
        setOption(QFileDialog::DontUseNativeDialog);
        setFileMode(QFileDialog::ExistingFile);
        setViewMode(QFileDialog::Detail);
        setDirectory(startFolder());
        resize(900, 560);

        if (auto* grid = qobject_cast<QGridLayout*>(layout())) {
            auto* message = new QLabel(panel.message, this);
            message->setObjectName(QStringLiteral("panelMessage"));
            message->setWordWrap(true);
            message->setContentsMargins(0, 0, 0, 6);
            prependRow(grid, message);
        }
        if (auto* details = findChild<QTreeView*>(QStringLiteral("treeView"))) {
            QHeaderView* header = details->header();
            header->setStretchLastSection(false);
            header->setSectionResizeMode(0, QHeaderView::Stretch);
            for (int column = 1; column < header->count(); ++column)
                header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
        }
        typed_ = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (auto* buttons = findChild<QDialogButtonBox*>(QStringLiteral("buttonBox")))
            open_ = buttons->button(QDialogButtonBox::Open);
        if (folders_ && open_) {
            open_->installEventFilter(this);
            open_->setEnabled(true);
        }
    }

    QString chosen;

    void accept() override
    {
        if (folders_ && typedText().isEmpty()) {
            const QStringList highlighted = selectedFiles();
            choose(highlighted.isEmpty() ? directory().absolutePath() : highlighted.front());
            return;
        }
        // Something typed: the dialog enters a folder and accepts only an existing file.
        QFileDialog::accept();
        if (result() == QDialog::Accepted && !selectedFiles().isEmpty())
            remember(selectedFiles().front());
    }

protected:
    /// The dialog disables Open while nothing is typed; when folders may be chosen, the folder
    /// being viewed is always a choice.
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == open_ && event->type() == QEvent::EnabledChange && !open_->isEnabled() && typedText().isEmpty())
            open_->setEnabled(true);
        return QFileDialog::eventFilter(watched, event);
    }

private:
    QString typedText() const { return typed_ ? typed_->text().trimmed() : QString(); }

    void choose(const QString& path)
    {
        remember(path);
        done(QDialog::Accepted);
    }

    void remember(const QString& path)
    {
        chosen = path;
        lastFolder() = directory().absolutePath();
    }

    bool folders_;
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
