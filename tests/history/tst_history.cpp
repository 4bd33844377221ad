#include "app/varnex_core.h"
#include "channels/play_channels.h"
#include "history/history.h"
#include "history/history_model.h"
#include "history/history_spool.h"
#include "history/history_writer.h"
#include "sheets/sheet_reader.h"
#include "common/configuration.h"
#include "keyboard/key_table.h"
#include "platform_link/ldtx_frame.h"
#include "store/sql_engine.h"
#include "support/pg_server.h"
#include "support/test_support.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QNetworkDatagram>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QScopeGuard>
#include <QTest>
#include <QUdpSocket>

namespace {

// A program core with key.dat, enabled channel 0, two extensions in group 5 (2001 has a key,
// 2002 none) and a platform socket of this test over loopback.
struct TProgram
{
    QTemporaryDir Dir;
    QUdpSocket Platform;
    TRecordingPlayer Player;
    std::unique_ptr<TVarnexCore> Core;

    TProgram()
    {
        QFile keys(Dir.filePath(QStringLiteral("key.dat")));
        if (keys.open(QIODevice::WriteOnly))
            keys.write(TestSupport::KeyFile({{3 * 1088 + 74, 2001}})); // module 1, column 1, row 2
        keys.close();
        Platform.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0);
        Core = TestSupport::StartCore(Dir, {QStringLiteral("CommIpPort=%1").arg(Platform.localPort()), QStringLiteral("ifUse0=是")},
                                      &Player);
        Core->Directory().AddTelNumber(QStringLiteral("2001"), QStringLiteral("井口"), {}, {"5"}, QStringLiteral("0"), {});
        Core->Directory().AddTelNumber(QStringLiteral("2002"), QStringLiteral("泵房"), {}, {"5"}, QStringLiteral("0"), {});
        Core->Directory().Query().Execute(QStringLiteral("insert into \"Group\"(GroupNum, sequence, GroupName) values (5, 1, '一采区')"));
        TestSupport::CopyCaughtUp(Core->Directory());
    }
    QString HistoryPath() const { return Core->History().Path(); }

    // Sends a request and waits for its reply's type; -1 when none came.
    int Ask(uint8_t type, const QByteArray &payload, uint16_t id)
    {
        return TestSupport::Ask(Platform, Core->Config().CommRecIpPort, type, payload, id);
    }
    static QByteArray VoiceToGroup(int group, const QString &text, int count) { return TestSupport::VoiceToGroup(group, text, count); }
    static QByteArray Call(int caller, int called) { return TestSupport::Call(caller, called); }
    // The channels' ticks until the keys of channel 0 have left.
    void Dial()
    {
        for (int i = 0; i < TPlayChannels::OffHookTicks; ++i)
            Core->Timer1Timer();
    }
    QStringList Rows(const QString &sql) { return TestSupport::PlaceRows(Core->History().Where(), sql); }
};

} // namespace

