#include "settings/comm_settings.h"

#include "common/configuration.h"
#include "common/settings_store.h"

namespace {
// The value names as the dialog writes them; receive ports under their historic spelling,
// which matches the names read at start-up regardless of case.
const QStringList HostNames{"IpAddress", "IpAddress1", "IpPort", "RecIPport", "LocalIPAddr"};
const QStringList PlatformNames{"CommIpAddress", "CheckType", "CommIpPort", "CommRecIPport", "CommLocalIPAddr"};
} // namespace

QStringList TCommSettings::Labels(TSide side)
{
    return side == Host ? QStringList{"左侧CPU地址", "右侧CPU地址", "发送端口号", "接收端口号", "本机内网IP"}
                        : QStringList{"安检IP地址", "校验类型", "我方发送端口", "我方接收端口", "本机外网IP"};
}

TCommSettings::TForm TCommSettings::Form(TSide side, const TConfiguration &config)
{
    const QString own = TConfiguration::HostOwnAddress();
    const QStringList localEntries{QStringLiteral("192.168.0.152"), QStringLiteral("192.168.0.86"), own};
    TForm form;
    form.Side = side;
    form.Labels = Labels(side);
    if (side == Host) {
        form.Title = QStringLiteral("跟调度机连接通讯设置对话框");
        QStringList receivePorts;
        for (int port = 13001; port <= 13008; ++port)
            receivePorts << QString::number(port);
        form.Entries = {{"192.168.0.194"}, {"192.168.0.195"}, {"18196"}, receivePorts, localEntries};
        form.Texts = QStringList{config.IpAddress, config.IpAddress1, QString::number(config.IpPort),
                                 QString::number(config.RecIpPort), config.LocalIPAddr};
    } else {
        form.Title = QStringLiteral("跟安检系统通讯设置对话框");
        form.Entries = {{"10.1.31.240"}, CheckTypes(), {"20006"}, {"20011"}, localEntries};
        form.Texts = QStringList{config.CommIpAddress, config.CheckType, QString::number(config.CommIpPort),
                                 QString::number(config.CommRecIpPort), config.CommLocalIPAddr};
    }
    return form;
}

bool TCommSettings::IsDottedAddress(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (const QString &part : parts) {
        if (part.isEmpty() || part.size() > 3)
            return false;
        for (const QChar c : part)
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
        if (part.toInt() > 255)
            return false;
    }
    return true;
}

TCommSettings::TProblem TCommSettings::Check(TSide side, const QStringList &texts)
{
    const QStringList labels = Labels(side);
    if (texts.size() != Rows)
        return {0, QStringLiteral("设置不完整。")};
    if (texts[0].trimmed().isEmpty())
        return {0, QStringLiteral("%1 不能为空。").arg(labels[0])};
    const QList<int> addressRows = side == Host ? QList<int>{0, 1, 4} : QList<int>{0, 4};
    for (int row = 0; row < Rows; ++row) {
        const QString &text = texts[row];
        if (addressRows.contains(row)) {
            if (!(row == 4 && text.isEmpty()) && !IsDottedAddress(text))
                return {row, QStringLiteral("%1 \"%2\" 不是 IPv4 地址（四个 0 到 255 之间的数，用点分隔，如 192.168.0.194）。")
                                 .arg(labels[row], text)};
        } else if (row == 2 || row == 3) {
            int port = 0;
            if (!ParseDecimalInt(text, &port) || port < 1 || port > 65535)
                return {row, QStringLiteral("%1 \"%2\" 不是 1 到 65535 之间的整数。").arg(labels[row], text)};
        } else if (side == Platform && row == 1) {
            if (!CheckTypes().contains(text))
                return {row, QStringLiteral("%1 \"%2\" 不是可用的校验类型（%3）。")
                                 .arg(labels[row], text, CheckTypes().join(QStringLiteral("、")))};
        }
    }
    return {};
}

TCommSettings::TOutcome TCommSettings::Apply(TSide side, const QStringList &texts, TConfiguration &config,
                                            TSettingsStore &store)
{
    const TProblem problem = Check(side, texts);
    if (problem.Row >= 0)
        return {problem.Text + QStringLiteral("设置未改变。"), {}};
    int ports[2] = {};
    for (int i = 0; i < 2; ++i)
        ParseDecimalInt(texts[2 + i], &ports[i]);

    const int oldReceivePort = side == Host ? config.RecIpPort : config.CommRecIpPort;
    if (side == Host) {
        config.IpAddress = texts[0];
        config.IpAddress1 = texts[1];
        config.IpPort = ports[0];
        config.RecIpPort = ports[1];
        config.LocalIPAddr = texts[4];
    } else {
        config.CommIpAddress = texts[0];
        config.CheckType = texts[1];
        config.CommIpPort = ports[0];
        config.CommRecIpPort = ports[1];
        config.CommLocalIPAddr = texts[4];
    }

    const QStringList &names = side == Host ? HostNames : PlatformNames;
    const QStringList values{texts[0], texts[1], QString::number(ports[0]), QString::number(ports[1]), texts[4]};
    store.Open();
    for (int i = 0; i < Rows; ++i) {
        QString why;
        if (!store.Write(names[i], values[i], &why))
            return {QStringLiteral("设置已生效，但未能保存: %1").arg(why), {}};
    }
    if (ports[1] != oldReceivePort)
        return {{}, QStringLiteral("新的接收端口 %1 将在程序下次启动时生效。").arg(ports[1])};
    return {};
}
