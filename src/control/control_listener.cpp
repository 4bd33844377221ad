#include "control/control_listener.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSocketNotifier>

#ifndef Q_OS_WIN
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

TControlListener::TControlListener(QObject *parent) : QObject(parent)
{
#ifndef Q_OS_WIN
    WatchTimer.setInterval(WatchMs);
    connect(&WatchTimer, &QTimer::timeout, this, &TControlListener::Watch);
#endif
}

TControlListener::~TControlListener()
{
    Close();
}

#ifdef Q_OS_WIN

TControlListener::TResult TControlListener::Listen(const QString &path, QString *why)
{
    Close();
    Path = path;
    QLocalSocket probe;
    probe.connectToServer(path);
    if (probe.waitForConnected(200)) {
        *why = QStringLiteral("另一个程序正在 %1 上应答").arg(path);
        return TResult::Taken;
    }
    Server = new QLocalServer(this);
    Server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!Server->listen(path)) {
        *why = Server->errorString();
        delete Server;
        Server = nullptr;
        return TResult::Failed;
    }
    connect(Server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = Server->nextPendingConnection())
            Take(socket);
    });
    return TResult::Listening;
}

void TControlListener::Close()
{
    delete Server;
    Server = nullptr;
}

void TControlListener::Accept() {}
void TControlListener::ServeAtOnce(int) {}
void TControlListener::Watch() {}
bool TControlListener::Bind(QString *) { return false; }
bool TControlListener::StillOurs() const { return Server != nullptr; }

#else

namespace {

bool Address(const QString &path, sockaddr_un *address, QString *why)
{
    const QByteArray name = QFile::encodeName(path);
    *address = {};
    address->sun_family = AF_UNIX;
    if (name.isEmpty() || size_t(name.size()) >= sizeof(address->sun_path)) {
        *why = QStringLiteral("路径为空或长于本地套接字所能容纳的 %1 字节").arg(sizeof(address->sun_path) - 1);
        return false;
    }
    std::memcpy(address->sun_path, name.constData(), size_t(name.size()));
    return true;
}

// Some program accepts connections at path now.
bool Answers(const QString &path)
{
    sockaddr_un address;
    QString why;
    if (!Address(path, &address, &why))
        return false;
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return false;
    const bool answers = ::connect(probe, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    ::close(probe);
    return answers;
}

int OpenSpare()
{
    return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

} // namespace

TControlListener::TResult TControlListener::Listen(const QString &path, QString *why)
{
    Close();
    Path = path;
    // A file left by a program that ended is replaced; one that answers is another program's.
    if (Answers(path)) {
        *why = QStringLiteral("另一个程序正在 %1 上应答").arg(path);
        return TResult::Taken;
    }
    if (!Bind(why))
        return TResult::Failed;
    Spare = OpenSpare();
    WatchTimer.start();
    return TResult::Listening;
}

bool TControlListener::Bind(QString *why)
{
    sockaddr_un address;
    // Bound under a name of its own, made private, then moved over the path in one step: no
    // moment without a socket there, and none in which another user may connect.
    const QString fresh = Path + QStringLiteral(".new-%1").arg(::getpid());
    if (!Address(Path, &address, why) || !Address(fresh, &address, why))
        return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    const QByteArray freshName = QFile::encodeName(fresh);
    const QByteArray name = QFile::encodeName(Path);
    ::unlink(freshName.constData());
    struct stat made {};
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0
        || ::chmod(freshName.constData(), S_IRUSR | S_IWUSR) != 0 || ::listen(fd, 64) != 0
        || ::rename(freshName.constData(), name.constData()) != 0 || ::stat(name.constData(), &made) != 0) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        ::unlink(freshName.constData());
        return false;
    }
    delete Notifier;
    if (Fd >= 0)
        ::close(Fd);
    Fd = fd;
    Device = quint64(made.st_dev);
    Inode = quint64(made.st_ino);
    Notifier = new QSocketNotifier(qintptr(Fd), QSocketNotifier::Read, this);
    connect(Notifier, &QSocketNotifier::activated, this, &TControlListener::Accept);
    return true;
}

void TControlListener::Close()
{
    WatchTimer.stop();
    delete Notifier;
    Notifier = nullptr;
    if (Fd >= 0) {
        // Another program's socket put there since is left alone.
        if (StillOurs())
            ::unlink(QFile::encodeName(Path).constData());
        ::close(Fd);
        Fd = -1;
    }
    if (Spare >= 0)
        ::close(Spare);
    Spare = -1;
}