class TstHistory : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase_data() { TestSupport::EnginesData(); }
    void init() { VARNEX_INIT_ENGINE(); }

    // A notification and a call over loopback leave entries with their numbers, key positions,
    // outcome and the time their keys left; the links' events and start and stop are there too.
    void notificationAndCallAreRecorded()
    {
        TProgram p;
        QVERIFY(p.Core->History().IsOpen());
        p.Core->HostLink().CommToPabxUDPRead(QByteArray("alive"), p.Core->Config().IpAddress); // the switch is there
        QCOMPARE(p.Ask(LdtxFrame::VoiceNotify, TProgram::VoiceToGroup(5, QStringLiteral("撤离"), 3), 7),
                 int(LdtxFrame::CallNotifyResult));
        p.Dial();
        const TNotice *last = p.Core->History().LastOf(0);
        QVERIFY(last);
        QCOMPARE(last->Kind, QStringLiteral("语音通知"));
        QVERIFY(last->LatencyMs >= 0);
        p.Core->PlatformLink().Supervise(p.Core->PlatformLink().ClockMs() + 61000);
        QCOMPARE(p.Ask(LdtxFrame::PhoneCall, TProgram::Call(2009, 2002), 8), int(LdtxFrame::PhoneCall));
        p.Dial();
        p.Core->FormDestroy(); // writes what waits

        QCOMPARE(p.Rows(QStringLiteral("SELECT Kind, MessageId, Target, TargetName, Content, PlayCount, Outcome, Numbers, SwitchUp,"
                                       " CASE WHEN LatencyMs IS NOT NULL THEN 1 ELSE 0 END, CASE WHEN SentAt <> '' THEN 1 ELSE 0 END FROM Entry WHERE MessageId IS NOT NULL ORDER BY Id")),
                 (QStringList{"语音通知|7|5|一采区|撤离|3|已启动|2001,2002|1|1|1", "电话拨打|8|2002|泵房|主叫2009|1|已启动|2002|0|1|1"}));
        // Only a number with a key has had its key sent (the switch fell silent before the call's keys).
        // A called number is named from the directory as a group's members are.
        QCOMPARE(p.Rows(QStringLiteral("SELECT Number, Name, KeyPosition, CASE WHEN SentAt IS NOT NULL THEN 1 ELSE 0 END FROM EntryNumber ORDER BY EntryId, Seq")),
                 (QStringList{"2001|井口|组1 行2 列1|1", "2002|泵房|无键位|0", "2002|泵房|无键位|0"}));
        QCOMPARE(p.Rows(QStringLiteral("SELECT Kind, Content FROM Entry WHERE MessageId IS NULL ORDER BY Id")),
                 (QStringList{"启动|NULL", "主机通讯恢复|127.0.0.1", "平台通讯连上|127.0.0.1", "主机通讯中断|NULL", "停止|NULL"}));
    }

    // Every notification is one entry with what came of it; one that waited is written when it
    // arrives and changed when it starts, not written twice.
    void outcomes_data()
    {
        QTest::addColumn<int>("group");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<int>("busyWith");
        QTest::addColumn<QStringList>("outcomes");
        QTest::newRow("started") << 5 << true << 0 << QStringList{"已启动"};
        QTest::newRow("no members") << 9 << true << 0 << QStringList{"无成员"};
        QTest::newRow("channel disabled") << 5 << false << 0 << QStringList{"通道闭塞，未执行"};
        QTest::newRow("channel busy") << 5 << true << 1 << QStringList{"已启动"};
        QTest::newRow("queue full") << 5 << true << 17 << QStringList{"排队已满，未执行"};
    }
    void outcomes()
    {
        QFETCH(int, group);
        QFETCH(bool, enabled);
        QFETCH(int, busyWith);
        QFETCH(QStringList, outcomes);
        TProgram p;
        if (!enabled)
            QVERIFY(p.Core->Channels().ApplySettings(QStringLiteral("1"), QString(), QStringLiteral("否"), p.Core->Settings()).isEmpty());
        for (int i = 0; i < busyWith; ++i)
            QCOMPARE(p.Ask(LdtxFrame::VoiceNotify, TProgram::VoiceToGroup(5, QStringLiteral("先"), 1), uint16_t(100 + i)),
                     int(LdtxFrame::CallNotifyResult));
        QCOMPARE(p.Ask(LdtxFrame::VoiceNotify, TProgram::VoiceToGroup(group, QStringLiteral("x"), 1), 3),
                 int(LdtxFrame::CallNotifyResult));
        if (busyWith > 0)
            for (int tick = 0; tick < TPlayChannels::OffHookTicks + TPlayChannels::DialingTicks; ++tick)
                p.Core->Timer1Timer();
        p.Core->FormDestroy();
        QCOMPARE(p.Rows(QStringLiteral("SELECT Outcome FROM Entry WHERE MessageId = 3 ORDER BY Id")), outcomes);
    }

    // Another program holds the history file: the link still answers, the memo says so
    // once, and what waited is written when the file is free again.
    void lockedHistoryCostsOneLine()
    {
        VARNEX_FILES_ONLY();
        TProgram p;
        QTRY_VERIFY(QFile::exists(p.HistoryPath()));
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
        other.setDatabaseName(p.HistoryPath());
        QVERIFY(other.open());
        QSqlQuery lock(other);
        QVERIFY(lock.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        const int before = p.Core->LogMemo().Lines().size();
        // Answered while the file is still held: the writer waits on its own thread.
        for (uint16_t id = 1; id <= 3; ++id)
            QCOMPARE(p.Ask(LdtxFrame::VoiceNotify, TProgram::VoiceToGroup(5, QStringLiteral("撤离"), 1), id),
                     int(LdtxFrame::CallNotifyResult));
        QTRY_COMPARE_WITH_TIMEOUT(p.Core->LogMemo().Lines().size(), before + 1, 5000);
        QVERIFY(p.Core->LogMemo().Lines().last().startsWith(QStringLiteral("通知记录无法写入")));
        QTest::qWait(2500); // a retry or two: still one line
        QCOMPARE(p.Core->LogMemo().Lines().size(), before + 1);
        QVERIFY(lock.exec(QStringLiteral("ROLLBACK")));
        other.close();
        QTRY_VERIFY_WITH_TIMEOUT(p.Core->LogMemo().Lines().last().startsWith(QStringLiteral("通知记录可以写入了")), 5000);
        p.Core->FormDestroy();
        QCOMPARE(p.Rows(QStringLiteral("SELECT count(*) FROM Entry WHERE Kind = '语音通知'")), QStringList{"3"});
    }

    // The server killed under the running program: the platform is still answered, the memo
    // says once that the history waits, and every notification sent meanwhile is on the
    // server once it is back, each once.
    void serverAwayKeepsEntries()
    {
        if (!TestSupport::OnServer())
            QSKIP("a server of its own");
        TProgram p;
        QTRY_COMPARE(p.Rows(QStringLiteral("SELECT count(*) FROM Entry WHERE Kind = '启动'")), QStringList{"1"});
        const int before = p.Core->LogMemo().Lines().size();
        const int port = p.Core->Config().CommRecIpPort;
        QCOMPARE(TestSupport::AskCount(p.Platform, port, 0), 1);
        QCOMPARE(TestSupport::AskCount(p.Platform, port, 1), 2);
        const auto restart = qScopeGuard([] { TPgServer::Shared().Start(); });
        QVERIFY(TPgServer::Shared().Kill());
        // Answered from the copy while the server is away.
        QCOMPARE(TestSupport::AskCount(p.Platform, port, 0), 1);
        QCOMPARE(TestSupport::AskCount(p.Platform, port, 1), 2);
        for (uint16_t id = 1; id <= 3; ++id)
            QCOMPARE(p.Ask(LdtxFrame::VoiceNotify, TProgram::VoiceToGroup(5, QStringLiteral("撤离"), 1), id),
                     int(LdtxFrame::CallNotifyResult));
        QTRY_VERIFY2_WITH_TIMEOUT(p.Core->LogMemo().Lines().filter(QStringLiteral("通知记录无法写入")).size() == 1,
                                  qPrintable(p.Core->LogMemo().Lines().join(QLatin1Char('\n'))), 10000);
        QVERIFY(TPgServer::Shared().Start());
        QTRY_VERIFY2_WITH_TIMEOUT(p.Core->LogMemo().Lines().filter(QStringLiteral("通知记录可以写入了")).size() == 1,
                                  qPrintable(p.Core->LogMemo().Lines().join(QLatin1Char('\n'))), 20000);
        QCOMPARE(p.Core->LogMemo().Lines().filter(QStringLiteral("通知记录无法写入")).size(), 1);
        QVERIFY(p.Core->LogMemo().Lines().size() > before);
        QCOMPARE(p.Rows(QStringLiteral("SELECT MessageId, count(*) FROM Entry WHERE Kind = '语音通知' GROUP BY MessageId ORDER BY MessageId")),
                 (QStringList{"1|1", "2|1", "3|1"}));
        p.Core->FormDestroy();
        QCOMPARE(p.Rows(QStringLiteral("SELECT count(*) FROM Entry WHERE Kind = '语音通知'")), QStringList{"3"});
    }

    // A server that hangs (stopped, as a cut network looks) makes no error, only a wait: every
    // entry that waits is counted, the memo says once that the history cannot be written, the
    // stop does not wait for the server and keeps what waits on the disk, and the next history
    // on the same place forwards it, each entry once.
    void hungServerIsNotWaitedFor()
    {
        if (!TestSupport::OnServer())
            QSKIP("a server of its own");
        TProgram p;
        QTRY_COMPARE(p.Rows(QStringLiteral("SELECT count(*) FROM Entry WHERE Kind = '启动'")), QStringList{"1"});
        const TStorePlace place = p.Core->History().Where();
        const QString folder = QFileInfo(place.File).absolutePath();
        const auto resume = qScopeGuard([] { TPgServer::Shared().Pause(false); });
        QVERIFY(TPgServer::Shared().Pause(true));
        for (uint16_t id = 1; id <= 3; ++id)
            QCOMPARE(p.Ask(LdtxFrame::VoiceNotify, TProgram::VoiceToGroup(5, QStringLiteral("撤离"), 1), id),
                     int(LdtxFrame::CallNotifyResult));
        QTRY_VERIFY(p.Core->History().Pending() >= 3);
        const int before = p.Core->LogMemo().Lines().size();
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        p.Core->History().CheckStall(now);
        p.Core->History().CheckStall(now + THistory::StallMs);
        p.Core->History().CheckStall(now + 2 * THistory::StallMs);
        QTRY_VERIFY(p.Core->LogMemo().Lines().size() > before);
        QCOMPARE(p.Core->LogMemo().Lines().mid(before).filter(QStringLiteral("通知记录无法写入")).size(), 1);
        // Going on again: said once; what waited is stored.
        QVERIFY(TPgServer::Shared().Pause(false));
        QTRY_COMPARE_WITH_TIMEOUT(p.Core->LogMemo().Lines().mid(before).filter(QStringLiteral("通知记录可以写入了")).size(), 1, 10000);
        QTRY_COMPARE(p.Rows(QStringLiteral("SELECT count(*) FROM Entry WHERE Kind = '语音通知'")), QStringList{"3"});

        // Hanging again at the stop.
        QVERIFY(TPgServer::Shared().Pause(true));
        for (uint16_t id = 4; id <= 5; ++id)
            QCOMPARE(p.Ask(LdtxFrame::VoiceNotify, TProgram::VoiceToGroup(5, QStringLiteral("撤离"), 1), id),
                     int(LdtxFrame::CallNotifyResult));
        QElapsedTimer stopping;
        stopping.start();
        p.Core->FormDestroy();
        QVERIFY2(stopping.elapsed() < 5000, qPrintable(QString::number(stopping.elapsed())));
        const QString spool = folder + QStringLiteral("/") + THistorySpool::FileName();
        QVERIFY(QFile::exists(spool));
        QVERIFY2(!p.Core->LogMemo().Lines().filter(QStringLiteral("已暂存到")).isEmpty(),
                 qPrintable(p.Core->LogMemo().Lines().join(QLatin1Char('\n'))));

        QVERIFY(TPgServer::Shared().Pause(false));
        TConfiguration config;
        TKeyTable keys;
        THistory history(config, keys);
        history.Open(folder, place.Url);
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(spool), 10000);
        history.Close();
        QCOMPARE(TestSupport::PlaceRows(place, QStringLiteral("SELECT MessageId, count(*), min(Numbers) FROM Entry WHERE Kind = '语音通知'"
                                                              " GROUP BY MessageId ORDER BY MessageId")),
                 (QStringList{"1|1|2001,2002", "2|1|2001,2002", "3|1|2001,2002", "4|1|2001,2002", "5|1|2001,2002"}));
        QCOMPARE(TestSupport::PlaceRows(place, QStringLiteral("SELECT count(*) FROM Entry WHERE Kind = '停止'")), QStringList{"1"});
        QCOMPARE(TestSupport::PlaceRows(place, QStringLiteral("SELECT count(*) FROM EntryNumber")), QStringList{"10"});
    }

    // A server restarted cleanly while the program was idle closed the history's connection:
    // the next notification is stored at once, with no failure on the memo.
    void serverRestartedWhileIdle()
    {
        if (!TestSupport::OnServer())
            QSKIP("a server of its own");
        TProgram p;
        QTRY_COMPARE(p.Rows(QStringLiteral("SELECT count(*) FROM Entry WHERE Kind = '启动'")), QStringList{"1"});
        const auto restart = qScopeGuard([] { TPgServer::Shared().Start(); });
        QVERIFY(TPgServer::Shared().Stop());
        QVERIFY(TPgServer::Shared().Start());
        const int before = p.Core->LogMemo().Lines().size();
        QCOMPARE(p.Ask(LdtxFrame::VoiceNotify, TProgram::VoiceToGroup(5, QStringLiteral("撤离"), 1), 7), int(LdtxFrame::CallNotifyResult));
        QTRY_COMPARE(p.Rows(QStringLiteral("SELECT count(*) FROM Entry WHERE Kind = '语音通知'")), QStringList{"1"});
        const QStringList said = p.Core->LogMemo().Lines().mid(before);
        QVERIFY2(said.filter(QStringLiteral("通知记录无法写入")).isEmpty(), qPrintable(said.join(QLatin1Char('\n'))));
    }

    // Message IDs are kept as the platform sent them, 0 and the upper half of 16 bits too.
    void messageIdsAsSent_data()
    {
        QTest::addColumn<int>("id");
        for (int id : {0, 1, 32767, 32768, 65535})
            QTest::newRow(qPrintable(QString::number(id))) << id;
    }
    void messageIdsAsSent()
    {
        QFETCH(int, id);
        TProgram p;
        QCOMPARE(p.Ask(LdtxFrame::PhoneCall, TProgram::Call(2009, 2002), uint16_t(id)), int(LdtxFrame::PhoneCall));
        p.Core->FormDestroy();
        QCOMPARE(p.Rows(QStringLiteral("SELECT MessageId FROM Entry WHERE Kind = '电话拨打'")), QStringList{QString::number(id)});
    }

    // What is handed to the writer is committed as soon as the writer is free, not after a
    // batching delay: a crash of the program just after a reply keeps the entry.
    void committedWhenTheWriterIsFree()
    {
        QTemporaryDir dir;
        const TStorePlace place = TestSupport::StorePlace(dir.filePath(QStringLiteral("History.sqlite")));
        THistoryWriter writer(place); // on this thread: its queue is this test's event loop
        writer.Open();
        for (int i = 1; i <= 100; ++i) {
            TNotice notice;
            notice.Id = i;
            notice.At = QDateTime::currentDateTime();
            notice.Kind = QStringLiteral("语音通知");
            notice.MessageId = i;
            writer.Put(notice);
        }
        QCoreApplication::processEvents(); // one turn of the loop, no waiting
        QCOMPARE(TestSupport::PlaceRows(place, QStringLiteral("SELECT count(*) FROM Entry")), QStringList{"100"});
        if (!place.OnServer())
            QCOMPARE(TestSupport::PlaceRows(place, QStringLiteral("PRAGMA journal_mode")), QStringList{"wal"});
        writer.Close();
    }

    // Entries older than HistoryDays are removed when the history opens.
    void oldEntriesGoAtStart()
    {
        QTemporaryDir dir;
        const TStorePlace place = TestSupport::StorePlace(dir.filePath(QStringLiteral("History.sqlite")));
        const qint64 day = 24ll * 60 * 60 * 1000 * 1000; // ids count microseconds
        const qint64 now = QDateTime::currentMSecsSinceEpoch() * 1000;
        {
            THistoryWriter writer(place);
            writer.Open();
            for (qint64 age : {500, 401, 399, 1}) {
                TNotice notice;
                notice.Id = now - age * day;
                notice.At = QDateTime::fromMSecsSinceEpoch(notice.Id / 1000);
                notice.Kind = QStringLiteral("语音通知");
                notice.Content = QString::number(age);
                notice.Numbers = {{QStringLiteral("2001"), {}, TNotice::NoKeyText(), {}}};
                writer.Put(notice);
            }
            writer.Close();
        }
        QSqlDatabase::removeDatabase(THistoryWriter::ConnectionName(place));
        TConfiguration config;
        config.HistoryDays = 400;
        TKeyTable keys;
        THistory history(config, keys);
        history.Open(dir.path(), place.Url);
        history.Close();
        QCOMPARE(TestSupport::PlaceRows(place, QStringLiteral("SELECT Content FROM Entry ORDER BY Id")), (QStringList{"399", "1"}));
        QCOMPARE(TestSupport::PlaceRows(place, QStringLiteral("SELECT count(*) FROM EntryNumber")), QStringList{"2"});
    }

    // A file that stays unwritable: what waits is bounded by its size, the dropping is said
    // once, and what is still unwritten at the stop is counted.
    void backlogIsBoundedAndSaid()
    {
        QTemporaryDir dir;
        // A file in a folder that is not there; a server that is not there.
        TStorePlace place{dir.filePath(QStringLiteral("no-such-folder/History.sqlite")), {}};
        QString why;
        if (TestSupport::OnServer())
            QVERIFY(TStoreUrl::Parse(QStringLiteral("postgresql://varnex@/x?host=") + dir.filePath(QStringLiteral("no-server")), &place.Url, &why));
        THistoryWriter writer(place);
        QSignalSpy failed(&writer, &THistoryWriter::Failed);
        QSignalSpy dropping(&writer, &THistoryWriter::Dropping);
        writer.Open();
        QCOMPARE(failed.size(), 1);
        TNotice big; // a notification to a 384-member group
        big.Kind = QStringLiteral("语音通知");
        big.Content = QString(200, QChar(u'撤'));
        for (int i = 0; i < 384; ++i)
            big.Numbers.append({QString::number(10000 + i), QString(10, QChar(u'井')), QStringLiteral("组1 行2 列3"), {}});
        const int count = int(THistoryWriter::MaxWaitingBytes / big.ApproxBytes()) + 200;
        for (int i = 1; i <= count; ++i) {
            big.Id = i;
            writer.Put(big);
        }
        QCOMPARE(dropping.size(), 1);
        QVERIFY(writer.DroppedCount() >= 200);
        QVERIFY(qint64(writer.Unwritten()) * big.ApproxBytes() <= THistoryWriter::MaxWaitingBytes);
        QCOMPARE(writer.Unwritten() + writer.DroppedCount(), qint64(count));
        writer.Close();
        QCOMPARE(qint64(writer.Unwritten()) + writer.DroppedCount(), qint64(count));
    }

    // Each channel's last started notice comes back from the file when the history opens, also
    // from a file written before the target's name was kept; a notice started before it comes
    // back is not replaced, and no key sent now is taken for one finished before.
    void lastNoticesComeBack_data()
    {
        QTest::addColumn<bool>("olderFile");
        QTest::newRow("file of this version") << false;
        QTest::newRow("file without target names") << true;
    }
    void lastNoticesComeBack()
    {
        QFETCH(bool, olderFile);
        QTemporaryDir dir;
        const TStorePlace place = TestSupport::StorePlace(dir.filePath(THistory::FileName()));
        const qint64 now = QDateTime::currentMSecsSinceEpoch() * 1000;
        {
            QSqlDatabase db = place.Add(QStringLiteral("old"), QStringLiteral("test"), false, 1000);
            QVERIFY(db.open());
            QSqlQuery q(db);
            if (olderFile)
                QVERIFY(q.exec(QStringLiteral("CREATE TABLE Entry(Id %1 PRIMARY KEY, At TEXT NOT NULL, Kind TEXT NOT NULL,"
                                              " MessageId INTEGER, Target TEXT, Content TEXT, PlayCount INTEGER, Channel INTEGER,"
                                              " Outcome TEXT, Numbers TEXT, SentAt TEXT, SwitchUp INTEGER, LatencyMs INTEGER)")
                                   .arg(TSqlEngine::Of(db).Int64Type())));
            if (olderFile) // numbers without their order kept
                QVERIFY(q.exec(QStringLiteral("CREATE TABLE EntryNumber(EntryId %1 NOT NULL, Number TEXT, Name TEXT,"
                                              " KeyPosition TEXT, SentAt TEXT)")
                                   .arg(TSqlEngine::Of(db).Int64Type())));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("old"));
        {
            THistoryWriter writer(place);
            QSignalSpy failed(&writer, &THistoryWriter::Failed);
            writer.Open();
            QCOMPARE(failed.size(), 0); // the older tables are brought up to date
            const auto put = [&](qint64 age, int channel, const QString &outcome, const QString &content) {
                TNotice n;
                n.Id = now - age;
                n.At = QDateTime::fromMSecsSinceEpoch(n.Id / 1000);
                n.Kind = QStringLiteral("语音通知");
                n.MessageId = int(age);
                n.Target = QStringLiteral("5");
                n.Content = content;
                n.Channel = channel;
                n.Outcome = outcome;
                n.Numbers = {{QStringLiteral("2001"), QStringLiteral("井口"), QStringLiteral("组1 行2 列1"), {}}};
                writer.Put(n);
            };
            put(5000, 0, THistory::Started(), QStringLiteral("earlier"));
            put(4000, 0, THistory::Started(), QStringLiteral("last on 0"));
            put(3000, 0, THistory::Queued(), QStringLiteral("queued, not started"));
            put(2000, 3, THistory::Started(), QStringLiteral("last on 3"));
            put(1000, 5, THistory::Started(), QStringLiteral("on 5"));
            writer.Close();
        }
        QSqlDatabase::removeDatabase(THistoryWriter::ConnectionName(place));

        TConfiguration config;
        TKeyTable keys;
        THistory history(config, keys);
        QSignalSpy changed(&history, &THistory::ChannelNoticeChanged);
        history.Open(dir.path(), place.Url);
        // Started on 5 before the file was read back: it stays.
        history.Notice(QStringLiteral("电话拨打"), 9, QStringLiteral("2002"), QStringLiteral("主叫2009"), 1, 5, THistory::Started(),
                       {{QStringLiteral("2002"), QStringLiteral("泵房")}}, QStringLiteral("泵房"));
        QTRY_VERIFY(history.LastOf(0));
        QCOMPARE(history.LastOf(0)->Content, QStringLiteral("last on 0"));
        QCOMPARE(history.LastOf(0)->Numbers.size(), 1);
        QCOMPARE(history.LastOf(0)->Numbers[0].Name, QStringLiteral("井口"));
        QCOMPARE(history.LastOf(0)->Numbers[0].KeyPosition, QStringLiteral("组1 行2 列1"));
        QCOMPARE(history.LastOf(3)->Content, QStringLiteral("last on 3"));
        QCOMPARE(history.LastOf(5)->Content, QStringLiteral("主叫2009"));
        QVERIFY(!history.LastOf(1));
        QCOMPARE(changed.size(), 3); // 5 when its call started, then 0 and 3
        history.KeysSent(3, true); // a channel that dials now was not started by that notice
        QVERIFY(!history.LastOf(3)->SentAt.isValid());
        history.Close();
        QCOMPARE(TestSupport::PlaceRows(place, QStringLiteral("SELECT Content, CASE WHEN coalesce(SentAt, '') = '' THEN 1 ELSE 0 END FROM Entry WHERE Channel = 3")),
                 QStringList{"last on 3|1"});
        QCOMPARE(TestSupport::PlaceRows(place, QStringLiteral("SELECT TargetName FROM Entry WHERE Channel = 5 AND MessageId = 9")),
                 QStringList{"泵房"});
    }

    // The list of 通知记录 reads a long history a page at a time; entries written meanwhile
    // join it once each, also one that comes while a page is being read; an export before the
    // last page writes the rows shown and those still to be scrolled to.
    void listReadsPagesAndTakesNewEntries()
    {
        QTemporaryDir dir;
        const TStorePlace place = TestSupport::StorePlace(dir.filePath(THistory::FileName()));
        const int count = 2 * THistoryModel::PageRows + 10;
        const qint64 first = (QDateTime::currentMSecsSinceEpoch() - 60000) * 1000;
        const auto entry = [first](int i) {
            TNotice n;
            n.Id = first + qint64(i) * 1000;
            n.At = QDateTime::fromMSecsSinceEpoch(n.Id / 1000);
            n.Kind = i % 2 ? QStringLiteral("语音通知") : QStringLiteral("启动");
            n.MessageId = i % 2 ? i : -1;
            n.Content = QStringLiteral("n%1").arg(i);
            return n;
        };
        {
            THistoryWriter writer(place);
            writer.Open();
            for (int i = 0; i < count; ++i)
                writer.Put(entry(i));
            writer.Close();
        }
        QSqlDatabase::removeDatabase(THistoryWriter::ConnectionName(place));

        THistoryModel model(place);
        model.Show({});
        QTRY_VERIFY(!model.IsReading());
        QCOMPARE(model.rowCount(), THistoryModel::PageRows);
        QCOMPARE(model.index(0, 4).data().toString(), QStringLiteral("n%1").arg(count - 1));
        QCOMPARE(model.index(0, 5).data().toString(), QStringLiteral("0"));
        QCOMPARE(model.index(1, 5).data().toString(), QString()); // a start plays nothing

        // Newer than all: at the top at once. Already read: its row changes, none is added.
        TNotice newer = entry(count + 5);
        TNotice again = entry(count - 2);
        again.Outcome = QStringLiteral("已启动");
        model.Take({newer, again});
        QCOMPARE(model.rowCount(), THistoryModel::PageRows + 1);
        QCOMPARE(model.index(0, 4).data().toString(), newer.Content);
        QCOMPARE(model.index(2, 6).data().toString(), QStringLiteral("已启动"));

        // Written while the next page is read: in that page's range, it is there once.
        QVERIFY(model.canFetchMore({}));
        model.fetchMore({});
        QVERIFY(model.IsReading());
        TNotice late = entry(count - THistoryModel::PageRows - 3);
        late.Id += 500; // not in the file: only the list can know of it
        late.Content = QStringLiteral("late");
        model.Take({late});
        QTRY_VERIFY(!model.IsReading());
        QCOMPARE(model.rowCount(), 2 * THistoryModel::PageRows + 2);
        QCOMPARE(model.index(THistoryModel::PageRows + 3, 4).data().toString(), QStringLiteral("late")); // in its place by time

        // Exported before the last page: what is shown, then the rest from the file.
        const QString sheet = dir.filePath(QStringLiteral("export.xlsx"));
        QSignalSpy exported(&model, &THistoryModel::Exported);
        model.Export(sheet);
        QTRY_COMPARE(exported.size(), 1);
        QCOMPARE(exported[0][1].toString(), QString());
        QList<QStringList> rows;
        QString error;
        QVERIFY2(TSheetReader::Read(sheet, &rows, &error), qPrintable(error));
        QCOMPARE(rows.size(), 1 + count + 2);

        while (model.canFetchMore({})) {
            model.fetchMore({});
            QTRY_VERIFY(!model.IsReading());
        }
        QVERIFY(model.IsComplete());
        QCOMPARE(model.rowCount(), count + 2);
        for (int row = 0; row < model.rowCount(); ++row) {
            QStringList cells;
            for (int column = 0; column < model.columnCount(); ++column)
                cells << model.index(row, column).data().toString();
            QStringList written = rows[row + 1];
            while (written.size() < cells.size())
                written << QString();
            QCOMPARE(written.mid(0, cells.size()), cells);
        }
    }
};

QTEST_GUILESS_MAIN(TstHistory)
#include "tst_history.moc"
