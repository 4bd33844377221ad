#include "status/status_snapshot.h"

#include <QDateTime>
#include <QJsonArray>

namespace {

QJsonValue Time(qint64 ms)
{
    return ms > 0 ? QJsonValue(QDateTime::fromMSecsSinceEpoch(ms).toString(Qt::ISODateWithMs)) : QJsonValue();
}

QJsonObject Link(const TStatusSnapshot::TLink &link)
{
    return {{"bound", link.Bound},
            {"address", link.Address},
            {"port", link.Port},
            {"up", link.Up},
            {"peer", link.Peer},
            {"text", link.Text},
            {"received", double(link.Received)},
            {"sent", double(link.Sent)},
            {"last_received", Time(link.LastReceivedMs)},
            {"last_sent", Time(link.LastSentMs)}};
}

} // namespace

QJsonObject TStatusSnapshot::ToJson() const
{
    QJsonObject requests;
    for (const auto &[kind, count] : Requests)
        requests.insert(kind, double(count));
    QJsonArray channels;
    for (const TChannel &c : Channels) {
        QJsonArray numbers;
        for (qint32 n : c.Numbers)
            numbers.append(n);
        channels.append(QJsonObject{{"channel", c.Number},
                                    {"state", c.State},
                                    {"caption", c.Caption},
                                    {"text", c.Text},
                                    {"numbers", numbers},
                                    {"queued", c.Queued}});
    }
    return {{"version", Version},
            {"started", Time(StartedMs)},
            {"time", Time(TakenMs)},
            {"role", Role},
            {"role_text", RoleText},
            {"role_cause", RoleCause},
            {"role_since", Time(RoleSinceMs)},
            {"platform_link", Link(Platform)},
            {"switch_link", Link(Switch)},
            {"requests", requests},
            {"check_failures", double(CheckFailures)},
            {"dropped_requests", double(DroppedRequests)},
            {"held_sends", double(HeldSends)},
            {"channels", channels},
            {"directory", QJsonObject{{"groups", Groups}, {"extensions", Extensions}}},
            {"store", QJsonObject{{"reachable", StoreReachable}, {"place", StorePlace}, {"failing_since", Time(StoreFailingSinceMs)}, {"history_pending", HistoryPending}}},
            {"loop_lag_ms", double(LoopLagMs)}};
}

QString TStatusSnapshot::Problem(qint64 heartbeatAgeMs, qint64 nowMs) const
{
    if (heartbeatAgeMs > StalledMs)
        return QStringLiteral("main loop stalled for %1 ms").arg(heartbeatAgeMs);
    if (!Platform.Bound)
        return QStringLiteral("platform endpoint not bound");
    if (!StoreReachable && StoreFailingSinceMs > 0 && nowMs - StoreFailingSinceMs > StoreGraceMs)
        return QStringLiteral("store unreachable for %1 s: %2").arg((nowMs - StoreFailingSinceMs) / 1000).arg(StorePlace);
    return QString();
}
