#include "store/statement_deadline.h"

#include <QSet>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QVariant>

#include <libpq-fe.h>

#include <chrono>
#include <condition_variable>
#include <list>
#include <mutex>
#include <thread>

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

struct TStatementDeadline::TWatched
{
    int Socket = -1;
    QString Connection;
    std::chrono::steady_clock::time_point Until;
    std::atomic<bool> Cut{false};

    // Shut down, not closed: the descriptor stays libpq's, and its waiting read returns at once.
    void CutNow()
    {
#ifdef Q_OS_WIN
        ::shutdown(SOCKET(Socket), SD_BOTH);
#else
        ::shutdown(Socket, SHUT_RDWR);
#endif
        Cut = true;
    }
};

namespace {

using TWatched = TStatementDeadline::TWatched;

// One thread for the whole program, looking four times a second: a deadline is seconds long,
// and a statement costs no more than a lock and a list entry.
class TWatchman
{
public:
    static TWatchman &Get()
    {
        static TWatchman watchman;
        return watchman;
    }

    void Add(const std::shared_ptr<TWatched> &watched)
    {
        std::lock_guard lock(Guard);
        if (Interrupted.contains(watched->Connection)) {
            watched->CutNow();
            return;
        }
        Watched.push_back(watched);
        if (!Thread.joinable())
            Thread = std::thread([this] { Run(); });
    }

    void Extend(TWatched *watched, std::chrono::milliseconds ms)
    {
        std::lock_guard lock(Guard);
        watched->Until = std::chrono::steady_clock::now() + ms;
    }

    void Remove(const TWatched *watched)
    {
        // Under the lock: a socket is never cut once its statement has ended.
        std::lock_guard lock(Guard);
        Watched.remove_if([watched](const std::shared_ptr<TWatched> &w) { return w.get() == watched; });
    }

    void Interrupt(const QString &connection)
    {
        std::lock_guard lock(Guard);
        Interrupted.insert(connection);
        Watched.remove_if([&connection](const std::shared_ptr<TWatched> &w) {
            if (w->Connection != connection)
                return false;
            w->CutNow();
            return true;
        });
    }

    void Resume(const QString &connection)
    {
        std::lock_guard lock(Guard);
        Interrupted.remove(connection);
    }

    ~TWatchman()
    {
        {
            std::lock_guard lock(Guard);
            Stopping = true;
        }
        Wake.notify_all();
        if (Thread.joinable())
            Thread.join();
    }

private:
    void Run()
    {
        std::unique_lock lock(Guard);
        while (!Stopping) {
            Wake.wait_for(lock, std::chrono::milliseconds(250));
            const auto now = std::chrono::steady_clock::now();
            Watched.remove_if([now](const std::shared_ptr<TWatched> &w) {
                if (now < w->Until)
                    return false;
                w->CutNow();
                return true;
            });
        }
    }

    std::mutex Guard;
    std::condition_variable Wake;
    std::list<std::shared_ptr<TWatched>> Watched;
    QSet<QString> Interrupted;
    bool Stopping = false;
    std::thread Thread;
};

} // namespace

TStatementDeadline::TStatementDeadline(const QSqlDatabase &db, int ms) : Ms(ms)
{
    Watch(db.driver(), db.connectionName());
}

TStatementDeadline::TStatementDeadline(const QSqlDriver *driver, int ms) : Ms(ms)
{
    Watch(driver, QString());
}

void TStatementDeadline::Watch(const QSqlDriver *driver, const QString &connection)
{
    // libpq's connection behind a server's driver; the files have none to cut.
    const QVariant handle = driver ? driver->handle() : QVariant();
    if (!handle.isValid() || (qstrcmp(handle.typeName(), "PGconn*") != 0 && qstrcmp(handle.typeName(), "pg_conn*") != 0))
        return;
    PGconn *pg = *static_cast<PGconn *const *>(handle.data());
    const int socket = pg && PQstatus(pg) == CONNECTION_OK ? PQsocket(pg) : -1;
    if (socket < 0)
        return;
    Watched = std::make_shared<TWatched>();
    Watched->Socket = socket;
    Watched->Connection = connection;
    Watched->Until = std::chrono::steady_clock::now() + std::chrono::milliseconds(Ms);
    TWatchman::Get().Add(Watched);
}

TStatementDeadline::~TStatementDeadline()
{
    if (Watched)
        TWatchman::Get().Remove(Watched.get());
}

void TStatementDeadline::Extend()
{
    if (Watched)
        TWatchman::Get().Extend(Watched.get(), std::chrono::milliseconds(Ms));
}

bool TStatementDeadline::Expired() const
{
    return Watched && Watched->Cut.load();
}

QString TStatementDeadline::ExpiredText(int ms)
{
    return QStringLiteral("数据库服务器 %1 秒内没有应答，连接已断开").arg(ms / 1000.0);
}

void TStatementDeadline::Interrupt(const QString &connection)
{
    TWatchman::Get().Interrupt(connection);
}

void TStatementDeadline::Resume(const QString &connection)
{
    TWatchman::Get().Resume(connection);
}
