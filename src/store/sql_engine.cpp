#include "store/sql_engine.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

#include <QDeadlineTimer>

#include <libpq-fe.h>
#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <cerrno>
#include <poll.h>
#endif
#include <sqlite3.h>

namespace {

// SQLite's catalog knows names without the quotes a statement may need ("Group").
QString Unquoted(const QString &name)
{
    return name.size() > 1 && name.startsWith(QLatin1Char('"')) && name.endsWith(QLatin1Char('"')) ? name.mid(1, name.size() - 2) : name;
}

class TSqliteEngine final : public TSqlEngine
{
public:
    QString Driver() const override { return QStringLiteral("QSQLITE"); }
    bool IsServer() const override { return false; }

    std::vector<TColumn> Columns(const QSqlDatabase &db, const QString &table, QString *error) const override
    {
        std::vector<TColumn> columns;
        QSqlQuery info(db);
        QString quoted = Unquoted(table);
        quoted.replace(QLatin1Char('\''), QStringLiteral("''"));
        if (!info.exec(QStringLiteral("PRAGMA table_info('%1')").arg(quoted))) {
            *error = Reason(info.lastError());
            return columns;
        }
        while (info.next())
            columns.push_back({info.value(1).toString(), info.value(2).toString(), info.value(3).toBool(), info.value(5).toInt() > 0});
        return columns;
    }

    bool Exists(const QSqlDatabase &db, const QString &name, bool *exists, QString *error) const override
    {
        QSqlQuery q(db);
        // A locked file refuses the prepare already; running it anyway would report a missing
        // parameter instead of the lock.
        const bool prepared = q.prepare(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name = ? COLLATE NOCASE"));
        q.addBindValue(Unquoted(name));
        if (!prepared || !q.exec() || !q.next()) {
            *error = Reason(q.lastError());
            return false;
        }
        *exists = q.value(0).toInt() > 0;
        return true;
    }

    bool InTransaction(const QSqlDatabase &db) const override
    {
        const QVariant handle = db.driver()->handle();
        if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0) {
            sqlite3 *connection = *static_cast<sqlite3 *const *>(handle.data());
            return connection && sqlite3_get_autocommit(connection) == 0;
        }
        return true;
    }

    bool Broken(const QSqlDatabase &) const override { return false; }
    bool Answers(const QSqlDatabase &, int, bool *, QString *) const override { return true; }
    bool TransactionEnded(const QSqlDatabase &db) const override { return !InTransaction(db); }

    TFailure Classify(const QSqlError &error) const override
    {
        // Commit failures carry no error code, only SQLite's message, so both are looked at.
        const QString code = error.nativeErrorCode();
        const QString lower = (error.databaseText().isEmpty() ? error.text() : error.databaseText()).toLower();
        if (code == QLatin1String("5") || code == QLatin1String("6") || lower.contains(QLatin1String("database is locked"))
            || lower.contains(QLatin1String("table is locked")) || lower.contains(QLatin1String("database is busy")))
            return TFailure::Busy;
        if (code == QLatin1String("13") || lower.contains(QLatin1String("disk is full")))
            return TFailure::DiskFull;
        if (code == QLatin1String("8") || lower.contains(QLatin1String("readonly database")))
            return TFailure::ReadOnly;
        if (code == QLatin1String("10") || lower.contains(QLatin1String("disk i/o error")))
            return TFailure::IoError;
        if (code == QLatin1String("11") || code == QLatin1String("26") || lower.contains(QLatin1String("malformed"))
            || lower.contains(QLatin1String("not a database")))
            return TFailure::Damaged;
        return TFailure::Other;
    }

