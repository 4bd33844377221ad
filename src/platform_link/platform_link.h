#pragma once

#include "common/link_counters.h"
#include "common/udp_endpoint.h"
#include "platform_link/frame_scanner.h"

#include <QByteArrayView>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

struct TConfiguration;
class TTrafficLog;

// The link to the safety-monitoring platform: the endpoint CommToMonitor, the receive ring with
// its frame scanner, the frame sender, and the texts the main window shows for them.
class TPlatformLink : public QObject
{
    Q_OBJECT
public:
    TPlatformLink(const TConfiguration &config, TTrafficLog &traffic, QObject *parent = nullptr);

    static QString LinkDownText() { return QStringLiteral("安检监控平台通讯状态:通讯中断"); }
    // No datagram for a while: UDP cannot tell a quiet platform from a gone one.
    static QString QuietText(qint64 seconds) { return QStringLiteral("安检监控平台通讯状态:无数据 %1 秒").arg(seconds); }
    static QString SendFailedText() { return QStringLiteral("安检监控平台通讯状态:发送失败"); }
    // Traffic line for a frame given up before its rest came.
    static QString BrokenFrameText() { return QStringLiteral("帧不完整，已丢弃"); }

    // Heard from the platform since start.
    bool IsUp() const { return Up; }
    // What the status label's colour says: up (heard, replies leave), quiet (nothing heard for
    // CommSilenceSeconds, which is how a healthy platform without alarms looks), wrong (known
    // to be broken: the endpoint is not bound, a refused address, replies cannot be sent), or
    // not heard from yet.
    enum class THealth { NotHeard, Up, Quiet, Wrong };
    THealth Health() const;
    // Shows the link quiet once no datagram has come for CommSilenceSeconds, with the seconds
    // since the last one; atMs on the link's own clock (ClockMs), by default now.
    void Supervise(qint64 atMs = -1);
    qint64 ClockMs() const { return Clock.elapsed(); }

    // Binds CommToMonitor (on address when given); on failure it stays closed and the status
    // text says so.
    bool Open(int port, QString *error = nullptr, const QString &address = QString());
    void Close();
    TUdpEndpoint &CommToMonitor() { return Endpoint; }

    void ResetRing() { Scanner.Reset(); }

    // Receive event: one call per datagram, peer as dotted text; atMs on the link's own clock
    // (ClockMs), by default now.
    void CommToMonitorUDPRead(QByteArrayView datagram, const QString &peer, qint64 atMs = -1);
    // One scan of the receive ring: hands every good frame on through FrameReceived. True when
    // it consumed bytes.
    bool ScanFrames();
    // Scans again and again until the ring holds nothing or only a frame still arriving: what a
    // datagram brought is answered on arrival.
    void DrainFrames();
    // Builds one frame and sends it to host:port. False when it is over the send limit or could
    // not be sent.
    bool sendComm(QByteArrayView payload, uint8_t type, uint8_t direction, uint16_t messageId, const QString &host,
                  int port);

    // Shows the check code of a frame just built.
    void ShowSentCheckCode(uint16_t code);

    const TFrameScanner &Receiver() const { return Scanner; }
    // The platform's requests by type, as they reached the dispatcher.
    TRequestCounters &Requests() { return RequestCount; }
    // How long replies took from their request's datagram, and frames whose check code was wrong.
    const TReplyTimes &ReplyTimes() const { return Times; }
    quint64 CheckFailures() const { return CheckFailureCount.load(std::memory_order_relaxed); }
    // When a datagram of the platform's (from CommIpAddress) was last taken, ms since the epoch;
    // 0: never.
    qint64 LastHeardEpochMs() const;
    // When the last frame with a wrong check code came (ms since the epoch; 0: none yet).
    qint64 LastCheckFailureMs() const { return LastCheckFailureAtMs; }
    // Datagrams from another address than the platform's, the last sender and when.
    quint64 WrongAddressRequests() const { return WrongAddressCount; }
    QString LastWrongAddress() const { return LastWrongPeer; }
    qint64 LastWrongAddressMs() const { return LastWrongAtMs; }
    QString CommConectedIp() const { return ConnectedText; }
    QString SndCrcText() const { return SentCodeText; }
    QString RecCrcText() const { return ReceivedCodeText; }

Q_SIGNALS:
    void FrameReceived(uint16_t messageId, uint8_t direction, uint8_t type, QByteArrayView payload);
    void CommConectedIpChanged(const QString &text);
    void SndCrcTextChanged(const QString &text);
    void RecCrcTextChanged(const QString &text);
    // A frame could not be sent; line says where to and why.
    void SendFailed(const QString &line);
    // What arrived was dropped unanswered (a wrong sender, a wrong check code); line says why.
    // Equal lines are one kind, for a digest that keeps them from flooding the memo.
    void Dropped(const QString &line);
    void LinkUp(const QString &peer);
    // Nothing heard for CommSilenceSeconds after being up; heard again after that.
    void LinkQuiet(qint64 seconds);
    void LinkResumed(const QString &peer);

private:
    void SetConnectedText(const QString &text);

    const TConfiguration &Config;
    TTrafficLog &Traffic;
    TUdpEndpoint Endpoint;
    TFrameScanner Scanner;
    TRequestCounters RequestCount;
    TReplyTimes Times;
    std::atomic<quint64> CheckFailureCount{0};
    qint64 LastCheckFailureAtMs = 0;
    quint64 WrongAddressCount = 0;
    QString LastWrongPeer;
    qint64 LastWrongAtMs = 0;
    // Steady-clock ns of the datagram that brought the frame being handled; 0: no reply is due.
    qint64 ArrivalNs = 0;
    qint64 ReplyFromNs = 0;
    QString ConnectedText = LinkDownText();
    QElapsedTimer Clock;
    qint64 LastHeardMs = 0;
    // The texts naming the peer, made again only when another peer sends.
    QString Peer;
    QString PeerIpText;
    QString PeerUpText;
    bool Up = false;
    bool Quiet = false;
    bool Refused = false;     // the last datagram came from an address that is not the platform's
    bool SendFailing = false; // the last reply could not be sent
    QString SentCodeText;
    QString ReceivedCodeText;
};
