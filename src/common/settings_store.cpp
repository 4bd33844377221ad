#include "common/settings_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringDecoder>

#include <algorithm>

#ifdef Q_OS_WIN
#include <QSettings>
#endif

namespace {
constexpr qint64 MaxFileSize = 1 << 20; // far beyond any real settings file
}

TSettingsStore::TSettingsStore(QString filePath) : FilePath(filePath.isEmpty() ? DefaultPath() : filePath) {}

QString TSettingsStore::DefaultPath()
{
#ifdef Q_OS_WIN
    return QStringLiteral("HKEY_CURRENT_USER\\Zelvane");
#else
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/Zelvane.conf");
#endif
}

void TSettingsStore::Open()
{
#ifdef Q_OS_WIN
    // The registry matches value names without regard to case by itself.
    QSettings key(FilePath, QSettings::NativeFormat);
    Values.clear();
    for (const QString &name : key.childKeys())
        Values.emplace_back(name, key.value(name).toString());
#else
    if (!QFileInfo::exists(FilePath)) {
        QDir().mkpath(QFileInfo(FilePath).absolutePath());
        QFile create(FilePath);
        if (create.open(QIODevice::WriteOnly))
            create.close();
    }
    Load();
#endif
}

void TSettingsStore::Load()
{
    Values.clear();
    Repeated.clear();
    Unreadable.clear();
    BadEncoding = false;
    QFile file(FilePath);
    if (QFileInfo(FilePath).isDir()) {
        Unreadable = QStringLiteral("是一个文件夹");
        return;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        // Every value reads as missing; a file that is simply not there yet is no problem.
        if (file.exists())
            Unreadable = file.errorString();
        return;
    }
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8(file.read(MaxFileSize));
    BadEncoding = utf8.hasError();
    for (QString line : text.split(QLatin1Char('\n'))) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString name = line.left(eq).trimmed();
        if (name.isEmpty())
            continue;
        // The last of two lines for a name wins, as in other configuration files; the line
        // keeps the place and spelling of the first.
        auto known = std::find_if(Values.begin(), Values.end(),
                                  [&name](const auto &v) { return v.first.compare(name, Qt::CaseInsensitive) == 0; });
        if (known == Values.end()) {
            Values.emplace_back(name, line.mid(eq + 1));
        } else {
            known->second = line.mid(eq + 1);
            if (!Repeated.contains(known->first, Qt::CaseInsensitive))
                Repeated.append(known->first);
        }
    }
}

QStringList TSettingsStore::Names() const
{
    QStringList names;
    for (const auto &v : Values)
        names << v.first;
    return names;
}

QString TSettingsStore::Read(const QString &name) const
{
    for (const auto &v : Values)
        if (v.first.compare(name, Qt::CaseInsensitive) == 0)
            return v.second;
    return QString();
}

bool TSettingsStore::Contains(const QString &name) const
{
    for (const auto &v : Values)
        if (v.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

bool TSettingsStore::Write(const QString &name, const QString &value, QString *error)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (name.isEmpty() || name.contains(QLatin1Char('=')) || name.contains(QLatin1Char('\n'))
        || value.contains(QLatin1Char('\n')) || value.contains(QLatin1Char('\r')))
        return fail(QStringLiteral("无效的设置名称或值: %1").arg(name));
    if (!Unreadable.isEmpty())
        return fail(QStringLiteral("设置文件 %1 无法读取 (%2)，不写入，以免覆盖其中的设置。").arg(FilePath, Unreadable));

    auto updated = Values;
    bool found = false;
    for (auto &v : updated) {
        if (v.first.compare(name, Qt::CaseInsensitive) == 0) {
            v.second = value;
            found = true;
            break;
        }
    }
    if (!found)
        updated.emplace_back(name, value);

#ifdef Q_OS_WIN
    QSettings key(FilePath, QSettings::NativeFormat);
    key.setValue(name, value);
    key.sync();
    if (key.status() != QSettings::NoError)
        return fail(QStringLiteral("无法写入注册表 %1").arg(FilePath));
#else
    QString text;
    for (const auto &v : updated)
        text += v.first + QLatin1Char('=') + v.second + QLatin1Char('\n');
    QDir().mkpath(QFileInfo(FilePath).absolutePath());
    QSaveFile file(FilePath);
    if (!file.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("无法写入 %1: %2").arg(FilePath, file.errorString()));
    file.write(text.toUtf8());
    if (!file.commit())
        return fail(QStringLiteral("无法写入 %1: %2").arg(FilePath, file.errorString()));
#endif
    Values = std::move(updated);
    return true;
}
