#include "platform_link/platform_link.h"

#include "platform_link/ldtx_frame.h"
#include "platform_link/unit_crc.h"
#include "common/configuration.h"
#include "common/send_gate.h"
#include "common/traffic_log.h"

#include <QDateTime>

#include <chrono>

namespace {

qint64 SteadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

TPlatformLink::TPlatformLink(const TConfiguration &config, TTrafficLog &traffic, QObject *parent)
    : QObject(parent), Config(config), Traffic(traffic)
{
    Clock.start();
    connect(&Endpoint, &TUdpEndpoint::DatagramReceived, this, [this](const QByteArray &bytes, const QString &peer) {
        CommToMonitorUDPRead(bytes, peer);
        DrainFrames();
    });
    Scanner.OnCheckCode = [this](uint16_t code) {
        ReceivedCodeText = CheckCodeDisplayText(code);
        Q_EMIT RecCrcTextChanged(ReceivedCodeText);
    };
    Scanner.OnFrame = [this](uint16_t id, uint8_t direction, uint8_t type, QByteArrayView payload) {
        // The first frame sent while this one is handled is its reply.
        ReplyFromNs = ArrivalNs;
        Q_EMIT FrameReceived(id, direction, type, payload);
        ReplyFromNs = 0;
    };
    Scanner.OnCheckCodeError = [this] {
        CheckFailureCount.fetch_add(1, std::memory_order_relaxed);
        LastCheckFailureAtMs = QDateTime::currentMSecsSinceEpoch();
        Traffic.AppendAlways(QStringLiteral("Crc 错"));
        Q_EMIT Dropped(QStringLiteral("安检侧收到的帧校验码不对（按 CheckType = %1 计算），来自 %2：已丢弃，不应答。").arg(Config.CheckType, Peer));
    };
    Scanner.OnBrokenFrame = [this] { Traffic.AppendAlways(BrokenFrameText()); };
}

bool TPlatformLink::Open(int port, QString *error, const QString &address)
{
    if (Endpoint.Open(port, error, address))
        return true;
    SetConnectedText(QStringLiteral("安检监控平台通讯状态:端口%1无法打开").arg(port));
    return false;
}

void TPlatformLink::Close()
{
    Endpoint.Close();
}

void TPlatformLink::CommToMonitorUDPRead(QByteArrayView datagram, const QString &peer, qint64 atMs)
{
    // A backup answers nothing and starts nothing: what arrives is only counted.
    if (TSendGate *gate = Endpoint.Gate(); gate && !gate->Admit())
        return;
    if (peer != Config.CommIpAddress) {
        Refused = true;
        ++WrongAddressCount;
        LastWrongPeer = peer;
        LastWrongAtMs = QDateTime::currentMSecsSinceEpoch();
        SetConnectedText(QStringLiteral("安检监控平台通讯状态:不正确IP ") + peer);
        Q_EMIT Dropped(QStringLiteral("安检侧收到来自 %1 的数据，不是设置的平台地址 CommIpAddress = %2：已丢弃，不应答。")
                           .arg(peer, Config.CommIpAddress));
        return;
    }
    Refused = false;
    ArrivalNs = SteadyNs();
    const qint64 now = atMs < 0 ? Clock.elapsed() : atMs;
    Scanner.BeginDatagram(datagram, Config.CheckType, now);
    // The ring takes the datagram up to the byte that would fill it; the rest is dropped.
    qsizetype stored = 0;
    while (stored < datagram.size() && Scanner.Store(static_cast<uint8_t>(datagram[stored])))
        ++stored;
    if (peer != Peer) {
        Peer = peer;
        PeerIpText = QStringLiteral("对方IP:") + peer;
        PeerUpText = QStringLiteral("安检监控平台通讯状态:连上 ") + peer;
    }
    if (Traffic.Shown()) {
        if (stored == datagram.size())
            Traffic.AppendFrame(QStringLiteral("收到:"), datagram.toByteArray(), '.', PeerIpText);
        else
            Traffic.Append(QStringLiteral("接收安检数据缓存满") + PeerIpText);
    }
    LastHeardMs = now;
    const bool wasUp = Up;
    const bool wasQuiet = Quiet;
    Up = true;
    Quiet = false;
    SetConnectedText(SendFailing ? SendFailedText() : PeerUpText);
    if (!wasUp)
        Q_EMIT LinkUp(peer);
    else if (wasQuiet)
        Q_EMIT LinkResumed(peer);
}

void TPlatformLink::Supervise(qint64 atMs)
{
    if (!Up || Refused || SendFailing || Config.CommSilenceSeconds <= 0)
        return;
    const qint64 silentMs = (atMs < 0 ? Clock.elapsed() : atMs) - LastHeardMs;
    if (silentMs < qint64(Config.CommSilenceSeconds) * 1000)
        return;
    const bool wasQuiet = Quiet;
    Quiet = true;
    SetConnectedText(QuietText(silentMs / 1000));
    if (!wasQuiet)
        Q_EMIT LinkQuiet(silentMs / 1000);
}

qint64 TPlatformLink::LastHeardEpochMs() const
{
    return Up ? QDateTime::currentMSecsSinceEpoch() - (Clock.elapsed() - LastHeardMs) : 0;
}

TPlatformLink::THealth TPlatformLink::Health() const
{
    if (!Endpoint.IsOpen() || Refused || SendFailing)
        return THealth::Wrong;
    if (!Up)
        return THealth::NotHeard;
    return Quiet ? THealth::Quiet : THealth::Up;
}

bool TPlatformLink::ScanFrames()
{
    return Scanner.Scan(Config.CheckType);
}

void TPlatformLink::DrainFrames()
{
    while (Scanner.Scan(Config.CheckType)) {
    }
}

bool TPlatformLink::sendComm(QByteArrayView payload, uint8_t type, uint8_t direction, uint16_t messageId,
                             const QString &host, int port)
{
    const auto frame = LdtxFrame::Build(payload, type, direction, messageId, Config.CheckType);
    if (!frame)
        return false;
    ShowSentCheckCode(frame->CheckCode);
    if (QString why; !Endpoint.Send(frame->Bytes, host, port, &why)) {
        if (Endpoint.LastHeld())
            return false;
        SendFailing = true;
        SetConnectedText(SendFailedText());
        Q_EMIT SendFailed(QStringLiteral("发送到安检监控平台 %1:%2 失败: %3").arg(host, QString::number(port), why));
        return false;
    }
    if (ReplyFromNs != 0) {
        Times.Observe(SteadyNs() - ReplyFromNs);
        ReplyFromNs = 0;
    }
    if (SendFailing) {
        SendFailing = false;
        SetConnectedText(Up ? PeerUpText : LinkDownText());
    }
    if (Traffic.Shown())
        Traffic.AppendFrame(QStringLiteral("发送:"), frame->Bytes, ' ',
                            QStringLiteral(" ->IP:%1 Port:%2 ").arg(host, QString::number(port)));
    return true;
}

void TPlatformLink::ShowSentCheckCode(uint16_t code)
{
    SentCodeText = CheckCodeDisplayText(code);
    Q_EMIT SndCrcTextChanged(SentCodeText);
}

void TPlatformLink::SetConnectedText(const QString &text)
{
    if (text == ConnectedText)
        return;
    ConnectedText = text;
    Q_EMIT CommConectedIpChanged(text);
}
