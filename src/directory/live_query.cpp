#include "directory/live_query.h"

#include "common/text_cut.h"
#include "directory/directory_store.h"
#include "common/configuration.h"
#include "store/sql_engine.h"
#include "store/statement_deadline.h"

#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace {
QString Quoted(const QString &identifier)
{
    return QLatin1Char('"') + QString(identifier).replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
}

} // namespace

QString TLiveQuery::TableSql(const QString &table)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    return table.compare(QLatin1String("Group"), Qt::CaseInsensitive) == 0 || !plain.match(table).hasMatch() ? Quoted(table)
                                                                                                                 : table;
}

namespace {

} // namespace

TLiveQuery::TLiveQuery(QString connectionName) : Connection(std::move(connectionName)) {}

bool TLiveQuery::Run(QSqlQuery **query, const QString &sql, const QVariantList &binds)
{
    if (const QString away = TDM::Reach(Connection); !away.isEmpty()) {
        Error = away;
        return false;
    }
    // Preparing, fencing and running each ask the server: none may hang the links.
    const TStatementDeadline deadline(QSqlDatabase::database(Connection, false), TDM::StatementDeadlineMs);
    if (PreparedOn != TDM::Reopenings()) {
        // Prepared on a connection that is gone.
        Prepared.clear();
        PreparedOn = TDM::Reopenings();
    }
    auto found = Prepared.find(sql);
    if (found == Prepared.end()) {
        QSqlQuery fresh(QSqlDatabase::database(Connection, false));
        if (!fresh.prepare(sql)) {
            Error = TDM::Explain(fresh.lastError(), Connection);
            return false;
        }
        if (Prepared.size() > 32) // the handle runs a few statements over and over; forget odd ones
            Prepared.clear();
        found = Prepared.emplace(sql, std::move(fresh)).first;
    }
    *query = &found->second;
    for (int i = 0; i < binds.size(); ++i)
        (*query)->bindValue(i, binds[i]);
    // Where a refused statement would end the whole transaction (a server), a write inside one
    // is fenced, so a refused row leaves the rows before it to be committed, as on the files.
    QSqlDatabase db = QSqlDatabase::database(Connection, false);
    const bool fenced = !(*query)->isSelect() && TWriteTransaction::AnyOpen() && TSqlEngine::Of(db).FailureEndsTransaction();
    QSqlQuery fence(db);
    if (fenced && !fence.exec(QStringLiteral("SAVEPOINT varnex_row"))) {
        Error = TDM::Explain(fence.lastError(), Connection);
        return false;
    }
    const bool ok = TDM::Exec(**query);
    if (fenced)
        fence.exec(ok ? QStringLiteral("RELEASE SAVEPOINT varnex_row") : QStringLiteral("ROLLBACK TO SAVEPOINT varnex_row"));
    if (!ok)
        Error = TDM::Explain((*query)->lastError(), Connection);
    else if (!(*query)->isSelect())
        TDM::Wrote();
    return ok;
}

void TLiveQuery::Close()
{
    Active = false;
    Mode = Browsing;
    Rows.clear();
    RowIds.clear();
    Cursor = 0;
}

bool TLiveQuery::Fail(const QString &why, QString *error)
{
    Error = why;
    if (error)
        *error = why;
    return false;
}

bool TLiveQuery::LoadColumns()
{
    if (!Schema.empty() && SchemaTable.compare(Table, Qt::CaseInsensitive) == 0)
        return true; // a table's columns do not change while the program runs
    SchemaTable = Table;
    Schema.clear();
    ColumnNames.clear();
    KeyColumn = -1;
    int keys = 0;
    const QSqlDatabase db = QSqlDatabase::database(Connection, false);
    QString why;
    static const QRegularExpression width(QStringLiteral("\\((\\d+)\\)"));
    for (const TSqlEngine::TColumn &info : TSqlEngine::Of(db).Columns(db, TableSql(Table), &why)) {
        TColumn column;
        column.Name = info.Name;
        column.Integer = info.Type.compare(QLatin1String("integer"), Qt::CaseInsensitive) == 0;
        column.NotNull = info.NotNull;
        if (info.Key) {
            ++keys;
            KeyColumn = int(Schema.size());
        }
        if (const auto m = width.match(info.Type); m.hasMatch())
            column.Width = m.captured(1).toInt();
        Schema.push_back(column);
        ColumnNames << column.Name;
    }
    // Rows are found again by their key; a table without a single-column key cannot be edited.
    if (keys != 1)
        KeyColumn = -1;
    return !Schema.empty();
}

