#include "history/history_model.h"

#include "store/sql_engine.h"

#include <algorithm>
#include <limits>

THistoryReader::THistoryReader(const TStorePlace &place) : Query(place, QStringLiteral("list"))
{
}

void THistoryReader::ReadPage(quint64 ticket, const THistoryQuery::TFilter &filter, qint64 beforeId, int limit)
{
    QString why;
    QList<TNotice> rows;
    if (Query.Open(&why))
        rows = Query.Page(filter, beforeId, limit, &why);
    Q_EMIT PageRead(ticket, rows, why);
}

void THistoryReader::ReadTotals(const THistoryQuery::TFilter &filter)
{
    QString why;
    QList<QPair<QString, int>> totals;
    if (Query.Open(&why))
        totals = Query.TotalsPerDay(filter, &why);
    Q_EMIT TotalsRead(totals, why);
}

void THistoryReader::ReadEntry(qint64 id)
{
    QString why;
    std::optional<TNotice> entry;
    if (Query.Open(&why))
        entry = Query.Entry(id);
    Q_EMIT EntryRead(id, entry.value_or(TNotice()), entry.has_value());
}

void THistoryReader::Export(const QList<TNotice> &shown, const THistoryQuery::TFilter &filter, qint64 restBefore, const QString &path)
{
    QString why;
    if (Query.Open(&why))
        why = Query.Export(shown, filter, restBefore, path);
    else
        why = TSqlEngine::WithReason(QStringLiteral("通知记录无法读取"), why);
    Q_EMIT Exported(path, why);
}

THistoryModel::THistoryModel(const TStorePlace &place, QObject *parent)
    : QAbstractTableModel(parent), Reader(new THistoryReader(place)), CoveredFrom(std::numeric_limits<qint64>::max())
{
    Reader->moveToThread(&Thread);
    connect(&Thread, &QThread::finished, Reader, &QObject::deleteLater);
    connect(Reader, &THistoryReader::PageRead, this, &THistoryModel::Arrived);
    connect(Reader, &THistoryReader::TotalsRead, this, &THistoryModel::TotalsRead);
    connect(Reader, &THistoryReader::Exported, this, &THistoryModel::Exported);
    connect(Reader, &THistoryReader::EntryRead, this, [this](qint64, const TNotice &entry, bool found) {
        Q_EMIT EntryRead(entry, found);
    });
    Thread.setObjectName(QStringLiteral("history-list"));
    Thread.start(QThread::LowPriority);
}

THistoryModel::~THistoryModel()
{
    Thread.quit();
    Thread.wait();
}

void THistoryModel::Show(const THistoryQuery::TFilter &filter)
{
    beginResetModel();
    Filter = filter;
    Rows.clear();
    Early.clear();
    Complete = false;
    CoveredFrom = std::numeric_limits<qint64>::max();
    Why.clear();
    ++Ticket; // a page still on its way for the filter before is dropped
    Reading = false;
    endResetModel();
    fetchMore({});
}

bool THistoryModel::canFetchMore(const QModelIndex &parent) const
{
    return !parent.isValid() && !Complete && !Reading && Why.isEmpty();
}

void THistoryModel::fetchMore(const QModelIndex &parent)
{
    if (parent.isValid() || Complete || Reading)
        return;
    Reading = true;
    QMetaObject::invokeMethod(Reader, [r = Reader, ticket = Ticket, filter = Filter, before = CoveredFrom] {
        r->ReadPage(ticket, filter, before, PageRows);
    });
}

void THistoryModel::Arrived(quint64 ticket, const QList<TNotice> &rows, const QString &why)
{
    if (ticket != Ticket)
        return;
    Reading = false;
    Why = why;
    if (Why.isEmpty()) {
        // Older than every row so far: the rows added meanwhile were all covered already.
        if (!rows.isEmpty()) {
            beginInsertRows({}, int(Rows.size()), int(Rows.size() + rows.size()) - 1);
            Rows.append(rows);
            endInsertRows();
        }
        Complete = rows.size() < PageRows;
        if (!Complete)
            CoveredFrom = rows.last().Id;
        // Written while the page was read: in it or not, each is in the list once now. Those
        // below the page come with a later one.
        for (const auto &[id, entry] : Early)
            if (Covered(id))
                Put(entry);
    }
    Early.clear();
    Q_EMIT PageArrived();
}

void THistoryModel::Take(const QList<TNotice> &written)
{
    for (const TNotice &entry : written) {
        if (!Filter.Admits(entry))
            continue;
        if (Covered(entry.Id))
            Put(entry);
        else if (Reading)
            Early[entry.Id] = entry;
    }
}

void THistoryModel::Put(const TNotice &entry)
{
    const auto at = std::lower_bound(Rows.begin(), Rows.end(), entry.Id, [](const TNotice &row, qint64 id) { return row.Id > id; });
    const int row = int(at - Rows.begin());
    if (at != Rows.end() && at->Id == entry.Id) {
        // An entry only ever gains its key time: the version that has it is the later one.
        if (at->SentAt.isValid() && !entry.SentAt.isValid())
            return;
        *at = entry;
        Q_EMIT dataChanged(index(row, 0), index(row, columnCount() - 1));
        return;
    }
    beginInsertRows({}, row, row);
    Rows.insert(row, entry);
    endInsertRows();
}

void THistoryModel::Export(const QString &path)
{
    QMetaObject::invokeMethod(Reader, [r = Reader, shown = Rows, filter = Filter,
                                       rest = Complete ? qint64(0) : CoveredFrom, path] { r->Export(shown, filter, rest, path); });
}

void THistoryModel::ReadTotals()
{
    QMetaObject::invokeMethod(Reader, [r = Reader, filter = Filter] { r->ReadTotals(filter); });
}

void THistoryModel::ReadEntry(qint64 id)
{
    QMetaObject::invokeMethod(Reader, [r = Reader, id] { r->ReadEntry(id); });
}

QString THistoryModel::StateText() const
{
    if (!Why.isEmpty())
        return TSqlEngine::WithReason(QStringLiteral("通知记录无法读取"), Why);
    if (Filter.IsReversed())
        return ReversedRangeText();
    if (Rows.isEmpty())
        return Reading ? ReadingText() : NothingFoundText();
    return ScrollText();
}

int THistoryModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(Rows.size());
}

int THistoryModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(THistoryQuery::Headings().size());
}

QVariant THistoryModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= Rows.size() || role != Qt::DisplayRole)
        return {};
    return THistoryQuery::Cells(Rows[index.row()]).value(index.column());
}

QVariant THistoryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    return THistoryQuery::Headings().value(section);
}
