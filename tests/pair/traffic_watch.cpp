#include "traffic_watch.h"

#include "net_lab.h"
#include "platform_link/frame_scanner.h"
#include "platform_link/ldtx_frame.h"

#include <QFile>
#include <QNetworkDatagram>
#include <QSocketNotifier>
#include <QTimer>
#include <QUdpSocket>
#include <QtEndian>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Runs f on thread's object and waits for it.
template <typename F>
void On(QObject *home, F f)
{
    QMetaObject::invokeMethod(home, f, Qt::BlockingQueuedConnection);
}

QString Dotted(const unsigned char *bytes)
{
    return QStringLiteral("%1.%2.%3.%4").arg(bytes[0]).arg(bytes[1]).arg(bytes[2]).arg(bytes[3]);
}

} // namespace

TTrafficWatch::TTrafficWatch(const TSetup &setup) : Setup(setup) {}

TTrafficWatch::~TTrafficWatch()
{
    if (Home) {
        On(Home, [this] {
            delete Home; // its sockets, timer and notifiers with it
            Home = nullptr;
        });
    }
    Thread.quit();
    Thread.wait();
    for (const auto &[fd, name] : std::as_const(CaptureFds))
        ::close(fd);
}

qint64 TTrafficWatch::Now()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool TTrafficWatch::Start(QString *why)
{
    Thread.setObjectName(QStringLiteral("traffic"));
    Thread.start();
    Home = new QObject;
    Home->moveToThread(&Thread);
    bool ok = false;
    On(Home, [this, &ok, why] {
        // The whole thread lives in the platform's namespace: every socket it makes is there.
        const int target = ::open(QFile::encodeName(QStringLiteral("/run/netns/") + Setup.PlatformNamespace).constData(),
                                  O_RDONLY | O_CLOEXEC);
        if (target < 0 || ::setns(target, CLONE_NEWNET) != 0) {
            *why = QStringLiteral("cannot enter %1: %2").arg(Setup.PlatformNamespace, QString::fromLocal8Bit(strerror(errno)));
            if (target >= 0)
                ::close(target);
            return;
        }
        ::close(target);
        Replies = std::make_unique<TFrameScanner>();
        Replies->OnFrame = [this](uint16_t id, uint8_t, uint8_t type, QByteArrayView) {
            if (type != LdtxFrame::GroupListQuery)
                return;
            QMutexLocker lock(&Guard);
            if (SentAt.count(id))
                ++Answered[id];
            else
                ++StaleReplies;
        };
        PlatformSocket = new QUdpSocket(Home);
        if (!PlatformSocket->bind(Setup.Platform, Setup.PlatformPort)) {
            *why = QStringLiteral("platform socket %1:%2: %3").arg(Setup.Platform.toString()).arg(Setup.PlatformPort).arg(PlatformSocket->errorString());
            return;
        }
        PlatformSocket->setReadBufferSize(0);
        connect(PlatformSocket, &QUdpSocket::readyRead, Home, [this] { TakeReplies(); });
        for (const QHostAddress &cpu : std::as_const(Setup.SwitchCpus)) {
            auto *socket = new QUdpSocket(Home);
            if (!socket->bind(cpu, Setup.SwitchPort)) {
                *why = QStringLiteral("switch CPU socket %1:%2: %3").arg(cpu.toString()).arg(Setup.SwitchPort).arg(socket->errorString());
                return;
            }
            connect(socket, &QUdpSocket::readyRead, Home, [this, socket] { TakeSwitch(socket); });
            SwitchSockets << socket;
        }
        // A sign of life from each CPU every second keeps the program's switch link up.
        auto *alive = new QTimer(Home);
        connect(alive, &QTimer::timeout, Home, [this] {
            for (QUdpSocket *socket : std::as_const(SwitchSockets))
                socket->writeDatagram(QByteArray(1, char(0x5A)), Setup.Service, Setup.ServiceSwitchPort);
        });
        alive->start(1000);
        Ticker = new QTimer(Home);
        Ticker->setTimerType(Qt::PreciseTimer);
        Ticker->setInterval(10);
        connect(Ticker, &QTimer::timeout, Home, [this] { SendRequest(); });
        ok = true;
    });
    return ok;
}

