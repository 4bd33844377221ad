#include "common/udp_endpoint.h"

#include "common/send_gate.h"

#include <QDateTime>
#include <QVariant>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

TUdpEndpoint::TUdpEndpoint(QObject *parent) : QObject(parent), Incoming(MaxDatagram, Qt::Uninitialized)
{
    connect(&Socket, &QUdpSocket::readyRead, this, &TUdpEndpoint::ReadPending);
}

bool TUdpEndpoint::Open(int port, QString *error, const QString &address)
{
    Close();
    QString why;
    const QHostAddress local = address.isEmpty() ? QHostAddress(QHostAddress::AnyIPv4) : QHostAddress(address);
    if (port < 1 || port > 65535)
        why = QStringLiteral("端口号必须是 1 到 65535 之间的整数");
    // Dotted quads only: "10.1" would be taken for 10.0.0.1.
    else if (local.isNull() || local.protocol() != QAbstractSocket::IPv4Protocol
             || (!address.isEmpty() && address.count(QLatin1Char('.')) != 3))
        why = QStringLiteral("服务地址 \"%1\" 不是有效的IPv4地址").arg(address);
    else if (address.isEmpty() ? Socket.bind(local, static_cast<quint16>(port), QAbstractSocket::DontShareAddress)
                               : BindFree(local, static_cast<quint16>(port), &why)) {
        EnlargeReceiveBuffer();
        return true;
    }
    else if (why.isEmpty())
        why = Socket.errorString();
    Socket.abort();
    if (error)
        *error = why;
    return false;
}

bool TUdpEndpoint::BindFree(const QHostAddress &address, quint16 port, QString *why)
{
#ifdef Q_OS_LINUX
    // Qt binds only after it made the socket, too late for IP_FREEBIND: the socket is made and
    // bound here and handed over bound.
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    const int on = 1;
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    at.sin_addr.s_addr = htonl(address.toIPv4Address());
    if (::setsockopt(fd, IPPROTO_IP, IP_FREEBIND, &on, sizeof on) != 0
        || ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0
        || ::bind(fd, reinterpret_cast<const sockaddr *>(&at), sizeof at) != 0) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        return false;
    }
    if (!Socket.setSocketDescriptor(fd, QAbstractSocket::BoundState)) {
        *why = Socket.errorString();
        ::close(fd);
        return false;
    }
    return true;
#else
    // Elsewhere the address must be this machine's already.
    if (Socket.bind(address, port, QAbstractSocket::DontShareAddress))
        return true;
    *why = Socket.errorString();
    return false;
#endif
}

void TUdpEndpoint::EnlargeReceiveBuffer()
{
#ifdef Q_OS_LINUX
    // Past the system's usual cap where the program may (a service with the capability).
    const int bytes = ReceiveBufferBytes;
    if (setsockopt(int(Socket.socketDescriptor()), SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) == 0)
        return;
#endif
    Socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, QVariant(ReceiveBufferBytes));
}

void TUdpEndpoint::Close()
{
    Socket.abort();
}

bool TUdpEndpoint::IsOpen() const
{
    return Socket.state() == QAbstractSocket::BoundState;
}

quint16 TUdpEndpoint::LocalPort() const
{
    return Socket.localPort();
}

bool TUdpEndpoint::Send(const QByteArray &bytes, const QString &host, int port, QString *why)
{
    if (host != LastHost) {
        LastHost = host;
        LastAddress = QHostAddress(host);
    }
    const QHostAddress &address = LastAddress;
    QString reason;
    Held = OutGate && !OutGate->Pass();
    if (Held)
        reason = QStringLiteral("备用，不发送");
    else if (!IsOpen())
        reason = QStringLiteral("端口未打开");
    else if (address.isNull())
        reason = QStringLiteral("\"") + host + QStringLiteral("\" 不是有效的IP地址");
    else if (port < 1 || port > 65535)
        reason = QStringLiteral("端口号 %1 不在 1 到 65535 之间").arg(port);
    else if (Socket.writeDatagram(bytes, address, static_cast<quint16>(port)) == bytes.size()) {
        Count.CountSent(QDateTime::currentMSecsSinceEpoch());
        return true;
    }
    else
        reason = Socket.errorString();
    if (!Held)
        Count.CountSendFailure(QDateTime::currentMSecsSinceEpoch());
    if (why)
        *why = reason;
    return false;
}

QString TUdpEndpoint::DottedText(const QHostAddress &address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : address.toString();
}

void TUdpEndpoint::ReadPending()
{
    while (Socket.hasPendingDatagrams()) {
        QHostAddress sender;
        const qint64 size = Socket.readDatagram(Incoming.data(), MaxDatagram, &sender);
        if (size < 0)
            break;
        Count.CountReceived(QDateTime::currentMSecsSinceEpoch());
        if (sender != LastSender) {
            LastSender = sender;
            LastSenderText = DottedText(sender);
        }
        Q_EMIT DatagramReceived(QByteArray(Incoming.constData(), size), LastSenderText);
    }
}
