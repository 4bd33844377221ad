#include "support/pg_server.h"

#include <QDir>
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QThread>

#include <unistd.h>

namespace {
constexpr const char *AdminConnection = "pg-server-admin";
bool HasEngines = false;
} // namespace

namespace {
TPgServer *SharedServer = nullptr;
void StopShared()
{
    delete SharedServer;
    SharedServer = nullptr;
}
} // namespace

TPgServer &TPgServer::Shared()
{
    // Stopped while the application still runs, so its processes are waited for properly.
    if (!SharedServer) {
        SharedServer = new TPgServer;
        qAddPostRoutine(StopShared);
    }
    return *SharedServer;
}

bool TPgServer::Run(const QStringList &command, QString *output) const
{
    QStringList args = command;
    QString program = args.takeFirst();
    if (!RunAs.isEmpty()) {
        args.prepend(program);
        args = QStringList{QStringLiteral("-u"), RunAs, QStringLiteral("--")} + args;
        program = QStringLiteral("runuser");
    }
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    const bool ok = p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (output)
        *output = QString::fromLocal8Bit(p.readAll()).trimmed() + (p.error() == QProcess::FailedToStart ? p.errorString() : QString());
    return ok;
}

void TPgServer::StopLeftOvers() const
{
    // A test program that crashed left its server running: stopped here, by the next one.
    // Servers whose test program still runs (beside this one) are left alone.
    const QDir tmp(QStringLiteral("/tmp"));
    for (const QString &name : tmp.entryList({QStringLiteral("varnex-pg-*")}, QDir::Dirs)) {
        const QString folder = tmp.filePath(name);
        QFile owner(folder + QStringLiteral("/owner"));
        if (folder == Folder.path() || !owner.open(QIODevice::ReadOnly))
            continue;
        const QByteArray pid = owner.readAll().trimmed();
        if (pid.isEmpty() || QFile::exists(QStringLiteral("/proc/") + QString::fromLatin1(pid)))
            continue;
        Run({Bin + QStringLiteral("pg_ctl"), QStringLiteral("-D"), folder + QStringLiteral("/data"), QStringLiteral("-m"),
             QStringLiteral("immediate"), QStringLiteral("-w"), QStringLiteral("stop")});
        QDir(folder).removeRecursively();
    }
}

TPgServer::TPgServer()
{
    for (const QString &version : {QStringLiteral("15"), QStringLiteral("16"), QStringLiteral("17")})
        if (QFile::exists(QStringLiteral("/usr/lib/postgresql/%1/bin/initdb").arg(version)))
            Bin = QStringLiteral("/usr/lib/postgresql/%1/bin/").arg(version);
    if (Bin.isEmpty()) {
        Why = QStringLiteral("PostgreSQL is not installed (no /usr/lib/postgresql/*/bin/initdb; scripts/install-deps installs postgresql-15)");
        return;
    }
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"))) {
        Why = QStringLiteral("Qt's PostgreSQL driver is not installed (libqt6sql6-psql)");
        return;
    }
    if (!Folder.isValid()) {
        Why = QStringLiteral("no temporary folder for the server");
        return;
    }
    if (geteuid() == 0) {
        RunAs = QStringLiteral("postgres");
        QFile::setPermissions(Folder.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                                 | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
        if (QProcess::execute(QStringLiteral("chown"), {QStringLiteral("postgres"), Folder.path()}) != 0) {
            Why = QStringLiteral("cannot give the server's folder to the postgres user");
            return;
        }
    }
    StopLeftOvers();
    QFile owner(Folder.filePath(QStringLiteral("owner")));
    if (owner.open(QIODevice::WriteOnly))
        owner.write(QByteArray::number(QCoreApplication::applicationPid()));
    owner.close();
    const QString data = Folder.filePath(QStringLiteral("data"));
    QString out;
    if (!Run({Bin + QStringLiteral("initdb"), QStringLiteral("-D"), data, QStringLiteral("-A"), QStringLiteral("trust"),
              QStringLiteral("-U"), QStringLiteral("varnex"), QStringLiteral("-E"), QStringLiteral("UTF8"),
              QStringLiteral("--locale=C.UTF-8")},
             &out)) {
        Why = QStringLiteral("initdb failed: ") + out;
        return;
    }
    if (!Start()) {
        Why = QStringLiteral("the server did not start: ") + out;
        return;
    }
    QSqlDatabase admin = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QLatin1String(AdminConnection));
    admin.setHostName(Folder.path());
    admin.setUserName(QStringLiteral("varnex"));
    admin.setDatabaseName(QStringLiteral("postgres"));
    if (!admin.open())
        Why = QStringLiteral("cannot connect to the server: ") + admin.lastError().text();
}

TPgServer::~TPgServer()
{
    if (QSqlDatabase::contains(QLatin1String(AdminConnection))) {
        QSqlDatabase::database(QLatin1String(AdminConnection), false).close();
        QSqlDatabase::removeDatabase(QLatin1String(AdminConnection));
    }
    if (!Bin.isEmpty() && QFile::exists(Folder.filePath(QStringLiteral("data/postmaster.pid"))))
        Run({Bin + QStringLiteral("pg_ctl"), QStringLiteral("-D"), Folder.filePath(QStringLiteral("data")), QStringLiteral("-m"),
             QStringLiteral("immediate"), QStringLiteral("-w"), QStringLiteral("stop")});
}

