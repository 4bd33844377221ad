#include "common/udp_endpoint.h"

#include <QNetworkDatagram>

TUdpEndpoint::TUdpEndpoint(QObject *parent) : QObject(parent)
{
    connect(&Socket, &QUdpSocket::readyRead, this, &TUdpEndpoint::ReadPending);
}

bool TUdpEndpoint::Open(int port, QString *error)
{
    Close();
    QString why;
    if (port < 1 || port > 65535)
        why = QStringLiteral("端口号必须是 1 到 65535 之间的整数");
    else if (Socket.bind(QHostAddress::AnyIPv4, static_cast<quint16>(port), QAbstractSocket::DontShareAddress))
        return true;
    else
        why = Socket.errorString();
    Socket.abort();
    if (error)
        *error = why;
    return false;
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

bool TUdpEndpoint::Send(const QByteArray &bytes, const QString &host, int port)
{
    const QHostAddress address(host);
    if (!IsOpen() || address.isNull() || port < 1 || port > 65535)
        return false;
    return Socket.writeDatagram(bytes, address, static_cast<quint16>(port)) == bytes.size();
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
        const QNetworkDatagram datagram = Socket.receiveDatagram(MaxDatagram);
        if (!datagram.isValid())
            break;
        Q_EMIT DatagramReceived(datagram.data(), DottedText(datagram.senderAddress()));
    }
}
