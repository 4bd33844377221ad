#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>

// A notification or call for a play channel, whole: what it dials and plays, what its box shows
// once it starts, and what the history says of it. A request that waits behind the running one
// keeps all of this, so it is carried out later exactly as it was asked for.
struct TPlayRequest
{
    bool IsCall = false; // a phone call: starts at once, whatever the channel is doing
    QString PlayText;
    bool TextMode = false; // asked for its text to be played (播放文本)
    QList<int32_t> Numbers; // in dialling order; the channel takes at most its limit
    QStringList Names;      // beside Numbers, for the history

    // The box, from the start on.
    QString CallTypeLabel;
    QString PlayCountLabel;
    QString TotalLabel;
    QStringList NumberLines; // added to 播放号码 at the start

    // The history's view of it.
    QString Kind;
    int MessageId = -1;
    QString Target;
    QString TargetName; // the group's or extension's name in the directory
    QString Content;
    int PlayCount = 0;
    // The history entry it is written under from its arrival on (0: none yet): one that waits
    // and starts later stays one entry, its outcome changed, dated when it arrived.
    qint64 HistoryId = 0;
    QDateTime HistoryAt;
};
