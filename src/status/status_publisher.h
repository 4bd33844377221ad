#pragma once

#include "status/status_snapshot.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QObject>
#include <QTimer>

#include <atomic>
#include <functional>

struct TConfiguration;
class TDirectory;
class THistory;
class THostLink;
class TPlatformLink;
class TPlayChannels;
class TSendGate;

// What the snapshot is made from: the subsystems it reports on, and what only the program's
// owner knows (its role), asked through a function.
struct TStatusSources
{
    TPlatformLink *Platform = nullptr;
    THostLink *Switch = nullptr;
    TPlayChannels *Channels = nullptr;
    TDirectory *Directory = nullptr;
    THistory *History = nullptr;
    TSendGate *Gate = nullptr;
    struct TRoleState
    {
        QString Name;
        QString Text;
        QString Cause;
        qint64 SinceMs = 0;
    };
    std::function<TRoleState()> Role;
    QString Version;
    // The settings in force (check code, silence), the sound device and key.dat's state.
    const TConfiguration *Config = nullptr;
    std::function<TSoundState()> Sound;
    std::function<QString()> KeyFileProblem;
};

// Makes the status snapshot on the main thread, every RefreshMs and whenever Refresh() is
// called, into a copy any thread may read, and says so (Refreshed); and with each timed refresh
// beats a heartbeat into an atomic, so a reader on another thread sees a main loop that stopped.
// Once a second: an idle program wakes for nothing faster, and a loop that has not beaten for
// TStatusSnapshot::StalledMs has missed two beats, not a late one.
class TStatusPublisher : public QObject
{
    Q_OBJECT
public:
    static constexpr int RefreshMs = 1000;
    static constexpr int HeartbeatMs = RefreshMs;

    explicit TStatusPublisher(TStatusSources sources, QObject *parent = nullptr);

    void Start();
    void Stop();
    // Made anew now (main thread).
    void Refresh();
    // Made anew once the current event is done.
    void Changed();

    // Any thread.
    TStatusSnapshot Snapshot() const;
    qint64 HeartbeatAgeMs() const;
    // Why this program should not hold the service address (empty: it may).
    QString Problem() const;

Q_SIGNALS:
    // The alarm path's causes that came and went since the last snapshot; first: the first
    // snapshot, whose causes all came at once.
    void AlarmPathChanged(const QList<TStatusSnapshot::TAlarmProblem> &came,
                          const QList<TStatusSnapshot::TAlarmProblem> &went, bool first);
    // After every refresh, timed or asked for (main thread).
    void Refreshed();

private:
    void Beat();
    void CompareAlarmPath(const QList<TStatusSnapshot::TAlarmProblem> &now);

    TStatusSources Sources;
    qint64 StartedMs = 0;
    QTimer RefreshTimer;
    QElapsedTimer Clock;
    std::atomic<qint64> LastBeat{0};
    qint64 LagMs = 0;
    bool RefreshQueued = false;
    mutable QMutex Guard;
    TStatusSnapshot Current;
    bool Announcing = false; // started: the alarm path's changes are said
    bool AlarmPathRead = false;
    QList<TStatusSnapshot::TAlarmProblem> AlarmPathBefore;
};
