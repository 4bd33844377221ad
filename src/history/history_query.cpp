#include "history/history_query.h"

#include <QHash>

#include "store/sql_engine.h"

#include "history/history.h"
#include "sheets/sheet_writer.h"

#include <QDateTime>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <limits>

namespace {
const char *const Columns = "Id, At, Kind, MessageId, Target, TargetName, Content, PlayCount, Channel, Outcome, Numbers,"
                            " SentAt, SwitchUp, LatencyMs";

// Ids count milliseconds since the epoch times 1000, so a date range is an id range: the
// primary key serves both the range and the newest-first order, however long the history.
qint64 IdAt(const QDate &day)
{
    return QDateTime(day, QTime(0, 0)).toMSecsSinceEpoch() * 1000;
}

QDateTime TimeOf(const QVariant &value)
{
    const QString text = value.toString();
    return text.isEmpty() ? QDateTime() : QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

TNotice FromRow(const QSqlQuery &q)
{
    TNotice n;
    n.Id = q.value(0).toLongLong();
    n.At = TimeOf(q.value(1));
    n.Kind = q.value(2).toString();
    n.MessageId = q.value(3).isNull() ? -1 : q.value(3).toInt();
    n.Target = q.value(4).toString();
    n.TargetName = q.value(5).toString();
    n.Content = q.value(6).toString();
    n.PlayCount = q.value(7).toInt();
    n.Channel = q.value(8).isNull() ? -1 : q.value(8).toInt();
    n.Outcome = q.value(9).toString();
    const QString numbers = q.value(10).toString();
    if (!numbers.isEmpty())
        for (const QString &number : numbers.split(QLatin1Char(',')))
            n.Numbers.append({number, {}, {}, {}});
    n.SentAt = TimeOf(q.value(11));
    n.SwitchUp = q.value(12).toInt() != 0;
    n.LatencyMs = q.value(13).isNull() ? -1 : q.value(13).toLongLong();
    return n;
}

// SQLite's LIKE folds the case of ASCII letters only; the filter matches the same way.
QString AsciiLower(const QString &text)
{
    QString lower = text;
    for (QChar &c : lower)
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            c = QChar(c.unicode() + 32);
    return lower;
}

struct TWhere
{
    QStringList Terms;
    QVariantList Values;
};

TWhere Where(const THistoryQuery::TFilter &filter, const QString &connection)
{
    TWhere where;
    if (filter.From.isValid()) {
        where.Terms << QStringLiteral("Id >= ?");
        where.Values << IdAt(filter.From);
    }
    if (filter.To.isValid()) {
        where.Terms << QStringLiteral("Id < ?");
        where.Values << IdAt(filter.To.addDays(1));
    }
    if (!filter.Kind.isEmpty()) {
        where.Terms << QStringLiteral("Kind = ?");
        where.Values << filter.Kind;
    }
    if (!filter.Text.trimmed().isEmpty()) {
        const QString like = TSqlEngine::Of(QSqlDatabase::database(connection, false)).CaselessLike();
        where.Terms << QStringLiteral("(Target %1 ? ESCAPE '\\' OR TargetName %1 ? ESCAPE '\\' OR Content %1 ? ESCAPE '\\'"
                                      " OR Numbers %1 ? ESCAPE '\\')")
                           .arg(like);
        QString text = filter.Text.trimmed();
        text.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('%'), QStringLiteral("\\%")).replace(QLatin1Char('_'), QStringLiteral("\\_"));
        const QString pattern = QLatin1Char('%') + text + QLatin1Char('%');
        where.Values << pattern << pattern << pattern << pattern;
    }
    return where;
}

QSqlQuery Run(const QString &connection, const QString &statement, const QVariantList &values)
{
    QSqlQuery q(QSqlDatabase::database(connection, false));
    q.setForwardOnly(true);
    q.prepare(statement);
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, values[i]);
    q.exec();
    return q;
}
} // namespace

