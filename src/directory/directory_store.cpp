#include "directory/directory_store.h"

#include <QHash>

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <sqlite3.h>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

QString TDM::CreateTelNumber()
{
    return QStringLiteral("CREATE TABLE TelNumber(TelNum Integer NOT NULL,sequence Integer NOT NULL,"
                          "TelName varchar(50),Address varchar(50),GroupNo1 varchar(10),GroupNo2 varchar(10),"
                          "GroupNo3 varchar(10),GroupNo4 varchar(10),GroupNo5 varchar(10),GroupNo6 varchar(10),"
                          "GroupNo7 varchar(10),GroupNo8 varchar(10),Msg varchar(50),Status Integer,"
                          "ImpFlag varchar(10),PRIMARY KEY(sequence))");
}

QString TDM::CreateGroup()
{
    // "Group" is an SQL keyword, so SQLite needs the table name quoted.
    return QStringLiteral("CREATE TABLE \"Group\"(GroupNum Integer NOT NULL,sequence Integer NOT NULL,"
                          "GroupName varchar(50),GroupMembers varchar(50),GroupMsg varchar(50),"
                          "ImpFlag varchar(10),PRIMARY KEY(sequence))");
}

QString TDM::Caption(const QString &column)
{
    static const QHash<QString, QString> captions = [] {
        // Keyed in lower case: SQL names match without regard to case.
        QHash<QString, QString> c{{"sequence", "序号"},       {"telnum", "分机号码"},    {"telname", "分机名称"},
                                  {"address", "安装地址"},    {"status", "状态"},        {"msg", "备注"},
                                  {"impflag", "标注"},        {"groupnum", "分组组号"},  {"groupname", "分组名称"},
                                  {"groupmembers", "组内用户数"}, {"groupmsg", "备注"}};
        for (int slot = 1; slot <= 8; ++slot)
            c.insert(QStringLiteral("groupno%1").arg(slot), QStringLiteral("所属组号%1").arg(slot));
        return c;
    }();
    return captions.value(column.toLower(), column);
}

TDM::TDM()
{
    // One process normally has one store; further ones (tests) get a connection of their own.
    Name = ConnectionName();
    for (int n = 2; QSqlDatabase::contains(Name); ++n)
        Name = ConnectionName() + QString::number(n);
    QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), Name);
}

