#pragma once

#include <QDateTime>
#include <QList>
#include <QMetaType>
#include <QString>

// One entry of the notification history: a notification or call with the numbers it resolved
// to, or an event of the links or the program (then only At, Kind and Content are set).
struct TNotice
{
    struct TNumber
    {
        QString Number;
        QString Name;
        QString KeyPosition; // "组m 行r 列c", or NoKeyText()
        QDateTime SentAt;    // when its key command left for the switch; null if it did not
    };

    static QString NoKeyText() { return QStringLiteral("无键位"); }

    qint64 Id = 0; // time-ordered: newer entries have larger ids
    QDateTime At;  // received
    QString Kind;
    int MessageId = -1;
    QString Target; // group or number
    QString TargetName; // the group's or extension's name in the directory then; may be empty
    QString Content;
    int PlayCount = 0;
    int Channel = -1;
    QString Outcome; // 已启动 / 排队 / 排队已满，未执行 / 通道闭塞，未执行 / 无成员 (older files: 通道忙, 通道未启用)
    QList<TNumber> Numbers;
    QDateTime SentAt; // when the key commands left
    bool SwitchUp = false;
    qint64 LatencyMs = -1; // arrival to key commands sent

    // Times as the history stores and shows them (sortable as text); empty for a null time.
    static QString TimeText(const QDateTime &time);

    QString NumbersText() const;
    // A link event or the program's start or stop, not a notification.
    bool IsEvent() const { return MessageId < 0; }
    // A link event whose Content is the peer's address rather than a text.
    bool ContentIsPeer() const;
    // The target as the operator reads it: "3（一采区）", or the bare number when it has no name.
    QString TargetText() const;
    // About what the entry takes in memory, for bounding what waits to be written.
    qint64 ApproxBytes() const;
    // One line for a log: kind, message, target, outcome, latency.
    QString Summary() const;
};
Q_DECLARE_METATYPE(TNotice)
