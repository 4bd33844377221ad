#include "common/write_problem.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>
#include <QStringList>

#include <cerrno>

namespace {

QString DiskFull() { return QStringLiteral("磁盘已满："); }
QString ReadOnly() { return QStringLiteral("磁盘只读："); }
QString NoPermission() { return QStringLiteral("没有写入权限："); }
QString NotAFolder() { return QStringLiteral("不是文件夹："); }

} // namespace

namespace TWriteProblem {

QString Of(const QString &folder, int systemError)
{
    QString existing = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    while (!QFileInfo::exists(existing) && QFileInfo(existing).path() != existing)
        existing = QFileInfo(existing).path();
    const QString shown = QDir::toNativeSeparators(existing);
    const QFileInfo there(existing);
    if (there.exists() && !there.isDir())
        return NotAFolder() + QStringLiteral("%1 是一个文件，不能在其中存放文件").arg(shown);
    const QStorageInfo disk(existing);
#ifdef ENOSPC
    if (systemError == ENOSPC)
        return DiskFull() + QStringLiteral("%1 所在的磁盘没有剩余空间").arg(shown);
#endif
#ifdef EROFS
    if (systemError == EROFS)
        return ReadOnly() + QStringLiteral("%1 所在的磁盘只能读不能写").arg(shown);
#endif
    if (disk.isValid() && disk.isReadOnly())
        return ReadOnly() + QStringLiteral("%1 所在的磁盘只能读不能写").arg(shown);
    // Under a block or two left: a file of any size can no longer be written there.
    if (disk.isValid() && disk.bytesAvailable() < 16 * 1024)
        return DiskFull() + QStringLiteral("%1 所在的磁盘没有剩余空间").arg(shown);
    if (systemError == EACCES || systemError == EPERM || !there.isWritable())
        return NoPermission() + QStringLiteral("不能在 %1 中写文件").arg(shown);
    return QString();
}

bool IsCause(const QString &text)
{
    for (const QString &cause : {DiskFull(), ReadOnly(), NoPermission(), NotAFolder()})
        if (text.startsWith(cause))
            return true;
    return false;
}

} // namespace TWriteProblem
