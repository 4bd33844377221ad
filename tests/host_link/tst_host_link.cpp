#include "host_link/host_frame.h"
#include "host_link/host_link.h"
#include "platform_link/ldtx_frame.h"
#include "common/configuration.h"
#include "app/varnex_core.h"
#include "common/traffic_log.h"
#include "support/test_support.h"

#include <QCoreApplication>
#include <QFile>
#include <QNetworkDatagram>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

using TestSupport::Hex;

namespace {

QByteArray RingBytes(const TByteRing &ring, int from, int count)
{
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes += char(ring.At(from + i));
    return bytes;
}

// A host link whose switch CPUs are 127.0.0.1 (left) and 127.0.0.2 (right), with a stand-in
// switch CPU socket on 127.0.0.1 receiving what the relay sends.
struct THost
{
    TConfiguration Config;
    TTrafficLog Traffic;
    THostLink Link{Config, Traffic};
    QUdpSocket Switch;

    THost()
    {
        Config.IpAddress = QStringLiteral("127.0.0.1");
        Config.IpAddress1 = QStringLiteral("127.0.0.2");
        Switch.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0);
        Config.IpPort = Switch.localPort();
        Link.Open(TestSupport::FreeUdpPort());
    }

    // Sizes of the datagrams the stand-in switch received, after `ticks` relay ticks.
    QList<int> Relayed(int ticks)
    {
        for (int i = 0; i < ticks; ++i)
            Link.Relay();
        QList<int> sizes;
        QTest::qWait(20);
        while (Switch.hasPendingDatagrams())
            sizes << int(Switch.receiveDatagram().data().size());
        return sizes;
    }
};

} // namespace