bool TPgServer::Start()
{
    // Running already when it takes connections (a killed server's process may linger as a
    // zombie, which pg_ctl takes for a running server).
    if (Run({Bin + QStringLiteral("pg_isready"), QStringLiteral("-q"), QStringLiteral("-h"), Folder.path()}))
        return true;
    // After a kill its last backends may still hold the shared memory for a moment.
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (StartOnce())
            return true;
        QThread::msleep(250);
    }
    return false;
}

bool TPgServer::StartOnce()
{
    QString out;
    // fsync off: a throwaway server need not survive a power cut, and the tests run faster.
    const bool ok = Run({Bin + QStringLiteral("pg_ctl"), QStringLiteral("-D"), Folder.filePath(QStringLiteral("data")),
                         QStringLiteral("-l"), Folder.filePath(QStringLiteral("server.log")), QStringLiteral("-w"),
                         QStringLiteral("-o"),
                         QStringLiteral("-c listen_addresses='' -k %1 -c fsync=off -c full_page_writes=off").arg(Folder.path()),
                         QStringLiteral("start")},
                        &out);
    if (!ok)
        qWarning("pg_ctl start: %s", qPrintable(out));
    return ok;
}

bool TPgServer::Stop()
{
    return Run({Bin + QStringLiteral("pg_ctl"), QStringLiteral("-D"), Folder.filePath(QStringLiteral("data")), QStringLiteral("-m"),
                QStringLiteral("fast"), QStringLiteral("-w"), QStringLiteral("stop")});
}

bool TPgServer::Kill()
{
    QFile pid(Folder.filePath(QStringLiteral("data/postmaster.pid")));
    if (!pid.open(QIODevice::ReadOnly))
        return false;
    const QString postmaster = QString::fromLatin1(pid.readLine().trimmed());
    // Its backends too, at once: every connection dies as in a crash of the server's machine
    // (left alone, a backend may still serve a statement before it notices).
    QProcess::execute(QStringLiteral("pkill"), {QStringLiteral("-9"), QStringLiteral("-P"), postmaster});
    return QProcess::execute(QStringLiteral("kill"), {QStringLiteral("-9"), postmaster}) == 0;
}

bool TPgServer::Pause(bool stopped)
{
    QFile pid(Folder.filePath(QStringLiteral("data/postmaster.pid")));
    if (!pid.open(QIODevice::ReadOnly))
        return false;
    const QString postmaster = QString::fromLatin1(pid.readLine().trimmed());
    const QString signal = stopped ? QStringLiteral("-STOP") : QStringLiteral("-CONT");
    QProcess::execute(QStringLiteral("pkill"), {signal, QStringLiteral("-P"), postmaster});
    return QProcess::execute(QStringLiteral("kill"), {signal, postmaster}) == 0;
}

QString TPgServer::Url(const QString &database) const
{
    return QStringLiteral("postgresql://varnex@/%1?host=%2").arg(database, Folder.path());
}

QString TPgServer::NewDatabase()
{
    const QString name = QStringLiteral("t%1").arg(++Databases);
    QSqlDatabase admin = QSqlDatabase::database(QLatin1String(AdminConnection), false);
    bool made = QSqlQuery(admin).exec(QStringLiteral("CREATE DATABASE %1").arg(name));
    if (!made) {
        // A test before this one stopped or killed the server: the admin connection is new.
        admin.close();
        QSqlQuery q(admin);
        made = admin.open() && q.exec(QStringLiteral("CREATE DATABASE %1").arg(name));
        if (!made)
            qWarning("CREATE DATABASE %s: %s", qPrintable(name), qPrintable(q.lastError().text()));
    }
    return Url(name);
}

namespace TestSupport {

void EnginesData()
{
    HasEngines = true;
    QTest::addColumn<bool>("server");
    // ctest runs the two engines as two processes side by side (VARNEX_ENGINE=files|server);
    // by hand, without it, both rows run.
    const QByteArray only = qgetenv("VARNEX_ENGINE");
    if (only.isEmpty() || only == "files")
        QTest::newRow("files") << false;
    if (only.isEmpty() || only == "server")
        QTest::newRow("server") << true;
    if (!only.isEmpty() && only != "files" && only != "server")
        qFatal("VARNEX_ENGINE=%s: files or server", only.constData());
}

bool OnServer()
{
    return HasEngines && *static_cast<bool *>(QTest::qGlobalData("server", qMetaTypeId<bool>()));
}

QString EngineProblem()
{
    return OnServer() ? TPgServer::Shared().Problem() : QString();
}

QString StoreUrl()
{
    return OnServer() ? TPgServer::Shared().NewDatabase() : QString();
}

TStorePlace StorePlace(const QString &file)
{
    TStorePlace place{file, {}};
    QString why;
    TStoreUrl::Parse(StoreUrl(), &place.Url, &why);
    return place;
}

} // namespace TestSupport
