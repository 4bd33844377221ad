#include "directory/tel_book.h"

#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlQuery>

#include "directory/directory.h"
#include "directory/directory_store.h"
#include "common/configuration.h"
#include "common/trace_sink.h"

#include <QDate>
#include <QLocale>
#include <QSqlDatabase>

namespace {
const QString BySequence = QStringLiteral("sequence asc");
} // namespace

TTelBook::TTelBook(TDM &store, TTraceSink &trace, QObject *parent)
    : QObject(parent), Query(store.Connection()), GroupQuery(store.Connection()), tmpQuery(store.Connection()),
      Store(store), Trace(trace)
{
}

QStringList TTelBook::TelNumberColumns()
{
    QStringList c{"sequence", "TelNum", "TelName", "Address"};
    for (int slot = 1; slot <= 8; ++slot)
        c << QStringLiteral("GroupNo%1").arg(slot);
    return c << "Status" << "Msg";
}

QStringList TTelBook::TelNumberTitles()
{
    QStringList t;
    for (const QString &column : TelNumberColumns())
        t << TDM::Caption(column);
    return t;
}

void TTelBook::Open()
{
    Query.Close();
    Title = BaseTitle + QStringLiteral("(") + QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat)
        + QStringLiteral(")");
    if (!Query.Open(QStringLiteral("TelNumber"), QString(), {}, BySequence))
        Trace.LogMon(QStringLiteral("1-1 database error-repaired!! "));
    TelCount = Query.RowsAffected();
    GroupQuery.Close();
    GroupQuery.Open(QStringLiteral("Group"), QString(), {}, BySequence);
    GroupCount = GroupQuery.RowsAffected();
    ResetIdle();
    Q_EMIT Changed();
}

QString TTelBook::ShowAll()
{
    Query.Close();
    QString error;
    if (!Query.Open(QStringLiteral("TelNumber"), QString(), {}, BySequence)) {
        Trace.LogMon(QStringLiteral("1-2 Open TelNumber error!! "));
        if (!Query.Open(QStringLiteral("TelNumber"), QString(), {}, BySequence))
            error = Query.LastError();
    }
    TelCount = Query.RowsAffected();
    Title = BaseTitle;
    Q_EMIT Changed();
    return error;
}

QString TTelBook::DeleteRowAndNumber(TLiveQuery &query, const QString &table, const QString &numberColumn)
{
    // What was typed into the marked row and not saved is given up first: the deletion acts on
    // the row as stored, never on a typed number (which would take its rows with it).
    QString givenUp;
    if (query.Pending()) {
        const QString typed = query.Value(numberColumn).toString();
        const bool appended = query.PendingRow() >= query.RecordCount();
        query.Cancel();
        if (appended) {
            Q_EMIT Changed();
            return QStringLiteral("该行是未保存的新记录 (%1)，已放弃输入；未删除任何记录。").arg(typed);
        }
        const QString stored = query.Value(numberColumn).toString();
        if (typed != stored)
            givenUp = QStringLiteral("该行未保存的修改 (%1) 已放弃，删除的是已保存的号码 %2。").arg(typed, stored);
    }
    const QString number = query.Value(numberColumn).toString();
    QString error;
    {
        // The row and every further row of the same number go together, or none of them.
        TWriteTransaction transaction(Store.Connection());
        error = transaction.BeginError();
        if (error.isEmpty() && !query.Delete(&error))
            return error; // nothing was deleted; the list is as it was
        if (error.isEmpty() && !tmpQuery.Execute(QStringLiteral("delete from %1 where %2 = ?").arg(TLiveQuery::TableSql(table), numberColumn), {number}))
            error = tmpQuery.LastError();
        if (error.isEmpty())
            error = transaction.Commit();
    }
    // The list shows what the table now holds: the number's other rows gone, or all of it back;
    // its count with it.
    query.Reopen();
    (&query == &GroupQuery ? GroupCount : TelCount) = query.IsOpen() ? query.RecordCount() : 0;
    Q_EMIT Changed();
    return error.isEmpty() ? givenUp : QStringLiteral("未删除任何记录：") + error;
}

QString TTelBook::DeleteCurrent()
{
    return DeleteRowAndNumber(Query, QStringLiteral("TelNumber"), QStringLiteral("TelNum"));
}

