#pragma once

#include "channels/sound_state.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

// The running program seen at one moment, read-only: what the control socket, a web face or a
// window shows of it. A plain value, copied freely between threads.
struct TStatusSnapshot
{
    struct TLink
    {
        bool Bound = false;       // its endpoint holds its port
        QString Address;          // the local address bound ("0.0.0.0": every one)
        int Port = 0;
        bool Up = false;          // heard from lately
        QString Peer;             // the platform or the switch CPU last heard
        QString Text;             // as the status bar says it
        quint64 Received = 0;     // datagrams since start
        quint64 Sent = 0;
        qint64 LastReceivedMs = 0; // ms since the epoch; 0: none yet
        qint64 LastSentMs = 0;
        QString State;            // not_heard, up, quiet, wrong (see THealth)
        quint64 SendFailures = 0; // datagrams that could not be sent
        qint64 LastSendFailureMs = 0;
    };
    struct TChannel
    {
        int Number = 0;           // 0 to 7, as the main window (第0路) and the history number them
        QString State;            // idle, blocked, offhook, dialing
        QString Caption;          // as the box shows it: "拨号  170"
        QString Text;             // the notification on it, if any
        QList<qint32> Numbers;    // its called numbers
        int Queued = 0;
    };

    // One thing that keeps an alarm from reaching a phone now: cause is a fixed name (for
    // metrics and rules), text the operator's sentence.
    struct TAlarmProblem
    {
        QString Cause;
        QString Text;
        bool operator==(const TAlarmProblem &) const = default;
    };

    QString Version;
    qint64 StartedMs = 0;
    qint64 TakenMs = 0;           // when this snapshot was made
    QString Role;                 // single, master, backup, fault
    QString RoleText;             // 单机, 主用, 备用, 故障
    QString RoleCause;
    qint64 RoleSinceMs = 0;
    TLink Platform;
    TLink Switch;
    // The platform's requests by kind: group_list, device_status, voice_notify, sms_notify,
    // phone_call, other.
    QList<QPair<QString, quint64>> Requests;
    // Request-to-reply times: counts per bucket of TReplyTimes::BoundsNs (the last one open)
    // and their sum; frames whose check code was wrong.
    QList<quint64> ReplyBuckets;
    quint64 ReplySumNs = 0;
    quint64 CheckFailures = 0;
    quint64 WrongAddressRequests = 0; // datagrams from another address than the platform's
    QString LastWrongAddress;
    qint64 LastWrongAddressMs = 0;
    qint64 LastCheckFailureMs = 0;
    QString CheckType;
    int SilenceSeconds = 0;       // CommSilenceSeconds: the platform counts as quiet after it
    qint64 PlatformHeardMs = 0;   // the platform's last datagram taken (not a stranger's); 0: never
    quint64 DroppedRequests = 0;  // arrived while not working
    quint64 HeldSends = 0;        // datagrams not sent while not working
    QList<TChannel> Channels;
    bool Channel0Enabled = true;
    QString KeyFileProblem;       // empty: key.dat is whole and the keyboard in use has keys
    TSoundState Sound;           // the sound device and the last play's result
    bool SoundKnown = false;      // a player that can tell (a test's stand-in may not)
    int Groups = -1;              // -1: the directory could never be read
    int Extensions = -1;
    bool StoreReachable = true;
    QString StorePlace;
    qint64 StoreFailingSinceMs = 0;
    int HistoryPending = 0;       // entries not yet in the store
    quint64 HistoryWritten = 0;   // entries written (or rewritten) in the store since start
    qint64 LoopLagMs = 0;         // how late the main loop's last heartbeat came
    // What keeps an alarm from reaching a phone now (empty: nothing known), made from the rest.
    QList<TAlarmProblem> AlarmPath;

    QJsonObject ToJson() const;
    // Back from ToJson's object (as the control socket's watchers get it).
    static TStatusSnapshot FromJson(const QJsonObject &json);
    // Why this program should not hold the service address now (empty: it may); heartbeatAgeMs
    // is how long ago the main loop last beat.
    QString Problem(qint64 heartbeatAgeMs, qint64 nowMs) const;
    static constexpr qint64 StalledMs = 2000;
    static constexpr qint64 StoreGraceMs = 30000;
};
