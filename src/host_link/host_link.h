#pragma once

#include "common/byte_ring.h"
#include "common/udp_endpoint.h"

#include <QObject>
#include <QString>

struct TConfiguration;
class TTrafficLog;

// The link to the dispatching switch: the endpoint CommToPabx, key presses queued in the send
// ring and relayed to the switch CPU that spoke last, and the supervision that forgets that CPU
// after ten silent seconds.
class THostLink : public QObject
{
    Q_OBJECT
public:
    static constexpr int RelayChunk = 1024;
    static constexpr int SilentTicks = 10;

    THostLink(const TConfiguration &config, TTrafficLog &traffic, QObject *parent = nullptr);

    static QString LinkDownText() { return QStringLiteral("调度主机通讯状态:通讯中断"); }
    static QString InitialCommandText() { return QStringLiteral("模块: 0  行号: 8  列号:4 振铃"); }

    // Binds CommToPabx (on address when given); on failure it stays closed and the status text
    // says so.
    bool Open(int port, QString *error = nullptr, const QString &address = QString());
    void Close();
    TUdpEndpoint &CommToPabx() { return Endpoint; }

    void ResetRings();
    // No CPU in contact, and the countdown to losing the link at 0.
    void ClearContact();

    // Shows a key press and queues its key command; a module above 16 is ignored. The queue is
    // relayed as soon as the current event is done, so the key presses of one dialling leave
    // together.
    void SendData(int module, int column, int row);
    // Receive event: one call per datagram, peer as dotted text.
    void CommToPabxUDPRead(QByteArrayView datagram, const QString &peer);
    // One relay step: one datagram of the queued frames, as many whole ones as fit in 1024
    // bytes (85 key commands), never a frame cut in two; without a CPU in contact they are
    // discarded. When the queue is emptied both positions go back to 0.
    void Relay();
    // Relay steps until the queue is empty.
    void RelayAll();
    // The supervision half of the 1 s tick.
    void Supervise();

    QString CurrentHost() const { return Host; }
    // Whether the switch has been heard from lately, so key commands have somewhere to go.
    bool IsUp() const { return !Host.isEmpty() && Host != QLatin1String("0.0.0.0"); }
    static QString NotSentText() { return QStringLiteral("未发送(主机中断):"); }
    int HostLinkCountdown() const { return Countdown; }
    QString display() const { return DisplayText; }
    QString RecCommandShow() const { return CommandText; }

    TByteRing HostSendRing;
    TByteRing HostRecvRing;

Q_SIGNALS:
    void displayChanged(const QString &text);
    void RecCommandShowChanged(const QString &text);
    // Key commands could not be sent; line says where to and why.
    void SendFailed(const QString &line);
    // The switch is heard from again, or has been silent too long.
    void LinkUp(const QString &host);
    void LinkLost();

private:
    void SetDisplay(const QString &text);
    // Bytes from the read position that make up the next datagram: whole frames only.
    int RelayRunLength() const;

    const TConfiguration &Config;
    TTrafficLog &Traffic;
    TUdpEndpoint Endpoint;
    QString Host;
    int Countdown = 0;
    QString DisplayText = LinkDownText();
    QString CommandText = InitialCommandText();
    bool RelayQueued = false;
    QByteArray Datagram; // what one relay step sends, kept for the next
};