    bool FailureEndsTransaction() const override { return false; }
    QString Int64Type() const override { return QStringLiteral("INTEGER"); }
    // WAL with synchronous=NORMAL: a commit is safe from a crash of the program at once, and
    // costs no wait for the disk.
    QStringList WriterSetup() const override { return {QStringLiteral("PRAGMA journal_mode=WAL"), QStringLiteral("PRAGMA synchronous=NORMAL")}; }
    QString BeginWrite() const override { return QStringLiteral("BEGIN IMMEDIATE"); }
    QString CaselessLike() const override { return QStringLiteral("LIKE"); }
    QString InsertionOrder() const override { return QStringLiteral("rowid"); }
    QString BeginSnapshot() const override { return QStringLiteral("BEGIN"); }
    QString ChangeVersion() const override { return QStringLiteral("PRAGMA data_version"); }
    QString SchemaLock() const override { return QString(); }
    QStringList ChangeNotices(const QString &, const QStringList &) const override { return {}; }
};

// Waits until a socket can be read, or the time is up (true then too: the caller looks at the
// clock). False on an error of the wait itself.
bool WaitReadable(int socket, int timeoutMs)
{
#ifdef Q_OS_WIN
    WSAPOLLFD wait{SOCKET(socket), POLLRDNORM, 0};
    return WSAPoll(&wait, 1, timeoutMs) >= 0;
#else
    pollfd wait{socket, POLLIN, 0};
    const int ready = ::poll(&wait, 1, timeoutMs);
    return ready >= 0 || errno == EINTR;
#endif
}

// libpq's connection behind a Qt connection (its handle is named after libpq's struct).
PGconn *Connection(const QSqlDatabase &db)
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || (qstrcmp(handle.typeName(), "PGconn*") != 0 && qstrcmp(handle.typeName(), "pg_conn*") != 0))
        return nullptr;
    return *static_cast<PGconn *const *>(handle.data());
}

class TPostgresEngine final : public TSqlEngine
{
public:
    QString Driver() const override { return QStringLiteral("QPSQL"); }
    bool IsServer() const override { return true; }

    std::vector<TColumn> Columns(const QSqlDatabase &db, const QString &table, QString *error) const override
    {
        // Tables made without quotes are kept in lower case, "Group" as written.
        std::vector<TColumn> columns;
        QSqlQuery q(db);
        q.prepare(QStringLiteral(
            "SELECT a.attname, format_type(a.atttypid, a.atttypmod), a.attnotnull,"
            " COALESCE(a.attnum = ANY(i.indkey), false)"
            " FROM pg_attribute a JOIN pg_class c ON c.oid = a.attrelid"
            " LEFT JOIN pg_index i ON i.indrelid = c.oid AND i.indisprimary"
            " WHERE c.oid = to_regclass(?) AND a.attnum > 0 AND NOT a.attisdropped ORDER BY a.attnum"));
        q.addBindValue(Regclass(table));
        if (!q.exec()) {
            *error = Reason(q.lastError());
            return columns;
        }
        while (q.next()) {
            QString type = q.value(1).toString();
            if (type.startsWith(QLatin1String("character varying")))
                type = QStringLiteral("varchar") + type.mid(17);
            columns.push_back({q.value(0).toString(), type, q.value(2).toBool(), q.value(3).toBool()});
        }
        return columns;
    }

    bool Exists(const QSqlDatabase &db, const QString &name, bool *exists, QString *error) const override
    {
        QSqlQuery q(db);
        const bool prepared = q.prepare(QStringLiteral("SELECT to_regclass(?) IS NOT NULL"));
        q.addBindValue(Regclass(name));
        if (!prepared || !q.exec() || !q.next()) {
            *error = Reason(q.lastError());
            return false;
        }
        *exists = q.value(0).toBool();
        return true;
    }

    bool InTransaction(const QSqlDatabase &db) const override
    {
        // A failed statement leaves the transaction aborted: nothing more can be stored in it.
        PGconn *connection = Connection(db);
        return connection && PQtransactionStatus(connection) == PQTRANS_INTRANS;
    }

    bool TransactionEnded(const QSqlDatabase &db) const override
    {
        PGconn *connection = Connection(db);
        const PGTransactionStatusType status = connection ? PQtransactionStatus(connection) : PQTRANS_UNKNOWN;
        return status == PQTRANS_IDLE || status == PQTRANS_UNKNOWN;
    }

    bool Broken(const QSqlDatabase &db) const override
    {
        PGconn *connection = Connection(db);
        return !connection || PQstatus(connection) != CONNECTION_OK;
    }