bool THistoryQuery::TFilter::Admits(const TNotice &entry) const
{
    if (From.isValid() && entry.Id < IdAt(From))
        return false;
    if (To.isValid() && entry.Id >= IdAt(To.addDays(1)))
        return false;
    if (!Kind.isEmpty() && entry.Kind != Kind)
        return false;
    const QString text = AsciiLower(Text.trimmed());
    if (text.isEmpty())
        return true;
    for (const QString &field : {entry.Target, entry.TargetName, entry.Content, entry.NumbersText()})
        if (AsciiLower(field).contains(text))
            return true;
    return false;
}

QStringList THistoryQuery::Kinds()
{
    return {"语音通知", "电话拨打", "测试请求", "主机通讯中断", "主机通讯恢复", "平台通讯中断", "平台通讯连上", "启动", "停止", "主备切换"};
}

QStringList THistoryQuery::Headings()
{
    return {"收到时间", "类型", "消息号", "对象", "内容", "播放次数", "结果", "号码", "按键发送时间", "主机在线", "用时(毫秒)"};
}

QStringList THistoryQuery::Cells(const TNotice &e)
{
    const bool notice = !e.IsEvent();
    // Whether the switch was up is known only once the keys left.
    const QString switchUp = !notice ? QString() : !e.SentAt.isValid() ? QStringLiteral("未发送")
                                                 : e.SwitchUp           ? QStringLiteral("是")
                                                                        : QStringLiteral("否");
    return {TNotice::TimeText(e.At),
            e.Kind,
            notice ? QString::number(e.MessageId) : QString(),
            e.ContentIsPeer() ? e.Content : e.TargetText(),
            e.ContentIsPeer() ? QString() : e.Content,
            notice ? QString::number(e.PlayCount) : QString(),
            e.Outcome,
            e.NumbersText(),
            TNotice::TimeText(e.SentAt),
            switchUp,
            e.LatencyMs >= 0 ? QString::number(e.LatencyMs) : QString()};
}

THistoryQuery::THistoryQuery(TStorePlace place, const QString &role)
    : Place(std::move(place)), Connection(QStringLiteral("history-%1:").arg(role) + Place.Shown())
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
    QSqlDatabase db = QSqlDatabase::database(Connection, false);
    // A server that went away is opened afresh.
    if (db.isOpen() && !TSqlEngine::Of(db).Broken(db))
        return true;
    if (!db.isValid())
        db = Place.Add(Connection, QStringLiteral("history reader"), true, 200);
    db.close();
    if (TSqlEngine::Open(db))
        return true;
    if (why)
        *why = TSqlEngine::Reason(db.lastError());
    return false;
}

QList<TNotice> THistoryQuery::Page(const TFilter &filter, qint64 beforeId, int limit, QString *why) const
{
    TWhere where = Where(filter, Connection);
    where.Terms.prepend(QStringLiteral("Id < ?"));
    where.Values.prepend(beforeId);
    where.Values << limit;
    QSqlQuery q = Run(Connection,
                      QStringLiteral("SELECT %1 FROM Entry WHERE %2 ORDER BY Id DESC LIMIT ?")
                          .arg(QString::fromUtf8(Columns), where.Terms.join(QStringLiteral(" AND "))),
                      where.Values);
    QList<TNotice> rows;
    while (q.next())
        rows.append(FromRow(q));
    if (why && q.lastError().isValid())
        *why = TSqlEngine::Reason(q.lastError());
    return rows;
}

std::optional<TNotice> THistoryQuery::Entry(qint64 id) const
{
    return ReadEntry(Connection, id);
}

void THistoryQuery::AddNumbers(QList<TNotice> &entries) const
{
    QVariantList ids;
    QStringList marks;
    for (const TNotice &entry : entries)
        if (!entry.Numbers.isEmpty()) {
            ids << entry.Id;
            marks << QStringLiteral("?");
        }
    if (ids.isEmpty())
        return;
    // One statement for a page, not one per entry.
    QSqlQuery numbers = Run(Connection, QStringLiteral("SELECT EntryId, Number, Name, KeyPosition, SentAt FROM EntryNumber"
                                                       " WHERE EntryId IN (%1) ORDER BY EntryId, Seq").arg(marks.join(QLatin1Char(','))),
                            ids);
    QHash<qint64, QList<TNotice::TNumber>> whole;
    while (numbers.next())
        whole[numbers.value(0).toLongLong()].append({numbers.value(1).toString(), numbers.value(2).toString(),
                                                     numbers.value(3).toString(), TimeOf(numbers.value(4))});
    for (TNotice &entry : entries)
        if (const auto found = whole.constFind(entry.Id); found != whole.constEnd())
            entry.Numbers = *found;
}

