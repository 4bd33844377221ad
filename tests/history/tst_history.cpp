#include "app/varnex_core.h"
#include "channels/play_channels.h"
#include "history/history.h"
#include "platform_link/ldtx_frame.h"
#include "support/test_support.h"

#include <QFile>
#include <QNetworkDatagram>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
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
    }
    QString HistoryPath() const { return Core->History().Path(); }

    // Sends a request and waits for its reply's type; -1 when none came.
    int Ask(uint8_t type, const QByteArray &payload, uint16_t id)
    {
        const QByteArray frame = LdtxFrame::Build(payload, type, 0, id, QStringLiteral("CRC-16/MODBUS"))->Bytes;
        Platform.writeDatagram(frame, QHostAddress::LocalHost, quint16(Core->Config().CommRecIpPort));
        int replyType = -1;
        (void)QTest::qWaitFor([&] {
            while (Platform.hasPendingDatagrams()) {
                const QByteArray reply = Platform.receiveDatagram().data();
                if (reply.size() > 9)
                    replyType = uint8_t(reply[9]);
            }
            return replyType >= 0;
        }, 3000);
        return replyType;
    }
    static QByteArray VoiceToGroup(int group, const QString &text, int count)
    {
        return QByteArray(1, char(0)) + LdtxFrame::Le32(group) + char(2) + text.toUtf8() + char(count);
    }
    static QByteArray Call(int caller, int called)
    {
        QByteArray p(8, 0);
        p[0] = char(caller & 0xFF);
        p[1] = char(caller >> 8);
        p[4] = char(called & 0xFF);
        p[5] = char(called >> 8);
        return p;
    }
    // The channels' ticks until the keys of channel 0 have left.
    void Dial()
    {
        for (int i = 0; i < TPlayChannels::OffHookTicks; ++i)
            Core->Timer1Timer();
    }
    QStringList Rows(const QString &sql)
    {
        const QString name = QStringLiteral("history-reader");
        {
            QSqlDatabase db = QSqlDatabase::contains(name) ? QSqlDatabase::database(name)
                                                           : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(HistoryPath());
            db.open();
        }
        const QStringList rows = TestSupport::SqlRows(name, sql);
        QSqlDatabase::database(name).close();
        QSqlDatabase::removeDatabase(name);
        return rows;
    }
};

} // namespace

class TstHistory : public QObject
{
    Q_OBJECT
private Q_SLOTS:
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

        QCOMPARE(p.Rows(QStringLiteral("SELECT Kind, MessageId, Target, Content, PlayCount, Outcome, Numbers, SwitchUp,"
                                       " LatencyMs IS NOT NULL, SentAt <> '' FROM Entry WHERE MessageId IS NOT NULL ORDER BY Id")),
                 (QStringList{"语音通知|7|5|撤离|3|已启动|2001,2002|1|1|1", "电话拨打|8|2002|主叫2009|1|已启动|2002|0|1|1"}));
        // Only a number with a key has had its key sent (the switch fell silent before the call's keys).
        QCOMPARE(p.Rows(QStringLiteral("SELECT Number, Name, KeyPosition, SentAt IS NOT NULL FROM EntryNumber ORDER BY EntryId, rowid")),
                 (QStringList{"2001|井口|组1 行2 列1|1", "2002|泵房|无键位|0", "2002|NULL|无键位|0"}));
        QCOMPARE(p.Rows(QStringLiteral("SELECT Kind, Content FROM Entry WHERE MessageId IS NULL ORDER BY Id")),
                 (QStringList{"启动|NULL", "主机通讯恢复|127.0.0.1", "平台通讯连上|127.0.0.1", "主机通讯中断|NULL", "停止|NULL"}));
    }

    // Every notification is recorded with what came of it; one that waited, when it arrived and
    // again when it started.
    void outcomes_data()
    {
        QTest::addColumn<int>("group");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<int>("busyWith");
        QTest::addColumn<QStringList>("outcomes");
        QTest::newRow("started") << 5 << true << 0 << QStringList{"已启动"};
        QTest::newRow("no members") << 9 << true << 0 << QStringList{"无成员"};
        QTest::newRow("channel disabled") << 5 << false << 0 << QStringList{"通道闭塞，未执行"};
        QTest::newRow("channel busy") << 5 << true << 1 << QStringList{"排队", "已启动"};
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
};

QTEST_GUILESS_MAIN(TstHistory)
#include "tst_history.moc"
