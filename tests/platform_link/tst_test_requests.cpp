#include "platform_link/ldtx_frame.h"
#include "app/varnex_core.h"
#include "support/test_support.h"

#include <QNetworkDatagram>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

using TestSupport::Hex;

namespace {

// A started core whose requests go to a socket of this test (or back to itself when looped).
struct TOperator
{
    QTemporaryDir Dir;
    QUdpSocket Platform;
    TRecordingPlayer Player;
    std::unique_ptr<TVarnexCore> Core;

    explicit TOperator(bool loopBack = false, const QString &checkType = QStringLiteral("CRC-16/MODBUS"))
    {
        Platform.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0);
        const int ownPort = TestSupport::FreeUdpPort();
        Core = TestSupport::StartCore(Dir,
                                      {QStringLiteral("CommIpPort=%1").arg(loopBack ? ownPort : Platform.localPort()),
                                       QStringLiteral("CommRecIpPort=%1").arg(ownPort), QStringLiteral("CheckType=") + checkType},
                                      &Player);
    }
    TTestRequests &Requests() { return Core->TestRequests(); }
    QByteArray Sent()
    {
        if (!Platform.waitForReadyRead(2000))
            return QByteArray();
        return Platform.receiveDatagram(70000).data();
    }
};

} // namespace

class TstTestRequests : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void messageIdsCountAcrossButtonsAndWrap()
    {
        TOperator o;
        o.Requests().SendGroupListRequest();
        QCOMPARE(o.Sent(), Hex("4C445458040000000000 6D61"));
        QCOMPARE(o.Core->PlatformLink().SndCrcText(), QStringLiteral("0X616D/24941"));
        QCOMPARE(o.Core->CommMsg().Lines().last(), QStringLiteral("发送:4C 44 54 58 04 00 00 00 00 00 6D 61 "));
        o.Requests().SendDeviceStatusRequest();
        QCOMPARE(o.Sent().mid(4, 6), Hex("0400 0100 00 01"));
        o.Requests().CommMsgId = 65535;
        o.Requests().SendGroupListRequest();
        QCOMPARE(o.Sent().mid(6, 2), Hex("FFFF"));
        o.Requests().SendGroupListRequest();
        QCOMPARE(o.Sent().mid(6, 2), Hex("0000"));
    }

    void testCrc_data()
    {
        QTest::addColumn<QString>("checkType");
        QTest::addColumn<QString>("shown");
        QTest::newRow("MODBUS") << "CRC-16/MODBUS" << "0X616D/24941";
        QTest::newRow("IBM") << "CRC-16/IBM" << "0X661D/26141";
    }
    void testCrc()
    {
        QFETCH(QString, checkType);
        QFETCH(QString, shown);
        TOperator o(false, checkType);
        o.Requests().TestCrc();
        QCOMPARE(o.Core->PlatformLink().SndCrcText(), shown);
        QCOMPARE(o.Requests().CommMsgId, uint16_t(0));
        QVERIFY(!o.Platform.waitForReadyRead(50));
    }

    void phoneCall_data()
    {
        QTest::addColumn<QString>("dialNumber");
        QTest::addColumn<QByteArray>("called");
        QTest::newRow("2005") << "2005" << Hex("D5070000");
        QTest::newRow("not a number") << "abc" << Hex("00000000");
    }
    void phoneCall()
    {
        QFETCH(QString, dialNumber);
        QFETCH(QByteArray, called);
        TOperator o;
        o.Requests().SendPhoneCall(dialNumber);
        const QByteArray frame = o.Sent();
        QCOMPARE(frame.size(), 20); // L + 8
        QCOMPARE(frame.mid(4, 6), Hex("0C00 0000 00 06"));
        QCOMPARE(frame.mid(10, 8), Hex("D1070000") + called);
    }

    void voiceNotify()
    {
        TOperator o;
        QCOMPARE(o.Requests().SendVoiceNotify("0", "1", "2", "1", QStringLiteral("瓦斯监测联动测试，请挂机")), QString());
        const QByteArray frame = o.Sent();
        QCOMPARE(frame.mid(4, 2), Hex("2F00")); // L = 47
        QCOMPARE(frame.mid(10, 43), Hex("00 01000000 02") + QStringLiteral("瓦斯监测联动测试，请挂机").toUtf8() + Hex("01"));

        // Content is cut to 1200 UTF-8 bytes between characters.
        QCOMPARE(o.Requests().SendVoiceNotify("1", "2005", "2", "3", QString(500, QChar(u'瓦'))), QString());
        QCOMPARE(o.Sent().size(), 12 + 6 + 1200 + 1);
    }

    void voiceNotifyWithABadField_data()
    {
        QTest::addColumn<QStringList>("fields");
        QTest::newRow("empty group") << QStringList{"0", "", "2", "1"};
        QTest::newRow("play count x") << QStringList{"0", "1", "2", "x"};
        QTest::newRow("play type 1.5") << QStringList{"1.5", "1", "2", "1"};
    }
    void voiceNotifyWithABadField()
    {
        QFETCH(QStringList, fields);
        TOperator o;
        QVERIFY(!o.Requests().SendVoiceNotify(fields[0], fields[1], fields[2], fields[3], QStringLiteral("t")).isEmpty());
        QCOMPARE(o.Requests().CommMsgId, uint16_t(0));
        QVERIFY(!o.Platform.waitForReadyRead(50));
    }

    // The operator's group-list request comes back to the program itself, is answered, and the
    // answer comes back too and is refused for its direction.
    void loopBack()
    {
        TOperator o(true);
        o.Core->StartTimers();
        o.Requests().SendGroupListRequest();
        const QString reply = QStringLiteral("4C 44 54 58 05 00 00 00 01 00 00 E1 ED ");
        const QStringList expected{
            QStringLiteral("发送:4C 44 54 58 04 00 00 00 00 00 6D 61 "),
            QStringLiteral("收到:4C.44.54.58.04.00.00.00.00.00.6D.61.对方IP:127.0.0.1"),
            QStringLiteral("[消息ID:0][消息方向:0 安全监控系统发起][消息类型:0 分组信息列表获取接口]"),
            QStringLiteral("应答分组信息列表获取接口: 分组个数=0"),
            QStringLiteral("发送:") + reply + QStringLiteral(" ->IP:127.0.0.1 Port:%1 ").arg(o.Core->Config().CommIpPort),
            QStringLiteral("收到:") + QString(reply).replace(QLatin1Char(' '), QLatin1Char('.')) + QStringLiteral("对方IP:127.0.0.1"),
            QStringLiteral("[消息ID:0][消息方向:1 调度通信系统回复][消息类型:0 分组信息列表获取接口]"),
            QStringLiteral("消息方向 ERROR")};
        QTRY_COMPARE(o.Core->CommMsg().Lines().mid(1), expected);
    }
};

QTEST_GUILESS_MAIN(TstTestRequests)
#include "tst_test_requests.moc"