bool TTrafficWatch::Capture(const QString &name, const QString &ns, const QString &interface, QString *why)
{
    bool ok = false;
    On(Home, [&] {
        int fd = -1;
        {
            TInNamespace inside(ns);
            if (!inside.Entered()) {
                *why = inside.Why;
                return;
            }
            fd = ::socket(AF_PACKET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, htons(ETH_P_ALL));
            sockaddr_ll at{};
            at.sll_family = AF_PACKET;
            at.sll_protocol = htons(ETH_P_ALL);
            at.sll_ifindex = int(::if_nametoindex(interface.toLatin1().constData()));
            if (fd < 0 || at.sll_ifindex == 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&at), sizeof at) != 0) {
                *why = QStringLiteral("cannot capture on %1 in %2: %3").arg(interface, ns, QString::fromLocal8Bit(strerror(errno)));
                if (fd >= 0)
                    ::close(fd);
                return;
            }
        }
        CaptureFds << qMakePair(fd, name);
        auto *reader = new QSocketNotifier(fd, QSocketNotifier::Read, Home);
        connect(reader, &QSocketNotifier::activated, Home, [this, fd, name] { TakeCaptured(fd, name); });
        ok = true;
    });
    return ok;
}

void TTrafficWatch::BeginPhase()
{
    On(Home, [this] { Ticker->stop(); });
    // Replies still on their way belong to the phase before.
    QThread::msleep(50);
    On(Home, [this] {
        TakeReplies();
        QMutexLocker lock(&Guard);
        SentAt.clear();
        StaleReplies = 0;
        Answered.clear();
        ReplyTimes.clear();
        ReplySources.clear();
        SwitchTimes.clear();
        SwitchFrom.clear();
        PhaseStartUs = Now();
        Ticker->start();
    });
}

void TTrafficWatch::StopRequests()
{
    On(Home, [this] { Ticker->stop(); });
}

void TTrafficWatch::SendRequest()
{
    quint16 id = 0;
    {
        QMutexLocker lock(&Guard);
        id = NextId++;
        SentAt[id] = Now();
    }
    PlatformSocket->writeDatagram(LdtxFrame::Build({}, LdtxFrame::GroupListQuery, LdtxFrame::MonitorRequest, id, Setup.CheckType)->Bytes,
                                  Setup.Service, Setup.ServicePlatformPort);
}

void TTrafficWatch::SendVoice(int group, const QString &text, quint16 id)
{
    On(Home, [=, this] {
        const QByteArray payload = QByteArray(1, char(0)) + LdtxFrame::Le32(group) + char(2) + text.toUtf8() + char(1);
        PlatformSocket->writeDatagram(LdtxFrame::Build(payload, LdtxFrame::VoiceNotify, LdtxFrame::MonitorRequest, id, Setup.CheckType)->Bytes,
                                      Setup.Service, Setup.ServicePlatformPort);
    });
}

void TTrafficWatch::SendCall(int caller, int called, quint16 id)
{
    On(Home, [=, this] {
        QByteArray payload(8, 0);
        qToLittleEndian<quint16>(quint16(caller), payload.data());
        qToLittleEndian<quint16>(quint16(called), payload.data() + 4);
        PlatformSocket->writeDatagram(LdtxFrame::Build(payload, LdtxFrame::PhoneCall, LdtxFrame::MonitorRequest, id, Setup.CheckType)->Bytes,
                                      Setup.Service, Setup.ServicePlatformPort);
    });
}

void TTrafficWatch::TakeReplies()
{
    while (PlatformSocket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = PlatformSocket->receiveDatagram();
        const qint64 at = Now();
        const QString from = QHostAddress(datagram.senderAddress().toIPv4Address()).toString();
        {
            QMutexLocker lock(&Guard);
            ReplyTimes << at;
            if (!ReplySources.contains(from))
                ReplySources << from;
        }
        for (const char c : datagram.data())
            Replies->Store(uint8_t(c));
        while (Replies->Scan(Setup.CheckType)) {
        }
    }
}

