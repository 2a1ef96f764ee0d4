#include "fixture_installation.h"

#include "installer/windows/graphics_libraries.h"
#include "support/stand_in_prefix.h"

#include <QCryptographicHash>
#include <QFile>

#include <stdexcept>

namespace corvanel::test_support {

namespace fs = std::filesystem;

namespace {

const QString decoderContent = QStringLiteral("MZ fixture decoder");

} // namespace

DataHome::DataHome()
    : previous_(qgetenv("XDG_DATA_HOME"))
{
    if (!dir_.isValid())
        throw std::runtime_error("cannot create a temporary folder");
    qputenv("XDG_DATA_HOME", dir_.path().toUtf8());
}

DataHome::~DataHome()
{
    if (previous_.isNull())
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", previous_);
}

fs::path DataHome::path() const
{
    return fs::path(dir_.path().toStdString());
}
fs::path DataHome::root() const
{
    return path() / "Corvanel";
}

void writeText(const fs::path& file, const QString& text)
{
    fs::create_directories(file.parent_path());
    QFile out(QString::fromStdString(file.string()));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(text.toUtf8()) < 0)
        throw std::runtime_error("cannot write " + file.string());
}

void writeInstallation(const fs::path& root, const QString& wineBody)
{
    // The stand-in Wine sits where the unpacked runtime keeps it, and the record names it.
    const fs::path wine = fs::absolute(root / "Runtime" / "wswine.bundle" / "bin" / "wine");
    writeText(
        root / "installed.json",
        QStringLiteral(
            R"({"format":1,"launcherVersion":"0.2.1","engine":"wine-8.0 (stand-in) at %1","installedAt":700000000})")
            .arg(QString::fromStdString(wine.string())));
    const fs::path game = root / "Install" / "game";
    const fs::path prefix = root / "Install" / "prefix";
    writeText(game / "halo2.exe", "MZ");
    writeText(game / "xlive.dll", "MZ");
    writeStandInPrefix(prefix);
    for (const char* map : {"shared.map", "mainmenu.map", "single_player_shared.map"})
        writeText(game / "maps" / map, "map");
    for (const auto& graphics : graphicsLibraries)
        writeText(game / graphics.library, "MZ");
    writeText(prefix / "drive_c" / "windows" / "syswow64" / "wmadmod.dll", decoderContent);
    fs::create_directories(prefix / "drive_c" / "Games");
    fs::remove(prefix / "drive_c" / "Games" / "Halo 2");
    fs::create_directory_symlink(fs::absolute(game).lexically_normal(), prefix / "drive_c" / "Games" / "Halo 2");
    writeText(root / "Runtime" / "lib" / "libinotify.0.dylib", "");
    writeText(wine, "#!/bin/sh\n" + wineBody + "\n");
    writeText(wine.parent_path() / "wineserver", "#!/bin/sh\n");
    for (const auto& program : {wine, wine.parent_path() / "wineserver"})
        fs::permissions(program, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    fs::create_directories(root / "Logs");
}

Catalogue fixtureCatalogue()
{
    Catalogue catalogue = releaseCatalogue();
    catalogue.codecHash
        = QCryptographicHash::hash(decoderContent.toUtf8(), QCryptographicHash::Sha256).toHex().toStdString();
    return catalogue;
}

} // namespace corvanel::test_support
