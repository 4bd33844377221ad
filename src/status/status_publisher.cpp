#include "status/status_publisher.h"

#include "channels/play_channels.h"
#include "common/send_gate.h"
#include "directory/directory.h"
#include "history/history.h"
#include "host_link/host_link.h"
#include "platform_link/ldtx_frame.h"
#include "platform_link/platform_link.h"
#include "status/alarm_path.h"
#include "common/configuration.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QMutexLocker>

namespace {

QString StateName(uint8_t state)
{
    switch (state) {
    case ChnIdle: return QStringLiteral("idle");
    case ChnBlocked: return QStringLiteral("blocked");
    case ChnOffHook: return QStringLiteral("offhook");
    case ChnDialing: return QStringLiteral("dialing");
    default: return QStringLiteral("unknown");
    }
}

void ReadEndpoint(TStatusSnapshot::TLink &link, const TUdpEndpoint &endpoint)
{
    link.Bound = endpoint.IsOpen();
    if (link.Bound) {
        link.Address = TUdpEndpoint::DottedText(endpoint.LocalAddress());
        link.Port = endpoint.LocalPort();
    }
    const TLinkCounters &count = endpoint.Counters();
    link.Received = count.Received.load(std::memory_order_relaxed);
    link.Sent = count.Sent.load(std::memory_order_relaxed);
    link.LastReceivedMs = count.LastReceivedMs.load(std::memory_order_relaxed);
    link.LastSentMs = count.LastSentMs.load(std::memory_order_relaxed);
    link.SendFailures = count.SendFailures.load(std::memory_order_relaxed);
    link.LastSendFailureMs = count.LastSendFailureMs.load(std::memory_order_relaxed);
}

QString HealthName(TPlatformLink::THealth health)
{
    switch (health) {
    case TPlatformLink::THealth::NotHeard: return QStringLiteral("not_heard");
    case TPlatformLink::THealth::Up: return QStringLiteral("up");
    case TPlatformLink::THealth::Quiet: return QStringLiteral("quiet");
    case TPlatformLink::THealth::Wrong: return QStringLiteral("wrong");
    }
    return QString();
}

bool HasCause(const QList<TStatusSnapshot::TAlarmProblem> &problems, const QString &cause)
{
    return std::any_of(problems.cbegin(), problems.cend(), [&cause](const auto &p) { return p.Cause == cause; });
}

} // namespace

TStatusPublisher::TStatusPublisher(TStatusSources sources, QObject *parent)
    : QObject(parent), Sources(std::move(sources)), StartedMs(QDateTime::currentMSecsSinceEpoch())
{
    Clock.start();
    LastBeat.store(Clock.elapsed());
    // One timer for both, so that they wake the program once (a coarse 1 s timer, which Qt
    // lets fall together with the channels' tick).
    RefreshTimer.setInterval(RefreshMs);
    connect(&RefreshTimer, &QTimer::timeout, this, [this] {
        Beat();
        Refresh();
    });
    if (Sources.Channels)
        connect(Sources.Channels, &TPlayChannels::DisplayChanged, this, &TStatusPublisher::Changed);
    if (Sources.Platform)
        connect(Sources.Platform, &TPlatformLink::CommConectedIpChanged, this, &TStatusPublisher::Changed);
    if (Sources.Switch)
        connect(Sources.Switch, &THostLink::displayChanged, this, &TStatusPublisher::Changed);
}

void TStatusPublisher::Changed()
{
    // Changes come in bursts (a channel's every label): one refresh after them.
    if (!RefreshQueued) {
        RefreshQueued = true;
        QMetaObject::invokeMethod(this, &TStatusPublisher::Refresh, Qt::QueuedConnection);
    }
}

void TStatusPublisher::Start()
{
    // The alarm path is read from the first snapshot of a running program on, not from the
    // ones a change asks for while it is still being put together.
    AlarmPathRead = false;
    AlarmPathBefore.clear();
    Announcing = true;
    Beat();
    Refresh();
    RefreshTimer.start();
}

void TStatusPublisher::Stop()
{
    RefreshTimer.stop();
}

void TStatusPublisher::Beat()
{
    const qint64 now = Clock.elapsed();
    const qint64 last = LastBeat.exchange(now);
    // A coarse timer may come up to 5 % late without the loop being late.
    LagMs = std::max<qint64>(0, now - last - HeartbeatMs - HeartbeatMs / 20);
}

qint64 TStatusPublisher::HeartbeatAgeMs() const
{
    return Clock.elapsed() - LastBeat.load();
}

