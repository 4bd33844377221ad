#include "history/history.h"

#include "history/history_writer.h"
#include "common/configuration.h"
#include "keyboard/key_table.h"
#include "store/sql_engine.h"
#include "store/statement_deadline.h"

#include <QDir>
#include <QSemaphore>

#include <memory>
#include <utility>

THistory::THistory(const TConfiguration &config, TKeyTable &keys, QObject *parent)
    : QObject(parent), Config(config), Keys(keys)
{
    DailyPurge.setInterval(24 * 60 * 60 * 1000);
    connect(&DailyPurge, &QTimer::timeout, this, [this] {
        if (Writer)
            QMetaObject::invokeMethod(Writer, [w = Writer, days = Config.HistoryDays] { w->Purge(days); });
    });
    StallWatch.setInterval(1000);
    connect(&StallWatch, &QTimer::timeout, this, [this] { CheckStall(QDateTime::currentMSecsSinceEpoch()); });
}

THistory::~THistory()
{
    Close();
}

void THistory::Open(const QString &folder, const TStoreUrl &server)
{
    Close();
    Place = TStorePlace{QDir(folder).filePath(FileName()), server};
    WriterFailing = Stalled = false;
    WaitingSince = 0;
    Writer = new THistoryWriter(Place);
    // A stop of an earlier history on the same place cut its statements.
    TStatementDeadline::Resume(THistoryWriter::ConnectionName(Place));
    Writer->moveToThread(&Thread);
    connect(&Thread, &QThread::finished, Writer, &QObject::deleteLater);
    connect(Writer, &THistoryWriter::Failed, this,
            [this](const QString &why) {
                if (FailingSince == 0)
                    FailingSince = QDateTime::currentMSecsSinceEpoch();
                const bool told = std::exchange(WriterFailing, true) || Stalled;
                if (!told)
                    Q_EMIT Said({TSqlEngine::WithReason(QStringLiteral("通知记录无法写入 %1（记录暂存，稍后重试）").arg(Path()), why),
                                 TLogLevel::Error});
            });
    connect(Writer, &THistoryWriter::Writable, this, [this](qint64 dropped) {
        FailingSince = 0;
        WriterFailing = Stalled = false;
        WaitingSince = 0;
        if (dropped == 0)
            Q_EMIT Said({QStringLiteral("通知记录可以写入了: %1").arg(Path()), TLogLevel::Notice});
        else
            Q_EMIT Said({QStringLiteral("通知记录可以写入了: %1（其间最早的 %2 条记录因积压过多已丢弃）").arg(Path(), QString::number(dropped)),
                         TLogLevel::Error});
    });
    connect(Writer, &THistoryWriter::Dropping, this, [this](qint64 limitBytes) {
        Q_EMIT Said({QStringLiteral("通知记录积压超过 %1 MB，开始丢弃最早的记录（可以写入时说出丢弃了多少条）").arg(limitBytes >> 20),
                     TLogLevel::Error});
    });
    connect(Writer, &THistoryWriter::Written, this, &THistory::Stored);
    connect(Writer, &THistoryWriter::Written, this, &THistory::Written);
    connect(Writer, &THistoryWriter::Written, this, &THistory::TakeMarks);
    connect(Writer, &THistoryWriter::Restored, this, &THistory::Restore);
    Thread.setObjectName(QStringLiteral("history"));
    Thread.start(QThread::LowPriority);
    QMetaObject::invokeMethod(Writer, [w = Writer, days = Config.HistoryDays] {
        w->Open();
        w->Purge(days);
    });
    DailyPurge.start();
    StallWatch.start();
}

