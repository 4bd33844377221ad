#include "control/control_server.h"

#include "control/control_listener.h"
#include "control/pair_role.h"
#include "status/status_publisher.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSemaphore>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
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
    // A line at least this often, so a watcher sees the program's time and loop lag move (and
    // the stream stays alive while the main loop is stuck).
    static constexpr int QuietMs = 1000;

    TWatchers(TStatusPublisher &status, QObject *parent) : QObject(parent), Status(status)
    {
        // Told by the publisher after each refresh rather than looking on a timer of our own:
        // a change goes out at once, and an idle program is not woken for nothing.
        Quiet.setInterval(QuietMs);
        Quiet.setTimerType(Qt::PreciseTimer);
        connect(&Quiet, &QTimer::timeout, this, [this] { Tell(true); });
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
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] { Forget(socket); });
        const QJsonObject now = Status.Snapshot().ToJson();
        socket->write(Reply(true, QString(), now));
        // The others are told of changes since their own last line, not since this one's first.
        if (Sockets.isEmpty()) {
            Last = Comparable(now);
            Quiet.start();
            // Queued: the publisher lives on the main thread.
            Refreshes = connect(&Status, &TStatusPublisher::Refreshed, this, [this] { Tell(false); }, Qt::QueuedConnection);
        }
        Sockets.append(socket);
    }

private:
    static QJsonObject Comparable(QJsonObject snapshot)
    {
        // Both move with every refresh.
        snapshot.remove(QStringLiteral("time"));
        snapshot.remove(QStringLiteral("loop_lag_ms"));
        return snapshot;
    }
    void Forget(QLocalSocket *socket)
    {
        Sockets.removeOne(socket);
        if (Sockets.isEmpty()) {
            Quiet.stop();
            disconnect(Refreshes);
        }
    }
    // A line to every watcher when the status changed, or anyway (the quiet second is over).
    void Tell(bool anyway)
    {
        if (Sockets.isEmpty())
            return;
        const QJsonObject now = Status.Snapshot().ToJson();
        QJsonObject same = Comparable(now);
        if (!anyway && same == Last)
            return;
        Last = std::move(same);
        Quiet.start();
        const QByteArray line = Reply(true, QString(), now);
        for (QLocalSocket *socket : QList<QLocalSocket *>(Sockets)) {
            if (socket->bytesToWrite() > MostQueued) {
                Forget(socket);
                socket->abort();
                continue;
            }
            socket->write(line);
        }
    }

    TStatusPublisher &Status;
    QList<QLocalSocket *> Sockets;
    QTimer Quiet{this};
    QMetaObject::Connection Refreshes;
    QJsonObject Last;
};

// Lives on the control thread: takes connections and answers each one's line.
class TControlWorker : public QObject
{
public:
    TControlWorker(TControlServer &owner) : Owner(owner), Watchers(new TWatchers(owner.Publisher(), this))
    {
        Listener.Take = [this](QLocalSocket *socket) { Take(socket); };
        Listener.AnswerAtOnce = [this](const QByteArray &request) { return Owner.Answer(request); };
        connect(&Listener, &TControlListener::Said, &Owner, &TControlServer::Said);
    }

