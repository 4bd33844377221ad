#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstdint>
#include <optional>

// The platform's frame: magic LDTX, length L (payload + 4), message ID, direction, message type,
// payload and a check code over everything before it. Integers are little-endian.
namespace LdtxFrame {

inline constexpr char Magic[4] = {'L', 'D', 'T', 'X'};
inline constexpr int HeaderSize = 10;   // magic, length, message ID, direction, type
inline constexpr int MinFrameSize = 12; // header and check code, no payload
// Received frames need L below this; sent frames need fewer bytes than this before the code.
inline constexpr int LengthLimit = 1460;
inline constexpr int MaxSentPayload = LengthLimit - HeaderSize - 1; // 1449

enum Direction : uint8_t { MonitorRequest = 0, DispatchReply = 1, DispatchRequest = 2, MonitorReply = 3 };

enum MessageType : uint8_t {
    GroupListQuery = 0,
    DeviceStatusQuery = 1,
    VoiceNotify = 2,
    SmsNotify = 3,
    CallNotifyResult = 4,
    SmsNotifyResult = 5,
    PhoneCall = 6,
};

// The program's own names for the codes; empty for an unknown code.
QString DirectionName(int code);
QString MessageTypeName(int code);

struct TBuiltFrame
{
    QByteArray Bytes;
    uint16_t CheckCode = 0;
};

// The frame for a payload, or nothing when it would reach the send limit.
std::optional<TBuiltFrame> Build(QByteArrayView payload, uint8_t type, uint8_t direction, uint16_t messageId,
                                 const QString &checkType);

// A signed 32-bit number as the four little-endian bytes payloads carry.
QByteArray Le32(int32_t value);

// Every byte as two upper-case hex digits followed by the separator.
QString HexDump(QByteArrayView bytes, char separator = ' ');

} // namespace LdtxFrame
