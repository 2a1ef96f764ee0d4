#include "ui/launcher_model.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>

namespace corvanel {

namespace {

/// A file dialog that also accepts the selected folder itself when `folders` is set: the Open
/// button chooses a highlighted folder, a double click still walks into it.
class SourceDialog : public QFileDialog {
public:
    SourceDialog(const FilePanel& panel) : QFileDialog(nullptr, panel.title), folders_(panel.folders)
    {
        setOption(QFileDialog::DontUseNativeDialog);
        setFileMode(QFileDialog::ExistingFile);
        setDirectory(QDir::home());
        if (auto* grid = qobject_cast<QGridLayout*>(layout())) {
            auto* message = new QLabel(panel.message, this);
            message->setWordWrap(true);
            grid->addWidget(message, grid->rowCount(), 0, 1, grid->columnCount());
        }
    }

    QString chosen;

    void accept() override
    {
        const QStringList files = selectedFiles();
        if (folders_ && files.size() == 1 && QFileInfo(files.front()).isDir()) {
            chosen = files.front();
            done(QDialog::Accepted);
            return;
        }
        QFileDialog::accept();
        if (result() == QDialog::Accepted && !selectedFiles().isEmpty())
            chosen = selectedFiles().front();
    }

private:
    bool folders_;
};

} // namespace

std::optional<QUrl> runFilePanel(const FilePanel& panel)
{
    SourceDialog dialog(panel);
    if (dialog.exec() != QDialog::Accepted || dialog.chosen.isEmpty())
        return std::nullopt;
    return QUrl::fromLocalFile(dialog.chosen);
}

} // namespace corvanel
