#pragma once

#include "store/store_url.h"

#include <QElapsedTimer>
#include <QString>

#include <atomic>

class QSqlDatabase;
class QSqlError;
class QSqlQuery;

// The table store of the directory, on the connection "DBSession": the SQLite file
// DATA/ChaDB.sqlite beside the program (the folder and both tables made at the first start
// only), or a PostgreSQL database shared with other programs (the tables made when missing).
class TDM
{
public:
    static QString ConnectionName() { return QStringLiteral("DBSession"); }
    static QString CreateTelNumber();
    static QString CreateGroup();
    // What the windows call a column of the two tables (序号, 分机号码 …): operators are told of
    // columns by these names, never by the database's.
    static QString Caption(const QString &column);
    // Finding an extension by its number must not scan the whole table on every import row.
    static QString CreateTelNumIndex() { return QStringLiteral("CREATE INDEX TelNumberByTelNum ON TelNumber(TelNum)"); }

    TDM();
    ~TDM();
    TDM(const TDM &) = delete;
    TDM &operator=(const TDM &) = delete;

    // Points the store at programDir + "DATA/", creating the folder and the tables when the
    // folder does not exist yet; with a server address, at that database, the tables made when
    // missing. False, with the reason, when the folder cannot be made or the file or database
    // cannot be opened.
    bool Prepare(const QString &programDir, QString *error, const TStoreUrl &url = TStoreUrl());
    const TStoreUrl &ServerUrl() const { return Url; }
    bool OnServer() const { return Url.IsServer(); }
    // A further connection to the same directory, named `name`, not yet opened. A reader on
    // the files never waits for a lock.
    QSqlDatabase AddConnection(const QString &name, const QString &purpose, bool reader) const;
    // Before statements on a connection of a TDM: a server connection that was lost is opened
    // again (and the tables made, when they never were), at most once per RetryMs so a
    // server that is away costs no wait at every click. Empty when the connection can be used,
    // else why not.
    static QString Reach(const QString &connection);
    static constexpr int RetryMs = 2000;
    // Counts reopenings: statements prepared before one are gone with the old connection.
    static quint64 Reopenings();
    // The channel on which a server tells every program that the directory changed.
    static QString ChangeChannel() { return QStringLiteral("varnex_directory"); }

    // A directory made before the number index existed gets it; nothing else of the file is
    // touched. Empty when the index is there, else why it could not be made (the directory
    // works without it, only slower).
    QString EnsureIndexes();

    QString Connection() const { return Name; }
    QString Folder() const { return Path; }
    // Where the directory is, as an operator is told: the file, or the server's address
    // without its password.
    QString Place() const;
    // The directory file itself, DATA/ChaDB.sqlite.
    QString File() const { return Path.isEmpty() ? QString() : Path + QStringLiteral("ChaDB.sqlite"); }
    // The directory file Prepare(dataDir) would open, without opening or making anything.
    static QString FileIn(const QString &dataDir) { return dataDir + QStringLiteral("/DATA/ChaDB.sqlite"); }
    // Why the directory file cannot be opened, naming it: a folder in its place, else the
    // file with the driver's words.
    QString OpenProblem(const QString &driverText = QString()) const;