    TControlListener::TResult Listen(const QString &path, QString *why) { return Listener.Listen(path, why); }
    void Close()
    {
        Listener.Close();
        for (QLocalSocket *socket : findChildren<QLocalSocket *>())
            socket->abort();
    }

private:
    void Take(QLocalSocket *socket)
    {
        socket->setParent(this);
        // Only its owner can connect, but a client that never asks or never reads would hold a
        // descriptor of this program for good: few at once, each for a short time.
        if (++Live > MaxConnections) {
            --Live;
            socket->abort();
            socket->deleteLater();
            return;
        }
        connect(socket, &QObject::destroyed, this, [this] { --Live; });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        auto *idle = new QTimer(socket);
        idle->setSingleShot(true);
        connect(idle, &QTimer::timeout, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        idle->start(IdleMs);
        connect(socket, &QLocalSocket::readyRead, socket, [this, socket, idle] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > MaxRequest)
                    socket->abort();
                return;
            }
            // Asked in time; what follows is the answer's (or the watch's) to end.
            idle->stop();
            const QByteArray request = socket->readLine(MaxRequest).trimmed();
            if (TWatchers::IsWatch(request) && Owner.IsMeant(request)) {
                Watchers->Take(socket);
                return;
            }
            socket->write(Owner.Answer(request));
            socket->flush();
            socket->disconnectFromServer();
        });
    }

    static constexpr qint64 MaxRequest = TControlListener::MaxRequest;
    static constexpr int MaxConnections = 16;
    static constexpr int IdleMs = 3000;
    TControlServer &Owner;
    TWatchers *Watchers;
    TControlListener Listener{this};
    int Live = 0;
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

TControlServer::TListen TControlServer::Listen(const QString &path, QString *why)
{
    Close();
    QString problem;
    if (const QString folder = QFileInfo(path).absolutePath(); !QDir().mkpath(folder))
        problem = QStringLiteral("文件夹 %1 无法建立").arg(folder);
    auto *worker = new TControlWorker(*this);
    worker->moveToThread(&Thread);
    connect(&Thread, &QThread::finished, worker, &QObject::deleteLater);
    Thread.setObjectName(QStringLiteral("control"));
    Thread.start();
    Worker = worker;
    TControlListener::TResult result = TControlListener::TResult::Failed;
    if (problem.isEmpty())
        QMetaObject::invokeMethod(worker, [&] { result = worker->Listen(path, &problem); }, Qt::BlockingQueuedConnection);
    if (result != TControlListener::TResult::Listening) {
        Close();
        if (why)
            *why = problem;
        return result == TControlListener::TResult::Taken ? TListen::Taken : TListen::Failed;
    }
    ListenPath = path;
    return TListen::Listening;
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

void TControlServer::SetIdentity(const QString &dataDir, const QString &settingsFile)
{
    DataDir = SamePath(dataDir);
    SettingsFile = SamePath(settingsFile);
}

QStringList TControlServer::SamePath(const QString &path)
{
    if (path.isEmpty())
        return {};
    // As written and with its links followed: a service's /var/lib/varnex is a link into
    // /var/lib/private, which one side may be able to follow and the other not.
    const QFileInfo info(path);
    const QString written = QDir::cleanPath(info.absoluteFilePath());
    const QString real = info.canonicalFilePath();
    return real.isEmpty() || real == written ? QStringList{written} : QStringList{written, real};
}

bool TControlServer::IsMeant(const QByteArray &request) const
{
    return IsMeant(QJsonDocument::fromJson(request).object());
}

bool TControlServer::IsMeant(const QJsonObject &asked) const
{
    // Two programs may meet at one socket path; the one asked for is named by its folder.
    const auto same = [](const QString &given, const QStringList &own) {
        const QStringList forms = SamePath(given);
        return forms.isEmpty() || std::any_of(forms.begin(), forms.end(), [&own](const QString &form) { return own.contains(form); });
    };
    return same(asked.value(QStringLiteral("data_dir")).toString(), DataDir)
        && same(asked.value(QStringLiteral("settings")).toString(), SettingsFile);
}

QByteArray TControlServer::Answer(const QByteArray &request)
{
    QJsonParseError error{};
    const QJsonObject asked = QJsonDocument::fromJson(request, &error).object();
    if (!IsMeant(asked)) {
        QJsonObject reply{{"ok", false}, {"other", true},
                          {"message", QStringLiteral("the program here works with data folder %1 and settings %2").arg(DataDir.value(0), SettingsFile.value(0))}};
        return QJsonDocument(reply).toJson(QJsonDocument::Compact) + '\n';
    }
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
