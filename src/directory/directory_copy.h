#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

class QObject;
class QThread;
#include <array>
#include <memory>
#include <cstdint>
#include <vector>

#include "directory/directory_store.h"

class TChangeListener;
class TDM;
class TLineLog;

// The groups and extensions as last committed, in sequence order: what the platform's
// requests are answered from.
struct TDirectoryRows
{
    struct TGroup
    {
        int32_t Number = 0;
        QString Name;
        QByteArray Row; // as a group-list reply carries it
    };
    struct TPhone
    {
        int32_t Number = 0;
        QString Name;
        int Status = 0;
        std::array<QString, 8> Groups; // GroupNo1 … GroupNo8 as stored; NULL as a null text
        QByteArray Row; // as a device-status reply carries it
    };

    // A reply row: number (little-endian), name length, name in UTF-8 cut to 50 bytes between
    // characters, and for a device its status byte.
    static QByteArray WireRow(int32_t number, const QString &name, const int *status);
    std::vector<TGroup> Groups;
    std::vector<TPhone> Phones;
    // Counts the reads of a TDirectoryCopy from 1, so what is built from a copy can tell that
    // the copy has been read anew.
    quint64 Generation = 0;

    // The extensions with any group slot equal to the group's text, in sequence order.
    std::vector<const TPhone *> Members(const QString &group) const;
};

// Keeps TDirectoryRows in memory so the links never wait for the directory file: a file locked
// or damaged by another program leaves the last copy in use (the operator is told once, and
// again when it can be read). The copy is read anew, on a connection of its own that never
// waits for a lock, after this program's own writes and when another program has committed
// (SQLite's data_version), looked at when a request needs the rows.
class TDirectoryCopy
{
public:
    // How long a read copy is used before data_version is looked at again, and how long after
    // a failed read the next one is tried.
    static constexpr qint64 DefaultRecheckMs = 100;
    // The longest a read of the rows may take before the server is taken as hung.
    static constexpr int ReadDeadlineMs = 10000;
    // Tests set it long, to show what is read without looking at data_version.
    void SetRecheckMs(qint64 ms) { RecheckMs = ms; }

    TDirectoryCopy(TDM &store, TLineLog &systemLog);
    ~TDirectoryCopy();
    TDirectoryCopy(const TDirectoryCopy &) = delete;
    TDirectoryCopy &operator=(const TDirectoryCopy &) = delete;

    // The program stops: the reader's thread is told to end (a read that hangs on the server is
    // cut) without waiting for it; the destructor waits. The rows stay as they are.
    void Stop();

    // The rows to answer from; null when none could ever be read.
    const TDirectoryRows *Rows();
    // The rows as last read, without looking at the file: for a status, never for an answer.
    const TDirectoryRows *Latest() const { return Loaded ? &Copy : nullptr; }
    // Since when the directory could not be read (ms since the epoch), 0 while it can. On a
    // server it is checked every second, whether anything is asked or not.
    qint64 FailingSinceMs() const { return Failing ? FailingSince : 0; }
    // The next request looks at the file again at once.
    void Expire() { Checked.invalidate(); }
    // From this many extensions on, a copy is read anew on a thread of its own and swapped in
    // when complete; the requests meanwhile are answered from the rows before.
    static constexpr size_t LargeRows = 5000;
    // A read on that thread is under way.
    bool IsRenewing() const { return Renewing; }
    // Whether rows were ever read. On a server the first rows come a moment after the first
    // Rows(): start-up waits for them before it opens the platform's port.
    bool IsLoaded() const { return Loaded; }
    // On a server, no rows read yet: they come from the reader's thread once it reaches the
    // server. A notification that needs them waits a while rather than finding nobody.
    bool Awaited() const { return !Loaded && Store.OnServer(); }
    // Read since this program's last write (on a server that read comes a moment after it).
    bool IsCurrent() const { return Loaded && SeenWrites == TDM::Writes(); }

    static QString UnreadableText() { return QStringLiteral("电话号码库暂时无法读取，平台的请求按上次读取的号码应答: "); }
    static QString NeverReadText() { return QStringLiteral("电话号码库无法读取，平台的请求按空号码库应答: "); }
    // Said when a directory that could not be read at start is read at last: nothing was
    // readable before, so not "again".
    static QString FirstReadText() { return QStringLiteral("电话号码库已可以读取，平台的请求按号码库应答。"); }
    static QString ReadableAgainText() { return QStringLiteral("电话号码库又可以读取了。"); }

private:
    bool Open();
    void StartReader();
    // On a server: the reader thread listens for the directory's change notices and reads the
    // rows on each (and after this program's own writes); the links never touch the server.
    void Follow();
    void ReadOnServer(quint64 writes);
    bool Read(QString *error);
    static bool ReadRows(const QString &connection, TDirectoryRows &rows, qint64 *version, QString *error);
    void ReadInBackground(quint64 writes, qint64 version);
    // The operator is told once when reading starts to fail, and once when it works again.
    void Fail(const QString &why);
    void Succeed(bool wasLoaded);

    TDM &Store;
    TLineLog &SystemLog;
    QString Name;
    QString Folder; // the store's folder the connection was opened on
    bool IsOpen = false;
    TDirectoryRows Copy;
    bool Loaded = false;
    bool Failing = false;
    qint64 FailingSince = 0;
    quint64 SeenWrites = 0;
    quint64 Reads = 0;
    qint64 SeenVersion = -1;
    QElapsedTimer Checked;
    qint64 RecheckMs = DefaultRecheckMs;
    bool Renewing = false;
    std::unique_ptr<QObject> Receiver;      // on the copy's thread: takes the rows read on the other
    std::unique_ptr<QThread> Reader;        // started with the first large read
    std::unique_ptr<QObject> ReaderContext; // lives on Reader
    bool Listening = false;
    bool Stopped = false;
    quint64 AskedWrites = 0;
    // On the reader thread only:
    TChangeListener *Listener = nullptr;
    bool ReadQueued = false;
    quint64 ServerWrites = 0;
};