    // A failed statement in the operator's words: the directory in use by another program, a
    // full disk, a read-only file, a disk or file that cannot be read or written, a damaged
    // file, else that the directory (named, when connection is a TDM's own) could not be read
    // or written; the database's own reason in brackets after it, never the statement.
    static QString Explain(const QSqlError &error, const QString &connection = QString());
    static QString FailedText() { return QStringLiteral("电话号码库读写失败"); }
    static QString DiskFullText() { return QStringLiteral("磁盘已满，电话号码库无法写入。"); }
    static QString ReadOnlyText() { return QStringLiteral("电话号码库文件只读，无法写入。"); }
    static QString IoErrorText() { return QStringLiteral("电话号码库文件读写出错（磁盘或文件系统故障），无法写入。"); }
    static QString DamagedText() { return QStringLiteral("电话号码库文件已损坏，无法读写。"); }
    static QString UnreachableText() { return QStringLiteral("数据库服务器无法连接，电话号码库暂时不能读写。"); }
    // A statement the server cancelled when it ran past its time limit: the server is
    // overloaded or a lock is held, as with a busy directory, so the whole write is undone.
    static QString TimedOutText() { return QStringLiteral("数据库服务器处理超时，语句已被取消，电话号码库本次未能写入。"); }
    static QString RefusedText() { return QStringLiteral("数据库服务器拒绝连接（请检查地址中的用户名、密码和数据库名），电话号码库不能读写。"); }
    // A server connection that could not be opened, in the operator's words, with the
    // driver's: one that cannot be reached, or one that refuses this address.
    static QString LostServerText(const QString &driverText);
    // Whether an explained error ends every further write, not only the one statement: the
    // directory held by another program, a full disk, a read-only, unreadable or damaged file.
    static bool EndsWrites(const QString &explained);
    // An explained error as the cause is best known here: a read or write error on a disk with
    // almost no room left is the full disk.
    QString Cause(const QString &explained) const;
    // Counts this program's writes to any directory (statements that change rows, commits), so a
    // copy held elsewhere knows when to read anew.
    static quint64 Writes();
    static void Wrote();
    // This program holds or waits for a write lock on the directory: a reader that finds the file
    // locked meets the program's own write, not another program.
    static bool Writing();

    // Whether an explained error says that another program holds the directory.
    static bool IsBusy(const QString &explained) { return explained.startsWith(BusyText()); }
    static QString BusyText() { return QStringLiteral("电话号码库正被其他程序使用，请稍后再试。"); }

    // How long a statement waits for another program's lock before it gives up.
    static constexpr int BusyTimeoutMs = 1500;
    // How long one statement (or a commit) may take on a server before the server is taken as
    // hung and the connection cut: these run where the links run, and an edit that fails with
    // a reason is better than links that stand.
    static constexpr int StatementDeadlineMs = 5000;
    static bool IsBusyError(const QSqlError &error);
    // Waits a little for another program's lock while the links, timers and sounds go on (no
    // operator input is taken meanwhile); false once `since` is past the busy timeout. SQLite
    // itself never waits: its wait would stop the whole program.
    static bool WaitForLock(const QElapsedTimer &since);
    // Runs a statement (sql, or the prepared one when sql is empty), waiting for another
    // program's lock as WaitForLock does.
    static bool Exec(QSqlQuery &query, const QString &sql = QString());
    // A statement is waiting for a lock (window actions that would use the directory hold off).
    static bool Waiting();

private:
    bool MakeTables(QSqlDatabase &db, QString *error);
    QString Reconnect();

    QString Name;
    QString Path;
    TStoreUrl Url;
    bool TablesMade = false;
    QString ServerProblem;
    QElapsedTimer LastTry;
};

// Several rows written as one: stored whole by Commit, or not at all. A transaction that was
// not committed is rolled back when this goes, so none is ever left open to swallow later
// changes or lock other programs out.
class TWriteTransaction
{
public:
    explicit TWriteTransaction(const QString &connection);
    ~TWriteTransaction();
    TWriteTransaction(const TWriteTransaction &) = delete;
    TWriteTransaction &operator=(const TWriteTransaction &) = delete;

    // Empty when the transaction began, else why not.
    QString BeginError() const { return Failure; }
    // Whether the transaction is still open: after some failed statements (a full disk when
    // pages are spilled, an I/O error) SQLite rolls it back by itself, and every statement after
    // that would be stored alone.
    bool StillOpen() const;
    // Whether this program has a write transaction open on any directory.
    static bool AnyOpen() { return OpenTransactions > 0; }
    static QString UndoneText() { return QStringLiteral("电话号码库已自行撤销本次写入，未保存任何记录。"); }
    // Empty when everything is stored; else the transaction is rolled back and this says why.
    QString Commit();
    void Rollback();

private:
    friend class TDM;
    static std::atomic<int> OpenTransactions;
    QString Connection;
    bool Open = false;
    QString Failure;
};