TDM::~TDM()
{
    {
        QSqlDatabase db = QSqlDatabase::database(Name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(Name);
}

namespace {
std::atomic<quint64> WriteCount{0};
} // namespace

quint64 TDM::Writes()
{
    return WriteCount.load();
}

std::atomic<int> TWriteTransaction::OpenTransactions{0};

bool TDM::Writing()
{
    return TWriteTransaction::OpenTransactions > 0 || Waiting();
}

void TDM::Wrote()
{
    ++WriteCount;
}

QString TDM::EnsureIndexes()
{
    QSqlQuery q(QSqlDatabase::database(Name, false));
    // Looked up first, so a directory locked by another program costs no wait when it is there.
    const QString lookup = QStringLiteral("SELECT name FROM sqlite_master WHERE name IN ('TelNumber', 'TelNumberByTelNum')");
    if (!q.exec(lookup))
        return Explain(q.lastError());
    QStringList found;
    while (q.next())
        found << q.value(0).toString();
    if (!found.contains(QStringLiteral("TelNumber")) || found.contains(QStringLiteral("TelNumberByTelNum")))
        return QString(); // a missing table is said by the listings
    if (!q.exec(CreateTelNumIndex()))
        return Explain(q.lastError());
    return QString();
}

bool TDM::IsBusyError(const QSqlError &error)
{
    return error.isValid() && IsBusy(Explain(error));
}

namespace {
int WaitDepth = 0;
} // namespace

bool TDM::Waiting()
{
    return WaitDepth > 0;
}

bool TDM::WaitForLock(const QElapsedTimer &since)
{
    if (since.elapsed() >= BusyTimeoutMs)
        return false;
    ++WaitDepth;
    QEventLoop loop;
    QTimer::singleShot(5, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    --WaitDepth;
    return true;
}

bool TDM::Exec(QSqlQuery &query, const QString &sql)
{
    QElapsedTimer since;
    since.start();
    const auto run = [&] { return sql.isEmpty() ? query.exec() : query.exec(sql); };
    bool ok = run();
    while (!ok && IsBusyError(query.lastError()) && WaitForLock(since))
        ok = run();
    return ok;
}

QString TDM::Explain(const QSqlError &error)
{
    // Commit failures carry no error code, only SQLite's message, so both are looked at.
    const QString code = error.nativeErrorCode();
    const QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    const QString lower = text.toLower();
    if (code == QLatin1String("5") || code == QLatin1String("6") || lower.contains(QLatin1String("database is locked"))
        || lower.contains(QLatin1String("table is locked")) || lower.contains(QLatin1String("database is busy")))
        return BusyText() + QLatin1Char('(') + text + QLatin1Char(')');
    const auto with = [&text](const QString &cause) { return cause + QLatin1Char('(') + text + QLatin1Char(')'); };
    if (code == QLatin1String("13") || lower.contains(QLatin1String("disk is full")))
        return with(DiskFullText());
    if (code == QLatin1String("8") || lower.contains(QLatin1String("readonly database")))
        return with(ReadOnlyText());
    if (code == QLatin1String("10") || lower.contains(QLatin1String("disk i/o error")))
        return with(IoErrorText());
    if (code == QLatin1String("11") || code == QLatin1String("26") || lower.contains(QLatin1String("malformed"))
        || lower.contains(QLatin1String("not a database")))
        return with(DamagedText());
    return error.text();
}

bool TDM::EndsWrites(const QString &explained)
{
    for (const QString &cause : {BusyText(), DiskFullText(), ReadOnlyText(), IoErrorText(), DamagedText()})
        if (explained.startsWith(cause))
            return true;
    return false;
}

QString TDM::Cause(const QString &explained) const
{
    // Less than a few pages free: what failed to be read or written could not find room.
    constexpr qint64 AlmostNothing = 256 * 1024;
    if (!explained.startsWith(IoErrorText()) && !explained.startsWith(TWriteTransaction::UndoneText()))
        return explained;
    const QStorageInfo disk(Path);
    if (!disk.isValid() || disk.bytesAvailable() >= AlmostNothing)
        return explained;
    return DiskFullText() + QLatin1Char('(') + explained + QLatin1Char(')');
}

TWriteTransaction::TWriteTransaction(const QString &connection) : Connection(connection)
{
    QSqlDatabase db = QSqlDatabase::database(Connection, false);
    if (!db.isOpen())
        Failure = QStringLiteral("数据库未打开");
    else if (!(Open = db.transaction()))
        Failure = TDM::Explain(db.lastError());
    if (Open)
        ++OpenTransactions;
}

TWriteTransaction::~TWriteTransaction()
{
    Rollback();
}

bool TWriteTransaction::StillOpen() const
{
    if (!Open)
        return false;
    const QVariant handle = QSqlDatabase::database(Connection, false).driver()->handle();
    if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0) {
        sqlite3 *connection = *static_cast<sqlite3 *const *>(handle.data());
        return connection && sqlite3_get_autocommit(connection) == 0;
    }
    return true; // another engine says so when the commit fails
}

QString TWriteTransaction::Commit()
{
    if (!Open)
        return Failure;
    if (!StillOpen()) {
        Open = false;
        TDM::Wrote(); // rows seen inside the transaction are gone
        return UndoneText();
    }
    QSqlDatabase db = QSqlDatabase::database(Connection, false);
    QElapsedTimer since;
    since.start();
    bool committed = db.commit();
    while (!committed && TDM::IsBusyError(db.lastError()) && TDM::WaitForLock(since))
        committed = db.commit();
    if (committed) {
        Open = false;
        --OpenTransactions;
        TDM::Wrote();
        return QString();
    }
    const QString why = TDM::Explain(db.lastError());
    Rollback();
    return why;
}

void TWriteTransaction::Rollback()
{
    if (!Open)
        return;
    const bool open = StillOpen();
    Open = false;
    --OpenTransactions;
    TDM::Wrote(); // rows seen inside the transaction are gone again
    QSqlDatabase db = QSqlDatabase::database(Connection, false);
    if (!open) {
        // SQLite rolled it back by itself, but after a failed write it may leave the journal
        // (and the file's grown size) until the next read finishes the job: read now, so the
        // room comes back and no other program has to.
        QSqlQuery(db).exec(QStringLiteral("SELECT count(*) FROM sqlite_master"));
        return;
    }
    if (!db.rollback()) // a statement still reading keeps the transaction; make sure it ends
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
}

QString TDM::OpenProblem(const QString &driverText) const
{
    const QString shown = QDir::toNativeSeparators(File());
    if (QFileInfo(File()).isDir())
        return QStringLiteral("%1 是一个文件夹，不是电话号码库文件：请把它移走或改名。").arg(shown);
    return driverText.isEmpty() ? shown : shown + QStringLiteral(": ") + driverText;
}

bool TDM::Prepare(const QString &programDir, QString *error)
{
    QSqlDatabase db = QSqlDatabase::database(Name, false);
    db.close();
    Path = QDir::fromNativeSeparators(programDir);
    if (!Path.endsWith(QLatin1Char('/')))
        Path += QLatin1Char('/');
    Path += QStringLiteral("DATA/");

    const bool create = !QDir(Path).exists();
    if (create && !QDir().mkpath(Path)) {
        *error = QStringLiteral("Error->不能创建目录-%1！").arg(QDir::toNativeSeparators(Path));
        return false;
    }
    if (QFileInfo(File()).isDir()) {
        *error = OpenProblem();
        return false;
    }
    db.setDatabaseName(File());
    // Another program holding a lock is waited for 15 x 100 ms before a statement fails.
    // Locks are waited for by WaitForLock, which keeps the links served meanwhile.
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=0"));
    if (!db.open()) {
        *error = OpenProblem(Explain(db.lastError()));
        return false;
    }
    if (create) {
        // A failing creation statement is left to show itself in the listings.
        QSqlQuery query(db);
        query.exec(CreateTelNumber());
        query.exec(CreateGroup());
        query.exec(CreateTelNumIndex());
    }
    return true;
}
