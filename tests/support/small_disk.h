#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStorageInfo>
#include <QString>
#include <QTemporaryDir>

// A real, small filesystem of its own (tmpfs) that a test can fill up. Mounting needs root (or
// the right to mount); when it cannot be had, Problem() says why and the test skips that case.
class TSmallDisk
{
public:
    explicit TSmallDisk(qint64 bytes)
    {
        if (!Mount.isValid()) {
            Why = QStringLiteral("no temporary folder");
            return;
        }
        QProcess mount;
        mount.start(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                              QStringLiteral("size=%1k").arg(bytes / 1024), QStringLiteral("tmpfs"), Mount.path()});
        if (!mount.waitForFinished(10000) || mount.exitStatus() != QProcess::NormalExit || mount.exitCode() != 0) {
            Why = QStringLiteral("cannot mount a tmpfs (needs root or CAP_SYS_ADMIN): %1")
                      .arg(QString::fromLocal8Bit(mount.readAllStandardError()).trimmed() + mount.errorString());
            return;
        }
        Mounted = true;
    }
    ~TSmallDisk()
    {
        if (Mounted)
            QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), Mount.path()});
    }
    TSmallDisk(const TSmallDisk &) = delete;
    TSmallDisk &operator=(const TSmallDisk &) = delete;

    QString Problem() const { return Why; }
    QString Path() const { return Mount.path(); }
    qint64 Free() const { return QStorageInfo(Mount.path()).bytesAvailable(); }

    // Takes space with a file of its own until about `bytes` stay free.
    bool LeaveFree(qint64 bytes)
    {
        QFile filler(QDir(Mount.path()).filePath(QStringLiteral("filler")));
        if (!filler.open(QIODevice::Append))
            return false;
        const QByteArray block(64 * 1024, 'x');
        for (qint64 over = Free() - bytes; over > 0; over -= block.size())
            if (filler.write(block.constData(), qMin<qint64>(over, block.size())) <= 0)
                return false;
        return filler.flush();
    }
    // Mounts it again read-only, as a disk that can no longer be written is.
    bool MakeReadOnly()
    {
        return QProcess::execute(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("remount,ro"), Mount.path()}) == 0;
    }
    // Gives the space taken by LeaveFree back.
    void Release() { QFile::remove(QDir(Mount.path()).filePath(QStringLiteral("filler"))); }

private:
    QTemporaryDir Mount;
    bool Mounted = false;
    QString Why;
};
