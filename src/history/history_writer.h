#pragma once

#include "history/history_spool.h"
#include "history/notice.h"
#include "store/store_place.h"

#include <QList>
#include <QObject>
#include <QTimer>

#include <atomic>
#include <map>
#include <set>

// Writes history entries to their own SQLite file (WAL journal, synchronous=NORMAL), or to the
// shared server, on the thread it lives on. Whatever is put is committed as soon as the writer is free, all of it in
// one transaction (a crash of the program loses only what was not yet handed over); a notice
// put again (its keys sent) replaces the one still waiting. A file that cannot be written keeps
// what waits, up to MaxWaitingBytes, and is tried again every RetryMs; Failed is signalled once
// per spell, Writable when it ends, Dropping once when the oldest waiting entries start to go.
// Meanwhile what waits is also appended to a spool file beside the history (THistorySpool), so
// a program killed or stopped during the outage loses nothing; the spool is read back when the
// writer opens and forwarded with the next write.
class THistoryWriter : public QObject
{
    Q_OBJECT
public:
    static constexpr int RetryMs = 2000;
    static constexpr qint64 MaxWaitingBytes = 64ll << 20;
    // The longest a write may go without an entry stored before the connection is taken as hung
    // and cut; at a stop it is given less.
    static constexpr int WriteDeadlineMs = 20000;
    static constexpr int StopWriteMs = 2000;

    // Which unfinished notification entries to mark interrupted (THistory::MarkInterrupted):
    // ids are the history's, microseconds since the epoch.
    struct TInterruption
    {
        qint64 Before = 0;      // entries made before this
        qint64 StartedFrom = 0; // started since: may still run
        qint64 QueuedFrom = 0;  // waiting since: may still wait
        QList<qint64> Own;      // known to run
    };

    explicit THistoryWriter(TStorePlace place);
    ~THistoryWriter() override;

    // All of these are called on the writer's thread (queued from the program's).
    void Open();
    void Put(const TNotice &notice);
    // Put for an entry that was counted by Queue.
    void PutQueued(const TNotice &notice)
    {
        Queued.fetch_sub(1, std::memory_order_relaxed);
        Put(notice);
    }
    void Purge(int days);
    void MarkInterrupted(const TInterruption &mark);
    // Writes what waits and closes the file; what cannot be written goes to the spool.
    void Close();
    // What Close could neither write nor spool (read after Close has returned).
    int Unwritten() const { return int(Waiting.size()) - SpooledAtClose; }
    // What Close left in the spool, and where.
    int Spooled() const { return SpooledAtClose; }
    QString SpoolPath() const { return Spool.FilePath(); }

    // For any thread. An entry handed over (queued for Put): counted at once, so what waits
    // shows while the writer is still busy with a write.
    void Queue() { Queued.fetch_add(1, std::memory_order_relaxed); }
    // What waits to be written: handed over, or held for the next write.
    int WaitingCount() const { return Queued.load(std::memory_order_relaxed) + WaitingNow.load(std::memory_order_relaxed); }
    // The program stops: a store that already fails is not tried again, and a write gets
    // StopWriteMs only.
    void AskStop() { Stopping.store(true); }
    // Entries dropped since the file became unwritable.
    qint64 DroppedCount() const { return Dropped; }

    static QString ConnectionName(const TStorePlace &place);

Q_SIGNALS:
    void Failed(const QString &why);
    // The file can be written again; dropped entries were lost meanwhile.
    void Writable(qint64 dropped);
    void Dropping(qint64 limitBytes);
    // Committed just now, as they stand in the file.
    void Written(const QList<TNotice> &entries);
    // Once, when the file is first ready: the last notice each play channel started.
    void Restored(const QList<TNotice> &last);

private:
    void Flush();
    // One try at storing what waits (the purge and the marks too), in one transaction; the
    // entries marked go into marked.
    bool Write(QString *why, QList<qint64> &marked);
    void Schedule();
    bool Prepare(QString *why);
    int DeadlineMs() const { return Stopping.load() ? StopWriteMs : WriteDeadlineMs; }
    // Appends what changed since the last append to the spool; false with why.
    bool SpoolChanged(QString *why);
    void LoadSpool();
    // In the open transaction: the ids it marked, appended to marked; false with why.
    bool Mark(const TInterruption &mark, QList<qint64> &marked, QString *why);

    TStorePlace Place;
    QString Connection;
    bool Ready = false;
    bool Failing = false;
    bool RestoreDone = false;
    int PurgeDays = 0;
    QList<TInterruption> Marks;
    std::map<qint64, TNotice> Waiting;
    qint64 WaitingBytes = 0;
    std::atomic<int> WaitingNow{0};
    std::atomic<int> Queued{0};
    std::atomic<bool> Stopping{false};
    bool Cut = false; // the last write ran out of time: the server hangs
    THistorySpool Spool;
    std::set<qint64> Unspooled; // waiting, changed since the spool was last appended to
    bool SpoolFailed = false;
    int SpooledAtClose = 0;
    qint64 Dropped = 0;
    QTimer *Timer = nullptr;
};
