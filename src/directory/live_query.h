#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <map>
#include <vector>

#include <QSqlQuery>

// A statement handle on the directory: runs one statement at a time and, for a listing of one
// table, holds its rows with a cursor that can append, edit, post and delete rows in place.
// Values are always bound, never joined into the statement text. Text for an Integer column
// must be a decimal integer (empty means NULL); text for a varchar(n) column is cut to n bytes
// of GBK, between characters.
class TLiveQuery
{
public:
    explicit TLiveQuery(QString connectionName);

    // SELECT * FROM table [WHERE where] [ORDER BY order]; the first row becomes current.
    bool Open(const QString &table, const QString &where = QString(), const QVariantList &binds = {},
              const QString &order = QString());
    // Any statement; a pending append or edit is discarded first.
    bool Execute(const QString &sql, const QVariantList &binds = {});
    // The last listing again, as the table holds it now; the cursor stays on the same row number.
    bool Reopen();
    void Close();
    bool IsOpen() const { return Active; }
    // Rows a listing produced, or rows a statement changed.
    int RowsAffected() const { return Affected; }
    QString LastError() const { return Error; }

    int RecordCount() const { return int(Rows.size()); }
    bool Eof() const { return Cursor >= int(Rows.size()); }
    int RecNo() const { return Cursor; }
    void MoveTo(int row);
    void First() { MoveTo(0); }
    void Next() { MoveTo(Cursor + 1); }
    void MoveBy(int rows) { MoveTo(Cursor + rows); }
    void Last() { MoveTo(int(Rows.size()) - 1); }
    // A column of the current row (of the pending row while appending or editing).
    QVariant Value(const QString &column) const;
    // A column of any row as shown: the pending row's values while it is edited or appended
    // (an appended row sits after the last).
    QVariant ValueAt(int row, int column) const;
    // The row being edited or appended, or -1.
    int PendingRow() const;
    QStringList Columns() const { return ColumnNames; }

    void Append();
    bool Edit();
    // False, with the reason, for text that an Integer column cannot take or an unknown column.
    bool Assign(const QString &column, const QVariant &value, QString *error = nullptr);
    // Writes the pending row through to the table. False, with the store's reason, when refused,
    // or with VanishedText() when the edited row is no longer in the table.
    bool Post(QString *error = nullptr);
    // A table as statements name it: "Group" is a keyword and is quoted; the others are not,
    // so PostgreSQL folds them as it did when it made them (TelNumber is telnumber there).
    static QString TableSql(const QString &table);
    static QString VanishedText() { return QStringLiteral("该记录已不存在（已被删除），未保存；列表已刷新。"); }
    void Cancel();
    bool Delete(QString *error = nullptr);
    bool Pending() const { return Mode != Browsing; }

private:
    struct TColumn
    {
        QString Name;
        bool Integer = false;
        bool NotNull = false;
        int Width = 0; // 0: no width
    };

    int ColumnIndex(const QString &name) const;
    bool LoadColumns();
    bool Fail(const QString &why, QString *error);
    // Runs a statement with its values; a statement text seen before is not prepared again.
    bool Run(QSqlQuery **query, const QString &sql, const QVariantList &binds);

    QString Connection;
    QString Table;
    QString LastWhere;
    QVariantList LastBinds;
    QString LastOrder;
    QString SchemaTable;
    std::vector<TColumn> Schema;
    int KeyColumn = -1; // the table's one primary-key column: how a row is found again
    QStringList ColumnNames;
    std::vector<QVariantList> Rows;
    std::vector<QVariant> RowIds; // each row's key as read, so a changed key still finds it
    int Cursor = 0;
    bool Active = false;
    int Affected = 0;
    QString Error;
    enum { Browsing, Appending, Editing } Mode = Browsing;
    QVariantList Buffer;
    std::map<QString, QSqlQuery> Prepared;
    quint64 PreparedOn = 0; // the store's reopenings when Prepared was filled
};
