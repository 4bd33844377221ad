#include "history/history_query.h"

#include "directory/sheet_export.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlRecord>
#include <QVariant>

namespace {
const char *const Columns = "At, Kind, MessageId, Target, Content, PlayCount, Outcome, Numbers, SentAt,"
                            // Whether the switch was up is known only once the keys left.
                            " CASE WHEN MessageId IS NULL THEN '' WHEN SentAt IS NULL OR SentAt = '' THEN '未发送'"
                            " WHEN SwitchUp THEN '是' ELSE '否' END, LatencyMs";

// Ids count milliseconds since the epoch times 1000, so a date range is an id range: the
// primary key serves both the range and the newest-first order, however long the history.
qint64 IdAt(const QDate &day)
{
    return QDateTime(day, QTime(0, 0)).toMSecsSinceEpoch() * 1000;
}
} // namespace

QStringList THistoryQuery::Kinds()
{
    return {"语音通知", "电话拨打", "测试请求", "主机通讯中断", "主机通讯恢复", "平台通讯中断", "平台通讯连上", "启动", "停止"};
}

QStringList THistoryQuery::Headings()
{
    return {"收到时间", "类型", "消息号", "对象", "内容", "播放次数", "结果", "号码", "按键发送时间", "主机在线", "用时(毫秒)"};
}

THistoryQuery::THistoryQuery(const QString &path) : Path(path), Connection(QStringLiteral("history-reader:") + path)
{
}

THistoryQuery::~THistoryQuery()
{
    if (QSqlDatabase::contains(Connection)) {
        QSqlDatabase::database(Connection, false).close();
        QSqlDatabase::removeDatabase(Connection);
    }
}

bool THistoryQuery::Open(QString *why)
{
    QSqlDatabase db = QSqlDatabase::contains(Connection) ? QSqlDatabase::database(Connection, false)
                                                         : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), Connection);
    db.setDatabaseName(Path);
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=200"));
    if (db.isOpen() || db.open())
        return true;
    if (why)
        *why = db.lastError().text();
    return false;
}

QSqlQuery THistoryQuery::Prepared(const QString &select, const TFilter &filter, const QString &tail) const
{
    QStringList where;
    QVariantList values;
    if (filter.From.isValid()) {
        where << QStringLiteral("Id >= ?");
        values << IdAt(filter.From);
    }
    if (filter.To.isValid()) {
        where << QStringLiteral("Id < ?");
        values << IdAt(filter.To.addDays(1));
    }
    if (!filter.Kind.isEmpty()) {
        where << QStringLiteral("Kind = ?");
        values << filter.Kind;
    }
    if (!filter.Text.trimmed().isEmpty()) {
        where << QStringLiteral("(Target LIKE ? ESCAPE '\\' OR Content LIKE ? ESCAPE '\\' OR Numbers LIKE ? ESCAPE '\\')");
        QString text = filter.Text.trimmed();
        text.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('%'), QStringLiteral("\\%")).replace(QLatin1Char('_'), QStringLiteral("\\_"));
        const QString pattern = QLatin1Char('%') + text + QLatin1Char('%');
        values << pattern << pattern << pattern;
    }
    QSqlQuery q(QSqlDatabase::database(Connection, false));
    q.setForwardOnly(false);
    q.prepare(select + (where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "))) + tail);
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, values[i]);
    q.exec();
    return q;
}

QSqlQuery THistoryQuery::Entries(const TFilter &filter) const
{
    return Prepared(QStringLiteral("SELECT %1 FROM Entry").arg(QString::fromUtf8(Columns)), filter, QStringLiteral(" ORDER BY Id DESC"));
}

QList<QPair<QString, int>> THistoryQuery::TotalsPerDay(const TFilter &filter) const
{
    QSqlQuery q = Prepared(QStringLiteral("SELECT substr(At, 1, 10) AS Day, count(*) FROM Entry"), filter,
                           QStringLiteral(" GROUP BY Day ORDER BY Day DESC"));
    QList<QPair<QString, int>> totals;
    while (q.next())
        totals.append({q.value(0).toString(), q.value(1).toInt()});
    return totals;
}

QString THistoryQuery::Export(const TFilter &filter, const QString &path) const
{
    QSqlQuery q = Entries(filter);
    if (!q.isActive())
        return q.lastError().text();
    return TSheetExport::WriteRows(path, Headings(), [&q](QStringList &row) {
        if (!q.next())
            return false;
        row.clear();
        for (int i = 0; i < q.record().count(); ++i)
            row << (q.value(i).isNull() ? QString() : q.value(i).toString());
        return true;
    });
}
