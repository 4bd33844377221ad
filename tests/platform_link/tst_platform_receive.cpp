#include "platform_link/ldtx_frame.h"
#include "platform_link/platform_link.h"
#include "platform_link/unit_crc.h"
#include "common/configuration.h"
#include "common/traffic_log.h"
#include "support/test_support.h"

#include <QNetworkDatagram>
#include <QRandomGenerator>
#include <QTest>
#include <QUdpSocket>

using TestSupport::Hex;

namespace {

const QString Platform = QStringLiteral("192.168.0.110");

QByteArray Frame(uint16_t id, const QByteArray &payload = QByteArray(), uint8_t type = 0)
{
    return LdtxFrame::Build(payload, type, 0, id, QStringLiteral("CRC-16/MODBUS"))->Bytes;
}

// A frame whose length field says `length` and which carries no payload, check code included.
QByteArray ShortLengthFrame(uint16_t id, uint16_t length)
{
    QByteArray bytes = Frame(id).left(10);
    bytes[4] = char(length & 0xFF);
    bytes[5] = char(length >> 8);
    const uint16_t code = GetCRC16CheckCode(bytes);
    return bytes + char(code & 0xFF) + char(code >> 8);
}

// The receive path of one platform link, recording what it hands on.
struct TReceiver
{
    TConfiguration Config;
    TTrafficLog Traffic;
    TPlatformLink Link{Config, Traffic};
    QStringList Dispatched; // "id/direction/type/payload hex"

    TReceiver()
    {
        Config.CommIpAddress = Platform;
        QObject::connect(&Link, &TPlatformLink::FrameReceived, &Link,
                         [this](uint16_t id, uint8_t dir, uint8_t type, QByteArrayView payload) {
                             Dispatched << QStringLiteral("%1/%2/%3/%4")
                                               .arg(id)
                                               .arg(dir)
                                               .arg(type)
                                               .arg(QString::fromLatin1(payload.toByteArray().toHex()));
                         });
    }
    int CrcErrors() { return int(Traffic.Lines().count(QStringLiteral("Crc 错"))); }
};

} // namespace

