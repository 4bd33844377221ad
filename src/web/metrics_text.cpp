#include "web/metrics_text.h"

#include "common/link_counters.h"

namespace {

// A label value as the format wants it: backslash, quote and line break escaped.
QByteArray Label(const QString &value)
{
    QByteArray out;
    for (char c : value.toUtf8()) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

void Family(QByteArray &out, const char *name, const char *type, const char *help)
{
    out += QByteArray("# HELP ") + name + ' ' + help + '\n';
    out += QByteArray("# TYPE ") + name + ' ' + type + '\n';
}

QByteArray Number(double value)
{
    return QByteArray::number(value, 'g', 15);
}

QByteArray Number(quint64 value)
{
    return QByteArray::number(value);
}

} // namespace

namespace TMetricsText {

QByteArray Make(const TStatusSnapshot &s)
{
    QByteArray out;
    out.reserve(4096);

    Family(out, "varnex_platform_requests_total", "counter", "Requests from the monitoring platform, by kind.");
    for (const auto &[kind, count] : s.Requests)
        out += "varnex_platform_requests_total{kind=\"" + Label(kind) + "\"} " + Number(count) + '\n';

    Family(out, "varnex_platform_reply_seconds", "histogram",
           "Time from a platform request's datagram to its reply leaving.");
    quint64 cumulative = 0;
    for (qsizetype i = 0; i < s.ReplyBuckets.size(); ++i) {
        cumulative += s.ReplyBuckets[i];
        const QByteArray le = size_t(i) < TReplyTimes::BoundsNs.size()
            ? Number(double(TReplyTimes::BoundsNs[size_t(i)]) / 1e9)
            : QByteArray("+Inf");
        out += "varnex_platform_reply_seconds_bucket{le=\"" + le + "\"} " + Number(cumulative) + '\n';
    }
    if (s.ReplyBuckets.isEmpty())
        out += "varnex_platform_reply_seconds_bucket{le=\"+Inf\"} 0\n";
    out += "varnex_platform_reply_seconds_sum " + Number(double(s.ReplySumNs) / 1e9) + '\n';
    out += "varnex_platform_reply_seconds_count " + Number(cumulative) + '\n';

    Family(out, "varnex_platform_check_failures_total", "counter", "Platform frames whose check code was wrong.");
    out += "varnex_platform_check_failures_total " + Number(s.CheckFailures) + '\n';

    Family(out, "varnex_link_up", "gauge", "1 while the link is heard from, else 0.");
    out += "varnex_link_up{link=\"platform\"} " + Number(quint64(s.Platform.Up)) + '\n';
    out += "varnex_link_up{link=\"switch\"} " + Number(quint64(s.Switch.Up)) + '\n';

    Family(out, "varnex_channel_state", "gauge", "1 for the state each play channel is in (idle, blocked, offhook, dialing), 0 for the others.");
    static const char *const states[] = {"idle", "blocked", "offhook", "dialing"};
    for (const TStatusSnapshot::TChannel &c : s.Channels)
        for (const char *state : states)
            out += "varnex_channel_state{channel=\"" + Number(quint64(c.Number)) + "\",state=\"" + state + "\"} "
                + (c.State == QLatin1String(state) ? "1" : "0") + '\n';

    Family(out, "varnex_history_pending", "gauge", "History entries not yet written to the store.");
    out += "varnex_history_pending " + Number(quint64(std::max(s.HistoryPending, 0))) + '\n';

    Family(out, "varnex_store_up", "gauge", "1 while the history store can be written, else 0.");
    out += "varnex_store_up " + Number(quint64(s.StoreReachable)) + '\n';

    Family(out, "process_start_time_seconds", "gauge", "Start time of the process since the Unix epoch in seconds.");
    out += "process_start_time_seconds " + Number(double(s.StartedMs) / 1000.0) + '\n';
    return out;
}

} // namespace TMetricsText
