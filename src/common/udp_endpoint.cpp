#include "common/udp_endpoint.h"

#include <QVariant>

#ifdef Q_OS_LINUX
#include <sys/socket.h>
#endif

TUdpEndpoint::TUdpEndpoint(QObject *parent) : QObject(parent), Incoming(MaxDatagram, Qt::Uninitialized)
{
    connect(&Socket, &QUdpSocket::readyRead, this, &TUdpEndpoint::ReadPending);
}

bool TUdpEndpoint::Open(int port, QString *error)
{
    Close();
    QString why;
    if (port < 1 || port > 65535)
        why = QStringLiteral("端口号必须是 1 到 65535 之间的整数");
    else if (Socket.bind(QHostAddress::AnyIPv4, static_cast<quint16>(port), QAbstractSocket::DontShareAddress)) {
        EnlargeReceiveBuffer();
        return true;
    }
    else
        why = Socket.errorString();
    Socket.abort();
    if (error)
        *error = why;
    return false;
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
    if (!IsOpen())
        reason = QStringLiteral("端口未打开");
    else if (address.isNull())
        reason = QStringLiteral("\"") + host + QStringLiteral("\" 不是有效的IP地址");
    else if (port < 1 || port > 65535)
        reason = QStringLiteral("端口号 %1 不在 1 到 65535 之间").arg(port);
    else if (Socket.writeDatagram(bytes, address, static_cast<quint16>(port)) == bytes.size())
        return true;
    else
        reason = Socket.errorString();
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
        if (sender != LastSender) {
            LastSender = sender;
            LastSenderText = DottedText(sender);
        }
        Q_EMIT DatagramReceived(QByteArray(Incoming.constData(), size), LastSenderText);
    }
}
