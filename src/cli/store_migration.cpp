#include "cli/store_migration.h"

#include "directory/directory_store.h"
#include "history/history.h"
#include "history/history_writer.h"
#include "store/sql_engine.h"
#include "store/store_place.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <memory>

namespace {
const QString SourceDirectory = QStringLiteral("migrate-from-directory");
const QString SourceHistoryName = QStringLiteral("migrate-from-history");
const QString TargetHistory = QStringLiteral("migrate-to-history");

// The directory's and the history's tables as statements name them.
const QString GroupTable = QStringLiteral("\"Group\"");

// what failed, said in full, and the database's reason.
QString Failed(const QString &what, const QSqlError &error)
{
    return TSqlEngine::WithReason(what, TSqlEngine::Reason(error));
}

QString TableFailed(const QString &table, const QSqlError &error)
{
    return Failed(QStringLiteral("表 %1 读写失败").arg(table), error);
}

void Drop(const QString &name)
{
    if (!QSqlDatabase::contains(name))
        return;
    QSqlDatabase::database(name, false).close();
    QSqlDatabase::removeDatabase(name);
}

bool Exists(const QSqlDatabase &db, const QString &table, QString *why)
{
    bool exists = false;
    return TSqlEngine::Of(db).Exists(db, table, &exists, why) && exists;
}
} // namespace

QString TStoreMigration::TCounts::Text() const
{
    return QStringLiteral("电话号码 %1 条，分组 %2 个，通知记录 %3 条（其中号码 %4 条）")
        .arg(Phones)
        .arg(Groups)
        .arg(Entries)
        .arg(Numbers);
}

TStoreMigration::TStoreMigration(QString dataDir, TStoreUrl from, TStoreUrl to, bool append)
    : DataDir(std::move(dataDir)), From(std::move(from)), To(std::move(to)), Append(append)
{
}

TStoreMigration::~TStoreMigration()
{
    TargetStore.reset();
    for (const QString &name : {SourceDirectory, SourceHistoryName, TargetHistory})
        Drop(name);
}

bool TStoreMigration::Count(const QSqlDatabase &db, bool directory, bool history, TCounts *counts, QString *why)
{
    QSqlQuery q(db);
    const auto count = [&](const QString &table, qint64 *into) {
        if (!q.exec(QStringLiteral("SELECT count(*) FROM ") + table) || !q.next()) {
            *why = TableFailed(table, q.lastError());
            return false;
        }
        *into = q.value(0).toLongLong();
        return true;
    };
    return (!directory || (count(QStringLiteral("TelNumber"), &counts->Phones) && count(GroupTable, &counts->Groups)))
        && (!history || (count(QStringLiteral("Entry"), &counts->Entries) && count(QStringLiteral("EntryNumber"), &counts->Numbers)));
}

void TStoreMigration::LeaveNoTrace(QSqlDatabase &db, const TStorePlace &place)
{
    // A file no program has open has no -wal beside it, and everything is in the file itself.
    // Read as it is (immutable), it gets no -wal and -shm of ours left beside it: a reader
    // cannot remove those when it closes. A file in use is read as usual, beside its own.
    if (place.OnServer() || QFileInfo::exists(place.File + QStringLiteral("-wal")) || QFileInfo::exists(place.File + QStringLiteral("-shm")))
        return;
    db.setDatabaseName(QUrl::fromLocalFile(QFileInfo(place.File).absoluteFilePath()).toString(QUrl::FullyEncoded)
                       + QStringLiteral("?immutable=1"));
    db.setConnectOptions(db.connectOptions() + QStringLiteral(";QSQLITE_OPEN_URI"));
}

QString TStoreMigration::OpenSource(QString *why)
{
    const QString data = QDir(DataDir).filePath(QStringLiteral("DATA"));
    const TStorePlace directory{TDM::FileIn(DataDir), From};
    const TStorePlace history{QDir(data).filePath(THistory::FileName()), From};
    if (!From.IsServer() && !QFileInfo::exists(directory.File))
        return QStringLiteral("数据文件夹 %1 中没有电话号码库 (%2)。").arg(QDir::toNativeSeparators(DataDir), directory.Shown());
    // Read only: the source stays as it is, whatever happens.
    QSqlDatabase db = directory.Add(SourceDirectory, QStringLiteral("migrate"), true, 5000);
    LeaveNoTrace(db, directory);
    if (!TSqlEngine::Open(db))
        return Failed(QStringLiteral("不能打开 %1").arg(directory.Shown()), db.lastError());
    if (!Exists(db, QStringLiteral("TelNumber"), why) || !Exists(db, GroupTable, why))
        return TSqlEngine::WithReason(QStringLiteral("%1 中没有电话号码库的表").arg(directory.Shown()), *why);
    HasSourceHistory = From.IsServer() || QFileInfo::exists(history.File);
    if (HasSourceHistory) {
        QSqlDatabase h = history.Add(SourceHistoryName, QStringLiteral("migrate"), true, 5000);
        LeaveNoTrace(h, history);
        if (!TSqlEngine::Open(h))
            return Failed(QStringLiteral("不能打开 %1").arg(history.Shown()), h.lastError());
        HasSourceHistory = Exists(h, QStringLiteral("Entry"), why) && Exists(h, QStringLiteral("EntryNumber"), why);
    }
    return QString();
}