    bool Answers(const QSqlDatabase &db, int timeoutMs, bool *notified, QString *why) const override
    {
        PGconn *connection = Connection(db);
        if (!connection || PQstatus(connection) != CONNECTION_OK || !PQsendQuery(connection, "SELECT 1")) {
            *why = connection ? QString::fromLocal8Bit(PQerrorMessage(connection)).trimmed() : QStringLiteral("no connection");
            return false;
        }
        const QDeadlineTimer deadline(timeoutMs);
        bool answered = true;
        for (;;) {
            if (!PQconsumeInput(connection)) {
                *why = QString::fromLocal8Bit(PQerrorMessage(connection)).trimmed();
                return false;
            }
            while (!PQisBusy(connection)) {
                PGresult *result = PQgetResult(connection);
                if (!result) {
                    while (PGnotify *notice = PQnotifies(connection)) {
                        *notified = true;
                        PQfreemem(notice);
                    }
                    return answered;
                }
                if (PQresultStatus(result) != PGRES_TUPLES_OK) {
                    answered = false;
                    *why = QString::fromLocal8Bit(PQresultErrorMessage(result)).trimmed();
                }
                PQclear(result);
            }
            const qint64 left = deadline.remainingTime();
            if (left <= 0) {
                *why = QStringLiteral("数据库服务器 %1 秒内没有应答").arg(timeoutMs / 1000.0);
                return false;
            }
            if (!WaitReadable(PQsocket(connection), int(left))) {
                *why = QStringLiteral("与数据库服务器的连接出错");
                return false;
            }
        }
    }

    TFailure Classify(const QSqlError &error) const override
    {
        const QString state = error.nativeErrorCode();
        const QString lower = error.text().toLower();
        if (state == QLatin1String("55P03") || state == QLatin1String("40P01") || state == QLatin1String("40001"))
            return TFailure::Busy;
        if (state == QLatin1String("53100"))
            return TFailure::DiskFull;
        // statement_timeout (or a cancel): the server gave up on the statement.
        if (state == QLatin1String("57014"))
            return TFailure::TimedOut;
        // A permission refused (42501) is told in the server's own words, not as a read-only file.
        if (state == QLatin1String("25006"))
            return TFailure::ReadOnly;
        if (state == QLatin1String("58030"))
            return TFailure::IoError;
        if (state == QLatin1String("XX001") || state == QLatin1String("XX002"))
            return TFailure::Damaged;
        // Connection errors come from libpq without a state, or as class 08 / 57P0x.
        if (state.startsWith(QLatin1String("08")) || state.startsWith(QLatin1String("57P"))
            || error.type() == QSqlError::ConnectionError || lower.contains(QLatin1String("server closed the connection"))
            || lower.contains(QLatin1String("could not connect")) || lower.contains(QLatin1String("connection to server"))
            || lower.contains(QLatin1String("no connection to the server")) || lower.contains(QLatin1String("terminating connection")))
            return TFailure::Unreachable;
        return TFailure::Other;
    }

    bool FailureEndsTransaction() const override { return true; }
    QString Int64Type() const override { return QStringLiteral("BIGINT"); }
    QStringList WriterSetup() const override { return {}; }
    QString BeginWrite() const override { return QStringLiteral("BEGIN"); }
    QString CaselessLike() const override { return QStringLiteral("ILIKE"); }
    QString InsertionOrder() const override { return QString(); }
    QString BeginSnapshot() const override { return QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"); }
    QString ChangeVersion() const override { return QString(); }
    QString SchemaLock() const override { return QStringLiteral("SELECT pg_advisory_xact_lock(7301)"); }

    QStringList ChangeNotices(const QString &channel, const QStringList &tables) const override
    {
        QStringList statements{QStringLiteral(
            "CREATE OR REPLACE FUNCTION varnex_directory_changed() RETURNS trigger LANGUAGE plpgsql AS "
            "$$BEGIN PERFORM pg_notify('%1', TG_TABLE_NAME); RETURN NULL; END$$")
                                   .arg(channel)};
        for (const QString &table : tables) {
            const QString trigger = QStringLiteral("varnex_changed_") + Unquoted(table).toLower();
            statements << QStringLiteral("CREATE OR REPLACE TRIGGER %1 AFTER INSERT OR UPDATE OR DELETE OR TRUNCATE ON %2 "
                                         "FOR EACH STATEMENT EXECUTE FUNCTION varnex_directory_changed()")
                              .arg(trigger, table);
        }
        return statements;
    }

private:
    // to_regclass reads a name as a statement would: unquoted folds to lower case.
    static QString Regclass(const QString &name) { return name; }
};

} // namespace

