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
        form.Entries = {{"10.1.31.240"}, {"CRC-16/IBM", "CRC-16/MODBUS"}, {"20006"}, {"20011"}, localEntries};
        form.Texts = QStringList{config.CommIpAddress, config.CheckType, QString::number(config.CommIpPort),
                                 QString::number(config.CommRecIpPort), config.CommLocalIPAddr};
    }
    return form;
}

TCommSettings::TOutcome TCommSettings::Apply(TSide side, const QStringList &texts, TConfiguration &config,
                                            TSettingsStore &store)
{
    const QStringList labels = Labels(side);
    if (texts.size() != Rows || texts[0].trimmed().isEmpty())
        return {QStringLiteral("%1 不能为空。").arg(labels[0]), {}};
    int ports[2] = {};
    for (int i = 0; i < 2; ++i)
        if (!ParseDecimalInt(texts[2 + i], &ports[i]) || ports[i] < 1 || ports[i] > 65535)
            return {QStringLiteral("%1 \"%2\" 不是 1 到 65535 之间的整数，设置未改变。").arg(labels[2 + i], texts[2 + i]), {}};

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