void THistory::Close()
{
    DailyPurge.stop();
    StallWatch.stop();
    if (!Writer)
        return;
    // A stop never waits for a server that hangs: the writer gets a moment to store what
    // waits, then its statement is cut and what waits goes to the spool on the local disk.
    Writer->AskStop();
    auto done = std::make_shared<QSemaphore>();
    QMetaObject::invokeMethod(Writer, [w = Writer, done] {
        w->Close();
        done->release();
    });
    if (!done->tryAcquire(1, StopWaitMs)) {
        TStatementDeadline::Interrupt(THistoryWriter::ConnectionName(Place));
        done->acquire();
    }
    // The writer's thread waits now: what it could not write is said here, before the program ends.
    const int unwritten = Writer->Unwritten();
    const int spooled = Writer->Spooled();
    if (spooled > 0)
        Q_EMIT Said({QStringLiteral("通知记录 %1 在程序停止时无法写入：%2 条记录已暂存到 %3，可以写入时自动补写。")
                         .arg(Path(), QString::number(spooled), QDir::toNativeSeparators(Writer->SpoolPath())),
                     TLogLevel::Warning});
    if (unwritten > 0 || Writer->DroppedCount() > 0)
        Q_EMIT Said({QStringLiteral("通知记录 %1 在程序停止时仍无法写入：%2 条记录未写入，%3 条早先已因积压丢弃。")
                        .arg(Path(), QString::number(unwritten), QString::number(Writer->DroppedCount())), TLogLevel::Error});
    Thread.quit();
    Thread.wait();
    Writer = nullptr; // deleted on its thread's end
}

int THistory::Pending() const
{
    return Writer ? Writer->WaitingCount() : 0;
}

void THistory::CheckStall(qint64 nowMs)
{
    if (!Writer)
        return;
    if (Pending() == 0) {
        WaitingSince = 0;
        return;
    }
    if (WaitingSince == 0)
        WaitingSince = nowMs;
    if (Stalled || WriterFailing || nowMs - WaitingSince < StallMs)
        return;
    // No error, only no progress: a server that hangs.
    Stalled = true;
    if (FailingSince == 0)
        FailingSince = WaitingSince;
    Q_EMIT Said({QStringLiteral("通知记录无法写入 %1: %2 秒没有写成，%3 条记录等待写入（记录暂存，稍后重试）")
                     .arg(Path(), QString::number((nowMs - WaitingSince) / 1000), QString::number(Pending())),
                 TLogLevel::Warning});
}

void THistory::Stored()
{
    WaitingSince = 0;
    // A stall the writer itself never took for a failure ends here; a failure ends with Writable.
    if (Stalled && !WriterFailing) {
        Stalled = false;
        FailingSince = 0;
        Q_EMIT Said({QStringLiteral("通知记录可以写入了: %1").arg(Path()), TLogLevel::Notice});
    }
}

qint64 THistory::NextId(const QDateTime &at)
{
    // Milliseconds since the epoch times 1000, plus this program's own last three digits:
    // ordered by time across restarts, unique within one, and apart from the ids of another
    // program writing the same shared history in the same millisecond (an entry is written
    // over by its id). Two entries in one millisecond here: the next one takes the next slot.
    qint64 id = at.toMSecsSinceEpoch() * 1000 + IdSlot;
    if (id <= LastId)
        id = LastId + 1000;
    LastId = id;
    return LastId;
}

void THistory::Post(const TNotice &notice)
{
    if (!Writer)
        return;
    Writer->Queue();
    QMetaObject::invokeMethod(Writer, [w = Writer, notice] { w->PutQueued(notice); });
}

QString THistory::KeyPosition(const QString &number)
{
    bool ok = false;
    const int value = number.toInt(&ok);
    if (!ok || !Keys.findkeycode(value, Config.CurrentKeyboard))
        return TNotice::NoKeyText();
    return QStringLiteral("组%1 行%2 列%3").arg(Keys.FoundModule).arg(Keys.FoundRow).arg(Keys.FoundColumn);
}

qint64 THistory::Reserve(QDateTime *at)
{
    *at = QDateTime::currentDateTime();
    return NextId(*at);
}

