#include "platform_link/test_requests.h"

#include "common/text_cut.h"
#include "platform_link/ldtx_frame.h"
#include "platform_link/platform_link.h"
#include "platform_link/unit_crc.h"
#include "common/configuration.h"
#include "common/traffic_log.h"

#include <QtEndian>


TTestRequests::TTestRequests(const TConfiguration &config, TTrafficLog &traffic, TPlatformLink &link)
    : Config(config), Traffic(traffic), Link(link)
{
}

void TTestRequests::SendRequest(uint8_t type, const QByteArray &payload)
{
    const auto frame = LdtxFrame::Build(payload, type, LdtxFrame::MonitorRequest, CommMsgId++, Config.CheckType);
    if (!frame)
        return;
    Link.ShowSentCheckCode(frame->CheckCode);
    if (Link.CommToMonitor().Send(frame->Bytes, Config.CommIpAddress, Config.CommIpPort)) {
        Traffic.Append(QStringLiteral("发送:") + LdtxFrame::HexDump(frame->Bytes));
        if (Sent)
            Sent(QStringLiteral("类型%1 %2字节").arg(type).arg(payload.size()), CommMsgId - 1);
    }
}

void TTestRequests::SendGroupListRequest()
{
    SendRequest(LdtxFrame::GroupListQuery, QByteArray());
}

void TTestRequests::SendDeviceStatusRequest()
{
    SendRequest(LdtxFrame::DeviceStatusQuery, QByteArray());
}

void TTestRequests::SendPhoneCall(const QString &dialNumber)
{
    int called = 0;
    if (!ParseDecimalInt(dialNumber, &called))
        called = 0;
    SendRequest(LdtxFrame::PhoneCall, LdtxFrame::Le32(TestCaller) + LdtxFrame::Le32(called));
}

QString TTestRequests::SendVoiceNotify(const QString &playType, const QString &groupOrNumber, const QString &playMode,
                                       const QString &playTimes, const QString &content)
{
    const struct
    {
        QString Label, Text;
    } fields[] = {{QStringLiteral("播放类型"), playType},
                  {QStringLiteral("组号或号码"), groupOrNumber},
                  {QStringLiteral("播放方式"), playMode},
                  {QStringLiteral("播报次数"), playTimes}};
    int values[4] = {};
    for (int i = 0; i < 4; ++i)
        if (!ParseDecimalInt(fields[i].Text, &values[i]))
            return QStringLiteral("%1 \"%2\" 不是整数，未发送。").arg(fields[i].Label, fields[i].Text);

    QByteArray payload;
    payload += char(values[0] & 0xFF);
    payload += LdtxFrame::Le32(values[1]);
    payload += char(values[2] & 0xFF);
    payload += Utf8CutAtBoundary(content, MaxContentBytes);
    payload += char(values[3] & 0xFF);
    SendRequest(LdtxFrame::VoiceNotify, payload);
    return QString();
}

void TTestRequests::TestCrc()
{
    static const QByteArray EmptyHeader("LDTX\x04\x00\x00\x00\x00\x00", 10);
    Link.ShowSentCheckCode(GetStrCrc(EmptyHeader, Config.CheckType));
}
