#include "directory/directory_store.h"

#include <QHash>

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include "store/sql_engine.h"
#include "store/statement_deadline.h"
#include "store/store_place.h"

#include <atomic>
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

namespace {
// The stores of this program by connection name, so a connection can be opened again.
QHash<QString, TDM *> &Stores()
{
    static QHash<QString, TDM *> stores;
    return stores;
}
std::atomic<quint64> ReopenCount{0};
} // namespace

quint64 TDM::Reopenings()
{
    return ReopenCount.load();
}

QString TDM::Reach(const QString &connection)
{
    TDM *store = Stores().value(connection);
    return store ? store->Reconnect() : QString();
}

QString TDM::Reconnect()
{
    if (!Url.IsServer())
        return QString();
    QSqlDatabase db = QSqlDatabase::database(Name, false);
    if (db.isOpen() && !TSqlEngine::Of(db).Broken(db))
        return QString();
    const auto away = [this] { return LostServerText(ServerProblem); };
    if (LastTry.isValid() && LastTry.elapsed() < RetryMs)
        return away();
    LastTry.start();
    db.close();
    if (!TSqlEngine::Open(db)) {
        ServerProblem = TSqlEngine::Reason(db.lastError());
        return away();
    }
    ++ReopenCount;
    QString why;
    if (!TablesMade && !MakeTables(db, &why)) {
        db.close();
        return why;
    }
    return QString();
}

TDM::TDM()
{
    // One process normally has one store; further ones (tests) get a connection of their own.
    Name = ConnectionName();
    for (int n = 2; QSqlDatabase::contains(Name); ++n)
        Name = ConnectionName() + QString::number(n);
    QSqlDatabase::addDatabase(TSqlEngine::Files().Driver(), Name);
    Stores().insert(Name, this);
}

TDM::~TDM()
{
    Stores().remove(Name);
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
    // A server's tables are made with their index, whenever it is reached.
    if (Url.IsServer())
        return QString();
    const QSqlDatabase db = QSqlDatabase::database(Name, false);
    const TSqlEngine &engine = TSqlEngine::Of(db);
    // Looked up first, so a directory locked by another program costs no wait when it is there.
    bool table = false;
    bool index = false;
    QString why;
    if (!engine.Exists(db, QStringLiteral("TelNumber"), &table, &why) || !engine.Exists(db, QStringLiteral("TelNumberByTelNum"), &index, &why))
        return TSqlEngine::WithReason(QStringLiteral("电话号码库 %1 读取失败").arg(Place()), why);
    if (!table || index)
        return QString(); // a missing table is said by the listings
    QSqlQuery q(db);
    if (!q.exec(CreateTelNumIndex()))
        return Explain(q.lastError(), Name);
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
    const auto run = [&] {
        const TStatementDeadline deadline(query.driver(), StatementDeadlineMs);
        return sql.isEmpty() ? query.exec() : query.exec(sql);
    };
    bool ok = run();
    // On a server a refused statement has ended the write transaction it ran in (the server
    // waited for the lock already): trying again there would only meet the ended transaction,
    // and the refusal would be taken for one row's instead of the lock it was.
    if (TWriteTransaction::AnyOpen() && TSqlEngine::Of(query.driver()).FailureEndsTransaction())
        return ok;
    while (!ok && IsBusyError(query.lastError()) && WaitForLock(since))
        ok = run();
    return ok;
}

QString TDM::Explain(const QSqlError &error, const QString &connection)
{
    const QString reason = TSqlEngine::Reason(error);
    const auto with = [&reason](const QString &cause) { return TSqlEngine::WithReason(cause, reason); };
    switch (TSqlEngine::ClassifyAny(error)) {
    case TSqlEngine::TFailure::Busy: return with(BusyText());
    case TSqlEngine::TFailure::DiskFull: return with(DiskFullText());
    case TSqlEngine::TFailure::ReadOnly: return with(ReadOnlyText());
    case TSqlEngine::TFailure::IoError: return with(IoErrorText());
    case TSqlEngine::TFailure::Damaged: return with(DamagedText());
    case TSqlEngine::TFailure::Unreachable: return with(UnreachableText());
    case TSqlEngine::TFailure::TimedOut: return with(TimedOutText());
    case TSqlEngine::TFailure::Other: break;
    }
    const TDM *store = connection.isEmpty() ? nullptr : Stores().value(connection);
    return with(store ? QStringLiteral("电话号码库 %1 读写失败").arg(store->Place()) : FailedText());
}

QString TDM::LostServerText(const QString &driverText)
{
    const QString cause = TStoreUrl::Refusal(driverText) == TStoreUrl::TRefusal::Refused ? RefusedText() : UnreachableText();
    return driverText.trimmed().isEmpty() ? cause : cause + QLatin1Char('(') + driverText.trimmed() + QLatin1Char(')');
}

