#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUdpSocket>

// One UDP endpoint of a link: bound on every local IPv4 interface (Qt allows broadcast on
// UDP sockets), delivering each datagram with the sender as plain dotted IPv4 text.
class TUdpEndpoint : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 MaxDatagram = 8192;
    // Room for a burst of requests while the program is busy elsewhere (the system may grant less).
    static constexpr int ReceiveBufferBytes = 8 * 1024 * 1024;

    explicit TUdpEndpoint(QObject *parent = nullptr);

    // Closes, then binds the port (1 to 65535). Exclusive, so a second program on the same port
    // is refused instead of silently sharing it. On failure the endpoint stays closed and error
    // says why.
    bool Open(int port, QString *error = nullptr);
    void Close();
    bool IsOpen() const;
    quint16 LocalPort() const;
    qintptr Descriptor() const { return Socket.socketDescriptor(); }

    // Sends one datagram from this endpoint's own port. False when closed or not sent, with
    // the reason in why.
    bool Send(const QByteArray &bytes, const QString &host, int port, QString *why = nullptr);

    static QString DottedText(const QHostAddress &address);

Q_SIGNALS:
    void DatagramReceived(const QByteArray &bytes, const QString &peer);

private:
    void ReadPending();
    void EnlargeReceiveBuffer();

    QUdpSocket Socket;
    // The last address sent to, parsed once: replies all go to the same peer.
    QString LastHost;
    QHostAddress LastAddress;
    // Where datagrams are read into, and the last sender with its text: a peer sends again and
    // again, and its text is made once.
    QByteArray Incoming;
    QHostAddress LastSender;
    QString LastSenderText;
};