class TstHostLink : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void keyCommands_data()
    {
        QTest::addColumn<int>("keyboard");
        QTest::addColumn<int>("module");
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("row");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<bool>("up");
        QTest::newRow("0,0,3") << 3 << 0 << 0 << 3 << Hex("A5A5A5000C03 03FE000303FF") << "发送:4     组0 行3 列0" << true;
        QTest::newRow("0,0,2") << 3 << 0 << 0 << 2 << Hex("A5A5A5000C03 03FE000202FF") << "发送:3     组0 行2 列0" << true;
        QTest::newRow("16,7,7") << 3 << 16 << 7 << 7 << Hex("A5A5A5000C03 03FE107707FF") << "发送:1088     组16 行7 列7" << true;
        QTest::newRow("keyboard low byte") << 0x1A5 << 1 << 2 << 3 << Hex("A5A5A5000C03 A5FE012324FF")
                                           << "发送:84     组1 行3 列2" << true;
        QTest::newRow("module 17 ignored") << 3 << 17 << 0 << 0 << QByteArray()
                                           << "模块: 0  行号: 8  列号:4 振铃" << true;
        // Without the switch the relay drops the command: the panel must not claim it was sent.
        QTest::newRow("switch not heard from") << 3 << 0 << 0 << 3 << Hex("A5A5A5000C03 03FE000303FF")
                                               << "未发送(主机中断):4     组0 行3 列0" << false;
    }
    void keyCommands()
    {
        QFETCH(int, keyboard);
        QFETCH(int, module);
        QFETCH(int, column);
        QFETCH(int, row);
        QFETCH(QByteArray, frame);
        QFETCH(QString, caption);
        QFETCH(bool, up);
        TConfiguration config;
        config.StartKeyboard = keyboard;
        config.CurrentKeyboard = 5; // the keyboard shown never changes what key commands carry
        TTrafficLog traffic;
        THostLink link(config, traffic);
        if (up)
            link.CommToPabxUDPRead(QByteArray("alive"), config.IpAddress);
        link.SendData(module, column, row);
        QCOMPARE(RingBytes(link.HostSendRing, 0, link.HostSendRing.Count()).toHex(' '), frame.toHex(' '));
        QCOMPARE(link.RecCommandShow(), caption);
        // Read back as the switch reads it.
        QByteArray stream = QByteArray("junk") + frame;
        QString error;
        const auto key = HostFrame::TakeKeyCommand(stream, &error);
        QCOMPARE(key.has_value(), !frame.isEmpty());
        if (key) {
            QCOMPARE(key->Keyboard, keyboard & 0xFF);
            QCOMPARE(QList<int>({key->Module, key->Column, key->Row}), QList<int>({module, column, row}));
            QVERIFY(stream.isEmpty());
        }
    }

    void malformedKeyCommands_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("error");
        QTest::newRow("wrong check byte") << Hex("A5A5A5000C03 03FE000304FF") << "按键命令校验字节错";
        QTest::newRow("another command") << Hex("A5A5A5000C04 03FE000303FF") << "不是按键命令";
        QTest::newRow("length below the header") << Hex("A5A5A5000203") << "帧长度 2 小于 6";
        QTest::newRow("stuffing missing") << Hex("A5A5A5000D03 A5A5A5FE000303FF") << "两个A5之后缺少填充字节55";
        QTest::newRow("still arriving") << Hex("A5A5A5000C03 03FE") << "";
    }
    void malformedKeyCommands()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, error);
        QByteArray stream = bytes;
        QString why;
        QVERIFY(!HostFrame::TakeKeyCommand(stream, &why));
        QVERIFY2(error.isEmpty() ? why.isEmpty() : why.startsWith(error), qPrintable(why));
    }

    void stuffing_data()
    {
        QTest::addColumn<QList<int>>("values");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("A5 A5") << QList<int>{0xA5, 0xA5} << Hex("A5A5A5 0009 03 A5A555");
        QTest::newRow("A5 A5 A5 01") << QList<int>{0xA5, 0xA5, 0xA5, 1} << Hex("A5A5A5 000B 03 A5A555A501");
        QTest::newRow("A5 x4") << QList<int>{0xA5, 0xA5, 0xA5, 0xA5} << Hex("A5A5A5 000C 03 A5A555A5A555");
        QTest::newRow("A5 01 A5") << QList<int>{0xA5, 1, 0xA5} << Hex("A5A5A5 0009 03 A501A5");
        QTest::newRow("whole value decides the run") << QList<int>{0x1A5, 0xA5} << Hex("A5A5A5 0008 03 A5A5");
    }
    void stuffing()
    {
        QFETCH(QList<int>, values);
        QFETCH(QByteArray, frame);
        TByteRing ring;
        std::vector<int32_t> v(values.begin(), values.end());
        QVERIFY(HostFrame::SendDataNet(ring, v.data(), 3, int(v.size()) - 1));
        QCOMPARE(RingBytes(ring, 0, ring.Count()).toHex(' '), frame.toHex(' '));
    }

    void frameAcrossTheRingsEnd_data()
    {
        QTest::addColumn<int>("start");
        QTest::newRow("sync bytes at the end") << 14597;
        QTest::newRow("length placeholders straddle the end") << 14599 - 3;
        QTest::newRow("data straddles the end") << 14593;
    }
    void frameAcrossTheRingsEnd()
    {
        QFETCH(int, start);
        TConfiguration config;
        TTrafficLog traffic;
        THostLink link(config, traffic);
        link.HostSendRing.Read = link.HostSendRing.Write = start;
        link.SendData(0, 0, 3);
        QCOMPARE(link.HostSendRing.Count(), 12);
        QCOMPARE(link.HostSendRing.Write, (start + 12) % 14600);
        QCOMPARE(RingBytes(link.HostSendRing, start, 12).toHex(' '), Hex("A5A5A5000C0303FE000303FF").toHex(' '));
    }

    void freeSpace_data()
    {
        QTest::addColumn<int>("read");
        QTest::addColumn<int>("write");
        QTest::addColumn<bool>("written");
        QTest::newRow("25 free, write ahead") << 0 << 14575 << false;
        QTest::newRow("26 free, write ahead") << 0 << 14574 << true;
        QTest::newRow("25 free, write behind") << 25 << 0 << false;
        QTest::newRow("26 free, write behind") << 26 << 0 << true;
    }
    void freeSpace()
    {
        QFETCH(int, read);
        QFETCH(int, write);
        QFETCH(bool, written);
        TConfiguration config;
        TTrafficLog traffic;
        THostLink link(config, traffic);
        link.CommToPabxUDPRead(QByteArray("alive"), config.IpAddress);
        link.HostSendRing.Read = read;
        link.HostSendRing.Write = write;
        link.SendData(0, 0, 3);
        QCOMPARE(link.HostSendRing.Write, written ? (write + 12) % 14600 : write);
        QCOMPARE(link.RecCommandShow(), QStringLiteral("发送:4     组0 行3 列0")); // shown even when dropped
    }

    // Every datagram to the switch is a run of whole key frames: a switch that reads each
    // datagram on its own must never get half a key. A dialling of up to 85 keys (85 x 12 =
    // 1020 bytes) leaves in one datagram; a longer run is cut between frames. Each dialling is
    // queued in an event of its own, as the channels and the key grid queue them.
    void diallingsLeaveAsWholeFrames_data()
    {
        QTest::addColumn<int>("start"); // where the send ring's positions stand at first
        QTest::addColumn<QList<int>>("diallings"); // keys per dialling
        QTest::addColumn<QList<int>>("datagrams"); // frames per datagram
        QList<int> threes(500, 3);
        QTest::newRow("500 three-key dials") << 0 << threes << threes;
        QTest::newRow("85 keys") << 0 << QList<int>{85} << QList<int>{85};
        QTest::newRow("86 keys") << 0 << QList<int>{86} << QList<int>{85, 1};
        QTest::newRow("200 keys") << 0 << QList<int>{200} << QList<int>{85, 85, 30};
        QTest::newRow("three keys 20 bytes before the ring's end") << 14580 << QList<int>{3} << QList<int>{3};
        QTest::newRow("85 keys 500 bytes before the ring's end") << 14100 << QList<int>{85, 2} << QList<int>{85, 2};
        QTest::newRow("nothing queued") << 500 << QList<int>{} << QList<int>{};
    }
    void diallingsLeaveAsWholeFrames()
    {
        QFETCH(int, start);
        QFETCH(QList<int>, diallings);
        QFETCH(QList<int>, datagrams);
        THost h;
        h.Link.CommToPabxUDPRead(Hex("01"), QStringLiteral("127.0.0.1"));
        h.Link.HostSendRing.Read = h.Link.HostSendRing.Write = start;
        QList<int> frames;
        QList<int> keys; // key numbers in the order they were queued, and as the switch read them
        QList<int> read;
        int bytes = 0, sent = 0;
        const auto receive = [&] {
            while (h.Switch.hasPendingDatagrams()) {
                QByteArray stream = h.Switch.receiveDatagram().data();
                bytes += int(stream.size());
                int count = 0;
                QString error;
                while (const auto key = HostFrame::TakeKeyCommand(stream, &error)) {
                    read << key->Module * 64 + key->Column * 8 + key->Row;
                    ++count;
                }
                QVERIFY2(error.isEmpty() && stream.isEmpty(),
                         qPrintable(QStringLiteral("datagram %1 ends inside a frame").arg(frames.size())));
                frames << count;
            }
        };
        int key = 0;
        for (int dialling : diallings) {
            for (int i = 0; i < dialling; ++i, ++key) {
                const int n = key % 1088;
                h.Link.SendData(n / 64, n % 64 / 8, n % 8);
                keys << n;
            }
            sent += 12 * dialling;
            QCoreApplication::processEvents(); // the relay runs once the event is done
            receive();
        }
        QTRY_COMPARE_WITH_TIMEOUT((receive(), bytes), sent, 2000);
        QCOMPARE(frames, datagrams);
        QCOMPARE(read, keys);
        if (diallings.isEmpty())
            h.Link.Relay();
        // Emptied: both positions back at the ring's start.
        QCOMPARE(h.Link.HostSendRing.Read, 0);
        QCOMPARE(h.Link.HostSendRing.Write, 0);
        if (!diallings.isEmpty()) {
            h.Link.SendData(0, 0, 3);
            QCOMPARE(h.Link.HostSendRing.Write, 12);
        }
    }

    // What the relay sends is exactly the queued frames, from any read position and across the
    // ring's end, in the order they were queued.
    void relaySendsTheQueuedBytes_data()
    {
        QTest::addColumn<int>("start");
        QTest::newRow("from 0") << 0;
        QTest::newRow("from 5000") << 5000;
        QTest::newRow("across the end") << 14600 - 17;
    }
    void relaySendsTheQueuedBytes()
    {
        QFETCH(int, start);
        THost h;
        h.Link.CommToPabxUDPRead(Hex("01"), QStringLiteral("127.0.0.1"));
        THostLink reference(h.Config, h.Traffic);
        for (THostLink *link : {&h.Link, &reference}) {
            link->HostSendRing.Read = link->HostSendRing.Write = link == &h.Link ? start : 0;
            link->SendData(0, 0, 3);
            link->SendData(2, 4, 3);
            link->SendData(0, 0, 2);
        }
        const QByteArray expected = RingBytes(reference.HostSendRing, 0, reference.HostSendRing.Write);
        QCOMPARE(expected.size(), 36);
        for (int i = 0; i < 3; ++i)
            h.Link.Relay();
        QByteArray sent;
        QTest::qWait(20);
        while (h.Switch.hasPendingDatagrams())
            sent += h.Switch.receiveDatagram().data();
        QCOMPARE(sent.toHex(' '), expected.toHex(' '));
    }

    void contactAndSupervision()
    {
        THost h;
        QCOMPARE(h.Link.display(), QStringLiteral("调度主机通讯状态:通讯中断"));
        h.Link.CommToPabxUDPRead(Hex("01"), QStringLiteral("10.0.0.7"));
        QCOMPARE(h.Link.display(), QStringLiteral("错误调度主机:"));

        // Queued while no CPU is in contact: drained, not sent.
        h.Link.SendData(0, 0, 3);
        QCOMPARE(h.Relayed(1), QList<int>{});
        QCOMPARE(h.Link.HostSendRing.Count(), 0);

        h.Link.CommToPabxUDPRead(Hex("01"), QStringLiteral("127.0.0.1"));
        QCOMPARE(h.Link.CurrentHost(), QStringLiteral("127.0.0.1"));
        QCOMPARE(h.Link.display(), QStringLiteral("调度主机通讯状态:连上127.0.0.1"));
        QCOMPARE(h.Link.HostLinkCountdown(), 10);
        h.Link.SendData(0, 0, 3);
        QCOMPARE(h.Relayed(1), QList<int>{12});

        h.Link.Supervise();
        h.Link.CommToPabxUDPRead(Hex("01"), QStringLiteral("10.0.0.7"));
        QCOMPARE(h.Link.display(), QStringLiteral("错误调度主机:127.0.0.1"));
        QCOMPARE(h.Link.HostLinkCountdown(), 9); // a refused datagram does not keep the link alive

        h.Link.CommToPabxUDPRead(Hex("01"), QStringLiteral("127.0.0.2"));
        QCOMPARE(h.Link.CurrentHost(), QStringLiteral("127.0.0.2"));
        QCOMPARE(h.Link.display(), QStringLiteral("调度主机通讯状态:连上127.0.0.2"));

        for (int tick = 1; tick <= 9; ++tick)
            h.Link.Supervise();
        QCOMPARE(h.Link.CurrentHost(), QStringLiteral("127.0.0.2"));
        h.Link.Supervise(); // the tenth silent tick
        QCOMPARE(h.Link.CurrentHost(), QString());
        QCOMPARE(h.Link.display(), QStringLiteral("调度主机通讯状态:通讯中断"));
        QCOMPARE(h.Link.HostLinkCountdown(), 0);
        h.Link.Supervise();
        QCOMPARE(h.Link.HostLinkCountdown(), 0);

        h.Link.SendData(0, 0, 2);
        QCOMPARE(h.Relayed(1), QList<int>{});
    }

    void trace_data()
    {
        QTest::addColumn<bool>("shown");
        QTest::addColumn<bool>("ticked");
        QTest::addColumn<bool>("traced");
        QTest::newRow("shown and ticked") << true << true << true;
        QTest::newRow("not ticked") << true << false << false;
        QTest::newRow("memo not shown") << false << true << false;
    }
    void trace()
    {
        QFETCH(bool, shown);
        QFETCH(bool, ticked);
        QFETCH(bool, traced);
        TConfiguration config;
        TTrafficLog traffic;
        THostLink link(config, traffic);
        traffic.SetShown(shown);
        traffic.SetHostMessagesShown(ticked);
        link.CommToPabxUDPRead(Hex("0102"), QStringLiteral("192.168.0.194"));
        QCOMPARE(traffic.Lines().last() == QStringLiteral("收到主机：01 02  192.168.0.194"), traced);
        QCOMPARE(link.display(), QStringLiteral("调度主机通讯状态:连上192.168.0.194"));
    }

    // The whole road of a group notification: a stand-in switch CPU makes contact, the platform
    // asks for a notification to a group of two, channel 0 is ticked eight times, and the
    // stand-in receives exactly the key frames.
    void keyCommandsReachAStandInSwitch()
    {
        QUdpSocket cpu;
        QVERIFY(cpu.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0));
        QUdpSocket platform;
        QVERIFY(platform.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
        QTemporaryDir dir;
        QFile keys(dir.filePath(QStringLiteral("key.dat")));
        QVERIFY(keys.open(QIODevice::WriteOnly));
        keys.write(TestSupport::KeyFile({{3 * 1088 + 64 + 2 * 8 + 3, 8001}}));
        keys.close();
        TRecordingPlayer player;
        const auto started = TestSupport::StartCore(
            dir,
            {QStringLiteral("IpAddress=127.0.0.1"), QStringLiteral("IpAddress1=127.0.0.2"),
             QStringLiteral("IpPort=%1").arg(cpu.localPort()), QStringLiteral("ifUse0=是"),
             QStringLiteral("CommIpPort=%1").arg(platform.localPort())},
            &player);
        TVarnexCore &core = *started;
        const int hostPort = core.Config().RecIpPort;
        QCOMPARE(core.StartupErrors(), QStringList());

        cpu.writeDatagram(Hex("00"), QHostAddress::LocalHost, quint16(hostPort));
        QTRY_COMPARE(core.HostLink().CurrentHost(), QStringLiteral("127.0.0.2"));

        QVERIFY(core.Directory().AddTelNumber("8001", "a", {}, {"5"}, {}, {}).isEmpty());
        QVERIFY(core.Directory().AddTelNumber("8002", "b", {}, {"5"}, {}, {}).isEmpty());
        const QByteArray request = LdtxFrame::Build(Hex("00 05000000 02") + QStringLiteral("通知1").toUtf8() + Hex("01"), 2,
                                                    0, 1, core.Config().CheckType)->Bytes;
        core.PlatformLink().CommToMonitorUDPRead(request, core.Config().CommIpAddress);
        core.WarnRecTimer();
        QCOMPARE(core.Channels().Channel(0).State, uint8_t(ChnOffHook));
        QCOMPARE(player.Calls.first(), QStringLiteral("open w1.wav"));
        QTRY_VERIFY(platform.hasPendingDatagrams());
        QCOMPARE(platform.receiveDatagram().data().mid(10, 11), Hex("02 411F0000 00 421F0000 00"));
        for (int tick = 0; tick < 8; ++tick) {
            core.Timer1Timer();
            core.WarnRecTimer();
        }
        core.WarnRecTimer();
        QTRY_VERIFY(cpu.hasPendingDatagrams());
        const QNetworkDatagram sent = cpu.receiveDatagram();
        QCOMPARE(sent.senderPort(), hostPort);
        QCOMPARE(sent.data().toHex(' '),
                 Hex("A5A5A5000C03 03FE000303FF  A5A5A5000C03 03FE012324FF  A5A5A5000C03 03FE000202FF").toHex(' '));
        QTest::qWait(20);
        QVERIFY(!cpu.hasPendingDatagrams());
    }

    // The switch's largest datagrams, through a real socket, are taken whole every time.
    void receiveRingNeverStaysFull()
    {
        THost h;
        h.Traffic.SetHostMessagesShown(true);
        QUdpSocket cpu;
        QVERIFY(cpu.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0));
        const quint16 port = h.Link.CommToPabx().LocalPort();
        int received = 0;
        QObject::connect(&h.Link.CommToPabx(), &TUdpEndpoint::DatagramReceived, &cpu,
                         [&received](const QByteArray &bytes) { received += int(bytes.size()); });
        for (int i = 0; i < 10; ++i)
            QCOMPARE(cpu.writeDatagram(QByteArray(int(TUdpEndpoint::MaxDatagram), char(i)), QHostAddress::LocalHost, port),
                     TUdpEndpoint::MaxDatagram);
        QTRY_COMPARE(received, 10 * int(TUdpEndpoint::MaxDatagram));
        QCOMPARE(h.Link.CurrentHost(), QStringLiteral("127.0.0.2"));
        for (const QString &line : h.Traffic.Lines())
            QVERIFY2(!line.startsWith(QStringLiteral("接收缓存满")), qPrintable(line));
        QCOMPARE(h.Traffic.Lines().last(), QStringLiteral("收到主机：") + LdtxFrame::HexDump(QByteArray(8192, char(9))) + " 127.0.0.2");
        QCOMPARE(h.Link.HostRecvRing.Count(), 0);
    }

    // No socket delivers a datagram larger than the ring; called directly, one still cannot
    // overrun it, and it still counts as a sign of life.
    void aDatagramLargerThanTheRing()
    {
        TConfiguration config;
        TTrafficLog traffic;
        traffic.SetHostMessagesShown(true);
        THostLink link(config, traffic);
        link.CommToPabxUDPRead(QByteArray(14600, 'x'), config.IpAddress);
        QCOMPARE(traffic.Lines().last(), QStringLiteral("接收缓存满 192.168.0.194"));
        QCOMPARE(link.CurrentHost(), QStringLiteral("192.168.0.194"));
        QCOMPARE(link.HostLinkCountdown(), 10);
    }
};

QTEST_GUILESS_MAIN(TstHostLink)
#include "tst_host_link.moc"