bool TControlListener::StillOurs() const
{
    struct stat now {};
    return Fd >= 0 && ::stat(QFile::encodeName(Path).constData(), &now) == 0 && S_ISSOCK(now.st_mode)
        && quint64(now.st_dev) == Device && quint64(now.st_ino) == Inode;
}

void TControlListener::Accept()
{
    for (;;) {
        const int connection = ::accept4(Fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (connection >= 0) {
            auto *socket = new QLocalSocket;
            if (!socket->setSocketDescriptor(connection)) {
                ::close(connection);
                delete socket;
                continue;
            }
            if (Spare < 0)
                Spare = OpenSpare();
            Take(socket);
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return;
        const int error = errno;
        // One line for a spell: it ends when descriptors have not run out for a minute.
        const bool spellGoesOn = Starved.isValid() && !Starved.hasExpired(StarvedQuietMs);
        if (error == EMFILE || error == ENFILE)
            Starved.start();
        if ((error == EMFILE || error == ENFILE) && !spellGoesOn) {
            Q_EMIT Said(QStringLiteral("控制接口 %1：本程序的文件描述符已用尽（%2），控制请求用预留的描述符逐个应答。")
                            .arg(Path, QString::fromLocal8Bit(std::strerror(error))));
        }
        if ((error == EMFILE || error == ENFILE) && Spare >= 0) {
            ::close(Spare);
            Spare = -1;
            // The kernel says EMFILE before it looks for a connection: there may be none.
            const int connection = ::accept4(Fd, nullptr, nullptr, SOCK_CLOEXEC);
            const int acceptError = errno;
            if (connection >= 0)
                ServeAtOnce(connection);
            Spare = OpenSpare();
            if (connection >= 0 || acceptError == EINTR || acceptError == ECONNABORTED)
                continue;
            if (acceptError == EAGAIN || acceptError == EWOULDBLOCK)
                return;
        }
        // Nothing to take it with: the listening socket would wake this loop without end.
        Notifier->setEnabled(false);
        QTimer::singleShot(RetryMs, this, [this] {
            if (Notifier)
                Notifier->setEnabled(true);
        });
        return;
    }
}

void TControlListener::ServeAtOnce(int fd)
{
    QDeadlineTimer deadline(UrgentMs);
    QByteArray request;
    char buffer[512];
    while (!request.contains('\n') && request.size() < MaxRequest && !deadline.hasExpired()) {
        pollfd wait{fd, POLLIN, 0};
        if (::poll(&wait, 1, int(deadline.remainingTime())) <= 0)
            break;
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0)
            break;
        request.append(buffer, got);
    }
    if (request.contains('\n') && AnswerAtOnce) {
        const QByteArray answer = AnswerAtOnce(request.left(request.indexOf('\n')).trimmed());
        qsizetype sent = 0;
        while (sent < answer.size() && !deadline.hasExpired()) {
            const ssize_t put = ::send(fd, answer.constData() + sent, size_t(answer.size() - sent), MSG_NOSIGNAL);
            if (put > 0) {
                sent += put;
                continue;
            }
            if (put < 0 && errno != EAGAIN && errno != EINTR)
                break;
            pollfd wait{fd, POLLOUT, 0};
            ::poll(&wait, 1, int(deadline.remainingTime()));
        }
    }
    ::close(fd);
}

void TControlListener::Watch()
{
    if (StillOurs()) {
        ForeignSaid = false;
        return;
    }
    if (Answers(Path)) {
        // Somebody else's now: taking it back would cut that program off instead.
        if (!ForeignSaid)
            Q_EMIT Said(QStringLiteral("控制接口 %1 已被另一个程序占用：本程序无法再通过它查询或切换。").arg(Path));
        ForeignSaid = true;
        return;
    }
    QString why;
    if (Bind(&why)) {
        RebindSaid = false;
        Q_EMIT Said(QStringLiteral("控制接口 %1 的文件不见了，已重新建立。").arg(Path));
    } else if (!RebindSaid) {
        // Until it can be made again, neither keepalived nor ctl reaches this program.
        RebindSaid = true;
        Q_EMIT Said(QStringLiteral("控制接口 %1 的文件不见了，无法重新建立（%2），每秒重试。").arg(Path, why));
    }
}

#endif