bool TLiveQuery::Open(const QString &table, const QString &where, const QVariantList &binds, const QString &order)
{
    Close();
    Affected = 0;
    Table = table;
    LastWhere = where;
    LastBinds = binds;
    LastOrder = order;
    if (const QString away = TDM::Reach(Connection); !away.isEmpty())
        return Fail(away, nullptr);
    QSqlDatabase db = QSqlDatabase::database(Connection, false);
    if (!db.isOpen())
        return Fail(QStringLiteral("数据库未打开"), nullptr);
    if (!LoadColumns()) {
        QSqlQuery probe(db);
        TDM::Exec(probe, QStringLiteral("SELECT * FROM %1").arg(TableSql(table)));
        return Fail(probe.lastError().isValid() ? TDM::Explain(probe.lastError(), Connection) : QStringLiteral("没有表 %1").arg(table),
                    nullptr);
    }
    QString sql = QStringLiteral("SELECT * FROM %1").arg(TableSql(table));
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where;
    if (!order.isEmpty())
        sql += QStringLiteral(" ORDER BY ") + order;
    QSqlQuery *query = nullptr;
    if (!Run(&query, sql, binds))
        return Fail(Error, nullptr);
    while (query->next()) {
        QVariantList row;
        row.reserve(qsizetype(Schema.size()));
        for (int i = 0; i < int(Schema.size()); ++i)
            row << query->value(i);
        RowIds.push_back(KeyColumn >= 0 ? row.value(KeyColumn) : QVariant());
        Rows.push_back(std::move(row));
    }
    const QSqlError failure = query->lastError();
    query->finish(); // the rows are held here; the store's read lock is let go
    if (failure.isValid())
        return Fail(TDM::Explain(failure, Connection), nullptr);
    Active = true;
    Affected = int(Rows.size());
    return true;
}

bool TLiveQuery::Reopen()
{
    if (Table.isEmpty())
        return false;
    const int row = Cursor;
    if (!Open(Table, LastWhere, LastBinds, LastOrder))
        return false;
    MoveTo(row);
    return true;
}

bool TLiveQuery::Execute(const QString &sql, const QVariantList &binds)
{
    Close();
    Affected = 0;
    QSqlQuery *query = nullptr;
    if (!Run(&query, sql, binds))
        return Fail(Error, nullptr);
    if (query->isSelect()) {
        while (query->next())
            ++Affected;
    } else {
        Affected = query->numRowsAffected();
    }
    query->finish();
    return true;
}

void TLiveQuery::MoveTo(int row)
{
    if (Mode != Browsing)
        Cancel();
    Cursor = qBound(0, row, int(Rows.size()));
}