TNotice THistory::Notice(const QString &kind, int messageId, const QString &target, const QString &content, int playCount,
                         int channel, const QString &outcome, const QList<TCalled> &numbers, const QString &targetName,
                         qint64 id, const QDateTime &at)
{
    TNotice notice;
    notice.At = id != 0 && at.isValid() ? at : QDateTime::currentDateTime();
    notice.Id = id != 0 ? id : NextId(notice.At);
    notice.Kind = kind;
    notice.MessageId = messageId;
    notice.Target = target;
    notice.TargetName = targetName;
    notice.Content = content;
    notice.PlayCount = playCount;
    notice.Channel = channel;
    notice.Outcome = outcome;
    for (const TCalled &called : numbers)
        notice.Numbers.append({called.Number, called.Name, KeyPosition(called.Number), {}});
    if (channel >= 0 && channel < int(Last.size()) && outcome == Started()) {
        Last[size_t(channel)] = notice;
        FromFile[size_t(channel)] = false;
        Q_EMIT ChannelNoticeChanged(channel);
    }
    Post(notice);
    return notice;
}

void THistory::KeysSent(int channel, bool switchUp)
{
    if (channel < 0 || channel >= int(Last.size()) || !Last[size_t(channel)] || Last[size_t(channel)]->SentAt.isValid()
        || FromFile[size_t(channel)])
        return;
    TNotice &notice = *Last[size_t(channel)];
    notice.SentAt = QDateTime::currentDateTime();
    notice.SwitchUp = switchUp;
    notice.LatencyMs = notice.At.msecsTo(notice.SentAt);
    for (TNotice::TNumber &number : notice.Numbers)
        if (number.KeyPosition != TNotice::NoKeyText() && switchUp)
            number.SentAt = notice.SentAt;
    Post(notice);
    Q_EMIT ChannelNoticeChanged(channel);
    Q_EMIT NoticeDone(notice);
}

void THistory::Event(const QString &kind, const QString &text)
{
    TNotice event;
    event.At = QDateTime::currentDateTime();
    event.Id = NextId(event.At);
    event.Kind = kind;
    event.Content = text;
    Post(event);
}

void THistory::MarkInterrupted(qint64 runningMs, qint64 waitingMs, const QList<qint64> &own)
{
    THistoryWriter::TInterruption mark;
    const QDateTime now = QDateTime::currentDateTime();
    mark.Before = NextId(now);
    mark.StartedFrom = (now.toMSecsSinceEpoch() - runningMs) * 1000;
    mark.QueuedFrom = (now.toMSecsSinceEpoch() - waitingMs) * 1000;
    mark.Own = own;
    if (Writer)
        QMetaObject::invokeMethod(Writer, [w = Writer, mark] { w->MarkInterrupted(mark); });
}

void THistory::TakeMarks(const QList<TNotice> &written)
{
    WrittenEntries += quint64(written.size());
    // The 详情 window shows what became of a channel's last notice.
    for (const TNotice &entry : written) {
        if (entry.Outcome != Interrupted())
            continue;
        for (size_t channel = 0; channel < Last.size(); ++channel)
            if (Last[channel] && Last[channel]->Id == entry.Id && Last[channel]->Outcome != entry.Outcome) {
                Last[channel]->Outcome = entry.Outcome;
                Q_EMIT ChannelNoticeChanged(int(channel));
            }
    }
}

const TNotice *THistory::LastOf(int channel) const
{
    return channel >= 0 && channel < int(Last.size()) && Last[size_t(channel)] ? &*Last[size_t(channel)] : nullptr;
}

void THistory::Restore(const QList<TNotice> &last)
{
    for (const TNotice &notice : last) {
        const int channel = notice.Channel;
        if (channel < 0 || channel >= int(Last.size()) || Last[size_t(channel)])
            continue;
        Last[size_t(channel)] = notice;
        FromFile[size_t(channel)] = true;
        Q_EMIT ChannelNoticeChanged(channel);
    }
}
