#pragma once

#include <functional>

#include <QString>
#include <cstdint>

struct TConfiguration;
class TPlatformLink;
class TTrafficLog;

// The operator plays the platform: request frames (direction 0) sent to the platform address,
// numbered by a message-ID counter of their own.
class TTestRequests
{
public:
    static constexpr int MaxContentBytes = 1200;
    static constexpr int TestCaller = 2001;

    TTestRequests(const TConfiguration &config, TTrafficLog &traffic, TPlatformLink &link);

    // Message ID of the next request; 65535 is followed by 0.
    uint16_t CommMsgId = 0;
    // Told of every request that left: what it was and its message ID (for the history).
    std::function<void(const QString &what, int messageId)> Sent;

    void SendGroupListRequest();
    void SendDeviceStatusRequest();
    // Calls the number in dialNumber; text that is not a whole number calls 0.
    void SendPhoneCall(const QString &dialNumber);
    // The test-play dialog's fields. Empty on success, else which field is not a whole number
    // (nothing is sent and the counter is not raised).
    QString SendVoiceNotify(const QString &playType, const QString &groupOrNumber, const QString &playMode,
                            const QString &playTimes, const QString &content);
    // The check code of an empty group-list header under the current check type, shown only.
    void TestCrc();

private:
    void SendRequest(uint8_t type, const QByteArray &payload);

    const TConfiguration &Config;
    TTrafficLog &Traffic;
    TPlatformLink &Link;
};