QString TTelBook::DeleteAll()
{
    Query.Close();
    QString error;
    if (!Query.Execute(QStringLiteral("delete  from TelNumber where 1=1"))) {
        Trace.LogMon(QStringLiteral("1-2 Open TelNumber error!! "));
        error = QStringLiteral("未删除任何记录：") + Query.LastError();
    } else {
        TelCount = 0; // the list is empty now, not as many as it showed
    }
    Q_EMIT Changed();
    return error;
}

QString TTelBook::Initialise(const TRun &run, const TProgress &progress)
{
    return WriteRun(Query, QStringLiteral("TelNumber"), run, false, progress);
}

QString TTelBook::InitialiseGroups(const TRun &run, const TProgress &progress, int *stored)
{
    return WriteRun(GroupQuery, QStringLiteral("Group"), run, true, progress, stored);
}

QString TTelBook::WriteRun(TLiveQuery &q, const QString &table, const TRun &run, bool groups, const TProgress &progress,
                           int *stored)
{
    if (stored)
        *stored = 0;
    int number = 0, position = 0, length = 0;
    const struct
    {
        QString Label, Text;
        int *Value;
    } fields[] = {{groups ? QStringLiteral("起始组号") : QStringLiteral("起始号码"), run.StartNum, &number},
                  {QStringLiteral("开始位置"), run.StartPos, &position},
                  {QStringLiteral("长度"), run.Len, &length}};
    for (const auto &f : fields)
        if (!ParseDecimalInt(f.Text, f.Value))
            return QStringLiteral("%1 \"%2\" 不是整数，未写入任何记录。").arg(f.Label, f.Text);
    // Numbers and sequence numbers are 32-bit: a run must not wrap round to negative ones.
    if (length > 0 && (qint64(number) + length - 1 > INT32_MAX || qint64(qMax(position, 1)) + length - 1 > INT32_MAX))
        return QStringLiteral("从 %1 起 %2 个号码（或从位置 %3 起的序号）将超过 2147483647，未写入任何记录。")
            .arg(QString::number(number), QString::number(length), QString::number(position));

    if (!q.Open(table, QString(), {}, BySequence)) {
        Q_EMIT Changed();
        return QStringLiteral("未写入任何记录：") + q.LastError();
    }
    if (position < q.RecordCount()) {
        q.First();
        q.MoveBy(position - 1);
    } else {
        q.MoveTo(q.RecordCount());
    }
    const bool repairName = run.RepairName.trimmed() == QStringLiteral("是");
    // Counted in 64 bits: after the last row of a run ending on 2147483647 they step past it.
    qint64 sequence = position;
    qint64 next = number;
    QString error;
    // One transaction: a long run is fast, and what was written before a refused row or a
    // cancel stays written; a failed commit writes nothing.
    TWriteTransaction transaction(Store.Connection());
    if (!transaction.BeginError().isEmpty())
        return QStringLiteral("未写入任何记录：") + transaction.BeginError();
    int written = 0;
    bool cancelled = false;
    QElapsedTimer sinceTold;
    sinceTold.start();
    while (written < length) {
        if (q.Eof())
            q.Append();
        else
            q.Edit();
        if (sequence == 0)
            sequence = 1;
        q.Assign(QStringLiteral("sequence"), sequence++);
        if (groups) {
            q.Assign(QStringLiteral("GroupNum"), next);
            if (repairName)
                q.Assign(QStringLiteral("GroupName"), QString::number(next) + QStringLiteral("组"));
            q.Assign(QStringLiteral("GroupMsg"), run.Msg);
        } else {
            q.Assign(QStringLiteral("TelNum"), next);
            if (repairName)
                q.Assign(QStringLiteral("TelName"), QString::number(next));
            q.Assign(QStringLiteral("Address"), QString());
            q.Assign(QStringLiteral("GroupNo1"), run.Group);
            for (int slot = 2; slot <= 8; ++slot)
                q.Assign(QStringLiteral("GroupNo%1").arg(slot), QString());
            if (!q.Assign(QStringLiteral("Status"), run.Status, &error))
                break;
            q.Assign(QStringLiteral("Msg"), run.Msg);
        }
        ++next;
        if (!q.Post(&error))
            break;
        q.Next();
        ++written;
        // Told by time as well as by rows, so the window's events (and the links with them) are
        // served every few milliseconds while the run writes.
        const bool tell = written % 1000 == 0 || sinceTold.elapsed() >= ProgressEveryMs;
        if (progress && tell && (sinceTold.restart(), !progress(written, length)) && written < length) {
            cancelled = true;
            break;
        }
    }
    q.Cancel(); // a row refused above is not half kept
    if (const QString failure = transaction.Commit(); !failure.isEmpty()) {
        q.Reopen(); // the rows held here were never stored
        Q_EMIT Changed();
        return QStringLiteral("未写入任何记录：") + failure;
    }
    if (stored)
        *stored = written;
    Q_EMIT Changed();
    if (cancelled)
        return QStringLiteral("已取消，已写入 %1 条记录。").arg(written);
    return error;
}

