#include "web/metrics_text.h"

#include "common/link_counters.h"
#include "status/alarm_path.h"

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

    Family(out, "varnex_platform_wrong_address_total", "counter",
           "Datagrams dropped because they came from another address than the platform's (CommIpAddress).");
    out += "varnex_platform_wrong_address_total " + Number(s.WrongAddressRequests) + '\n';

    Family(out, "varnex_link_send_failures_total", "counter", "Datagrams that could not be sent, by link.");
    out += "varnex_link_send_failures_total{link=\"platform\"} " + Number(s.Platform.SendFailures) + '\n';
    out += "varnex_link_send_failures_total{link=\"switch\"} " + Number(s.Switch.SendFailures) + '\n';

    Family(out, "varnex_link_up", "gauge", "1 while the link is heard from, else 0.");
    out += "varnex_link_up{link=\"platform\"} " + Number(quint64(s.Platform.Up)) + '\n';
    out += "varnex_link_up{link=\"switch\"} " + Number(quint64(s.Switch.Up)) + '\n';

    Family(out, "varnex_channel_state", "gauge", "1 for the state each play channel is in (idle, blocked, offhook, dialing), 0 for the others.");
    static const char *const states[] = {"idle", "blocked", "offhook", "dialing"};
    for (const TStatusSnapshot::TChannel &c : s.Channels)
        for (const char *state : states)
            out += "varnex_channel_state{channel=\"" + Number(quint64(c.Number)) + "\",state=\"" + state + "\"} "
                + (c.State == QLatin1String(state) ? "1" : "0") + '\n';

    Family(out, "varnex_channel_enabled", "gauge", "1 while channel 0, which carries the platform's notifications, is enabled (ifUse0).");
    out += "varnex_channel_enabled{channel=\"0\"} " + Number(quint64(s.Channel0Enabled)) + '\n';

    Family(out, "varnex_key_file_ok", "gauge", "1 while key.dat is whole and the keyboard in use has keys.");
    out += "varnex_key_file_ok " + Number(quint64(s.KeyFileProblem.isEmpty())) + '\n';

    if (s.SoundKnown) {
        Family(out, "varnex_sound_up", "gauge", "1 while a sound device is there and the last play did not fail.");
        out += "varnex_sound_up " + Number(quint64(s.Sound.DeviceFound && s.Sound.LastPlayOk)) + '\n';
    }

    Family(out, "varnex_directory_read", "gauge", "1 once the directory the platform is answered from has been read.");
    out += "varnex_directory_read " + Number(quint64(s.Groups >= 0)) + '\n';
    Family(out, "varnex_directory_entries", "gauge", "Groups and extensions in the directory the platform is answered from.");
    out += "varnex_directory_entries{kind=\"group\"} " + Number(quint64(std::max(s.Groups, 0))) + '\n';
    out += "varnex_directory_entries{kind=\"extension\"} " + Number(quint64(std::max(s.Extensions, 0))) + '\n';

    Family(out, "varnex_alarm_path_ok", "gauge", "1 while nothing known keeps a notification from reaching a phone.");
    out += "varnex_alarm_path_ok " + Number(quint64(s.AlarmPath.isEmpty())) + '\n';
    Family(out, "varnex_alarm_path_problem", "gauge", "1 for each cause that keeps a notification from reaching a phone now.");
    for (const QString &cause : TAlarmPath::Causes()) {
        const bool on = std::any_of(s.AlarmPath.cbegin(), s.AlarmPath.cend(), [&cause](const auto &p) { return p.Cause == cause; });
        out += "varnex_alarm_path_problem{cause=\"" + Label(cause) + "\"} " + (on ? "1" : "0") + '\n';
    }

    Family(out, "varnex_history_pending", "gauge", "History entries not yet written to the store.");
    out += "varnex_history_pending " + Number(quint64(std::max(s.HistoryPending, 0))) + '\n';

    Family(out, "varnex_store_up", "gauge", "1 while the history store can be written, else 0.");
    out += "varnex_store_up " + Number(quint64(s.StoreReachable)) + '\n';

    Family(out, "process_start_time_seconds", "gauge", "Start time of the process since the Unix epoch in seconds.");
    out += "process_start_time_seconds " + Number(double(s.StartedMs) / 1000.0) + '\n';
    return out;
}

} // namespace TMetricsText
