#include "app/varnex_core.h"
#include "channels/play_channels.h"
#include "common/send_gate.h"
#include "common/udp_endpoint.h"
#include "history/history.h"
#include "platform_link/ldtx_frame.h"
#include "support/pg_server.h"
#include "support/test_support.h"

#include <QDateTime>
#include <QFile>
#include <QNetworkDatagram>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

namespace {

// A program core with key.dat, channel 0 enabled, group 5 with one extension that has a key,
// and stand-ins for the platform and the switch over loopback. The switch has spoken, so the
// program knows where key commands go.
struct TPairProgram
{
    QTemporaryDir Dir;
    QUdpSocket Platform;
    QUdpSocket Switch;
    TRecordingPlayer Player;
    std::unique_ptr<TVarnexCore> Core;

    explicit TPairProgram(const QStringList &lines)
    {
        QFile keys(Dir.filePath(QStringLiteral("key.dat")));
        if (keys.open(QIODevice::WriteOnly))
            keys.write(TestSupport::KeyFile({{3 * 1088 + 74, 2001}}));
        keys.close();
        Platform.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0);
        Switch.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0);
        Core = TestSupport::StartCore(Dir,
                                      lines + QStringList{QStringLiteral("CommIpPort=%1").arg(Platform.localPort()),
                                                          QStringLiteral("IpPort=%1").arg(Switch.localPort()),
                                                          QStringLiteral("ifUse0=是")},
                                      &Player);
        Core->Directory().AddTelNumber(QStringLiteral("2001"), QStringLiteral("井口"), {}, {"5"}, QStringLiteral("0"), {});
        TestSupport::CopyCaughtUp(Core->Directory());
        Switch.writeDatagram(QByteArray("alive"), QHostAddress::LocalHost, quint16(Core->Config().RecIpPort));
        QTRY_VERIFY(Core->HostLink().IsUp() || Core->Gate().DroppedCount() > 0 || !Core->Gate().IsOpen());
    }
    int Voice(uint16_t id)
    {
        const QByteArray payload = QByteArray(1, char(0)) + LdtxFrame::Le32(5) + char(2) + QByteArray("撤离") + char(1);
        return TestSupport::Ask(Platform, Core->Config().CommRecIpPort, LdtxFrame::VoiceNotify, payload, id);
    }
    // Every channel tick of a whole notification, and what reached the switch meanwhile.
    int SwitchDatagramsAfterTicks(int ticks)
    {
        for (int i = 0; i < ticks; ++i)
            Core->Timer1Timer();
        QTest::qWait(100);
        int datagrams = 0;
        while (Switch.hasPendingDatagrams()) {
            Switch.receiveDatagram();
            ++datagrams;
        }
        return datagrams;
    }
    QStringList Rows(const QString &sql) { return TestSupport::PlaceRows(Core->History().Where(), sql); }
};

} // namespace