QString TStoreMigration::OpenTarget()
{
    TargetStore = std::make_unique<TDM>();
    QString why;
    if (!TargetStore->Prepare(DataDir, &why, To) || !why.isEmpty())
        return why;
    QSqlDatabase db = QSqlDatabase::database(TargetStore->Connection(), false);
    // Files in a DATA/ folder made before get the directory's tables here.
    if (!Exists(db, QStringLiteral("TelNumber"), &why)) {
        QSqlQuery q(db);
        for (const QString &sql : {TDM::CreateTelNumber(), TDM::CreateGroup(), TDM::CreateTelNumIndex()})
            if (!q.exec(sql))
                return Failed(QStringLiteral("不能建立电话号码库的表"), q.lastError());
    }
    // The history's tables as the program makes them.
    const TStorePlace history{QDir(TargetStore->Folder()).filePath(THistory::FileName()), To};
    {
        THistoryWriter writer(history);
        writer.Open();
        writer.Close();
    }
    Drop(THistoryWriter::ConnectionName(history));
    if (!To.IsServer()) {
        QSqlDatabase h = history.Add(TargetHistory, QStringLiteral("migrate"), false, 5000);
        if (!TSqlEngine::Open(h))
            return Failed(QStringLiteral("不能打开 %1").arg(history.Shown()), h.lastError());
    }
    return QString();
}

QString TStoreMigration::Copy(const QSqlDatabase &from, const QSqlDatabase &to, const QString &table, qint64 sequenceOffset,
                              qint64 *rows)
{
    QString why;
    const auto sourceColumns = TSqlEngine::Of(from).Columns(from, table, &why);
    const auto targetColumns = TSqlEngine::Of(to).Columns(to, table, &why);
    QStringList names;
    QList<int> at;
    int sequenceAt = -1;
    for (const TSqlEngine::TColumn &source : sourceColumns)
        for (const TSqlEngine::TColumn &target : targetColumns)
            if (source.Name.compare(target.Name, Qt::CaseInsensitive) == 0) {
                if (target.Name.compare(QLatin1String("sequence"), Qt::CaseInsensitive) == 0)
                    sequenceAt = int(names.size());
                names << target.Name;
            }
    if (names.isEmpty())
        return TSqlEngine::WithReason(QStringLiteral("表 %1 没有可复制的列").arg(table), why);
    QSqlQuery read(from);
    read.setForwardOnly(true);
    if (!read.exec(QStringLiteral("SELECT %1 FROM %2 ORDER BY sequence").arg(names.join(QLatin1Char(',')), table)))
        return TableFailed(table, read.lastError());
    QSqlQuery write(to);
    if (!write.prepare(QStringLiteral("INSERT INTO %1(%2) VALUES(%3)")
                           .arg(table, names.join(QLatin1Char(',')), QStringList(names.size(), QStringLiteral("?")).join(QLatin1Char(',')))))
        return TableFailed(table, write.lastError());
    while (read.next()) {
        for (int i = 0; i < names.size(); ++i) {
            QVariant value = read.value(i);
            if (i == sequenceAt && sequenceOffset > 0)
                value = value.toLongLong() + sequenceOffset;
            write.bindValue(i, value);
        }
        if (!write.exec())
            return TableFailed(table, write.lastError());
        ++*rows;
    }
    if (read.lastError().isValid())
        return TableFailed(table, read.lastError());
    return QString();
}

QString TStoreMigration::CopyHistory(const QSqlDatabase &from, const QSqlDatabase &to)
{
    // Entries by id: one already in the target (an earlier, interrupted move) is left as it is,
    // and so are its numbers.
    QSqlQuery read(from);
    read.setForwardOnly(true);
    const QString columns = QStringLiteral("Id, At, Kind, MessageId, Target, Content, PlayCount, Channel, Outcome, Numbers, "
                                           "SentAt, SwitchUp, LatencyMs, TargetName");
    if (!read.exec(QStringLiteral("SELECT %1 FROM Entry ORDER BY Id").arg(columns)))
        return TableFailed(QStringLiteral("Entry"), read.lastError());
    QSqlQuery write(to);
    write.prepare(QStringLiteral("INSERT INTO Entry(%1) VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?) ON CONFLICT(Id) DO NOTHING").arg(columns));
    QSet<qint64> added;
    while (read.next()) {
        for (int i = 0; i < 14; ++i)
            write.bindValue(i, read.value(i));
        if (!write.exec())
            return TableFailed(QStringLiteral("Entry"), write.lastError());
        if (write.numRowsAffected() > 0) {
            added.insert(read.value(0).toLongLong());
            ++Written.Entries;
        }
    }
    if (read.lastError().isValid())
        return TableFailed(QStringLiteral("Entry"), read.lastError());
    QSqlQuery numbers(from);
    numbers.setForwardOnly(true);
    if (!numbers.exec(QStringLiteral("SELECT EntryId, Number, Name, KeyPosition, SentAt, Seq FROM EntryNumber ORDER BY EntryId, Seq")))
        return TableFailed(QStringLiteral("EntryNumber"), numbers.lastError());
    QSqlQuery number(to);
    number.prepare(QStringLiteral("INSERT INTO EntryNumber(EntryId, Number, Name, KeyPosition, SentAt, Seq) VALUES(?,?,?,?,?,?)"));
    while (numbers.next()) {
        if (!added.contains(numbers.value(0).toLongLong()))
            continue;
        for (int i = 0; i < 6; ++i)
            number.bindValue(i, numbers.value(i));
        if (!number.exec())
            return TableFailed(QStringLiteral("EntryNumber"), number.lastError());
        ++Written.Numbers;
    }
    if (numbers.lastError().isValid())
        return TableFailed(QStringLiteral("EntryNumber"), numbers.lastError());
    return QString();
}

