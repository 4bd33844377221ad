#pragma once

#include "channels/play_request.h"
#include "history/history.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDeadlineTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <deque>

struct TConfiguration;
class TDirectory;
struct TDirectoryRows;
class TLineLog;
class TPlatformLink;
class TPlayChannels;
class TTraceSink;
class TTrafficLog;

// Acts on the platform's requests: answers the group-list and device-status queries from the
// directory, and places voice notifications and phone calls on play channel 0.
class TRequestDispatcher : public QObject
{
    Q_OBJECT
public:
    // Notifications and calls are recorded there from now on (none when null).
    void SetHistory(THistory *history) { History = history; }
    static constexpr int ReplyMark = 1400; // no row is added once a reply holds more than this
    static constexpr int MaxRows = 255;    // what the count byte can say
    static constexpr uint8_t PlayTextMode = 2; // a voice notification's mode 播放文本

    TRequestDispatcher(const TConfiguration &config, TTrafficLog &traffic, TLineLog &systemLog, TPlatformLink &link,
                       TDirectory &directory, TPlayChannels &channels, TTraceSink &trace, QObject *parent = nullptr);

    // One frame whose check code matched; payload holds its L - 4 bytes.
    void ExecOnCommCommand(uint16_t messageId, uint8_t direction, uint8_t type, QByteArrayView payload);

    // How long a voice notification waits for a directory not read yet (on a server, at
    // start) before it is carried out with what there is.
    static constexpr int DirectoryWaitMs = 10000;
    // Voice notifications waiting for the directory.
    int HeldCount() const { return int(Held.size()); }
    // Carries out what waits, with the rows there are (the program stops).
    void ReleaseHeld();

    // "[消息ID:…][消息方向:…][消息类型:…" for a frame's header.
    static QString HeaderLine(uint16_t messageId, uint8_t direction, uint8_t type);

private:
    // A group-list or device-status reply payload, built once per read of the directory: the
    // platform asks for the same listing again and again.
    struct TListing
    {
        quint64 Generation = 0;
        QByteArray Payload; // empty until built: the count byte is always there once it is
        bool TooLong = false; // rows were left out
    };
    void ListingReply(uint8_t type, uint16_t messageId, bool devices);
    void BuildListing(TListing &listing, const TDirectoryRows *rows, bool devices);
    void VoiceNotify(uint16_t messageId, QByteArrayView payload);
    void PhoneCall(uint16_t messageId, QByteArrayView payload, const QString &header);
    // Adds one row to a reply if its count byte and the send limit allow; false when not.
    bool AddRow(QByteArray &reply, const QByteArray &row);
    void SendAns(uint8_t type, uint16_t messageId);
    // Hands a notification to channel 0 and records what became of it.
    void Offer(TPlayRequest request);
    void NoMembers(const TPlayRequest &request);
    void Record(const TPlayRequest &request, const QString &outcome);
    // A request with fewer payload bytes than it needs: one line on the system message memo,
    // nothing carried out, no reply.
    void RefuseShort(uint16_t messageId, const QString &request, qsizetype size, int needed);

    struct THeld
    {
        uint16_t MessageId = 0;
        QByteArray Payload;
        QDeadlineTimer Until;
    };
    // Whether a voice notification waits (for the directory, or behind one that does).
    bool Hold(uint16_t messageId, QByteArrayView payload);
    void CheckHeld();
    void CarryOutFirstHeld();

    const TConfiguration &Config;
    TTrafficLog &Traffic;
    TLineLog &SystemLog;
    THistory *History = nullptr;
    TPlatformLink &Link;
    TDirectory &Directory;
    TPlayChannels &Channels;
    TTraceSink &Trace;
    QByteArray CommAnsBuf;
    TListing Listings[2]; // groups, devices
    std::deque<THeld> Held;
    QTimer HeldCheck;
};
