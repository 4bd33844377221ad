#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class QSqlDatabase;
class QSqlDriver;
class QSqlError;

// What SQLite and PostgreSQL do differently, in one place: the directory and history code is
// written once against this and plain SQL both accept.
class TSqlEngine
{
public:
    struct TColumn
    {
        QString Name;
        QString Type; // as declared: Integer, varchar(50) …
        bool NotNull = false;
        bool Key = false; // part of the primary key
    };
    // How a failed statement is best told to an operator.
    enum class TFailure { Other, Busy, DiskFull, ReadOnly, IoError, Damaged, Unreachable, TimedOut };

    virtual ~TSqlEngine() = default;
    // The engine a connection was made for.
    static const TSqlEngine &Of(const QSqlDatabase &db);
    static const TSqlEngine &Of(const QSqlDriver *driver);
    static const TSqlEngine &Files();
    // Opens a connection. A server's own words that come outside any statement (its shutdown
    // ending the connection, say) go to the program's log as warnings, with its time and
    // level, not straight onto standard error.
    static bool Open(QSqlDatabase &db);
    static const TSqlEngine &Server();

    virtual QString Driver() const = 0;
    virtual bool IsServer() const = 0;
    // The columns of a table in declared order; empty when it does not exist (or on error).
    virtual std::vector<TColumn> Columns(const QSqlDatabase &db, const QString &table, QString *error) const = 0;
    // Whether a table or an index by this name exists.
    virtual bool Exists(const QSqlDatabase &db, const QString &name, bool *exists, QString *error) const = 0;
    // Whether a transaction begun on this connection is still open: after some failures the
    // engine ends it by itself, and every statement after that would be stored alone.
    virtual bool InTransaction(const QSqlDatabase &db) const = 0;
    // Whether no transaction is left to roll back: the engine ended it itself (a refused
    // commit ends it on a server).
    virtual bool TransactionEnded(const QSqlDatabase &db) const = 0;
    // Whether an open connection has lost its server (it must be opened again).
    virtual bool Broken(const QSqlDatabase &db) const = 0;
    // Whether the server answers a trivial query within timeoutMs: a server that hangs (stopped,
    // or its machine cut off while the network still takes the bytes) would otherwise block a
    // statement for ever. Notices that came meanwhile are taken: *notified says so. Afterwards
    // a connection that failed must be closed. Always true for files.
    virtual bool Answers(const QSqlDatabase &db, int timeoutMs, bool *notified, QString *why) const = 0;
    virtual TFailure Classify(const QSqlError &error) const = 0;
    // Whether one refused statement ends the transaction it ran in (so a write that may be
    // refused runs inside a savepoint).
    virtual bool FailureEndsTransaction() const = 0;
    // For an error whose connection is no longer known: SQLite's numeric codes first, then
    // PostgreSQL's states and connection failures.
    static TFailure ClassifyAny(const QSqlError &error);
    // The database's own reason for a failure, as it may stand in brackets after a sentence an
    // operator reads: without Qt's English wrapper ("Unable to execute statement"), which that
    // sentence says better, and without the statement a server quotes after its reason.
    // Empty only for an error that carries no words at all.
    static QString Reason(const QSqlError &error);
    // sentence(reason), or the sentence alone when there is no reason.
    static QString WithReason(const QString &sentence, const QString &reason);
    // A 64-bit integer column's type (SQLite's INTEGER is one already, and stays the rowid).
    virtual QString Int64Type() const = 0;
    // Statements run once on a writing connection as it opens.
    virtual QStringList WriterSetup() const = 0;
    // Begins a transaction that will write (SQLite takes its lock at once, so the commit
    // cannot meet a reader's lock).
    virtual QString BeginWrite() const = 0;
    // A column that orders a table's rows as they were inserted, for filling a newly added
    // order column of old rows (empty where tables never lacked it).
    virtual QString InsertionOrder() const = 0;
    // LIKE without regard to letter case, as SQLite's LIKE is.
    virtual QString CaselessLike() const = 0;
    // Begins a read that sees both tables as of one commit.
    virtual QString BeginSnapshot() const = 0;
    // A number that changes when another connection commits (empty where changes are
    // told by notices instead).
    virtual QString ChangeVersion() const = 0;
    // Taken inside a transaction that makes missing tables, so two programs starting at once
    // do not both make them; empty where the engine's own locking does it.
    virtual QString SchemaLock() const = 0;
    // Makes or mends tables: on a server every program's making runs one at a time, in one
    // transaction under SchemaLock, so two starting together never make the same object (which
    // even IF NOT EXISTS and OR REPLACE do not prevent there). A failed try is rolled back and
    // made once more before why is given.
    bool MakeSchema(QSqlDatabase &db, const std::function<bool(QString *why)> &make, QString *why) const;
    // Statements that make changes to the directory's tables known to every listening
    // connection (none where the engine has no such notices).
    virtual QStringList ChangeNotices(const QString &channel, const QStringList &tables) const = 0;
};
