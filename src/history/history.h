#pragma once

#include "common/line_log.h"
#include "history/notice.h"
#include "store/store_place.h"

#include <QObject>
#include <QRandomGenerator>
#include <QThread>
#include <QTimer>

#include <array>
#include <optional>

struct TConfiguration;
class THistoryWriter;
class TKeyTable;

// What happened, when, and whether it reached anyone: notifications and calls with the numbers
// they resolved to and their key positions, when the keys left for the switch, link events,
// start and stop. Entries are made here at once and written by a writer on a thread of its own,
// so a reply or a key press never waits for the file. The last notice of every channel stays
// at hand for its 详情 window; at start the writer reads it back from the file, and a notice
// that starts before that arrives is not replaced by an older one.
class THistory : public QObject
{
    Q_OBJECT
public:
    static QString FileName() { return QStringLiteral("History.sqlite"); }
    static QString Started() { return QStringLiteral("已启动"); }
    static QString Busy() { return QStringLiteral("通道忙"); }
    static QString Disabled() { return QStringLiteral("通道闭塞，未执行"); }
    static QString Queued() { return QStringLiteral("排队"); }
    static QString QueueFull() { return QStringLiteral("排队已满，未执行"); }
    static QString NoMembers() { return QStringLiteral("无成员"); }
    // A notification that was running or waiting when the pair's working program changed: it
    // is not carried out again.
    static QString Interrupted() { return QStringLiteral("主机切换中断"); }
    // The entry of a change of role; its content says to what and why: "主用（keepalived）".
    static QString RoleKind() { return QStringLiteral("主备切换"); }
    static constexpr int Channels = 8;

    THistory(const TConfiguration &config, TKeyTable &keys, QObject *parent = nullptr);
    ~THistory() override;

    // Opens (or creates) folder/History.sqlite, or the history's tables on the server of
    // `server`, on the writer's thread and removes entries older than HistoryDays, then again
    // once a day.
    void Open(const QString &folder, const TStoreUrl &server = TStoreUrl());
    // Writes what waits and stops the writer.
    void Close();
    bool IsOpen() const { return Writer != nullptr; }
    // Where the history is, as an operator is told.
    QString Path() const { return Place.Shown(); }
    const TStorePlace &Where() const { return Place; }
    // Since when its store could not be written (ms since the epoch), 0 while it can.
    qint64 FailingSinceMs() const { return FailingSince; }
    // Entries that wait to be stored: handed to the writer, or held by it.
    int Pending() const;
    // How long entries may wait unstored before the operator is told (a server that hangs
    // makes no error, only a wait), and how long a stop waits for the writer before it cuts a
    // write that hangs.
    static constexpr int StallMs = 10000;
    static constexpr int StopWaitMs = 1000;
    // The writer's entries are looked at this often for a stall (tests call CheckStall).
    void CheckStall(qint64 nowMs);
    // Entries written or rewritten in the store since start: a reader elsewhere (the web
    // process) reads the newest again when this moves.
    quint64 WrittenCount() const { return WrittenEntries; }

    struct TCalled
    {
        QString Number;
        QString Name;
    };
    // A notification or call as it arrives: numbers get their key positions on the current
    // keyboard; the notice becomes the channel's last when it started there. targetName is the
    // group's or extension's name in the directory.
    // An entry given id (from Reserve) is written over that entry, keeping its time.
    TNotice Notice(const QString &kind, int messageId, const QString &target, const QString &content, int playCount,
                   int channel, const QString &outcome, const QList<TCalled> &numbers,
                   const QString &targetName = QString(), qint64 id = 0, const QDateTime &at = QDateTime());
    // An entry's number and time taken now, for what may be written more than once as it goes on.
    qint64 Reserve(QDateTime *at);
    // The channel's key commands have just been queued for the switch.
    void KeysSent(int channel, bool switchUp);
    // A link event, start or stop.
    void Event(const QString &kind, const QString &text = QString());

    // Marks, in place, every notification entry made before now that is not finished as
    // Interrupted(): started within runningMs and not followed by another start on its channel,
    // or waiting (排队) within waitingMs and not carried out or dropped since, and those of own
    // (this program's own running ones). Idempotent; written with the entries that wait.
    void MarkInterrupted(qint64 runningMs, qint64 waitingMs, const QList<qint64> &own = {});
    const TNotice *LastOf(int channel) const;

Q_SIGNALS:
    // A line for the system message memo (the file cannot be written, or can again).
    void Said(const TLogLine &line);
    // A notification's keys have left: it is complete, latency included.
    void NoticeDone(const TNotice &notice);
    void ChannelNoticeChanged(int channel);
    // Entries are in the file now, as they stand there (a notice again once its keys left).
    void Written(const QList<TNotice> &entries);

private:
    qint64 NextId(const QDateTime &at);
    void Post(const TNotice &notice);
    QString KeyPosition(const QString &number);

    const TConfiguration &Config;
    TKeyTable &Keys;
    QThread Thread;
    THistoryWriter *Writer = nullptr;
    TStorePlace Place;
    QTimer DailyPurge;
    qint64 LastId = 0;
    // The last three digits of every id this program makes, drawn at start.
    const qint64 IdSlot = qint64(QRandomGenerator::system()->bounded(1000));
    qint64 FailingSince = 0;
    // Told already: the writer failed, or entries have waited StallMs.
    bool WriterFailing = false;
    bool Stalled = false;
    qint64 WaitingSince = 0; // entries wait, unstored, since then (ms since the epoch)
    QTimer StallWatch;
    void Stored();
    quint64 WrittenEntries = 0;
    void Restore(const QList<TNotice> &last);
    void TakeMarks(const QList<TNotice> &written);

    std::array<std::optional<TNotice>, Channels> Last;
    // Read back from the file: finished before this run, so no key sent now belongs to it.
    std::array<bool, Channels> FromFile{};
};
