#pragma once

#include "common/byte_ring.h"
#include "common/udp_endpoint.h"

#include <QObject>
#include <QString>

// The link to the dispatching switch: the endpoint CommToPabx, the send and receive rings,
// the switch CPU in contact and the link state text.
class THostLink : public QObject
{
    Q_OBJECT
public:
    explicit THostLink(QObject *parent = nullptr);

    static QString LinkDownText() { return QStringLiteral("调度主机通讯状态:通讯中断"); }

    // Binds CommToPabx; on failure it stays closed and the status text says so.
    bool Open(int port, QString *error = nullptr);
    void Close();
    TUdpEndpoint &CommToPabx() { return Endpoint; }

    void ResetRings();
    // No CPU in contact, and the countdown to losing the link at 0.
    void ClearContact();

    QString CurrentHost() const { return Host; }
    int HostLinkCountdown() const { return Countdown; }
    QString display() const { return DisplayText; }

    TByteRing HostSendRing;
    TByteRing HostRecvRing;

Q_SIGNALS:
    void displayChanged(const QString &text);

private:
    void SetDisplay(const QString &text);

    TUdpEndpoint Endpoint;
    QString Host;
    int Countdown = 0;
    QString DisplayText = LinkDownText();
};