void TStatusPublisher::Refresh()
{
    RefreshQueued = false;
    TStatusSnapshot s;
    s.Version = Sources.Version.isEmpty() ? QCoreApplication::applicationVersion() : Sources.Version;
    s.StartedMs = StartedMs;
    s.TakenMs = QDateTime::currentMSecsSinceEpoch();
    if (Sources.Role) {
        const TStatusSources::TRoleState role = Sources.Role();
        s.Role = role.Name;
        s.RoleText = role.Text;
        s.RoleCause = role.Cause;
        s.RoleSinceMs = role.SinceMs;
    }
    if (TPlatformLink *platform = Sources.Platform) {
        ReadEndpoint(s.Platform, platform->CommToMonitor());
        s.Platform.Up = platform->Health() == TPlatformLink::THealth::Up;
        s.Platform.State = HealthName(platform->Health());
        s.Platform.Text = platform->CommConectedIp();
        s.Platform.Peer = platform->IsUp() ? s.Platform.Text.section(QLatin1Char(' '), -1) : QString();
        static const struct
        {
            const char *Name;
            int Type;
        } kinds[] = {{"group_list", LdtxFrame::GroupListQuery}, {"device_status", LdtxFrame::DeviceStatusQuery},
                     {"voice_notify", LdtxFrame::VoiceNotify},  {"sms_notify", LdtxFrame::SmsNotify},
                     {"phone_call", LdtxFrame::PhoneCall}};
        quint64 other = 0;
        for (int type = 0; type < TRequestCounters::Types; ++type) {
            bool named = false;
            for (const auto &kind : kinds)
                if (kind.Type == type) {
                    s.Requests.append({QString::fromLatin1(kind.Name), platform->Requests().Of(type)});
                    named = true;
                }
            if (!named)
                other += platform->Requests().Of(type);
        }
        s.Requests.append({QStringLiteral("other"), other});
        const TReplyTimes &times = platform->ReplyTimes();
        for (const auto &count : times.Counts)
            s.ReplyBuckets.append(count.load(std::memory_order_relaxed));
        s.ReplySumNs = times.SumNs.load(std::memory_order_relaxed);
        s.CheckFailures = platform->CheckFailures();
        s.PlatformHeardMs = platform->LastHeardEpochMs();
        s.LastCheckFailureMs = platform->LastCheckFailureMs();
        s.WrongAddressRequests = platform->WrongAddressRequests();
        s.LastWrongAddress = platform->LastWrongAddress();
        s.LastWrongAddressMs = platform->LastWrongAddressMs();
    }
    if (THostLink *host = Sources.Switch) {
        ReadEndpoint(s.Switch, host->CommToPabx());
        s.Switch.Up = host->IsUp();
        s.Switch.State = host->IsUp() ? QStringLiteral("up") : QStringLiteral("not_heard");
        s.Switch.Peer = host->IsUp() ? host->CurrentHost() : QString();
        s.Switch.Text = host->display();
    }
    if (TSendGate *gate = Sources.Gate) {
        s.DroppedRequests = gate->DroppedCount();
        s.HeldSends = gate->HeldCount();
    }
    if (const TConfiguration *config = Sources.Config) {
        s.CheckType = config->CheckType;
        s.SilenceSeconds = config->CommSilenceSeconds;
    }
    if (Sources.Sound) {
        s.Sound = Sources.Sound();
        // A player that never said anything of its device (a test's) cannot tell.
        s.SoundKnown = s.Sound.DeviceFound || !s.Sound.Problem.isEmpty() || s.Sound.LastPlayMs > 0;
    }
    if (Sources.KeyFileProblem)
        s.KeyFileProblem = Sources.KeyFileProblem();
    if (TPlayChannels *channels = Sources.Channels) {
        s.Channel0Enabled = channels->Channel(0).IfUse;
        for (int i = 0; i < TPlayChannels::Count; ++i) {
            const TPlayChn &chn = channels->Channel(i);
            TStatusSnapshot::TChannel c;
            c.Number = i; // as the main window (第0路) and the history number them
            c.State = StateName(chn.State);
            c.Caption = chn.StatusCaption;
            if (channels->IsBusy(i)) {
                c.Text = chn.PlayText;
                c.Numbers = chn.Numbers;
            }
            c.Queued = int(chn.Queue.size());
            s.Channels.append(c);
        }
    }
    if (TDirectory *directory = Sources.Directory)
        if (const TDirectoryRows *rows = directory->Copy().Latest()) {
            s.Groups = int(rows->Groups.size());
            s.Extensions = int(rows->Phones.size());
        }
    // The store is unreachable since the earlier of the directory's copy (which asks a server
    // every second, busy or idle) and the history's writer noticing it.
    const auto earliest = [&s](qint64 since) {
        if (since > 0 && (s.StoreFailingSinceMs == 0 || since < s.StoreFailingSinceMs))
            s.StoreFailingSinceMs = since;
    };
    if (TDirectory *directory = Sources.Directory)
        earliest(directory->Copy().FailingSinceMs());
    if (THistory *history = Sources.History) {
        s.StorePlace = history->Path();
        earliest(history->FailingSinceMs());
        s.HistoryPending = history->Pending();
        s.HistoryWritten = history->WrittenCount();
    }
    s.StoreReachable = s.StoreFailingSinceMs == 0;
    s.LoopLagMs = LagMs;
    s.AlarmPath = TAlarmPath::Read(s, s.TakenMs);
    const QList<TStatusSnapshot::TAlarmProblem> path = s.AlarmPath;
    {
        QMutexLocker lock(&Guard);
        Current = std::move(s);
    }
    Q_EMIT Refreshed();
    CompareAlarmPath(path);
}

void TStatusPublisher::CompareAlarmPath(const QList<TStatusSnapshot::TAlarmProblem> &now)
{
    if (!Announcing)
        return;
    // Causes, not texts, come and go: a count or a number of seconds in a text is no news.
    QList<TStatusSnapshot::TAlarmProblem> came, went;
    for (const auto &p : now)
        if (!HasCause(AlarmPathBefore, p.Cause))
            came.append(p);
    for (const auto &p : AlarmPathBefore)
        if (!HasCause(now, p.Cause))
            went.append(p);
    const bool first = !AlarmPathRead;
    AlarmPathRead = true;
    AlarmPathBefore = now;
    if (first || !came.isEmpty() || !went.isEmpty())
        Q_EMIT AlarmPathChanged(came, went, first);
}

TStatusSnapshot TStatusPublisher::Snapshot() const
{
    QMutexLocker lock(&Guard);
    return Current;
}

QString TStatusPublisher::Problem() const
{
    return Snapshot().Problem(HeartbeatAgeMs(), QDateTime::currentMSecsSinceEpoch());
}