class TstPlatformReceive : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Each datagram comes from the platform and is followed by one tick; a null datagram is a tick alone.
    void scanner_data()
    {
        QTest::addColumn<QList<QByteArray>>("datagrams");
        QTest::addColumn<QList<int>>("dispatchedAfterTick");
        QTest::addColumn<QList<int>>("pendingAfterTick");
        QTest::addColumn<QStringList>("dispatched");
        QTest::addColumn<int>("crcErrors");

        const QByteArray f1 = Frame(1), f2 = Frame(2, Hex("01020304050607"), 2);
        QTest::newRow("two frames in one datagram")
            << QList<QByteArray>{f1 + f2} << QList<int>{2} << QList<int>{0}
            << QStringList{"1/0/0/", "2/0/2/01020304050607"} << 0;
        QTest::newRow("frame split over two datagrams")
            << QList<QByteArray>{f2.left(7), f2.mid(7)} << QList<int>{0, 1} << QList<int>{7, 0}
            << QStringList{"2/0/2/01020304050607"} << 0;
        QTest::newRow("split inside the magic")
            << QList<QByteArray>{f1.left(2), f1.mid(2)} << QList<int>{0, 1} << QList<int>{2, 0}
            << QStringList{"1/0/0/"} << 0;
        QTest::newRow("200 junk bytes take two ticks")
            << QList<QByteArray>{QByteArray(200, 'x') + f1, QByteArray()} << QList<int>{0, 1} << QList<int>{110, 0}
            << QStringList{"1/0/0/"} << 0;
        QTest::newRow("LDTQ: R moves to the Q")
            << QList<QByteArray>{QByteArray("LDTQ") + f1, QByteArray()} << QList<int>{0, 1} << QList<int>{13, 0}
            << QStringList{"1/0/0/"} << 0;
        QTest::newRow("length 1460: six bytes dropped")
            << QList<QByteArray>{QByteArray("LDTX") + Hex("B405") + f1, QByteArray()} << QList<int>{0, 1}
            << QList<int>{12, 0} << QStringList{"1/0/0/"} << 0;
        QTest::newRow("length 1459 waits for its bytes")
            << QList<QByteArray>{QByteArray("LDTX") + Hex("B305") + f1, QByteArray()} << QList<int>{0, 0}
            << QList<int>{18, 18} << QStringList{} << 0;
        for (uint16_t length : {0, 1, 2, 3})
            QTest::addRow("length %d read as 12 bytes", length)
                << QList<QByteArray>{ShortLengthFrame(9, length) + f1} << QList<int>{2} << QList<int>{0}
                << QStringList{"9/0/0/", "1/0/0/"} << 0;
        QByteArray bad = f2;
        bad[bad.size() - 1] = char(bad.back() ^ 0x01);
        QTest::newRow("wrong check code, then a good frame")
            << QList<QByteArray>{bad + f1} << QList<int>{1} << QList<int>{0} << QStringList{"1/0/0/"} << 1;
        // A header promising 20 payload bytes takes in the next frames' bytes; its check code
        // fails, and the frames inside it are found after it all the same.
        QByteArray longHeader = Frame(5).left(10);
        longHeader[4] = char(24);
        QTest::newRow("length too large costs only the broken frame")
            << QList<QByteArray>{longHeader + f1 + f2.left(10), f2.mid(10)} << QList<int>{1, 2}
            << QList<int>{10, 0} << QStringList{"1/0/0/", "2/0/2/01020304050607"} << 1;
        QTest::newRow("stray byte between frames ends the tick")
            << QList<QByteArray>{f1 + QByteArray("?") + f1, QByteArray()} << QList<int>{1, 2} << QList<int>{12, 0}
            << QStringList{"1/0/0/", "1/0/0/"} << 0;

        // Nine 1461-byte frames leave the ring 1451 bytes before its end: the tenth wraps around.
        QList<QByteArray> big;
        QList<int> counts, pending;
        QStringList ids;
        for (uint16_t i = 0; i < 10; ++i) {
            big << Frame(100 + i, QByteArray(1449, char(i)), 2);
            counts << i + 1;
            pending << 0;
            ids << QStringLiteral("%1/0/2/%2").arg(100 + i).arg(QString::fromLatin1(QByteArray(1449, char(i)).toHex()));
        }
        QTest::newRow("frame across the ring's end") << big << counts << pending << ids << 0;
    }
    void scanner()
    {
        QFETCH(QList<QByteArray>, datagrams);
        QFETCH(QList<int>, dispatchedAfterTick);
        QFETCH(QList<int>, pendingAfterTick);
        QFETCH(QStringList, dispatched);
        QFETCH(int, crcErrors);

        TReceiver r;
        for (qsizetype i = 0; i < datagrams.size(); ++i) {
            if (!datagrams[i].isNull())
                r.Link.CommToMonitorUDPRead(datagrams[i], Platform, 1000);
            r.Link.ScanFrames();
            QCOMPARE(r.Dispatched.size(), dispatchedAfterTick[i]);
            QCOMPARE(r.Link.Receiver().Pending(), pendingAfterTick[i]);
        }
        QCOMPARE(r.Dispatched, dispatched);
        QCOMPARE(r.CrcErrors(), crcErrors);
    }

    // A datagram is whole: a frame that has not completed is not waited for beyond 0.5 s, nor
    // once a datagram starting with a whole good frame has come. It is counted broken, only its
    // 'L' is dropped, and what came behind it is scanned as usual. Each datagram is scanned on
    // arrival, at the given time on the link's clock.
    void partialFrames_data()
    {
        QTest::addColumn<QList<QByteArray>>("datagrams");
        QTest::addColumn<QList<int>>("arrivalMs");
        QTest::addColumn<QStringList>("dispatched");
        QTest::addColumn<int>("pending");
        QTest::addColumn<int>("broken");
        QTest::addColumn<int>("crcErrors");

        const QByteArray f1 = Frame(1), f2 = Frame(2, Hex("01020304050607"), 2);
        const QByteArray cut = QByteArray("LDTX") + Hex("7805"); // promises 1400 bytes, brings none
        QByteArray bad = f1;
        bad[11] = char(bad[11] ^ 0x01);
        QTest::newRow("header cut short, then a request")
            << QList<QByteArray>{cut, f1} << QList<int>{0, 10} << QStringList{"1/0/0/"} << 0 << 1 << 0;
        QTest::newRow("header cut short, then a request in two parts 0.5 s later")
            << QList<QByteArray>{cut, f2.left(7), f2.mid(7)} << QList<int>{0, 500, 501}
            << QStringList{"2/0/2/01020304050607"} << 0 << 1 << 0;
        QTest::newRow("header cut short, junk within 0.5 s: still waiting")
            << QList<QByteArray>{cut, QByteArray("xyz")} << QList<int>{0, 499} << QStringList{} << 9 << 0 << 0;
        QTest::newRow("header cut short, a frame with a wrong code: still waiting, until 0.5 s")
            << QList<QByteArray>{cut, bad, f1} << QList<int>{0, 10, 600} << QStringList{"1/0/0/"} << 0 << 1 << 1;
        QTest::newRow("second part within 0.5 s is joined")
            << QList<QByteArray>{f2.left(7), f2.mid(7)} << QList<int>{0, 499} << QStringList{"2/0/2/01020304050607"}
            << 0 << 0 << 0;
        QTest::newRow("second part after 0.5 s is not joined")
            << QList<QByteArray>{f2.left(7), f2.mid(7), f1} << QList<int>{0, 500, 500} << QStringList{"1/0/0/"} << 0
            << 1 << 0;
        // The frames a wrong length took in are still found, and before the next request.
        QTest::newRow("frames behind a wrong length, then a request")
            << QList<QByteArray>{cut + f1, f2} << QList<int>{0, 10} << QStringList{"1/0/0/", "2/0/2/01020304050607"}
            << 0 << 1 << 0;
        QTest::newRow("frames behind a wrong length, 0.5 s later")
            << QList<QByteArray>{cut + f1, QByteArray("x")} << QList<int>{0, 500} << QStringList{"1/0/0/"} << 0 << 1
            << 0;
        // Waiting counts from when the frame now waiting arrived, not from the first one.
        QTest::newRow("a frame completed, the next one waits afresh")
            << QList<QByteArray>{f2.left(7), f2.mid(7) + f1.left(5), f1.mid(5)} << QList<int>{0, 400, 800}
            << QStringList{"2/0/2/01020304050607", "1/0/0/"} << 0 << 0 << 0;
    }
    void partialFrames()
    {
        QFETCH(QList<QByteArray>, datagrams);
        QFETCH(QList<int>, arrivalMs);
        QFETCH(QStringList, dispatched);
        QFETCH(int, pending);
        QFETCH(int, broken);
        QFETCH(int, crcErrors);

        TReceiver r;
        for (qsizetype i = 0; i < datagrams.size(); ++i) {
            r.Link.CommToMonitorUDPRead(datagrams[i], Platform, 1000 + arrivalMs[i]);
            r.Link.DrainFrames();
        }
        QCOMPARE(r.Dispatched, dispatched);
        QCOMPARE(r.Link.Receiver().Pending(), pending);
        QCOMPARE(int(r.Traffic.Lines().count(TPlatformLink::BrokenFrameText())), broken);
        QCOMPARE(r.CrcErrors(), crcErrors);
    }

    void checkCodeErrorIsLoggedWhateverTheFlag()
    {
        TReceiver r;
        r.Traffic.SetShown(false);
        QByteArray bad = Frame(0);
        bad[10] = 0;
        r.Link.CommToMonitorUDPRead(bad, Platform);
        r.Link.ScanFrames();
        QCOMPARE(r.Traffic.Lines(), (QStringList{"消息发包显示", "Crc 错"}));
        QCOMPARE(r.Link.RecCrcText(), QStringLiteral("0X616D/24941"));
    }

    void checkTypeFollowsConfiguration()
    {
        TReceiver r;
        r.Config.CheckType = QStringLiteral("CRC-16/IBM");
        r.Link.CommToMonitorUDPRead(Hex("4C445458040000000000 1D66") + Frame(2), Platform);
        r.Link.ScanFrames();
        QCOMPARE(r.Dispatched, QStringList{"0/0/0/"});
        QCOMPARE(r.CrcErrors(), 1);
        r.Config.CheckType = QStringLiteral("none");
        r.Link.CommToMonitorUDPRead(Hex("4C445458040003000000 0000"), Platform);
        r.Link.ScanFrames();
        QCOMPARE(r.Dispatched, (QStringList{"0/0/0/", "3/0/0/"}));
    }

    void receiveEvent_data()
    {
        QTest::addColumn<QString>("peer");
        QTest::addColumn<bool>("memoShown");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<int>("pending");
        const QStringList first{"消息发包显示"};
        QTest::newRow("platform, memo shown")
            << Platform << true << "安检监控平台通讯状态:连上 192.168.0.110"
            << first + QStringList{"收到:4C.44.54.58.04.00.00.00.00.00.6D.61.对方IP:192.168.0.110"} << 12;
        QTest::newRow("platform, memo not shown")
            << Platform << false << "安检监控平台通讯状态:连上 192.168.0.110" << first << 12;
        QTest::newRow("other address")
            << "192.168.0.111" << true << "安检监控平台通讯状态:不正确IP 192.168.0.111" << first << 0;
        QTest::newRow("leading zero") << "192.168.0.0110" << true << "安检监控平台通讯状态:不正确IP 192.168.0.0110"
                                      << first << 0;
        QTest::newRow("IPv4-mapped form") << "::ffff:192.168.0.110" << true
                                          << "安检监控平台通讯状态:不正确IP ::ffff:192.168.0.110" << first << 0;
    }
    void receiveEvent()
    {
        QFETCH(QString, peer);
        QFETCH(bool, memoShown);
        QFETCH(QString, status);
        QFETCH(QStringList, lines);
        QFETCH(int, pending);
        TReceiver r;
        QCOMPARE(r.Link.CommConectedIp(), QStringLiteral("安检监控平台通讯状态:通讯中断"));
        r.Traffic.SetShown(memoShown);
        r.Link.CommToMonitorUDPRead(Hex("4C445458040000000000 6D61"), peer);
        QCOMPARE(r.Link.CommConectedIp(), status);
        QCOMPARE(r.Traffic.Lines(), lines);
        QCOMPARE(r.Link.Receiver().Pending(), pending);
    }

    void peerAddressIsPlainDottedText()
    {
        QCOMPARE(TUdpEndpoint::DottedText(QHostAddress(QStringLiteral("::ffff:192.168.0.110"))),
                 QStringLiteral("192.168.0.110"));
        QCOMPARE(TUdpEndpoint::DottedText(QHostAddress(QStringLiteral("127.0.0.2"))), QStringLiteral("127.0.0.2"));
    }

    void ringFull()
    {
        TReceiver r;
        // 14599 bytes fill the ring; the write position stops one short of the read position.
        for (int i = 0; i < 14599; i += 7000)
            r.Link.CommToMonitorUDPRead(QByteArray(qMin(7000, 14599 - i), 'x'), Platform);
        QCOMPARE(r.Link.Receiver().Pending(), 14599);
        QCOMPARE(r.Link.Receiver().CommRecWrite(), 14599);
        r.Link.CommToMonitorUDPRead(Frame(1), Platform);
        QCOMPARE(r.Link.Receiver().Pending(), 14599);
        QCOMPARE(r.Traffic.Lines().last(), QStringLiteral("接收安检数据缓存满对方IP:192.168.0.110"));
        QCOMPARE(r.Link.CommConectedIp(), QStringLiteral("安检监控平台通讯状态:连上 192.168.0.110"));
        for (int tick = 0; tick < 200 && r.Link.Receiver().Pending() > 0; ++tick)
            r.Link.ScanFrames();
        QCOMPARE(r.Link.Receiver().Pending(), 0);
        r.Link.CommToMonitorUDPRead(Frame(2), Platform);
        r.Link.ScanFrames();
        QCOMPARE(r.Dispatched, QStringList{"2/0/0/"});
    }

    // A datagram that overflows part-way keeps its first bytes, in order, and the ring goes on.
    void ringOverflowsPartWay()
    {
        TReceiver r;
        r.Link.CommToMonitorUDPRead(QByteArray(7000, 'x'), Platform);
        r.Link.CommToMonitorUDPRead(QByteArray(14599 - 7000 - 5, 'x'), Platform);
        const int write = r.Link.Receiver().CommRecWrite();
        r.Link.CommToMonitorUDPRead(Frame(1), Platform);
        QCOMPARE(r.Link.Receiver().Pending(), 14599);
        QCOMPARE(r.Link.Receiver().CommRecWrite(), write + 5);
        QByteArray kept;
        for (int i = 0; i < 5; ++i)
            kept += char(r.Link.Receiver().Ring().At(write + i));
        QCOMPARE(kept, Frame(1).left(5));
        QCOMPARE(r.Traffic.Lines().last(), QStringLiteral("接收安检数据缓存满对方IP:192.168.0.110"));

        // The junk drains, and whole frames that follow are found again.
        for (int tick = 0; tick < 200 && r.Link.Receiver().Pending() > 5; ++tick)
            r.Link.ScanFrames();
        QCOMPARE(r.Link.Receiver().Pending(), 5);
        r.Link.CommToMonitorUDPRead(Frame(2) + Frame(3), Platform);
        for (int tick = 0; tick < 5; ++tick)
            r.Link.ScanFrames();
        QVERIFY2(r.Dispatched.contains(QStringLiteral("3/0/0/")), qPrintable(r.Dispatched.join(QLatin1Char(' '))));
        QCOMPARE(r.Link.Receiver().Pending(), 0);
    }

    void anyBytesAnySize()
    {
        // Random datagrams up to the receive size never crash, never overfill and never stall
        // the scan: a good frame sent after the junk is always found.
        TReceiver r;
        r.Traffic.SetShown(false);
        QRandomGenerator random(12345);
        for (int i = 0; i < 400; ++i) {
            QByteArray junk(int(random.bounded(8193)), Qt::Uninitialized);
            for (char &c : junk)
                c = char(random.bounded(256));
            if (i % 3 == 0 && junk.size() > 20)
                junk.replace(5, 4, "LDTX"); // keep the scanner busy with false starts
            if (i % 5 == 0)
                junk += QByteArray("LDTX") + char(random.bounded(256)) + char(random.bounded(6)); // a header cut short
            r.Link.CommToMonitorUDPRead(junk, Platform);
            r.Link.ScanFrames();
            QVERIFY(r.Link.Receiver().Pending() <= 14599);

            // The good frame is sent again on every tick until it is found; a broken header
            // in the junk may take the first copies, never all of them.
            const QByteArray good = Frame(uint16_t(i), QByteArray("good"), 2);
            const QString expected = QStringLiteral("%1/0/2/676f6f64").arg(i);
            int tick = 0;
            for (; tick < 400 && !r.Dispatched.contains(expected); ++tick) {
                r.Link.CommToMonitorUDPRead(good, Platform);
                r.Link.ScanFrames();
            }
            QVERIFY2(r.Dispatched.contains(expected), qPrintable(QStringLiteral("datagram %1").arg(i)));
        }
    }

    void sendComm_data()
    {
        QTest::addColumn<int>("payloadSize");
        QTest::addColumn<bool>("sent");
        QTest::newRow("1449 bytes") << 1449 << true;
        QTest::newRow("1450 bytes") << 1450 << false;
    }
    void sendComm()
    {
        QFETCH(int, payloadSize);
        QFETCH(bool, sent);
        QUdpSocket peer;
        QVERIFY(peer.bind(QHostAddress::LocalHost, 0));
        TReceiver r;
        QVERIFY(r.Link.Open(TestSupport::FreeUdpPort()));
        const QByteArray payload(payloadSize, 'p');
        QCOMPARE(r.Link.sendComm(payload, 4, 1, 7, QStringLiteral("127.0.0.1"), peer.localPort()), sent);
        if (sent) {
            QTRY_VERIFY(peer.hasPendingDatagrams());
            const QNetworkDatagram d = peer.receiveDatagram();
            QCOMPARE(d.data().size(), 1461);
            QCOMPARE(d.senderPort(), int(r.Link.CommToMonitor().LocalPort()));
            const auto expected = LdtxFrame::Build(payload, 4, 1, 7, QStringLiteral("CRC-16/MODBUS"));
            QCOMPARE(d.data(), expected->Bytes);
            QCOMPARE(r.Link.SndCrcText(), CheckCodeDisplayText(expected->CheckCode));
            QCOMPARE(r.Traffic.Lines().size(), 2);
        } else {
            QTest::qWait(50);
            QVERIFY(!peer.hasPendingDatagrams());
            QCOMPARE(r.Link.SndCrcText(), QString());
            QCOMPARE(r.Traffic.Lines().size(), 1);
        }
    }

    void sentLine()
    {
        QUdpSocket peer;
        QVERIFY(peer.bind(QHostAddress::LocalHost, 0));
        TReceiver r;
        QVERIFY(r.Link.Open(TestSupport::FreeUdpPort()));
        QVERIFY(r.Link.sendComm(Hex("00"), 0, 1, 7, QStringLiteral("127.0.0.1"), peer.localPort()));
        QCOMPARE(r.Traffic.Lines().last(),
                 QStringLiteral("发送:4C 44 54 58 05 00 07 00 01 00 00 54 2D  ->IP:127.0.0.1 Port:%1 ").arg(peer.localPort()));
        QCOMPARE(r.Link.SndCrcText(), QStringLiteral("0X2D54/11604"));
    }

    void closedEndpointSendsNothing()
    {
        TReceiver r;
        QVERIFY(!r.Link.sendComm(Hex("00"), 0, 1, 7, QStringLiteral("127.0.0.1"), 20011));
        QCOMPARE(r.Traffic.Lines().size(), 1);
    }

    void badPortIsRefused()
    {
        TReceiver r;
        QString why;
        QVERIFY(!r.Link.Open(70000, &why));
        QVERIFY(!why.isEmpty());
        QCOMPARE(r.Link.CommConectedIp(), QStringLiteral("安检监控平台通讯状态:端口70000无法打开"));
    }
};

QTEST_GUILESS_MAIN(TstPlatformReceive)
#include "tst_platform_receive.moc"
