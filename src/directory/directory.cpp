#include "directory/directory.h"

#include "directory/directory_store.h"
#include "common/configuration.h"
#include "common/line_log.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

TDirectory::TDirectory(TDM &store, TLineLog &systemLog, QObject *parent)
    : QObject(parent), Store(store), SystemLog(systemLog), SharedQuery(store.Connection()), Rows(store, systemLog)
{
}

QString TDirectory::GetTelNumberAmount()
{
    const QString sql = QStringLiteral("select max(Sequence) AS LargId from Telnumber where 1=1");
    if (const QString away = TDM::Reach(Store.Connection()); !away.isEmpty())
        return away;
    for (int attempt = 0; attempt < 2; ++attempt) {
        SharedQuery.Close();
        QSqlQuery query(QSqlDatabase::database(Store.Connection(), false));
        if (TDM::Exec(query, sql) && query.next()) {
            if (!query.value(0).isNull())
                NextSequence = query.value(0).toInt() + 1;
            return QString();
        }
        if (attempt == 1)
            return query.lastError().isValid() ? TDM::Explain(query.lastError(), Store.Connection()) : QStringLiteral("电话号码表不可用");
        NextSequence = 1;
    }
    return QString();
}

QString TDirectory::AddTelNumber(const QString &TelNum, const QString &TelName, const QString &Address,
                                 const QStringList &groupNos, const QString &Status, const QString &Msg,
                                 const QString &importLabel, bool *conversionError)
{
    if (conversionError)
        *conversionError = false;
    if (TelNum.isEmpty())
        return QString();
    TLiveQuery &q = SharedQuery;
    // A number that is not one matches no row (a server would refuse the comparison); its
    // conversion error comes when it is assigned below.
    int number = 0;
    const bool isNumber = ParseDecimalInt(TelNum, &number);
    if (!q.Open(QStringLiteral("TelNumber"), isNumber ? QStringLiteral("TelNum=?") : QStringLiteral("1=0"),
                isNumber ? QVariantList{number} : QVariantList{}))
        return q.LastError();
    if (q.RecordCount() == 0) {
        q.Append();
        if (NextSequence == 0)
            NextSequence = 1;
        q.Assign(QStringLiteral("sequence"), NextSequence);
        ++NextSequence;
    } else {
        q.Edit();
    }
    QString error;
    bool ok = q.Assign(QStringLiteral("TelNum"), TelNum, &error) && q.Assign(QStringLiteral("TelName"), TelName, &error)
        && q.Assign(QStringLiteral("Address"), Address, &error);
    for (int slot = 0; ok && slot < 8; ++slot)
        ok = q.Assign(QStringLiteral("GroupNo%1").arg(slot + 1), groupNos.value(slot), &error);
    ok = ok && q.Assign(QStringLiteral("Status"), Status, &error) && q.Assign(QStringLiteral("Msg"), Msg, &error);
    // A directory made without the column still takes its rows, unmarked.
    if (ok && !importLabel.isEmpty() && q.Columns().contains(QStringLiteral("ImpFlag"), Qt::CaseInsensitive))
        ok = q.Assign(QStringLiteral("ImpFlag"), importLabel, &error);
    if (!ok && conversionError)
        *conversionError = true;
    ok = ok && q.Post(&error);
    if (!ok)
        q.Cancel();
    q.Close();
    return ok ? QString() : error;
}

int TDirectory::Listed(bool ok)
{
    if (ok)
        return SharedQuery.RowsAffected();
    const QString problem = QStringLiteral("电话号码库不可用 (%1): %2").arg(Store.Place(), SharedQuery.LastError());
    if (!Reported.contains(problem)) {
        Reported.insert(problem);
        SystemLog.Add({problem, TLogLevel::Error});
    }
    return 0;
}

int TDirectory::ListGroups()
{
    return Listed(SharedQuery.Open(QStringLiteral("Group"), QString(), {}, QStringLiteral("sequence asc")));
}

int TDirectory::ListTelNumbers()
{
    return Listed(SharedQuery.Open(QStringLiteral("TelNumber"), QString(), {}, QStringLiteral("sequence asc")));
}

int TDirectory::ListMembers(const QString &group, bool ordered)
{
    return Listed(SharedQuery.Open(QStringLiteral("TelNumber"), MemberCondition(), MemberValues(group),
                                   ordered ? QStringLiteral("sequence asc") : QString()));
}

QString TDirectory::MemberCondition()
{
    QStringList conditions;
    for (int slot = 1; slot <= 8; ++slot)
        conditions << QStringLiteral("GroupNo%1=?").arg(slot);
    return conditions.join(QStringLiteral(" or "));
}

QVariantList TDirectory::MemberValues(const QString &group)
{
    return QVariantList(8, group);
}