QStringList TTelBook::WithoutKey(const std::function<bool(int number)> &hasKey, QString *error) const
{
    QSqlQuery q(QSqlDatabase::database(Store.Connection()));
    QStringList keyless;
    if (!q.exec(QStringLiteral("SELECT TelNum, TelName FROM TelNumber ORDER BY sequence"))) {
        *error = TDM::Explain(q.lastError(), Store.Connection());
        return keyless;
    }
    while (q.next())
        if (!hasKey(q.value(0).toInt()))
            keyless << QStringLiteral("%1 %2").arg(q.value(0).toString(), q.value(1).toString()).trimmed();
    return keyless;
}

QString TTelBook::DeleteGroup()
{
    return DeleteRowAndNumber(GroupQuery, QStringLiteral("Group"), QStringLiteral("GroupNum"));
}

QString TTelBook::DeleteAllGroups()
{
    GroupQuery.Close();
    QString error;
    if (!GroupQuery.Execute(QStringLiteral("delete  from \"Group\" where 1=1")))
        error = QStringLiteral("未删除任何记录：") + GroupQuery.LastError();
    else
        GroupCount = 0;
    Q_EMIT Changed();
    return error;
}

void TTelBook::ShowMembers()
{
    if (!GroupQuery.IsOpen() || GroupQuery.Eof())
        return; // no current group
    const QString group = GroupQuery.Value(QStringLiteral("GroupNum")).toString();
    Query.Open(QStringLiteral("TelNumber"), TDirectory::MemberCondition(), TDirectory::MemberValues(group));
    TelCount = Query.RowsAffected();
    // The list no longer shows every extension: the title says whose, and how to get all back.
    Title = QStringLiteral("%1 — 只显示组 %2 的分机（按“全部”显示所有分机）").arg(BaseTitle, group);
    Q_EMIT Changed();
}

void TTelBook::ShowAllGroups()
{
    GroupQuery.Close();
    GroupQuery.Open(QStringLiteral("Group"), QString(), {}, BySequence);
    GroupCount = GroupQuery.RowsAffected();
    Q_EMIT Changed();
}

QString TTelBook::RecountMembers()
{
    QString error;
    if (!GroupQuery.Open(QStringLiteral("Group"), QString(), {}, BySequence)) {
        error = GroupQuery.LastError();
    } else {
        // Every group's count is stored, or none.
        TWriteTransaction transaction(Store.Connection());
        error = transaction.BeginError();
        for (GroupQuery.First(); error.isEmpty() && !GroupQuery.Eof(); GroupQuery.Next()) {
            const QString group = GroupQuery.Value(QStringLiteral("GroupNum")).toString();
            if (!tmpQuery.Execute(QStringLiteral("select * from TelNumber where ") + TDirectory::MemberCondition(),
                                  TDirectory::MemberValues(group))) {
                error = tmpQuery.LastError();
                break;
            }
            GroupQuery.Edit();
            GroupQuery.Assign(QStringLiteral("GroupMembers"), QString::number(tmpQuery.RowsAffected()));
            GroupQuery.Post(&error);
        }
        GroupQuery.Cancel();
        if (error.isEmpty())
            error = transaction.Commit();
        else
            transaction.Rollback();
        if (!error.isEmpty())
            GroupQuery.Reopen();
    }
    Q_EMIT Changed();
    return error.isEmpty() ? QString() : QStringLiteral("组内用户数未更新：") + error;
}

bool TTelBook::IdleTick()
{
    return IdleCountdown > 0 && --IdleCountdown == 0;
}
