#include "status/status_snapshot.h"

#include <QDateTime>
#include <QJsonArray>

#include <algorithm>

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
            {"last_sent", Time(link.LastSentMs)},
            {"state", link.State},
            {"send_failures", double(link.SendFailures)},
            {"last_send_failure", Time(link.LastSendFailureMs)}};
}

qint64 Ms(const QJsonValue &value)
{
    const QDateTime time = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
    return time.isValid() ? time.toMSecsSinceEpoch() : 0;
}

quint64 Count(const QJsonValue &value)
{
    return quint64(std::max(0.0, value.toDouble()));
}

TStatusSnapshot::TLink LinkFrom(const QJsonObject &o)
{
    TStatusSnapshot::TLink link;
    link.Bound = o.value(QStringLiteral("bound")).toBool();
    link.Address = o.value(QStringLiteral("address")).toString();
    link.Port = o.value(QStringLiteral("port")).toInt();
    link.Up = o.value(QStringLiteral("up")).toBool();
    link.Peer = o.value(QStringLiteral("peer")).toString();
    link.Text = o.value(QStringLiteral("text")).toString();
    link.Received = Count(o.value(QStringLiteral("received")));
    link.Sent = Count(o.value(QStringLiteral("sent")));
    link.LastReceivedMs = Ms(o.value(QStringLiteral("last_received")));
    link.LastSentMs = Ms(o.value(QStringLiteral("last_sent")));
    link.State = o.value(QStringLiteral("state")).toString();
    link.SendFailures = Count(o.value(QStringLiteral("send_failures")));
    link.LastSendFailureMs = Ms(o.value(QStringLiteral("last_send_failure")));
    return link;
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
    QJsonArray buckets;
    for (quint64 count : ReplyBuckets)
        buckets.append(double(count));
    QJsonArray problems;
    for (const TAlarmProblem &p : AlarmPath)
        problems.append(QJsonObject{{"cause", p.Cause}, {"text", p.Text}});
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
            {"reply_buckets", buckets},
            {"reply_sum_ns", double(ReplySumNs)},
            {"check_failures", double(CheckFailures)},
            {"last_check_failure", Time(LastCheckFailureMs)},
            {"check_type", CheckType},
            {"wrong_address_requests", double(WrongAddressRequests)},
            {"last_wrong_address", LastWrongAddress},
            {"last_wrong_address_time", Time(LastWrongAddressMs)},
            {"silence_seconds", SilenceSeconds},
            {"platform_heard", Time(PlatformHeardMs)},
            {"dropped_requests", double(DroppedRequests)},
            {"held_sends", double(HeldSends)},
            {"channels", channels},
            {"channel0_enabled", Channel0Enabled},
            {"key_file_problem", KeyFileProblem},
            {"sound", QJsonObject{{"known", SoundKnown},
                                  {"device_found", Sound.DeviceFound},
                                  {"device", Sound.Device},
                                  {"last_play_ok", Sound.LastPlayOk},
                                  {"problem", Sound.Problem},
                                  {"last_play", Time(Sound.LastPlayMs)}}},
            {"directory", QJsonObject{{"groups", Groups}, {"extensions", Extensions}}},
            {"store", QJsonObject{{"reachable", StoreReachable}, {"place", StorePlace}, {"failing_since", Time(StoreFailingSinceMs)}, {"history_pending", HistoryPending}, {"history_written", double(HistoryWritten)}}},
            {"loop_lag_ms", double(LoopLagMs)},
            {"alarm_path", QJsonObject{{"ok", AlarmPath.isEmpty()}, {"problems", problems}}}};
}

