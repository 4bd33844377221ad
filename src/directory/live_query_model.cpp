#include "directory/live_query_model.h"

#include <QColor>

#include "directory/live_query.h"

#include <QMetaObject>

TLiveQueryModel::TLiveQueryModel(TLiveQuery &query, QStringList columns, QStringList titles, QObject *parent)
    : QAbstractTableModel(parent), Query(query), Columns(std::move(columns)), Titles(std::move(titles))
{
}

int TLiveQueryModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid() || !Query.IsOpen())
        return 0;
    return Query.RecordCount() + (Query.PendingRow() == Query.RecordCount() ? 1 : 0);
}

int TLiveQueryModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(Columns.size());
}

int TLiveQueryModel::ColumnOf(int section) const
{
    const QStringList names = Query.Columns();
    for (int i = 0; i < names.size(); ++i)
        if (names[i].compare(Columns.value(section), Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

QVariant TLiveQueryModel::data(const QModelIndex &index, int role) const
{
    if (index.isValid() && RowWarning && (role == Qt::BackgroundRole || role == Qt::ToolTipRole)) {
        const QStringList columns = Query.Columns();
        const QString warning = RowWarning([this, &index, &columns](const QString &column) {
            return Query.ValueAt(index.row(), int(columns.indexOf(column)));
        });
        if (warning.isEmpty())
            return QVariant();
        return role == Qt::ToolTipRole ? QVariant(warning) : QVariant(QColor(0xFF, 0xE0, 0xB0));
    }
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole))
        return QVariant();
    const QVariant value = Query.ValueAt(index.row(), ColumnOf(index.column()));
    return value.isNull() ? QVariant(QString()) : value;
}

QVariant TLiveQueryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QVariant();
    return orientation == Qt::Horizontal ? QVariant(Titles.value(section)) : QVariant(section + 1);
}

Qt::ItemFlags TLiveQueryModel::flags(const QModelIndex &index) const
{
    return QAbstractTableModel::flags(index) | Qt::ItemIsEditable;
}

bool TLiveQueryModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || role != Qt::EditRole)
        return false;
    const int row = index.row();
    if (Query.PendingRow() != row) {
        if (!Post())
            return false;
        Query.MoveTo(row);
        if (!Query.Edit())
            return false;
    }
    QString error;
    if (!Query.Assign(Columns.value(index.column()), value.toString(), &error)) {
        Q_EMIT PostFailed(error);
        return false;
    }
    Q_EMIT dataChanged(index, index);
    return true;
}

bool TLiveQueryModel::Post()
{
    const int row = Query.PendingRow();
    if (row < 0)
        return true;
    QString error;
    if (!Query.Post(&error)) {
        if (error == TLiveQuery::VanishedText()) {
            // Nothing left to mend: the edit is dropped and the list shows what the table holds.
            // Later, since this may run inside the grid's own row change.
            Query.Cancel();
            QMetaObject::invokeMethod(this, &TLiveQueryModel::Refresh, Qt::QueuedConnection);
        }
        Q_EMIT PostFailed(error);
        return false;
    }
    Q_EMIT dataChanged(index(row, 0), index(row, columnCount() - 1));
    return true;
}

void TLiveQueryModel::Refresh()
{
    if (Query.Pending())
        return; // an edit begun meanwhile is not thrown away
    beginResetModel();
    Query.Reopen();
    endResetModel();
}

bool TLiveQueryModel::SetCurrentRow(int row)
{
    if (Query.PendingRow() == row || DroppingNewRow)
        return true; // the grid moves off a new row being given up: nothing to write
    if (!Post())
        return false;
    Query.MoveTo(row);
    return true;
}

bool TLiveQueryModel::AppendRow()
{
    if (!Query.IsOpen() || !Post())
        return false;
    const int row = Query.RecordCount();
    beginInsertRows(QModelIndex(), row, row);
    Query.Append();
    endInsertRows();
    return true;
}

void TLiveQueryModel::Reload()
{
    beginResetModel();
    endResetModel();
}

bool TLiveQueryModel::Pending() const
{
    return Query.Pending();
}

bool TLiveQueryModel::CancelNewRow()
{
    const int row = Query.PendingRow();
    if (!Query.Pending() || row < Query.RecordCount())
        return false;
    DroppingNewRow = true;
    beginRemoveRows(QModelIndex(), row, row);
    Query.Cancel();
    endRemoveRows();
    DroppingNewRow = false;
    return true;
}
