#include "history/history_writer.h"

#include "history/history.h"
#include "history/history_query.h"
#include "store/sql_engine.h"
#include "store/statement_deadline.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {
bool Run(QSqlQuery &q, const QString &sql, QString *why)
{
    if (q.exec(sql))
        return true;
    *why = TSqlEngine::Reason(q.lastError());
    return false;
}

// Files written before the target's name was kept get the column.
bool HasColumn(const QSqlDatabase &db, const QString &table, const QString &name, QString *why)
{
    for (const TSqlEngine::TColumn &column : TSqlEngine::Of(db).Columns(db, table, why))
        if (column.Name.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

// Files written before the target's name was kept get the column; before the numbers' order
// was kept, the order they were written in.
bool AddLaterColumns(const QSqlDatabase &db, QSqlQuery &q, QString *why)
{
    if (!HasColumn(db, QStringLiteral("Entry"), QStringLiteral("TargetName"), why)
        && !Run(q, QStringLiteral("ALTER TABLE Entry ADD COLUMN TargetName TEXT"), why))
        return false;
    if (HasColumn(db, QStringLiteral("EntryNumber"), QStringLiteral("Seq"), why))
        return true;
    if (!Run(q, QStringLiteral("ALTER TABLE EntryNumber ADD COLUMN Seq INTEGER"), why))
        return false;
    const QString order = TSqlEngine::Of(db).InsertionOrder();
    return order.isEmpty() || Run(q, QStringLiteral("UPDATE EntryNumber SET Seq = %1").arg(order), why);
}
} // namespace

THistoryWriter::THistoryWriter(TStorePlace place)
    : Place(std::move(place)), Connection(ConnectionName(Place)),
      Spool(QFileInfo(Place.File).absolutePath() + QLatin1Char('/') + THistorySpool::FileName())
{
}

THistoryWriter::~THistoryWriter()
{
    if (QSqlDatabase::contains(Connection)) {
        QSqlDatabase::database(Connection, false).close();
        QSqlDatabase::removeDatabase(Connection);
    }
}

QString THistoryWriter::ConnectionName(const TStorePlace &place)
{
    return QStringLiteral("history-writer:") + place.Shown();
}

void THistoryWriter::Open()
{
    Timer = new QTimer(this);
    Timer->setSingleShot(true);
    connect(Timer, &QTimer::timeout, this, &THistoryWriter::Flush);
    Place.Add(Connection, QStringLiteral("history"), false, 200);
    LoadSpool();
    QString why;
    if (!Prepare(&why)) {
        Failing = true;
        Q_EMIT Failed(why);
        Timer->start(RetryMs);
    }
}

bool THistoryWriter::Prepare(QString *why)
{
    QSqlDatabase db = QSqlDatabase::database(Connection, false);
    // A server that went away leaves the connection closed or broken: opened afresh.
    if (Ready && db.isOpen() && !TSqlEngine::Of(db).Broken(db))
        return true;
    Ready = false;
    db.close();
    // Opening waits up to the connection's timeout for a server that hangs: a store that failed
    // already is not tried again at a stop.
    if (Stopping.load() && Failing) {
        *why = QStringLiteral("程序正在停止");
        return false;
    }
    if (!TSqlEngine::Open(db)) {
        *why = TSqlEngine::Reason(db.lastError());
        return false;
    }
    const TStatementDeadline deadline(db, DeadlineMs());
    QSqlQuery q(db);
    const TSqlEngine &engine = TSqlEngine::Of(db);
    for (const QString &setup : engine.WriterSetup())
        if (!Run(q, setup, why)) {
            db.close();
            return false;
        }
    // Ids count microseconds since the epoch: 64 bits.
    const QString int64 = engine.Int64Type();
    const auto make = [&](QString *why) {
        return Run(q, QStringLiteral("CREATE TABLE IF NOT EXISTS Entry(Id %1 PRIMARY KEY, At TEXT NOT NULL, Kind TEXT NOT NULL,"
                                     " MessageId INTEGER, Target TEXT, Content TEXT, PlayCount INTEGER, Channel INTEGER,"
                                     " Outcome TEXT, Numbers TEXT, SentAt TEXT, SwitchUp INTEGER, LatencyMs INTEGER, TargetName TEXT)")
                          .arg(int64),
                   why)
            && Run(q, QStringLiteral("CREATE TABLE IF NOT EXISTS EntryNumber(EntryId %1 NOT NULL, Number TEXT, Name TEXT,"
                                     " KeyPosition TEXT, SentAt TEXT, Seq INTEGER)")
                          .arg(int64),
                   why)
            && AddLaterColumns(db, q, why)
            && Run(q, QStringLiteral("CREATE INDEX IF NOT EXISTS EntryAt ON Entry(At)"), why)
            && Run(q, QStringLiteral("CREATE INDEX IF NOT EXISTS EntryNumberEntry ON EntryNumber(EntryId)"), why)
            // Each channel's last started notice, found at start however long the history.
            && Run(q, QStringLiteral("CREATE INDEX IF NOT EXISTS EntryStarted ON Entry(Channel, Id) WHERE Outcome = '%1'")
                          .arg(THistory::Started()),
                   why);
    };
    if (!engine.MakeSchema(db, make, why)) {
        if (deadline.Expired())
            *why = deadline.Text();
        db.close();
        return false;
    }
    Ready = true;
    if (!RestoreDone) {
        RestoreDone = true;
        Q_EMIT Restored(THistoryQuery::ReadLastStarted(Connection, THistory::Channels));
    }
    return true;
}

void THistoryWriter::LoadSpool()
{
    // Left by an earlier run (or this one, before a reopening): forwarded first, in id order
    // with everything else; stored by id, so an entry already forwarded stays one entry.
    int unreadable = 0;
    QString why;
    std::map<qint64, TNotice> spooled = Spool.Read(&unreadable, &why);
    if (!why.isEmpty())
        qWarning("%s", qPrintable(QStringLiteral("通知记录暂存文件 %1 无法读取: %2").arg(Spool.FilePath(), why)));
    if (unreadable > 0)
        qWarning("%s", qPrintable(QStringLiteral("通知记录暂存文件 %1 中有 %2 行无法读取，已略过。")
                                      .arg(Spool.FilePath(), QString::number(unreadable))));
    for (auto &[id, notice] : spooled) {
        WaitingBytes += notice.ApproxBytes();
        Waiting.insert_or_assign(id, std::move(notice));
    }
    WaitingNow.store(int(Waiting.size()), std::memory_order_relaxed);
    if (!Waiting.empty())
        Schedule();
}

bool THistoryWriter::SpoolChanged(QString *why)
{
    QList<TNotice> changed;
    for (qint64 id : Unspooled)
        if (const auto it = Waiting.find(id); it != Waiting.end())
            changed.append(it->second);
    if (!Spool.Append(changed, why))
        return false;
    Unspooled.clear();
    return true;
}

void THistoryWriter::Put(const TNotice &notice)
{
    Unspooled.insert(notice.Id);
    auto [it, added] = Waiting.try_emplace(notice.Id, notice);
    if (!added) {
        WaitingBytes -= it->second.ApproxBytes();
        it->second = notice;
    }
    WaitingBytes += notice.ApproxBytes();
    // The file stays unwritable: the oldest go first, and that is said once.
    while (WaitingBytes > MaxWaitingBytes && Waiting.size() > 1) {
        if (Dropped == 0)
            Q_EMIT Dropping(MaxWaitingBytes);
        WaitingBytes -= Waiting.begin()->second.ApproxBytes();
        Unspooled.erase(Waiting.begin()->first);
        Waiting.erase(Waiting.begin());
        ++Dropped;
    }
    WaitingNow.store(int(Waiting.size()), std::memory_order_relaxed);
    Schedule();
}

void THistoryWriter::Purge(int days)
{
    PurgeDays = days;
    Schedule();
}

void THistoryWriter::MarkInterrupted(const TInterruption &mark)
{
    Marks.append(mark);
    Schedule();
}

bool THistoryWriter::Mark(const TInterruption &mark, QList<qint64> &marked, QString *why)
{
    QSqlDatabase db = QSqlDatabase::database(Connection, false);
    // Still running: started lately, with no later start on its channel. Still waiting: queued
    // lately, with nothing said of that notification since (started, dropped, refused).
    QString own;
    for (qint64 id : mark.Own)
        own += (own.isEmpty() ? QString() : QStringLiteral(",")) + QString::number(id);
    QSqlQuery find(db);
    find.setForwardOnly(true);
    find.prepare(QStringLiteral(
        "SELECT Id FROM Entry e WHERE e.Id < ? AND ("
        "(e.Outcome = ? AND (e.Id IN (%1) OR (e.Id >= ? AND NOT EXISTS (SELECT 1 FROM Entry s WHERE s.Channel = e.Channel"
        " AND s.Outcome = ? AND s.Id > e.Id AND s.Id < ?))))"
        " OR (e.Outcome = ? AND e.Id >= ? AND NOT EXISTS (SELECT 1 FROM Entry s WHERE s.Id > e.Id AND s.Id < ?"
        " AND s.Kind = e.Kind AND s.MessageId = e.MessageId AND s.Channel = e.Channel AND s.Target = e.Target AND s.Outcome <> ?)))")
                     .arg(own.isEmpty() ? QStringLiteral("-1") : own));
    const QVariantList values{mark.Before, THistory::Started(), mark.StartedFrom, THistory::Started(), mark.Before,
                              THistory::Queued(), mark.QueuedFrom, mark.Before, THistory::Queued()};
    for (int i = 0; i < values.size(); ++i)
        find.bindValue(i, values[i]);
    if (!find.exec()) {
        *why = TSqlEngine::Reason(find.lastError());
        return false;
    }
    QList<qint64> ids;
    while (find.next())
        ids.append(find.value(0).toLongLong());
    find.finish();
    QSqlQuery update(db);
    update.prepare(QStringLiteral("UPDATE Entry SET Outcome = ? WHERE Id = ?"));
    for (qint64 id : ids) {
        update.bindValue(0, THistory::Interrupted());
        update.bindValue(1, id);
        if (!update.exec()) {
            *why = TSqlEngine::Reason(update.lastError());
            return false;
        }
    }
    marked += ids;
    return true;
}

void THistoryWriter::Schedule()
{
    // As soon as the writer is free: entries put meanwhile (queued behind this) go in the same
    // transaction. While the file fails, the retry keeps its pace.
    if (Timer && !Timer->isActive())
        Timer->start(Failing ? RetryMs : 0);
}

void THistoryWriter::Close()
{
    if (Timer)
        Timer->stop();
    // A program that stops does not wait for a store that already fails: what waits goes to
    // the spool at once.
    if (!(Stopping.load() && (Failing || !Ready)))
        Flush();
    if (Timer)
        Timer->stop();
    SpooledAtClose = 0;
    if (!Waiting.empty()) {
        QString why;
        if (!SpoolChanged(&why))
            qWarning("%s", qPrintable(QStringLiteral("通知记录暂存文件 %1 无法写入: %2").arg(Spool.FilePath(), why)));
        // What the spool holds of what waits; the rest is counted by Unwritten().
        SpooledAtClose = int(Waiting.size());
        for (qint64 id : Unspooled)
            if (Waiting.count(id) != 0)
                --SpooledAtClose;
    }
    if (QSqlDatabase::contains(Connection))
        QSqlDatabase::database(Connection, false).close();
}

bool THistoryWriter::Write(QString *why, QList<qint64> &marked)
{
    Cut = false;
    bool written = Prepare(why);
    if (written) {
        QSqlDatabase db = QSqlDatabase::database(Connection, false);
        TStatementDeadline deadline(db, DeadlineMs());
        QSqlQuery q(db);
        written = Run(q, TSqlEngine::Of(db).BeginWrite(), why);
        if (written) {
            QSqlQuery entry(db), drop(db), number(db);
            // Written again when its keys are sent, or after a commit whose answer was lost:
            // the entry is replaced, never doubled.
            entry.prepare(QStringLiteral("INSERT INTO Entry(Id, At, Kind, MessageId, Target, Content, PlayCount,"
                                         " Channel, Outcome, Numbers, SentAt, SwitchUp, LatencyMs, TargetName)"
                                         " VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?) ON CONFLICT(Id) DO UPDATE SET"
                                         " At=excluded.At, Kind=excluded.Kind, MessageId=excluded.MessageId, Target=excluded.Target,"
                                         " Content=excluded.Content, PlayCount=excluded.PlayCount, Channel=excluded.Channel,"
                                         " Outcome=excluded.Outcome, Numbers=excluded.Numbers, SentAt=excluded.SentAt,"
                                         " SwitchUp=excluded.SwitchUp, LatencyMs=excluded.LatencyMs, TargetName=excluded.TargetName"));
            drop.prepare(QStringLiteral("DELETE FROM EntryNumber WHERE EntryId = ?"));
            number.prepare(QStringLiteral("INSERT INTO EntryNumber(EntryId, Number, Name, KeyPosition, SentAt, Seq) VALUES (?,?,?,?,?,?)"));
            for (auto it = Waiting.begin(); written && it != Waiting.end(); ++it) {
                const TNotice &n = it->second;
                const QVariantList values{n.Id, TNotice::TimeText(n.At), n.Kind,
                                          n.MessageId >= 0 ? QVariant(n.MessageId) : QVariant(),
                                          n.Target, n.Content, n.PlayCount, n.Channel >= 0 ? QVariant(n.Channel) : QVariant(),
                                          n.Outcome, n.NumbersText(), TNotice::TimeText(n.SentAt), n.SwitchUp ? 1 : 0,
                                          n.LatencyMs >= 0 ? QVariant(n.LatencyMs) : QVariant(),
                                          n.TargetName.isEmpty() ? QVariant() : QVariant(n.TargetName)};
                for (int i = 0; i < values.size(); ++i)
                    entry.bindValue(i, values[i]);
                written = entry.exec();
                if (written && !n.Numbers.isEmpty()) {
                    drop.bindValue(0, n.Id);
                    written = drop.exec();
                    for (qsizetype seq = 0; seq < n.Numbers.size(); ++seq) {
                        if (!written)
                            break;
                        const TNotice::TNumber &num = n.Numbers[seq];
                        number.bindValue(5, int(seq));
                        number.bindValue(0, n.Id);
                        number.bindValue(1, num.Number);
                        number.bindValue(2, num.Name);
                        number.bindValue(3, num.KeyPosition);
                        number.bindValue(4, TNotice::TimeText(num.SentAt));
                        written = number.exec();
                    }
                }
                if (!written)
                    *why = TSqlEngine::Reason(entry.lastError().isValid() ? entry.lastError() : number.lastError());
                if (!Stopping.load())
                    deadline.Extend();
            }
            if (written && PurgeDays > 0) {
                // Ids count milliseconds since the epoch (times 1000).
                const qint64 cutoff = QDateTime::currentDateTime().addDays(-PurgeDays).toMSecsSinceEpoch() * 1000;
                written = Run(q, QStringLiteral("DELETE FROM EntryNumber WHERE EntryId < %1").arg(cutoff), why)
                    && Run(q, QStringLiteral("DELETE FROM Entry WHERE Id < %1").arg(cutoff), why);
            }
            for (qsizetype i = 0; written && i < Marks.size(); ++i)
                written = Mark(Marks[i], marked, why);
            if (written)
                written = Run(q, QStringLiteral("COMMIT"), why);
            if (!written && !deadline.Expired())
                q.exec(QStringLiteral("ROLLBACK"));
        }
        if (!written && deadline.Expired()) {
            Cut = true;
            *why = deadline.Text();
        }
    }
    return written;
}

void THistoryWriter::Flush()
{
    if (Waiting.empty() && PurgeDays <= 0 && Marks.isEmpty())
        return;
    QList<qint64> marked;
    QString why;
    const bool wasReady = Ready;
    bool written = Write(&why, marked);
    // A connection the server closed while it was idle (the server restarted) shows only at
    // its next statement, which fails and leaves it closed: opened afresh and written at once,
    // not a failure to tell.
    // One that hangs was cut: tried again at the retry's pace, not at once.
    if (const QSqlDatabase db = QSqlDatabase::database(Connection, false);
        !written && wasReady && !Cut && !Stopping.load() && (!db.isOpen() || TSqlEngine::Of(db).Broken(db))) {
        marked.clear();
        written = Write(&why, marked);
    }
    if (!written) {
        if (!Failing) {
            Failing = true;
            Q_EMIT Failed(why);
        }
        // Kept on the disk meanwhile; a spool that cannot be written is said once.
        QString spoolWhy;
        if (!SpoolChanged(&spoolWhy) && !SpoolFailed) {
            SpoolFailed = true;
            qWarning("%s", qPrintable(QStringLiteral("通知记录暂存文件 %1 无法写入: %2").arg(Spool.FilePath(), spoolWhy)));
        }
        if (Timer)
            Timer->start(RetryMs);
        return;
    }
    // Everything spooled was in this write: the spool has done its work.
    QString spoolWhy;
    if (!Spool.Remove(&spoolWhy))
        qWarning("%s", qPrintable(QStringLiteral("通知记录暂存文件 %1 无法删除: %2").arg(Spool.FilePath(), spoolWhy)));
    Unspooled.clear();
    SpoolFailed = false;
    QList<TNotice> committed;
    committed.reserve(qsizetype(Waiting.size()));
    for (const auto &[id, notice] : Waiting)
        if (!marked.contains(id))
            committed.append(notice);
    // Marked entries as they stand now, so an open list shows them.
    if (!marked.isEmpty()) {
        const TStatementDeadline deadline(QSqlDatabase::database(Connection, false), DeadlineMs());
        for (qint64 id : marked)
            if (std::optional<TNotice> entry = THistoryQuery::ReadEntry(Connection, id))
                committed.append(*entry);
    }
    Marks.clear();
    Waiting.clear();
    WaitingNow.store(0, std::memory_order_relaxed);
    WaitingBytes = 0;
    PurgeDays = 0;
    if (!committed.isEmpty())
        Q_EMIT Written(committed);
    if (Failing) {
        Failing = false;
        Q_EMIT Writable(Dropped);
        Dropped = 0;
    }
}