bool TDM::EndsWrites(const QString &explained)
{
    for (const QString &cause :
         {BusyText(), DiskFullText(), ReadOnlyText(), IoErrorText(), DamagedText(), UnreachableText(), RefusedText(), TimedOutText()})
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
    if (const QString away = TDM::Reach(Connection); !away.isEmpty()) {
        Failure = away;
        return;
    }
    QSqlDatabase db = QSqlDatabase::database(Connection, false);
    const TStatementDeadline deadline(db, TDM::StatementDeadlineMs);
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
    const QSqlDatabase db = QSqlDatabase::database(Connection, false);
    return TSqlEngine::Of(db).InTransaction(db);
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
    const auto commit = [&db] {
        const TStatementDeadline deadline(db, TDM::StatementDeadlineMs);
        return db.commit();
    };
    bool committed = commit();
    while (!committed && TDM::IsBusyError(db.lastError()) && TDM::WaitForLock(since))
        committed = commit();
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
    if (!open && !TSqlEngine::Of(db).IsServer()) {
        // SQLite rolled it back by itself, but after a failed write it may leave the journal
        // (and the file's grown size) until the next read finishes the job: read now, so the
        // room comes back and no other program has to.
        QSqlQuery(db).exec(QStringLiteral("SELECT count(*) FROM sqlite_master"));
        return;
    }
    if (TSqlEngine::Of(db).TransactionEnded(db))
        return; // the server ended it itself (a refused commit): nothing is left to undo
    const TStatementDeadline deadline(db, TDM::StatementDeadlineMs);
    if (!db.rollback()) // a statement still reading keeps the transaction; make sure it ends
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
}

QString TDM::OpenProblem(const QString &driverText) const
{
    if (Url.IsServer()) {
        switch (TStoreUrl::Refusal(driverText)) {
        case TStoreUrl::TRefusal::Unreachable: return TSqlEngine::WithReason(QStringLiteral("数据库服务器 %1 无法连接").arg(Place()), driverText);
        case TStoreUrl::TRefusal::Refused:
            return TSqlEngine::WithReason(
                QStringLiteral("数据库服务器 %1 拒绝连接（请检查地址中的用户名、密码和数据库名）").arg(Place()), driverText);
        case TStoreUrl::TRefusal::Other: return TSqlEngine::WithReason(QStringLiteral("数据库服务器 %1 出错").arg(Place()), driverText);
        }
    }
    const QString shown = QDir::toNativeSeparators(File());
    if (QFileInfo(File()).isDir())
        return QStringLiteral("%1 是一个文件夹，不是电话号码库文件：请把它移走或改名。").arg(shown);
    return driverText.isEmpty() ? shown : QStringLiteral("电话号码库 %1 不能打开：%2").arg(shown, driverText);
}

QString TDM::Place() const
{
    return TStorePlace{File(), Url}.Shown();
}

QSqlDatabase TDM::AddConnection(const QString &name, const QString &purpose, bool reader) const
{
    // Another program's lock is waited for by WaitForLock, which keeps the links served
    // meanwhile; SQLite itself never waits.
    return TStorePlace{File(), Url}.Add(name, purpose, reader, 0);
}

bool TDM::Prepare(const QString &programDir, QString *error, const TStoreUrl &url)
{
    {
        QSqlDatabase db = QSqlDatabase::database(Name, false);
        db.close();
    }
    Url = url;
    Path = QDir::fromNativeSeparators(programDir);
    if (!Path.endsWith(QLatin1Char('/')))
        Path += QLatin1Char('/');
    Path += QStringLiteral("DATA/");

    // The folder is made on a server too: the history's and the sounds' files live there.
    const bool create = !QDir(Path).exists();
    if (create && !QDir().mkpath(Path)) {
        *error = QStringLiteral("Error->不能创建目录-%1！").arg(QDir::toNativeSeparators(Path));
        return false;
    }
    if (!Url.IsServer() && QFileInfo(File()).isDir()) {
        *error = OpenProblem();
        return false;
    }
    QSqlDatabase db = AddConnection(Name, QStringLiteral("directory"), false);
    TablesMade = false;
    LastTry.invalidate();
    if (Url.IsServer() && !TSqlEngine::Open(db)) {
        // A server still starting (or cut off) is waited for, not a reason to stop: the copy
        // and every later statement try again, and the operator is told meanwhile.
        ServerProblem = TSqlEngine::Reason(db.lastError());
        LastTry.start();
        *error = OpenProblem(ServerProblem);
        return true;
    }
    if (!db.isOpen() && !TSqlEngine::Open(db)) {
        *error = OpenProblem(Explain(db.lastError()));
        return false;
    }
    if (Url.IsServer())
        return MakeTables(db, error);
    if (create) {
        // A failing creation statement is left to show itself in the listings.
        QSqlQuery query(db);
        query.exec(CreateTelNumber());
        query.exec(CreateGroup());
        query.exec(CreateTelNumIndex());
    }
    return true;
}

bool TDM::MakeTables(QSqlDatabase &db, QString *error)
{
    // A shared database has no folder to tell a first start by: the tables are made when
    // missing. Every program reads the others' changes from the notices, so they are made
    // each time (it costs nothing); without them another machine's edits would never reach
    // this copy: not a directory to answer alarms from.
    const TSqlEngine &engine = TSqlEngine::Of(db);
    // Made where the links run (a connection opened again): a server that hangs is not waited for.
    const TStatementDeadline deadline(db, StatementDeadlineMs);
    QSqlQuery q(db);
    const auto make = [&](QString *why) {
        bool exists = false;
        if (!engine.Exists(db, QStringLiteral("TelNumber"), &exists, why))
            return false;
        if (!exists)
            for (const QString &sql : {CreateTelNumber(), CreateGroup(), CreateTelNumIndex()})
                if (!q.exec(sql)) {
                    *why = Explain(q.lastError());
                    return false;
                }
        for (const QString &sql : engine.ChangeNotices(ChangeChannel(), {QStringLiteral("TelNumber"), QStringLiteral("\"Group\"")}))
            if (!q.exec(sql)) {
                *why = QStringLiteral("变更通知未能建立: ") + Explain(q.lastError());
                return false;
            }
        return true;
    };
    QString why;
    if (!engine.MakeSchema(db, make, &why)) {
        *error = OpenProblem(why);
        return false;
    }
    TablesMade = true;
    return true;
}
