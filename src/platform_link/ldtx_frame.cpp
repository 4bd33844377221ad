#include "platform_link/ldtx_frame.h"

#include "common/hex_text.h"
#include "platform_link/unit_crc.h"

#include <QtEndian>


namespace LdtxFrame {

QString DirectionName(int code)
{
    switch (code) {
    case MonitorRequest: return QStringLiteral("安全监控系统发起");
    case DispatchReply: return QStringLiteral("调度通信系统回复");
    case DispatchRequest: return QStringLiteral("调度通信系统发起");
    case MonitorReply: return QStringLiteral("安全监控系统回复");
    default: return QString();
    }
}

QString MessageTypeName(int code)
{
    switch (code) {
    case GroupListQuery: return QStringLiteral("分组信息列表获取接口");
    case DeviceStatusQuery: return QStringLiteral("通信设备状态获取接口");
    case VoiceNotify: return QStringLiteral("语音通知接口");
    case SmsNotify: return QStringLiteral("短信通知接口");
    case CallNotifyResult: return QStringLiteral("电话通知反馈结果接口");
    case SmsNotifyResult: return QStringLiteral("短信通知反馈结果接口");
    case PhoneCall: return QStringLiteral("电话呼叫接口");
    default: return QString();
    }
}

std::optional<TBuiltFrame> Build(QByteArrayView payload, uint8_t type, uint8_t direction, uint16_t messageId,
                                 const QString &checkType)
{
    if (HeaderSize + payload.size() >= LengthLimit)
        return std::nullopt;
    const auto length = static_cast<uint16_t>(payload.size() + 4);
    TBuiltFrame frame;
    frame.Bytes.reserve(HeaderSize + payload.size() + 2);
    frame.Bytes.append(Magic, 4);
    frame.Bytes.append(static_cast<char>(length & 0xFF)).append(static_cast<char>(length >> 8));
    frame.Bytes.append(static_cast<char>(messageId & 0xFF)).append(static_cast<char>(messageId >> 8));
    frame.Bytes.append(static_cast<char>(direction)).append(static_cast<char>(type));
    frame.Bytes.append(payload.data(), payload.size());
    frame.CheckCode = GetStrCrc(frame.Bytes, checkType);
    frame.Bytes.append(static_cast<char>(frame.CheckCode & 0xFF)).append(static_cast<char>(frame.CheckCode >> 8));
    return frame;
}

QByteArray Le32(int32_t value)
{
    QByteArray bytes(4, Qt::Uninitialized);
    qToLittleEndian<int32_t>(value, bytes.data());
    return bytes;
}

QString HexDump(QByteArrayView bytes, char separator)
{
    return ::HexLine(QString(), bytes, separator, QString());
}

} // namespace LdtxFrame
