#include "service/install_paths.h"

#include "keyboard/key_table.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace TInstallPaths {

namespace {

QString SharedFolder()
{
    return QDir(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/varnex")).absolutePath();
}

} // namespace

bool Installed()
{
    const QString beside = QCoreApplication::applicationDirPath();
    return QFileInfo(beside).fileName() == QLatin1String("bin") && QFileInfo(SharedFolder()).isDir();
}

QString DataDir(const QString &given)
{
    if (!given.isEmpty())
        return QDir(given).absolutePath();
    const QString beside = QCoreApplication::applicationDirPath();
    if (!Installed() && QFileInfo(beside).isWritable())
        return beside;
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/varnex");
}

QString SettingsFile(const QString &dataDir, bool dataDirGiven)
{
#ifdef Q_OS_WIN
    Q_UNUSED(dataDir)
    Q_UNUSED(dataDirGiven)
    return QString(); // the registry
#else
    const QString beside = QDir(dataDir).filePath(QStringLiteral("Zelvane.conf"));
    return dataDirGiven && QFileInfo::exists(beside) ? beside : QString();
#endif
}

QString KeyFile(const QString &dataDir)
{
    const QString inData = QDir(dataDir).filePath(TKeyTable::FileName());
    if (QFileInfo::exists(inData))
        return inData;
    const QString inWorkingDir = QDir::current().absoluteFilePath(TKeyTable::FileName());
    return QFileInfo::exists(inWorkingDir) ? inWorkingDir : inData;
}

QString SoundDir()
{
    const QString beside = QCoreApplication::applicationDirPath();
    if (QFileInfo::exists(beside + QStringLiteral("/w0.wav")))
        return beside;
    const QString installed = SharedFolder();
    return QFileInfo::exists(installed + QStringLiteral("/w0.wav")) ? installed : beside;
}

} // namespace TInstallPaths