void TTrafficWatch::TakeSwitch(QUdpSocket *socket)
{
    while (socket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket->receiveDatagram();
        QMutexLocker lock(&Guard);
        SwitchTimes << Now();
        SwitchFrom << QHostAddress(datagram.senderAddress().toIPv4Address()).toString();
    }
}

void TTrafficWatch::TakeCaptured(int fd, const QString &name)
{
    unsigned char frame[2048];
    for (;;) {
        sockaddr_ll from{};
        socklen_t length = sizeof from;
        const ssize_t n = ::recvfrom(fd, frame, sizeof frame, 0, reinterpret_cast<sockaddr *>(&from), &length);
        if (n <= 0)
            return;
        if (from.sll_pkttype != PACKET_OUTGOING || n < 14 + 20 + 8 || frame[12] != 0x08 || frame[13] != 0x00)
            continue;
        const unsigned char *ip = frame + 14;
        const int headerLength = (ip[0] & 0x0F) * 4;
        const bool laterFragment = ((ip[6] & 0x1F) | ip[7]) != 0;
        if (ip[9] != 17 || laterFragment || n < 14 + headerLength + 8)
            continue;
        const unsigned char *udp = ip + headerLength;
        TSent sent{Now(), Dotted(ip + 12), quint16(udp[0] << 8 | udp[1]), Dotted(ip + 16), quint16(udp[2] << 8 | udp[3])};
        QMutexLocker lock(&Guard);
        Captured[name] << sent;
    }
}

TTrafficWatch::TFigures TTrafficWatch::Figures()
{
    On(Home, [this] { TakeReplies(); });
    QMutexLocker lock(&Guard);
    TFigures f;
    const qint64 now = Now();
    f.Requests = int(SentAt.size());
    f.Replies = int(ReplyTimes.size());
    QList<qint64> times = ReplyTimes;
    std::sort(times.begin(), times.end());
    times.prepend(PhaseStartUs);
    times.append(now);
    for (qsizetype i = 1; i < times.size(); ++i)
        if (times[i] - times[i - 1] > f.GapUs) {
            f.GapUs = times[i] - times[i - 1];
            f.GapFromUs = times[i - 1];
            f.GapToUs = times[i];
        }
    // A reply still on its way is not lost; a request sent inside the gap may be.
    constexpr qint64 StillComingUs = 500000, SentBeforeItsReplyUs = 50000;
    for (const auto &[id, at] : SentAt) {
        const auto answered = Answered.find(id);
        if (answered != Answered.end() && answered->second > 1)
            ++f.Duplicates;
        if (answered != Answered.end() || at > now - StillComingUs)
            continue;
        ++f.Lost;
        if (at < f.GapFromUs - SentBeforeItsReplyUs || at > f.GapToUs)
            ++f.LostOutsideGap;
    }
    f.Stale = StaleReplies;
    f.Sources = ReplySources;
    for (const QString &from : SwitchFrom) {
        if (from != Setup.Service.toString())
            ++f.KeyCommandsFromElsewhere;
        if (!f.SwitchSources.contains(from))
            f.SwitchSources << from;
    }
    return f;
}

QList<TTrafficWatch::TSent> TTrafficWatch::SentBy(const QString &name, qint64 fromUs, qint64 toUs)
{
    // What the interfaces have seen so far is taken first.
    On(Home, [this] {
        for (const auto &[fd, machine] : std::as_const(CaptureFds))
            TakeCaptured(fd, machine);
    });
    QMutexLocker lock(&Guard);
    QList<TSent> sent;
    const auto it = Captured.find(name);
    if (it == Captured.end())
        return sent;
    for (const TSent &s : it->second)
        if (s.AtUs >= fromUs && (toUs == 0 || s.AtUs < toUs))
            sent << s;
    return sent;
}
