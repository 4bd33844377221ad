#include "app/control_server.h"

#include "app/pair_role.h"
#include "status/status_publisher.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSemaphore>
#include <QStandardPaths>
#include <QTimer>

#include <memory>

namespace {

QByteArray Reply(bool ok, const QString &message, const QJsonObject &status = {})
{
    QJsonObject reply{{"ok", ok}};
    if (!message.isEmpty())
        reply.insert(QStringLiteral("message"), message);
    if (!status.isEmpty())
        reply.insert(QStringLiteral("status"), status);
    return QJsonDocument(reply).toJson(QJsonDocument::Compact) + '\n';
}

// `watch`, on the control thread: the snapshot to each watcher as it changes. A watcher that
// does not read what it is sent is dropped rather than buffered for; a few at most.
class TWatchers : public QObject
{
public:
    static constexpr int Most = 4;
    static constexpr qint64 MostQueued = 256 * 1024;
    // A line at least this often, so a watcher sees the program's time and loop lag move.
    static constexpr qint64 QuietMs = 1000;

    TWatchers(TStatusPublisher &status, QObject *parent) : QObject(parent), Status(status)
    {
        Timer.setInterval(TStatusPublisher::RefreshMs);
        connect(&Timer, &QTimer::timeout, this, &TWatchers::Tell);
    }

    static bool IsWatch(const QByteArray &request)
    {
        return QJsonDocument::fromJson(request).object().value(QStringLiteral("command")).toString() == QLatin1String("watch");
    }

    void Take(QLocalSocket *socket)
    {
        QObject::disconnect(socket, &QLocalSocket::readyRead, nullptr, nullptr);
        if (Sockets.size() >= Most) {
            socket->write(Reply(false, QStringLiteral("%1 watchers already").arg(Most)));
            socket->disconnectFromServer();
            return;
        }
        // A watcher has nothing more to say; whatever it sends is dropped.
        connect(socket, &QLocalSocket::readyRead, socket, [socket] { socket->readAll(); });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] { Sockets.removeOne(socket); });
        const QJsonObject now = Status.Snapshot().ToJson();
        socket->write(Reply(true, QString(), now));
        // The others are told of changes since their own last line, not since this one's first.
        if (Sockets.isEmpty()) {
            Last = Comparable(now);
            Quiet.start();
        }
        Sockets.append(socket);
        Timer.start();
    }

private:
    static QJsonObject Comparable(QJsonObject snapshot)
    {
        // Both move with every refresh.
        snapshot.remove(QStringLiteral("time"));
        snapshot.remove(QStringLiteral("loop_lag_ms"));
        return snapshot;
    }
    void Tell()
    {
        if (Sockets.isEmpty()) {
            Timer.stop();
            return;
        }
        const QJsonObject now = Status.Snapshot().ToJson();
        QJsonObject same = Comparable(now);
        if (same == Last && Quiet.isValid() && Quiet.elapsed() < QuietMs)
            return;
        Last = std::move(same);
        Quiet.start();
        const QByteArray line = Reply(true, QString(), now);
        for (QLocalSocket *socket : QList<QLocalSocket *>(Sockets)) {
            if (socket->bytesToWrite() > MostQueued) {
                Sockets.removeOne(socket);
                socket->abort();
                continue;
            }
            socket->write(line);
        }
    }

    TStatusPublisher &Status;
    QList<QLocalSocket *> Sockets;
    QTimer Timer{this};
    QElapsedTimer Quiet;
    QJsonObject Last;
};

// Lives on the control thread: takes connections and answers each one's line.
class TControlWorker : public QObject
{
public:
    TControlWorker(TControlServer &owner) : Owner(owner), Watchers(new TWatchers(owner.Publisher(), this)) {}

    bool Listen(const QString &path, QString *why)
    {
        Server = new QLocalServer(this);
        Server->setSocketOptions(QLocalServer::UserAccessOption);
        // A socket file left by a program that ended is replaced; one that answers is another
        // program's, and stays.
        QLocalSocket probe;
        probe.connectToServer(path);
        if (probe.waitForConnected(200)) {
            *why = QStringLiteral("another program listens at %1").arg(path);
            return false;
        }
        QLocalServer::removeServer(path);
        if (!Server->listen(path)) {
            *why = Server->errorString();
            return false;
        }
        connect(Server, &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket *socket = Server->nextPendingConnection())
                Take(socket);
        });
        return true;
    }
    void Close()
    {
        if (Server)
            Server->close();
    }