QString TStoreMigration::Run()
{
    if (From.IsServer() == To.IsServer())
        return QStringLiteral("迁移只能从本机文件到数据库服务器（--to URL），或从数据库服务器到本机文件（--from URL --to-files）。");
    QString why;
    if (const QString failed = OpenSource(&why); !failed.isEmpty())
        return failed;
    const QSqlDatabase sourceDirectory = QSqlDatabase::database(SourceDirectory, false);
    const QSqlDatabase sourceHistory = QSqlDatabase::database(SourceHistoryName, false);
    if (!Count(sourceDirectory, true, false, &Read, &why) || (HasSourceHistory && !Count(sourceHistory, false, true, &Read, &why)))
        return QStringLiteral("不能读取源: ") + why;
    if (const QString failed = OpenTarget(); !failed.isEmpty())
        return QStringLiteral("不能打开目标: ") + failed;
    QSqlDatabase directory = QSqlDatabase::database(TargetStore->Connection(), false);
    // On a server both are in one database: one transaction stores all of it or none.
    QSqlDatabase history = To.IsServer() ? directory : QSqlDatabase::database(TargetHistory, false);
    TCounts before;
    if (!Count(directory, true, false, &before, &why) || !Count(history, false, true, &before, &why))
        return QStringLiteral("不能读取目标: ") + why;
    if (!Append && !(before == TCounts()))
        return QStringLiteral("目标中已有数据（%1）：未迁移任何记录。要追加在其后请加 --append。").arg(before.Text());

    qint64 phoneOffset = 0;
    qint64 groupOffset = 0;
    if (Append) {
        QSqlQuery q(directory);
        if (q.exec(QStringLiteral("SELECT max(sequence) FROM TelNumber")) && q.next())
            phoneOffset = q.value(0).toLongLong();
        if (q.exec(QStringLiteral("SELECT max(sequence) FROM ") + GroupTable) && q.next())
            groupOffset = q.value(0).toLongLong();
    }
    TWriteTransaction directoryWrite(TargetStore->Connection());
    if (!directoryWrite.BeginError().isEmpty())
        return directoryWrite.BeginError();
    std::unique_ptr<TWriteTransaction> historyWrite;
    if (!To.IsServer()) {
        historyWrite = std::make_unique<TWriteTransaction>(TargetHistory);
        if (!historyWrite->BeginError().isEmpty())
            return historyWrite->BeginError();
    }
    QString failed = Copy(sourceDirectory, directory, QStringLiteral("TelNumber"), phoneOffset, &Written.Phones);
    if (failed.isEmpty())
        failed = Copy(sourceDirectory, directory, GroupTable, groupOffset, &Written.Groups);
    if (failed.isEmpty() && HasSourceHistory)
        failed = CopyHistory(sourceHistory, history);
    if (!failed.isEmpty())
        return QStringLiteral("迁移失败，未迁移任何记录: ") + failed;
    // The history's file first: should the directory's commit fail after it, an append of the
    // same source writes no entry twice.
    if (historyWrite) {
        if (const QString why = historyWrite->Commit(); !why.isEmpty())
            return QStringLiteral("迁移失败，未迁移任何记录: ") + why;
    }
    if (const QString why = directoryWrite.Commit(); !why.isEmpty())
        return QStringLiteral("迁移失败: ") + why + (historyWrite ? QStringLiteral("（通知记录已写入目标）") : QString());
    if (!Count(directory, true, false, &After, &why) || !Count(history, false, true, &After, &why))
        return QStringLiteral("已迁移，但不能读回目标核对: ") + why;
    const TCounts expected{before.Phones + Written.Phones, before.Groups + Written.Groups, before.Entries + Written.Entries,
                           before.Numbers + Written.Numbers};
    if (!(After == expected) || (!Append && !(Written == Read)))
        return QStringLiteral("迁移后核对不符：源 %1，写入 %2，目标现有 %3。").arg(Read.Text(), Written.Text(), After.Text());
    return QString();
}
