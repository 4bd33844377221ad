#pragma once

#include "common/role.h"

#include <QMutex>
#include <QObject>
#include <QString>

#include <atomic>

class THistory;
class TPlayChannels;
class TSendGate;

// The part this program plays and its changes. Alone (Role=single) it always works. Of a pair
// it starts as backup: its directory copy and windows stay live, but the send gate is shut
// (nothing leaves on either link, the platform's requests are dropped) and no channel runs.
// Told master it works; told backup or fault it stops its channels at once, without a key press.
// Each change is a history entry, and whatever was running or waiting when it came is marked
// interrupted there, so no notification is carried out twice by the two programs.
class TPairRole : public QObject
{
    Q_OBJECT
public:
    TPairRole(TSendGate &gate, TPlayChannels &channels, THistory &history, QObject *parent = nullptr);

    // The cause of the backup role a pair starts with.
    static QString StartCause() { return QStringLiteral("启动"); }
    // At start, before the links open: single works at once, a pair waits as backup (Changed
    // says so, without a history entry: nothing changed).
    void Start(bool pair);
    bool IsPair() const { return Pair.load(); }

    // Any thread.
    TRole Current() const { return Now.load(); }
    QString Cause() const;
    qint64 SinceMs() const { return Since.load(); }
    // The gate shut at once, from any thread, for a role that does not work: the rest follows
    // on the main thread with Change().
    void Silence() const;

    // Main thread. The role with its cause ("keepalived", an operator's name); empty on success,
    // else why not (a single program has no role to change).
    QString Change(TRole role, const QString &cause);
    // What a history entry of a change says: "主用（keepalived）".
    static QString EntryText(TRole role, const QString &cause);

    // How long a notification can run on a channel, and wait behind others.
    static qint64 RunningMs();
    static qint64 WaitingMs();

Q_SIGNALS:
    void Changed(TRole role, const QString &cause);

private:
    TSendGate &Gate;
    TPlayChannels &Channels;
    THistory &History;
    std::atomic<bool> Pair{false};
    std::atomic<TRole> Now{TRole::Single};
    std::atomic<qint64> Since{0};
    mutable QMutex CauseGuard;
    QString LastCause;
};