bool TSqlEngine::MakeSchema(QSqlDatabase &db, const std::function<bool(QString *why)> &make, QString *why) const
{
    const QString lock = SchemaLock();
    if (lock.isEmpty())
        return make(why);
    for (int attempt = 0; attempt < 2; ++attempt) {
        why->clear();
        if (!db.transaction()) {
            *why = Reason(db.lastError());
            continue;
        }
        QSqlQuery q(db);
        if (!q.exec(lock))
            *why = Reason(q.lastError());
        else if (make(why) && db.commit())
            return true;
        else if (why->isEmpty())
            *why = Reason(db.lastError());
        db.rollback();
        if (Broken(db))
            return false;
    }
    return false;
}

namespace {
void ServerNotice(void *, const char *message)
{
    qWarning("数据库服务器: %s", QByteArray(message).trimmed().constData());
}
} // namespace

bool TSqlEngine::Open(QSqlDatabase &db)
{
    if (!db.open())
        return false;
    if (PGconn *connection = Connection(db))
        PQsetNoticeProcessor(connection, &ServerNotice, nullptr);
    return true;
}

const TSqlEngine &TSqlEngine::Files()
{
    static const TSqliteEngine engine;
    return engine;
}

const TSqlEngine &TSqlEngine::Server()
{
    static const TPostgresEngine engine;
    return engine;
}

const TSqlEngine &TSqlEngine::Of(const QSqlDatabase &db)
{
    return db.driverName() == QLatin1String("QPSQL") ? Server() : Files();
}

const TSqlEngine &TSqlEngine::Of(const QSqlDriver *driver)
{
    return driver && driver->dbmsType() == QSqlDriver::PostgreSQL ? Server() : Files();
}

QString TSqlEngine::Reason(const QSqlError &error)
{
    QStringList kept;
    for (const QString &line : error.databaseText().split(QLatin1Char('\n'))) {
        const QString trimmed = line.trimmed();
        // PostgreSQL goes on with the statement: "LINE 1: SELECT …", a caret under it, and
        // where the statement ran from.
        if (trimmed.startsWith(QLatin1String("LINE ")) || trimmed.startsWith(QLatin1String("QUERY:"))
            || trimmed.startsWith(QLatin1String("STATEMENT:")) || trimmed.startsWith(QLatin1String("CONTEXT:")))
            break;
        if (!trimmed.isEmpty())
            kept << trimmed;
    }
    if (!kept.isEmpty())
        return kept.join(QLatin1Char(' '));
    // Qt's own words alone only name the step that failed ("Unable to fetch row"); a missing
    // driver or a closed connection is still worth saying. A failure is never said as nothing:
    // callers take an empty reason for success.
    const QString driver = error.driverText().trimmed();
    return driver.startsWith(QLatin1String("Unable to")) ? QStringLiteral("数据库未说明原因") : driver;
}

QString TSqlEngine::WithReason(const QString &sentence, const QString &reason)
{
    // The brackets every store message puts the database's words in.
    return reason.trimmed().isEmpty() ? sentence : sentence + QLatin1Char('(') + reason.trimmed() + QLatin1Char(')');
}

TSqlEngine::TFailure TSqlEngine::ClassifyAny(const QSqlError &error)
{
    // PostgreSQL's states are five characters; SQLite's codes are shorter numbers.
    if (error.nativeErrorCode().size() == 5)
        return Server().Classify(error);
    const TFailure files = Files().Classify(error);
    return files != TFailure::Other ? files : Server().Classify(error);
}
