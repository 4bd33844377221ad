#include "app/install_paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace TInstallPaths {

QString DataDir(const QString &given)
{
    if (!given.isEmpty())
        return QDir(given).absolutePath();
    const QString beside = QCoreApplication::applicationDirPath();
    if (QFileInfo(beside).isWritable())
        return beside;
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/varnex");
}

QString SoundDir()
{
    const QString beside = QCoreApplication::applicationDirPath();
    if (QFileInfo::exists(beside + QStringLiteral("/w0.wav")))
        return beside;
    const QString installed = QDir(beside + QStringLiteral("/../share/varnex")).absolutePath();
    return QFileInfo::exists(installed + QStringLiteral("/w0.wav")) ? installed : beside;
}

} // namespace TInstallPaths
