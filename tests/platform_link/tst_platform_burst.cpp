#include "platform_link/ldtx_frame.h"
#include "shell/varnex_core.h"
#include "support/test_support.h"

#include <QNetworkDatagram>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

namespace {

// The program's core with a platform socket of this test, over loopback. Its timers are not
// started: whatever is answered is answered on arrival.
struct TLiveLink
{
    QTemporaryDir Dir;
    QUdpSocket Platform;
    TRecordingPlayer Player;
    std::unique_ptr<TVarnexCore> Core;
    quint16 Port = 0;

    TLiveLink()
    {
        Platform.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0);
        Core = TestSupport::StartCore(Dir, {QStringLiteral("CommIpPort=%1").arg(Platform.localPort())}, &Player);
        Port = quint16(Core->Config().CommRecIpPort);
    }
    void Send(const QByteArray &bytes) { Platform.writeDatagram(bytes, QHostAddress::LocalHost, Port); }
    static QByteArray GroupListRequest(uint16_t id)
    {
        return LdtxFrame::Build({}, LdtxFrame::GroupListQuery, 0, id, QStringLiteral("CRC-16/MODBUS"))->Bytes;
    }
    // The message IDs of the replies that arrive until none has come for a while.
    QList<int> Replies(int expected)
    {
        QList<int> ids;
        QTest::qWaitFor(
            [&] {
                while (Platform.hasPendingDatagrams()) {
                    const QByteArray reply = Platform.receiveDatagram().data();
                    ids << (uint8_t(reply[6]) | uint8_t(reply[7]) << 8);
                }
                return ids.size() >= expected;
            },
            5000);
        return ids;
    }
};

} // namespace

class TstPlatformBurst : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // A header with a wrong length below the limit takes in the requests behind it; its check
    // code fails, and every one of them is still answered, in order.
    void aBrokenHeaderCostsOnlyItself()
    {
        TLiveLink l;
        l.Send(QByteArray("LDTX") + char(0xB3) + char(0x05));
        QList<int> sent;
        for (uint16_t id = 1; id <= 130; ++id) {
            l.Send(TLiveLink::GroupListRequest(id));
            sent << id;
        }
        QCOMPARE(l.Replies(130), sent);
        QVERIFY(l.Core->CommMsg().Lines().contains(QStringLiteral("Crc 错")));
    }

    // 14 KB of the byte 'L' are dropped at once; the request behind them is answered.
    void junkDoesNotSilenceTheLink()
    {
        TLiveLink l;
        l.Send(QByteArray(7000, 'L'));
        l.Send(QByteArray(7000, 'L'));
        l.Send(TLiveLink::GroupListRequest(77));
        QCOMPARE(l.Replies(1), QList<int>{77});
        QCOMPARE(l.Core->PlatformLink().Receiver().Pending(), 0);
    }
};

QTEST_GUILESS_MAIN(TstPlatformBurst)
#include "tst_platform_burst.moc"