std::optional<TNotice> THistoryQuery::ReadEntry(const QString &connection, qint64 id)
{
    QSqlQuery q = Run(connection, QStringLiteral("SELECT %1 FROM Entry WHERE Id = ?").arg(QString::fromUtf8(Columns)), {id});
    if (!q.next())
        return std::nullopt;
    TNotice notice = FromRow(q);
    QSqlQuery numbers = Run(connection, QStringLiteral("SELECT Number, Name, KeyPosition, SentAt FROM EntryNumber"
                                                       " WHERE EntryId = ? ORDER BY Seq"), {id});
    QList<TNotice::TNumber> whole;
    while (numbers.next())
        whole.append({numbers.value(0).toString(), numbers.value(1).toString(), numbers.value(2).toString(),
                      TimeOf(numbers.value(3))});
    if (!whole.isEmpty() || notice.Numbers.isEmpty())
        notice.Numbers = whole;
    return notice;
}

QList<TNotice> THistoryQuery::ReadLastStarted(const QString &connection, int channels)
{
    QList<TNotice> last;
    for (int channel = 0; channel < channels; ++channel) {
        // The outcome written out, so the partial index EntryStarted serves the look-up.
        QSqlQuery q = Run(connection, QStringLiteral("SELECT Id FROM Entry WHERE Outcome = '%1' AND Channel = ? ORDER BY Id DESC LIMIT 1")
                                          .arg(THistory::Started()),
                          {channel});
        if (!q.next())
            continue;
        if (std::optional<TNotice> notice = ReadEntry(connection, q.value(0).toLongLong()))
            last.append(*notice);
    }
    return last;
}

QList<QPair<QString, int>> THistoryQuery::TotalsPerDay(const TFilter &filter, QString *why) const
{
    const TWhere where = Where(filter, Connection);
    QSqlQuery q = Run(Connection,
                      QStringLiteral("SELECT substr(At, 1, 10) AS Day, count(*) FROM Entry%1 GROUP BY Day ORDER BY Day DESC")
                          .arg(where.Terms.isEmpty() ? QString() : QStringLiteral(" WHERE ") + where.Terms.join(QStringLiteral(" AND "))),
                      where.Values);
    QList<QPair<QString, int>> totals;
    while (q.next())
        totals.append({q.value(0).toString(), q.value(1).toInt()});
    if (why && q.lastError().isValid())
        *why = TSqlEngine::Reason(q.lastError());
    return totals;
}

QString THistoryQuery::Export(const QList<TNotice> &shown, const TFilter &filter, qint64 restBefore, const QString &path) const
{
    constexpr int PageRows = 1000;
    qsizetype next = 0;
    QList<TNotice> rest;
    qsizetype inRest = 0;
    bool restDone = restBefore <= 0;
    QString why;
    const QString error = TSheetWriter::WriteRows(path, Headings(), [&](QStringList &row) {
        if (next < shown.size()) {
            row = Cells(shown[next++]);
            return true;
        }
        if (inRest == rest.size()) {
            if (restDone)
                return false;
            rest = Page(filter, restBefore, PageRows, &why);
            inRest = 0;
            restDone = rest.size() < PageRows;
            if (rest.isEmpty())
                return false;
            restBefore = rest.last().Id;
        }
        row = Cells(rest[inRest++]);
        return true;
    });
    // A file that could not be read whole is no export of what the list shows.
    if (!why.isEmpty()) {
        QFile::remove(path);
        return TSqlEngine::WithReason(QStringLiteral("通知记录无法读取"), why);
    }
    return error;
}