private:
    void Take(QLocalSocket *socket)
    {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > MaxRequest)
                    socket->abort();
                return;
            }
            const QByteArray request = socket->readLine(MaxRequest).trimmed();
            if (TWatchers::IsWatch(request)) {
                Watchers->Take(socket);
                return;
            }
            socket->write(Owner.Answer(request));
            socket->flush();
            socket->disconnectFromServer();
        });
    }

    static constexpr qint64 MaxRequest = 4096;
    TControlServer &Owner;
    TWatchers *Watchers;
    QLocalServer *Server = nullptr;
};

} // namespace

TControlServer::TControlServer(TStatusPublisher &status, TPairRole &role, QObject *parent)
    : QObject(parent), Status(status), Pair(role)
{
}

TControlServer::~TControlServer()
{
    Close();
}

bool TControlServer::Listen(const QString &path, QString *why)
{
    Close();
    QString problem;
    if (const QString folder = QFileInfo(path).absolutePath(); !QDir().mkpath(folder))
        problem = QStringLiteral("folder %1 cannot be made").arg(folder);
    auto *worker = new TControlWorker(*this);
    worker->moveToThread(&Thread);
    connect(&Thread, &QThread::finished, worker, &QObject::deleteLater);
    Thread.setObjectName(QStringLiteral("control"));
    Thread.start();
    Worker = worker;
    bool listening = false;
    if (problem.isEmpty())
        QMetaObject::invokeMethod(worker, [&] { listening = worker->Listen(path, &problem); }, Qt::BlockingQueuedConnection);
    if (!listening) {
        Close();
        if (why)
            *why = problem;
        return false;
    }
    ListenPath = path;
    return true;
}

void TControlServer::Close()
{
    if (!Worker)
        return;
    QMetaObject::invokeMethod(Worker, [w = static_cast<TControlWorker *>(Worker)] { w->Close(); },
                              Qt::BlockingQueuedConnection);
    Thread.quit();
    Thread.wait();
    Worker = nullptr;
    if (!ListenPath.isEmpty())
        QLocalServer::removeServer(ListenPath);
    ListenPath.clear();
}

QString TControlServer::DefaultPath()
{
    // systemd names the service's RuntimeDirectory here.
    const QString service = qEnvironmentVariable("RUNTIME_DIRECTORY").section(QLatin1Char(':'), 0, 0);
    const QString folder = !service.isEmpty() ? service : QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return QDir(folder).filePath(QStringLiteral("varnex.ctl"));
}

QStringList TControlServer::ClientPaths()
{
    QStringList paths;
    // A check script run by root finds the service's socket without being told.
    const QString service = QStringLiteral("/run/varnex/varnex.ctl");
    if (qEnvironmentVariableIsEmpty("RUNTIME_DIRECTORY") && QFileInfo::exists(service))
        paths << service;
    paths << DefaultPath();
    return paths;
}

QByteArray TControlServer::Answer(const QByteArray &request)
{
    QJsonParseError error{};
    const QJsonObject asked = QJsonDocument::fromJson(request, &error).object();
    const QString command = asked.value(QStringLiteral("command")).toString();
    if (command == QLatin1String("status"))
        return Reply(true, QString(), Status.Snapshot().ToJson());
    if (command == QLatin1String("check")) {
        const QString problem = Status.Problem();
        return Reply(problem.isEmpty(), problem.isEmpty() ? QStringLiteral("ok") : problem);
    }
    if (command != QLatin1String("role"))
        return Reply(false, QStringLiteral("unknown request: ") + QString::fromUtf8(request.left(200)));
    TRole role = TRole::Single;
    if (!Role::Parse(asked.value(QStringLiteral("role")).toString(), &role) || role == TRole::Single)
        return Reply(false, QStringLiteral("role must be master, backup or fault"));
    if (!Pair.IsPair())
        return Reply(false, QStringLiteral("this program runs alone (Role=single): it has no role to change"));
    const QString cause = asked.value(QStringLiteral("cause")).toString();
    // A program told to stop working sends nothing from now on, even while its main loop is
    // busy; the rest (its channels, the history) follows there.
    if (!Role::Works(role))
        Pair.Silence();
    struct TResult
    {
        QSemaphore Done;
        QString Why;
    };
    auto result = std::make_shared<TResult>();
    QMetaObject::invokeMethod(&Pair, [r = &Pair, role, cause, result] {
        result->Why = r->Change(role, cause);
        result->Done.release();
    }, Qt::QueuedConnection);
    if (!result->Done.tryAcquire(1, RoleWaitMs)) {
        if (!Role::Works(role))
            return Reply(true, Role::Text(role) + QStringLiteral(" (sending stopped; the main loop is busy and finishes the change later)"));
        return Reply(false, QStringLiteral("main loop busy: the change to %1 is queued, not done yet").arg(Role::Name(role)));
    }
    if (!result->Why.isEmpty())
        return Reply(false, result->Why);
    return Reply(true, Role::Text(role));
}
