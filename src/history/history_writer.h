#pragma once

#include "history/notice.h"

#include <QObject>
#include <QTimer>

#include <map>

// Writes history entries to their own SQLite file (WAL journal) on the thread it lives on, in
// batches: what is put waits at most FlushMs, and a notice put again (its keys sent) replaces
// the one still waiting. A file that cannot be written keeps what waits (up to MaxWaiting
// entries) and is tried again; Failed is signalled once per spell, Writable when it ends.
class THistoryWriter : public QObject
{
    Q_OBJECT
public:
    static constexpr int FlushMs = 200;
    static constexpr int RetryMs = 2000;
    static constexpr size_t MaxWaiting = 100000;

    explicit THistoryWriter(const QString &path);
    ~THistoryWriter() override;

    // All of these are called on the writer's thread (queued from the program's).
    void Open();
    void Put(const TNotice &notice);
    void Purge(int days);
    // Writes what waits and closes the file.
    void Close();

    static QString ConnectionName(const QString &path);

Q_SIGNALS:
    void Failed(const QString &why);
    void Writable();

private:
    void Flush();
    bool Prepare(QString *why);

    QString Path;
    QString Connection;
    bool Ready = false;
    bool Failing = false;
    int PurgeDays = 0;
    std::map<qint64, TNotice> Waiting;
    QTimer *Timer = nullptr;
};