int TLiveQuery::ColumnIndex(const QString &name) const
{
    for (int i = 0; i < int(Schema.size()); ++i)
        if (Schema[size_t(i)].Name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

QVariant TLiveQuery::Value(const QString &column) const
{
    const int i = ColumnIndex(column);
    if (i < 0)
        return QVariant();
    if (Mode != Browsing)
        return Buffer.value(i);
    return Eof() ? QVariant() : Rows[size_t(Cursor)].value(i);
}

QVariant TLiveQuery::ValueAt(int row, int column) const
{
    if (row == PendingRow())
        return Buffer.value(column);
    if (row < 0 || row >= int(Rows.size()))
        return QVariant();
    return Rows[size_t(row)].value(column);
}

int TLiveQuery::PendingRow() const
{
    switch (Mode) {
    case Appending: return int(Rows.size());
    case Editing: return Cursor;
    default: return -1;
    }
}

void TLiveQuery::Append()
{
    if (!Active)
        return;
    Mode = Appending;
    Buffer = QVariantList(qsizetype(Schema.size()));
}

bool TLiveQuery::Edit()
{
    if (!Active || Eof())
        return false;
    Mode = Editing;
    Buffer = Rows[size_t(Cursor)];
    return true;
}

void TLiveQuery::Cancel()
{
    Mode = Browsing;
    Buffer.clear();
}

bool TLiveQuery::Assign(const QString &column, const QVariant &value, QString *error)
{
    const int i = ColumnIndex(column);
    if (Mode == Browsing)
        return Fail(QStringLiteral("没有正在编辑的记录"), error);
    if (i < 0)
        return Fail(QStringLiteral("没有字段 %1").arg(column), error);
    const TColumn &c = Schema[size_t(i)];
    if (c.Integer) {
        if (value.typeId() == QMetaType::Bool || value.typeId() == QMetaType::Int || value.typeId() == QMetaType::LongLong) {
            Buffer[i] = value.toLongLong();
            return true;
        }
        const QString text = value.toString();
        if (text.isEmpty()) {
            Buffer[i] = QVariant();
            return true;
        }
        int number = 0;
        if (!ParseDecimalInt(text, &number))
            return Fail(QStringLiteral("%1: '%2' 不是有效的整数").arg(TDM::Caption(c.Name), text), error);
        Buffer[i] = number;
        return true;
    }
    const QString text = value.typeId() == QMetaType::Bool ? (value.toBool() ? QStringLiteral("True") : QStringLiteral("False"))
                                                           : value.toString();
    // Empty text stays empty text, not NULL.
    const QString stored = c.Width > 0 ? CutToGbkBytes(text, c.Width) : text;
    Buffer[i] = stored.isNull() ? QStringLiteral("") : stored;
    return true;
}

bool TLiveQuery::Post(QString *error)
{
    if (Mode == Browsing)
        return true;
    // Checked here as well: SQLite would quietly number a missing rowid key itself.
    if (Mode == Editing && KeyColumn < 0)
        return Fail(QStringLiteral("表 %1 没有主键，不能修改").arg(Table), error);
    for (int i = 0; i < int(Schema.size()); ++i)
        if (Schema[size_t(i)].NotNull && Buffer.value(i).isNull())
            return Fail(QStringLiteral("%1不能为空").arg(TDM::Caption(Schema[size_t(i)].Name)), error);
    QSqlQuery *query = nullptr;
    QStringList names;
    for (const TColumn &c : Schema)
        names << Quoted(c.Name);
    bool ok = false;
    if (Mode == Appending) {
        const QString sql = QStringLiteral("INSERT INTO %1(%2) VALUES(%3)")
                                .arg(TableSql(Table), names.join(QLatin1Char(',')),
                                     QStringList(qsizetype(Schema.size()), QStringLiteral("?")).join(QLatin1Char(',')));
        ok = Run(&query, sql, Buffer);
    } else {
        QStringList sets;
        for (const QString &n : names)
            sets << n + QStringLiteral("=?");
        ok = Run(&query,
                 QStringLiteral("UPDATE %1 SET %2 WHERE %3=?")
                     .arg(TableSql(Table), sets.join(QLatin1Char(',')), Quoted(Schema[size_t(KeyColumn)].Name)),
                 Buffer + QVariantList{RowIds[size_t(Cursor)]});
    }
    if (!ok)
        return Fail(Error, error);
    if (Mode == Editing && query->numRowsAffected() == 0) {
        // Deleted meanwhile (by another row's deletion or another program): nothing was written.
        query->finish();
        return Fail(VanishedText(), error);
    }
    if (Mode == Appending) {
        Rows.push_back(Buffer);
        RowIds.push_back(KeyColumn >= 0 ? Buffer.value(KeyColumn) : QVariant());
        Cursor = int(Rows.size()) - 1;
    } else {
        Rows[size_t(Cursor)] = Buffer;
        RowIds[size_t(Cursor)] = Buffer.value(KeyColumn);
    }
    query->finish();
    Mode = Browsing;
    Buffer.clear();
    Affected = 1;
    return true;
}

bool TLiveQuery::Delete(QString *error)
{
    const bool appending = Mode == Appending;
    if (Mode != Browsing)
        Cancel();
    if (appending)
        return Fail(QStringLiteral("新增的记录尚未保存，已取消。"), error);
    if (!Active || Eof())
        return Fail(QStringLiteral("没有当前记录可删除"), error);
    if (KeyColumn < 0)
        return Fail(QStringLiteral("表 %1 没有主键，不能删除单条记录").arg(Table), error);
    QSqlQuery *query = nullptr;
    if (!Run(&query, QStringLiteral("DELETE FROM %1 WHERE %2=?").arg(TableSql(Table), Quoted(Schema[size_t(KeyColumn)].Name)),
             {RowIds[size_t(Cursor)]}))
        return Fail(Error, error);
    query->finish();
    Rows.erase(Rows.begin() + Cursor);
    RowIds.erase(RowIds.begin() + Cursor);
    Affected = 1;
    return true;
}
