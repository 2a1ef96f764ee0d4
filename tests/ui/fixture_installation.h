#pragma once

#include "installer/assets/catalogue.h"

#include <QString>
#include <QTemporaryDir>

#include <filesystem>

namespace corvanel::test_support {

/// A temporary XDG_DATA_HOME for one test: the model's default root is `root()` below it.
class DataHome {
public:
    DataHome();
    ~DataHome();
    std::filesystem::path root() const;
    std::filesystem::path path() const;

private:
    QTemporaryDir dir_;
    QByteArray previous_;
};

/// Makes `root` hold a finished installation, complete down to the finer checks of repair, whose
/// Wine executable is a shell script with `wineBody` as its body (it runs in the game folder as
/// `wine halo2.exe -windowed -hiresfix`).
void writeInstallation(const std::filesystem::path& root, const QString& wineBody = QStringLiteral("exit 0"));

/// The release catalogue, except that it accepts the audio decoder of `writeInstallation`.
Catalogue fixtureCatalogue();

/// Writes `text` to `file`, creating its folders.
void writeText(const std::filesystem::path& file, const QString& text);

} // namespace corvanel::test_support
