#include "host_link/host_link.h"

#include "host_link/host_frame.h"
#include "platform_link/ldtx_frame.h"
#include "common/configuration.h"
#include "common/traffic_log.h"

THostLink::THostLink(const TConfiguration &config, TTrafficLog &traffic, QObject *parent)
    : QObject(parent), Config(config), Traffic(traffic)
{
    connect(&Endpoint, &TUdpEndpoint::DatagramReceived, this,
            [this](const QByteArray &bytes, const QString &peer) { CommToPabxUDPRead(bytes, peer); });
}

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

void THostLink::SendData(int module, int column, int row)
{
    if (module > 16)
        return;
    CommandText = HostFrame::KeyPressCaption(module, column, row);
    if (!IsUp()) // the relay drops what it cannot address: say so instead of "发送:"
        CommandText = NotSentText() + CommandText.mid(CommandText.indexOf(QLatin1Char(':')) + 1);
    Q_EMIT RecCommandShowChanged(CommandText);
    const auto values = HostFrame::KeyCommandValues(Config.StartKeyboard, module, column, row);
    HostFrame::SendDataNet(HostSendRing, values.data(), HostFrame::KeyCommand, int(values.size()) - 1);
    if (!RelayQueued && !HostSendRing.IsEmpty()) {
        RelayQueued = true;
        QMetaObject::invokeMethod(this, &THostLink::RelayAll, Qt::QueuedConnection);
    }
}

void THostLink::RelayAll()
{
    RelayQueued = false;
    while (!HostSendRing.IsEmpty())
        Relay();
}

void THostLink::CommToPabxUDPRead(QByteArrayView datagram, const QString &peer)
{
    if (peer != Config.IpAddress && peer != Config.IpAddress1) {
        SetDisplay(QStringLiteral("错误调度主机:") + Host);
        return;
    }
    const bool wasUp = IsUp();
    Host = peer;
    SetDisplay(QStringLiteral("调度主机通讯状态:连上") + Host);
    if (!wasUp)
        Q_EMIT LinkUp(Host);
    Countdown = SilentTicks;

    qsizetype stored = 0;
    while (stored < datagram.size() && HostRecvRing.Put(uint8_t(datagram[stored])))
        ++stored;
    // The switch's datagrams are signs of life only: nothing reads their bytes, so they are
    // consumed at once and the ring never stays full.
    HostRecvRing.Read = HostRecvRing.Write;

    if (Traffic.Shown() && Traffic.HostMessagesShown()) {
        const QString trace = stored == datagram.size()
            ? QStringLiteral("收到主机：") + LdtxFrame::HexDump(datagram)
            : QStringLiteral("接收缓存满");
        Traffic.AppendHost(trace + QLatin1Char(' ') + Host);
    }
}

void THostLink::Relay()
{
    TByteRing &ring = HostSendRing;
    if (ring.Read == ring.Write) {
        ring.Reset();
        return;
    }
    const int end = ring.Read < ring.Write ? ring.Write : TByteRing::Size;
    const int length = qMin(end - ring.Read, RelayChunk);
    if (IsUp()) {
        const QByteArray chunk(reinterpret_cast<const char *>(ring.Buf.data()) + ring.Read, length);
        if (QString why; !Endpoint.Send(chunk, Host, Config.IpPort, &why))
            Q_EMIT SendFailed(QStringLiteral("发送到调度主机 %1:%2 失败: %3").arg(Host, QString::number(Config.IpPort), why));
    }
    ring.Read = (ring.Read + length) % TByteRing::Size;
}

void THostLink::Supervise()
{
    if (Countdown > 0 && --Countdown == 0) {
        Host.clear();
        SetDisplay(LinkDownText());
        Q_EMIT LinkLost();
    }
}

void THostLink::SetDisplay(const QString &text)
{
    if (text == DisplayText)
        return;
    DisplayText = text;
    Q_EMIT displayChanged(text);
}
