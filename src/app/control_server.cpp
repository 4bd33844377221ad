#include "app/control_server.h"

#include "app/pair_role.h"
#include "status/status_publisher.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSemaphore>
#include <QStandardPaths>

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

// Lives on the control thread: takes connections and answers each one's line.
class TControlWorker : public QObject
{
public:
    TControlWorker(TControlServer &owner) : Owner(owner) {}

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
            socket->write(Owner.Answer(socket->readLine(MaxRequest).trimmed()));
            socket->flush();
            socket->disconnectFromServer();
        });
    }

    static constexpr qint64 MaxRequest = 4096;
    TControlServer &Owner;
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
