#pragma once

#include "status/status_snapshot.h"

#include <QList>
#include <QStringList>

// What stands between an alarm and a phone, read from one snapshot of the program: every cause
// that would keep a notification from reaching a phone now, in the order an alarm meets them
// (the platform, the directory, the channel, the keys, the switch, the sound, the store). One
// reading for the memo, the journal, the control socket, the metrics and the page.
class TAlarmPath
{
public:
    // A failure counts as current for this long after the last one (wrong addresses, check
    // codes, sends): long enough to be seen, short enough to clear once it stops.
    static constexpr qint64 RecentMs = 60000;
    // As long as the switch link waits before it counts a silent switch as lost.
    static constexpr qint64 SwitchGraceMs = 10000;

    static QList<TStatusSnapshot::TAlarmProblem> Read(const TStatusSnapshot &s, qint64 nowMs);
    // Every cause Read can name, for metrics that show 0 as well as 1.
    static const QStringList &Causes();
    // Causes whose every coming is said where they happen (a failed send, a dropped datagram,
    // the sound device, the store): a memo line of the alarm path would say it twice.
    static bool SaidWhereItHappens(const QString &cause);
};
