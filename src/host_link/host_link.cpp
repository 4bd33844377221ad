#include "host_link/host_link.h"

#include "host_link/host_frame.h"
#include "common/hex_text.h"
#include "common/configuration.h"
#include "common/traffic_log.h"

#include <cstring>

THostLink::THostLink(const TConfiguration &config, TTrafficLog &traffic, QObject *parent)
    : QObject(parent), Config(config), Traffic(traffic)
{
    connect(&Endpoint, &TUdpEndpoint::DatagramReceived, this,
            [this](const QByteArray &bytes, const QString &peer) { CommToPabxUDPRead(bytes, peer); });
}

bool THostLink::Open(int port, QString *error, const QString &address)
{
    if (Endpoint.Open(port, error, address))
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
            ? HexLine(QStringLiteral("收到主机："), datagram, ' ', QString())
            : QStringLiteral("接收缓存满");
        Traffic.AppendHost(trace + QLatin1Char(' ') + Host);
    }
}

int THostLink::RelayRunLength() const
{
    const TByteRing &ring = HostSendRing;
    const int held = ring.Count();
    int run = 0;
    while (run < held) {
        const int at = ring.Read + run;
        // Only whole frames are queued, so each one starts with the sync and its length; bytes
        // that do not (never written by this program) go as they are, up to a datagram's worth.
        if (held - run < 5 || ring.At(at) != 0xA5 || ring.At(at + 1) != 0xA5 || ring.At(at + 2) != 0xA5)
            return run > 0 ? run : qMin(held, RelayChunk);
        const int frame = ring.At(at + 3) << 8 | ring.At(at + 4);
        if (frame < 6 || frame > held - run)
            return run > 0 ? run : qMin(held, RelayChunk);
        if (run > 0 && run + frame > RelayChunk)
            break;
        run += frame; // a frame longer than a datagram's worth still goes whole, on its own
    }
    return run;
}

void THostLink::Relay()
{
    TByteRing &ring = HostSendRing;
    if (ring.Read == ring.Write) {
        ring.Reset();
        return;
    }
    const int length = RelayRunLength();
    if (IsUp()) {
        // A run that crosses the ring's end is put together here, so no frame is ever split
        // between two datagrams.
        Datagram.resize(length);
        const int first = qMin(length, TByteRing::Size - ring.Read);
        std::memcpy(Datagram.data(), ring.Buf.data() + ring.Read, size_t(first));
        std::memcpy(Datagram.data() + first, ring.Buf.data(), size_t(length - first));
        if (QString why; !Endpoint.Send(Datagram, Host, Config.IpPort, &why) && !Endpoint.LastHeld())
            Q_EMIT SendFailed(QStringLiteral("发送到调度主机 %1:%2 失败: %3").arg(Host, QString::number(Config.IpPort), why));
    }
    ring.Read = (ring.Read + length) % TByteRing::Size;
    // Emptied: the next dialling starts at the ring's start again.
    if (ring.Read == ring.Write)
        ring.Reset();
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
