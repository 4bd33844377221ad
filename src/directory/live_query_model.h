#pragma once

#include <functional>

#include <QAbstractTableModel>
#include <QStringList>

class TLiveQuery;

// A live query as an editable table: typing into a cell edits that row, leaving the row (Post)
// writes it through, and an appended row waits after the last until it is posted.
class TLiveQueryModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    // columns: the query's column names to show, titles: their headings.
    TLiveQueryModel(TLiveQuery &query, QStringList columns, QStringList titles, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    // A warning for a row (shown as its tooltip, the row tinted), or empty; column values by name.
    std::function<QString(const std::function<QVariant(const QString &column)> &value)> RowWarning;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

    // Writes the pending row; false (and PostFailed) when the store refuses it.
    bool Post();
    // Follows the grid's current row: a pending other row is written first, then the query's
    // cursor moves there, so the window's buttons act on the row the operator sees selected.
    // False (and PostFailed) when the pending row is refused; the cursor stays on it.
    bool SetCurrentRow(int row);
    // Starts a new row after the last (posting a pending one first).
    bool AppendRow();
    // The query was reopened, closed or changed underneath.
    void Reload();
    // Reads the listing again from the table and shows it.
    void Refresh();
    // A row is being edited or appended.
    bool Pending() const;
    // Gives up a new row that was never written; false when there is none.
    bool CancelNewRow();

Q_SIGNALS:
    void PostFailed(const QString &error);

private:
    int ColumnOf(int section) const;

    TLiveQuery &Query;
    bool DroppingNewRow = false;
    QStringList Columns;
    QStringList Titles;
};
