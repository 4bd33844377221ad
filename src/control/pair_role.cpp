#include "control/pair_role.h"

#include "channels/play_channels.h"
#include "common/send_gate.h"
#include "history/history.h"

#include <QDateTime>
#include <QMutexLocker>

TPairRole::TPairRole(TSendGate &gate, TPlayChannels &channels, THistory &history, QObject *parent)
    : QObject(parent), Gate(gate), Channels(channels), History(history)
{
}

void TPairRole::Start(bool pair)
{
    Pair.store(pair);
    Now.store(pair ? TRole::Backup : TRole::Single);
    Since.store(QDateTime::currentMSecsSinceEpoch());
    Gate.SetOpen(!pair);
    {
        QMutexLocker lock(&CauseGuard);
        LastCause = pair ? StartCause() : QString();
    }
    if (pair)
        Q_EMIT Changed(TRole::Backup, StartCause());
}

QString TPairRole::Cause() const
{
    QMutexLocker lock(&CauseGuard);
    return LastCause;
}

void TPairRole::Silence() const
{
    Gate.SetOpen(false);
}

qint64 TPairRole::RunningMs()
{
    // Off-hook and dialling, and a tick or two of the 1 s timer coming late.
    return qint64(TPlayChannels::OffHookTicks + TPlayChannels::DialingTicks + 2) * TPlayChannels::TickMs;
}

qint64 TPairRole::WaitingMs()
{
    return qint64(TPlayChannels::MaxQueued + 1) * RunningMs();
}

QString TPairRole::EntryText(TRole role, const QString &cause)
{
    const QString text = Role::Text(role);
    return cause.trimmed().isEmpty() ? text : text + QStringLiteral("（") + cause.trimmed() + QStringLiteral("）");
}

QString TPairRole::Change(TRole role, const QString &cause)
{
    if (!Pair.load() || role == TRole::Single)
        return Pair.load() ? QStringLiteral("a program of a pair is master, backup or fault")
                           : QStringLiteral("this program runs alone (Role=single): it has no role to change");
    const TRole before = Now.load();
    const bool works = Role::Works(role);
    if (!works) {
        Gate.SetOpen(false);
        if (Role::Works(before) || Channels.IsBusy(0) || !Channels.Channel(0).Queue.empty()) {
            // What runs here stops now; the history says so for each, by its own entry.
            QList<qint64> own;
            for (int channel = 0; channel < TPlayChannels::Count; ++channel)
                if (const TNotice *notice = History.LastOf(channel); notice && Channels.IsBusy(channel))
                    own.append(notice->Id);
            Channels.StopAll();
            History.MarkInterrupted(RunningMs(), WaitingMs(), own);
        }
    } else if (!Role::Works(before)) {
        // What the one that worked before left running or waiting is not carried out again.
        History.MarkInterrupted(RunningMs(), WaitingMs());
    }
    if (role == before && Gate.IsOpen() == works)
        return QString();
    {
        QMutexLocker lock(&CauseGuard);
        LastCause = cause.trimmed();
    }
    Now.store(role);
    Since.store(QDateTime::currentMSecsSinceEpoch());
    History.Event(THistory::RoleKind(), EntryText(role, cause));
    Gate.SetOpen(works);
    Q_EMIT Changed(role, cause.trimmed());
    return QString();
}
