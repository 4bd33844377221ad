#include "host_link/host_link.h"

THostLink::THostLink(QObject *parent) : QObject(parent) {}

bool THostLink::Open(int port, QString *error)
{
    if (Endpoint.Open(port, error))
        return true;
    SetDisplay(QStringLiteral("调度主机通讯状态:端口%1无法打开").arg(port));
    return false;
}

void THostLink::Close()
{
    Endpoint.Close();
}

void THostLink::ResetRings()
{
    HostSendRing.Reset();
    HostRecvRing.Reset();
}

void THostLink::ClearContact()
{
    Host.clear();
    Countdown = 0;
}

void THostLink::SetDisplay(const QString &text)
{
    if (text == DisplayText)
        return;
    DisplayText = text;
    Q_EMIT displayChanged(text);
}