TStatusSnapshot TStatusSnapshot::FromJson(const QJsonObject &json)
{
    TStatusSnapshot s;
    s.Version = json.value(QStringLiteral("version")).toString();
    s.StartedMs = Ms(json.value(QStringLiteral("started")));
    s.TakenMs = Ms(json.value(QStringLiteral("time")));
    s.Role = json.value(QStringLiteral("role")).toString();
    s.RoleText = json.value(QStringLiteral("role_text")).toString();
    s.RoleCause = json.value(QStringLiteral("role_cause")).toString();
    s.RoleSinceMs = Ms(json.value(QStringLiteral("role_since")));
    s.Platform = LinkFrom(json.value(QStringLiteral("platform_link")).toObject());
    s.Switch = LinkFrom(json.value(QStringLiteral("switch_link")).toObject());
    const QJsonObject requests = json.value(QStringLiteral("requests")).toObject();
    // In the order the program names them, which the metrics keep.
    for (const char *kind : {"group_list", "device_status", "voice_notify", "sms_notify", "phone_call", "other"})
        if (requests.contains(QLatin1String(kind)))
            s.Requests.append({QString::fromLatin1(kind), Count(requests.value(QLatin1String(kind)))});
    for (auto it = requests.begin(); it != requests.end(); ++it)
        if (std::none_of(s.Requests.cbegin(), s.Requests.cend(), [&](const auto &r) { return r.first == it.key(); }))
            s.Requests.append({it.key(), Count(it.value())});
    for (const QJsonValue &count : json.value(QStringLiteral("reply_buckets")).toArray())
        s.ReplyBuckets.append(Count(count));
    s.ReplySumNs = Count(json.value(QStringLiteral("reply_sum_ns")));
    s.CheckFailures = Count(json.value(QStringLiteral("check_failures")));
    s.LastCheckFailureMs = Ms(json.value(QStringLiteral("last_check_failure")));
    s.CheckType = json.value(QStringLiteral("check_type")).toString();
    s.WrongAddressRequests = Count(json.value(QStringLiteral("wrong_address_requests")));
    s.LastWrongAddress = json.value(QStringLiteral("last_wrong_address")).toString();
    s.LastWrongAddressMs = Ms(json.value(QStringLiteral("last_wrong_address_time")));
    s.SilenceSeconds = json.value(QStringLiteral("silence_seconds")).toInt();
    s.PlatformHeardMs = Ms(json.value(QStringLiteral("platform_heard")));
    s.DroppedRequests = Count(json.value(QStringLiteral("dropped_requests")));
    s.HeldSends = Count(json.value(QStringLiteral("held_sends")));
    for (const QJsonValue &value : json.value(QStringLiteral("channels")).toArray()) {
        const QJsonObject o = value.toObject();
        TChannel c;
        c.Number = o.value(QStringLiteral("channel")).toInt();
        c.State = o.value(QStringLiteral("state")).toString();
        c.Caption = o.value(QStringLiteral("caption")).toString();
        c.Text = o.value(QStringLiteral("text")).toString();
        for (const QJsonValue &n : o.value(QStringLiteral("numbers")).toArray())
            c.Numbers.append(n.toInt());
        c.Queued = o.value(QStringLiteral("queued")).toInt();
        s.Channels.append(c);
    }
    s.Channel0Enabled = json.value(QStringLiteral("channel0_enabled")).toBool(true);
    s.KeyFileProblem = json.value(QStringLiteral("key_file_problem")).toString();
    const QJsonObject sound = json.value(QStringLiteral("sound")).toObject();
    s.SoundKnown = sound.value(QStringLiteral("known")).toBool();
    s.Sound.DeviceFound = sound.value(QStringLiteral("device_found")).toBool();
    s.Sound.Device = sound.value(QStringLiteral("device")).toString();
    s.Sound.LastPlayOk = sound.value(QStringLiteral("last_play_ok")).toBool(true);
    s.Sound.Problem = sound.value(QStringLiteral("problem")).toString();
    s.Sound.LastPlayMs = Ms(sound.value(QStringLiteral("last_play")));
    const QJsonObject directory = json.value(QStringLiteral("directory")).toObject();
    s.Groups = directory.value(QStringLiteral("groups")).toInt(-1);
    s.Extensions = directory.value(QStringLiteral("extensions")).toInt(-1);
    const QJsonObject store = json.value(QStringLiteral("store")).toObject();
    s.StoreReachable = store.value(QStringLiteral("reachable")).toBool(true);
    s.StorePlace = store.value(QStringLiteral("place")).toString();
    s.StoreFailingSinceMs = Ms(store.value(QStringLiteral("failing_since")));
    s.HistoryPending = store.value(QStringLiteral("history_pending")).toInt();
    s.HistoryWritten = Count(store.value(QStringLiteral("history_written")));
    s.LoopLagMs = qint64(json.value(QStringLiteral("loop_lag_ms")).toDouble());
    for (const QJsonValue &value : json.value(QStringLiteral("alarm_path")).toObject().value(QStringLiteral("problems")).toArray()) {
        const QJsonObject o = value.toObject();
        s.AlarmPath.append({o.value(QStringLiteral("cause")).toString(), o.value(QStringLiteral("text")).toString()});
    }
    return s;
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