class TstPair : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase_data() { TestSupport::EnginesData(); }
    void init() { VARNEX_INIT_ENGINE(); }

    // Alone the program works as ever; of a pair only the master answers the platform and
    // presses keys, while a backup or faulty one sends nothing on either link, runs no channel,
    // and counts what it dropped and held back.
    void roleGate_data()
    {
        QTest::addColumn<QString>("roleSetting");
        QTest::addColumn<int>("told"); // -1: not told
        QTest::addColumn<bool>("works");
        QTest::newRow("single") << QString() << -1 << true;
        QTest::newRow("single by name") << QStringLiteral("single") << -1 << true;
        QTest::newRow("pair at start") << QStringLiteral("pair") << -1 << false;
        QTest::newRow("pair master") << QStringLiteral("pair") << int(TRole::Master) << true;
        QTest::newRow("pair backup") << QStringLiteral("pair") << int(TRole::Backup) << false;
        QTest::newRow("pair fault") << QStringLiteral("pair") << int(TRole::Fault) << false;
    }
    void roleGate()
    {
        VARNEX_NO_STORE();
        QFETCH(QString, roleSetting);
        QFETCH(int, told);
        QFETCH(bool, works);
        TPairProgram p(roleSetting.isEmpty() ? QStringList{} : QStringList{QStringLiteral("Role=") + roleSetting});
        if (told >= 0)
            QCOMPARE(p.Core->PairRole().Change(TRole(told), QStringLiteral("test")), QString());
        QCOMPARE(p.Voice(7), works ? int(LdtxFrame::CallNotifyResult) : -1);
        QCOMPARE(p.Core->Channels().IsBusy(0), works);
        // The keys of the notification, and a key pressed by hand from the key grid.
        p.Core->HostLink().SendData(1, 1, 2);
        const int datagrams = p.SwitchDatagramsAfterTicks(TPlayChannels::OffHookTicks);
        QVERIFY2(works ? datagrams > 0 : datagrams == 0, qPrintable(QString::number(datagrams)));
        QCOMPARE(p.Core->Gate().DroppedCount() > 0, !works);
        QCOMPARE(p.Core->Gate().HeldCount() > 0, !works);
        QCOMPARE(p.Core->PlatformLink().CommToMonitor().Counters().Sent.load() > 0, works);
        QCOMPARE(p.Core->HostLink().CommToPabx().Counters().Sent.load(), quint64(works ? datagrams : 0));
    }

    // With a service address both endpoints bind it alone, even one this machine does not hold
    // (as a backup binds the shared address before it takes it over); where a plain bind fails.
    void serviceAddressBinds_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("plainBinds");
        QTest::addColumn<bool>("binds");
        QTest::newRow("loopback") << "127.0.0.1" << true << true;
        QTest::newRow("not this machine's") << "10.255.255.1" << false << true;
        QTest::newRow("not an address") << "10.255.255" << false << false;
        QTest::newRow("IPv6") << "::1" << true << false;
    }
    void serviceAddressBinds()
    {
        VARNEX_NO_STORE();
        QFETCH(QString, address);
        QFETCH(bool, plainBinds);
        QFETCH(bool, binds);
        const int port = TestSupport::FreeUdpPort();
        {
            QUdpSocket plain;
            QCOMPARE(plain.bind(QHostAddress(address), quint16(port)), plainBinds);
        }
        TUdpEndpoint endpoint;
        QString why;
        QCOMPARE(endpoint.Open(port, &why, address), binds);
        QCOMPARE(endpoint.IsOpen(), binds);
        if (binds) {
            QCOMPARE(endpoint.LocalAddress(), QHostAddress(address));
            QCOMPARE(int(endpoint.LocalPort()), port);
        } else {
            QVERIFY(!why.isEmpty());
        }
    }

    // A program on a service address answers from it, on both links.
    void repliesLeaveFromTheServiceAddress()
    {
        VARNEX_NO_STORE();
        TPairProgram p({QStringLiteral("ServiceAddress=127.0.0.1")});
        QCOMPARE(p.Core->PlatformLink().CommToMonitor().LocalAddress(), QHostAddress(QStringLiteral("127.0.0.1")));
        QCOMPARE(p.Core->HostLink().CommToPabx().LocalAddress(), QHostAddress(QStringLiteral("127.0.0.1")));
        QCOMPARE(p.Voice(9), int(LdtxFrame::CallNotifyResult));
        QVERIFY(p.SwitchDatagramsAfterTicks(TPlayChannels::OffHookTicks) > 0);
    }

    // Each change is one history entry with its cause; telling the same role again is none.
    void roleChangesAreRecorded()
    {
        TPairProgram p({QStringLiteral("Role=pair")});
        QCOMPARE(p.Core->PairRole().Current(), TRole::Backup);
        QCOMPARE(p.Core->PairRole().Change(TRole::Master, QStringLiteral("keepalived")), QString());
        QCOMPARE(p.Core->PairRole().Change(TRole::Master, QStringLiteral("keepalived")), QString());
        QCOMPARE(p.Core->PairRole().Change(TRole::Fault, QStringLiteral("检查失败")), QString());
        QCOMPARE(p.Core->PairRole().Change(TRole::Backup, QString()), QString());
        p.Core->FormDestroy();
        QCOMPARE(p.Rows(QStringLiteral("SELECT Content FROM Entry WHERE Kind = '主备切换' ORDER BY Id")),
                 (QStringList{"主用（keepalived）", "故障（检查失败）", "备用"}));
    }

    // A program alone has no role to change, and records nothing.
    void singleRefusesRoles()
    {
        VARNEX_NO_STORE();
        TPairProgram p({});
        QVERIFY(!p.Core->PairRole().Change(TRole::Backup, QStringLiteral("x")).isEmpty());
        QCOMPARE(p.Core->PairRole().Current(), TRole::Single);
        QVERIFY(p.Core->Gate().IsOpen());
    }

    // The master told to step down stops at once: what ran or waited on its channel is marked
    // interrupted in its own entry (one per notification, again when told twice), and no key
    // command of it ever reaches the switch.
    void steppingDownMarksOwnNotifications()
    {
        TPairProgram p({QStringLiteral("Role=pair")});
        QCOMPARE(p.Core->PairRole().Change(TRole::Master, QStringLiteral("keepalived")), QString());
        QCOMPARE(p.Voice(11), int(LdtxFrame::CallNotifyResult));
        QCOMPARE(p.Voice(12), int(LdtxFrame::CallNotifyResult)); // waits behind the first
        QCOMPARE(p.Core->PairRole().Change(TRole::Backup, QStringLiteral("keepalived")), QString());
        QVERIFY(!p.Core->Channels().IsBusy(0));
        QVERIFY(p.Core->Channels().Channel(0).Queue.empty());
        QCOMPARE(p.SwitchDatagramsAfterTicks(TPlayChannels::OffHookTicks + TPlayChannels::DialingTicks + 1), 0);
        QCOMPARE(p.Core->PairRole().Change(TRole::Fault, QStringLiteral("again")), QString());
        p.Core->FormDestroy();
        QCOMPARE(p.Rows(QStringLiteral("SELECT MessageId, Outcome FROM Entry WHERE MessageId IS NOT NULL ORDER BY Id")),
                 (QStringList{"11|主机切换中断", "12|主机切换中断"}));
    }

    // What the program that worked before left in the shared history: the new master marks
    // the notifications that may still have been running or waiting, in place, and leaves
    // those that ended, were carried out or refused.
    void takingOverMarksUnfinished_data()
    {
        // Each entry: seconds ago | outcome | channel | message id; expected: outcomes after.
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QStringList>("after");
        QTest::newRow("running") << QStringList{"5|已启动|0|1"} << QStringList{"主机切换中断"};
        QTest::newRow("started 100 s ago") << QStringList{"100|已启动|0|1"} << QStringList{"主机切换中断"};
        QTest::newRow("ended long ago") << QStringList{"600|已启动|0|1"} << QStringList{"已启动"};
        QTest::newRow("cut off by a later start") << QStringList{"60|已启动|0|1", "30|已启动|0|2"}
                                                  << QStringList{"已启动", "主机切换中断"};
        QTest::newRow("waiting") << QStringList{"60|已启动|0|1", "30|排队|0|2"} << QStringList{"主机切换中断", "主机切换中断"};
        QTest::newRow("waited, then started") << QStringList{"200|排队|0|2", "20|已启动|0|2"}
                                              << QStringList{"排队", "主机切换中断"};
        QTest::newRow("waited, then dropped") << QStringList{"200|排队|0|2", "20|通道闭塞，未执行|0|2"}
                                              << QStringList{"排队", "通道闭塞，未执行"};
        QTest::newRow("refused") << QStringList{"5|无成员|0|1", "5|排队已满，未执行|0|2"}
                                 << QStringList{"无成员", "排队已满，未执行"};
        QTest::newRow("marked before") << QStringList{"5|主机切换中断|0|1"} << QStringList{"主机切换中断"};
    }
    void takingOverMarksUnfinished()
    {
        QFETCH(QStringList, entries);
        QFETCH(QStringList, after);
        TPairProgram p({QStringLiteral("Role=pair")});
        QTRY_VERIFY(p.Rows(QStringLiteral("SELECT count(*) FROM Entry")).value(0).toInt() >= 1); // its tables are there
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        QList<qint64> ids;
        for (const QString &entry : entries) {
            const QStringList f = entry.split(QLatin1Char('|'));
            const qint64 id = (now - f[0].toLongLong() * 1000) * 1000 + ids.size();
            ids << id;
            p.Rows(QStringLiteral("INSERT INTO Entry(Id, At, Kind, MessageId, Target, Content, PlayCount, Channel, Outcome)"
                                                               " VALUES (%1, '%2', '语音通知', %3, '5', 'x', 1, %4, '%5')")
                                                    .arg(QString::number(id), TNotice::TimeText(QDateTime::fromMSecsSinceEpoch(id / 1000)),
                                                         f[3], f[2], f[1]));
        }
        QCOMPARE(p.Rows(QStringLiteral("SELECT count(*) FROM Entry WHERE MessageId IS NOT NULL")), QStringList{QString::number(ids.size())});
        QCOMPARE(p.Core->PairRole().Change(TRole::Master, QStringLiteral("keepalived")), QString());
        p.Core->FormDestroy();
        QStringList outcomes;
        for (qint64 id : ids)
            outcomes << p.Rows(QStringLiteral("SELECT Outcome FROM Entry WHERE Id = %1").arg(id));
        QCOMPARE(outcomes, after);
        QCOMPARE(p.Rows(QStringLiteral("SELECT count(*) FROM Entry WHERE MessageId IS NOT NULL")), QStringList{QString::number(ids.size())});
    }
};

QTEST_GUILESS_MAIN(TstPair)
#include "tst_pair.moc"
