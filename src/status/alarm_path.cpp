#include "status/alarm_path.h"

namespace {

bool Recent(qint64 lastMs, qint64 nowMs)
{
    return lastMs > 0 && nowMs - lastMs < TAlarmPath::RecentMs;
}

} // namespace

const QStringList &TAlarmPath::Causes()
{
    static const QStringList causes{QStringLiteral("platform_port"),     QStringLiteral("platform_quiet"),
                                    QStringLiteral("wrong_address"),     QStringLiteral("check_code"),
                                    QStringLiteral("platform_send"),     QStringLiteral("directory_unread"),
                                    QStringLiteral("directory_empty"),   QStringLiteral("channel0_disabled"),
                                    QStringLiteral("key_file"),          QStringLiteral("switch_quiet"),
                                    QStringLiteral("switch_send"),       QStringLiteral("sound"),
                                    QStringLiteral("store")};
    return causes;
}

bool TAlarmPath::SaidWhereItHappens(const QString &cause)
{
    static const QStringList said{QStringLiteral("wrong_address"), QStringLiteral("check_code"),
                                  QStringLiteral("platform_send"), QStringLiteral("switch_send"),
                                  QStringLiteral("sound"),         QStringLiteral("store"),
                                  QStringLiteral("directory_unread")};
    return said.contains(cause);
}

QList<TStatusSnapshot::TAlarmProblem> TAlarmPath::Read(const TStatusSnapshot &s, qint64 nowMs)
{
    QList<TStatusSnapshot::TAlarmProblem> out;
    const auto add = [&out](const char *cause, const QString &text) { out.append({QString::fromLatin1(cause), text}); };
    // A backup hears neither link by design: their silence is the master's business.
    const bool works = s.Role != QLatin1String("backup");

    if (!s.Platform.Bound)
        add("platform_port", QStringLiteral("安检侧端口未打开：平台的请求收不到。"));
    else if (works) {
        // Only the platform's own datagrams count: a stranger's keep nothing alive.
        const qint64 silentSinceMs = s.PlatformHeardMs > 0 ? s.PlatformHeardMs : s.StartedMs;
        const bool quiet = s.SilenceSeconds > 0 && silentSinceMs > 0 && nowMs - silentSinceMs >= qint64(s.SilenceSeconds) * 1000;
        if (quiet)
            add("platform_quiet", s.PlatformHeardMs > 0
                                      ? QStringLiteral("安检监控平台 %1 秒未通讯（设置 CommSilenceSeconds = %2）。")
                                            .arg((nowMs - s.PlatformHeardMs) / 1000)
                                            .arg(s.SilenceSeconds)
                                      : QStringLiteral("启动后 %1 秒未收到安检监控平台的任何数据（设置 CommSilenceSeconds = %2）。")
                                            .arg((nowMs - silentSinceMs) / 1000)
                                            .arg(s.SilenceSeconds));
    }
    if (Recent(s.LastWrongAddressMs, nowMs))
        add("wrong_address", QStringLiteral("收到非平台地址的数据 %1 次（最近来自 %2），已丢弃不应答：检查设置 CommIpAddress。")
                                 .arg(s.WrongAddressRequests)
                                 .arg(s.LastWrongAddress));
    if (Recent(s.LastCheckFailureMs, nowMs))
        add("check_code", QStringLiteral("收到校验码不对的帧 %1 个，已丢弃不应答：检查设置 CheckType = %2。")
                              .arg(s.CheckFailures)
                              .arg(s.CheckType));
    if (Recent(s.Platform.LastSendFailureMs, nowMs))
        add("platform_send", QStringLiteral("给安检监控平台的应答发送失败（共 %1 次）。").arg(s.Platform.SendFailures));
    if (s.Groups < 0)
        add("directory_unread", QStringLiteral("号码库未能读取：平台查询不到组和电话。"));
    else if (s.Extensions == 0)
        add("directory_empty", QStringLiteral("号码库中没有任何电话号码：通知不会呼叫任何分机。"));
    if (!s.Channel0Enabled)
        add("channel0_disabled", QStringLiteral("第0路未启用（设置 ifUse0）：平台的通知都不会被执行。"));
    if (!s.KeyFileProblem.isEmpty())
        add("key_file", s.KeyFileProblem);
    // The switch speaks every second; right after start it has not had the time.
    if (works && s.Switch.Bound && !s.Switch.Up && s.StartedMs > 0 && nowMs - s.StartedMs >= TAlarmPath::SwitchGraceMs)
        add("switch_quiet", QStringLiteral("调度主机未通讯：按键命令无处可发。"));
    if (!s.Switch.Bound)
        add("switch_quiet", QStringLiteral("调度主机侧端口未打开：收不到调度主机，按键命令无处可发。"));
    if (Recent(s.Switch.LastSendFailureMs, nowMs))
        add("switch_send", QStringLiteral("按键命令发送失败（共 %1 次）。").arg(s.Switch.SendFailures));
    if (s.SoundKnown && !s.Sound.DeviceFound)
        add("sound", QStringLiteral("声音设备不可用：%1").arg(s.Sound.Problem.isEmpty() ? QStringLiteral("通知的语音放不出来。") : s.Sound.Problem));
    else if (s.SoundKnown && !s.Sound.LastPlayOk)
        add("sound", QStringLiteral("放音失败：%1").arg(s.Sound.Problem));
    if (!s.StoreReachable)
        add("store", QStringLiteral("数据库 %1 无法访问：编辑和通知记录要等它恢复。").arg(s.StorePlace));
    return out;
}
