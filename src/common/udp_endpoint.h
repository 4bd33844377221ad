#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUdpSocket>

#include "common/link_counters.h"

class TSendGate;

// One UDP endpoint of a link: bound on every local IPv4 interface (Qt allows broadcast on
// UDP sockets), or on the one service address the peers know, delivering each datagram with
// the sender as plain dotted IPv4 text. Every datagram it sends passes the send gate first.
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
    // says why. With an address (dotted IPv4), only that address is bound, and on Linux even
    // while this machine does not hold it (IP_FREEBIND): a backup binds the shared address it
    // may take over, and every reply leaves from the address the peers sent to.
    bool Open(int port, QString *error = nullptr, const QString &address = QString());
    void Close();
    bool IsOpen() const;
    quint16 LocalPort() const;
    QHostAddress LocalAddress() const { return Socket.localAddress(); }
    qintptr Descriptor() const { return Socket.socketDescriptor(); }

    // Sends one datagram from this endpoint's own port. False when closed or not sent, with
    // the reason in why; false too when the gate held it back, and then LastHeld() says so
    // (that is no failure: a backup sends nothing).
    bool Send(const QByteArray &bytes, const QString &host, int port, QString *why = nullptr);
    bool LastHeld() const { return Held; }

    // The gate every datagram passes (none: all leave); not owned.
    void SetGate(TSendGate *gate) { OutGate = gate; }
    TSendGate *Gate() const { return OutGate; }
    TLinkCounters &Counters() { return Count; }
    const TLinkCounters &Counters() const { return Count; }

    static QString DottedText(const QHostAddress &address);

Q_SIGNALS:
    void DatagramReceived(const QByteArray &bytes, const QString &peer);

private:
    void ReadPending();
    void EnlargeReceiveBuffer();
    bool BindFree(const QHostAddress &address, quint16 port, QString *why);

    QUdpSocket Socket;
    TSendGate *OutGate = nullptr;
    bool Held = false;
    TLinkCounters Count;
    // The last address sent to, parsed once: replies all go to the same peer.
    QString LastHost;
    QHostAddress LastAddress;
    // Where datagrams are read into, and the last sender with its text: a peer sends again and
    // again, and its text is made once.
    QByteArray Incoming;
    QHostAddress LastSender;
    QString LastSenderText;
};
