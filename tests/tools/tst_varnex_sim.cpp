#include "app/varnex_core.h"
#include "platform_link/ldtx_frame.h"
#include "support/test_support.h"

#include <QFile>
#include <QNetworkDatagram>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

// varnex-sim against a program core in this process: the core answers while the test waits in
// its event loop.
class TstVarnexSim : public QObject
{
    Q_OBJECT

    QTemporaryDir Dir;
    TRecordingPlayer Player;
    std::unique_ptr<TVarnexCore> Core;

    // Runs varnex-sim to its end, the core serving meanwhile; its output and exit code.
    QPair<QString, int> Sim(const QStringList &arguments, QProcess *started = nullptr, int timeoutMs = 15000)
    {
        QProcess own;
        QProcess &sim = started ? *started : own;
        if (!started)
            sim.start(TestSupport::BuildPath(QStringLiteral("varnex-sim")), arguments);
        QSignalSpy finished(&sim, &QProcess::finished);
        if (sim.state() != QProcess::NotRunning && !finished.wait(timeoutMs))
            sim.kill();
        return {QString::fromUtf8(sim.readAllStandardOutput()), sim.exitCode()};
    }
    QString PlatformTo() const { return QStringLiteral("127.0.0.1:%1").arg(Core->Config().CommRecIpPort); }
    QString PlatformListen() const { return QString::number(Core->Config().CommIpPort); }

private Q_SLOTS:
    void init()
    {
        QFile keys(Dir.filePath(QStringLiteral("key.dat")));
        QVERIFY(keys.open(QIODevice::WriteOnly));
        keys.write(TestSupport::KeyFile({{3 * 1088 + 74, 2001}})); // module 1, column 1, row 2
        keys.close();
        Core = TestSupport::StartCore(Dir, {QStringLiteral("ifUse0=是")}, &Player);
        Core->Directory().AddTelNumber(QStringLiteral("2001"), QStringLiteral("井口"), {}, {"5"}, QStringLiteral("0"), {});
    }
    void cleanup()
    {
        Core.reset();
    }

    void groupListAndDeviceStatus()
    {
        auto [out, code] = Sim({QStringLiteral("platform"), QStringLiteral("--to"), PlatformTo(), QStringLiteral("--listen"),
                                PlatformListen(), QStringLiteral("device-status")});
        QCOMPARE(code, 0);
        QVERIFY2(out.contains(QStringLiteral("  2001 井口 status 0")), qPrintable(out));
        std::tie(out, code) = Sim({QStringLiteral("platform"), QStringLiteral("--to"), PlatformTo(), QStringLiteral("--listen"),
                                   PlatformListen(), QStringLiteral("--repeat"), QStringLiteral("200"), QStringLiteral("--rate"),
                                   QStringLiteral("2000"), QStringLiteral("group-list")});
        QCOMPARE(code, 0);
        QVERIFY2(out.contains(QStringLiteral("200 answered, 0 lost")), qPrintable(out));
    }

    // A notification in, its key commands out: the switch stand-in names the number pressed.
    void notificationEndToEnd()
    {
        QProcess sw;
        sw.start(TestSupport::BuildPath(QStringLiteral("varnex-sim")),
                 {QStringLiteral("switch"), QStringLiteral("--listen"), QString::number(Core->Config().IpPort), QStringLiteral("--to"),
                  QStringLiteral("127.0.0.1:%1").arg(Core->Config().RecIpPort), QStringLiteral("--key-file"),
                  Dir.filePath(QStringLiteral("key.dat")), QStringLiteral("--count"), QStringLiteral("3")});
        QVERIFY(sw.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(Core->HostLink().IsUp(), 5000); // its sign of life arrived
        const auto [out, code] = Sim({QStringLiteral("platform"), QStringLiteral("--to"), PlatformTo(), QStringLiteral("--listen"),
                                      PlatformListen(), QStringLiteral("voice"), QStringLiteral("5"), QStringLiteral("撤离"),
                                      QStringLiteral("1")});
        QCOMPARE(code, 0);
        QVERIFY2(out.contains(QStringLiteral("1 numbers\n  2001")), qPrintable(out));
        for (int i = 0; i < TPlayChannels::OffHookTicks; ++i)
            Core->Timer1Timer();
        const auto [keys, swCode] = Sim({}, &sw);
        QCOMPARE(swCode, 0);
        QVERIFY2(keys.contains(QStringLiteral("key keyboard 3 module 1 column 1 row 2 number 2001")), qPrintable(keys));
        QVERIFY(keys.contains(QStringLiteral("key keyboard 3 module 0 column 0 row 3 number -")));
    }

    void noReplyAndMalformedReply()
    {
        // Nobody at the port: "no reply".
        QUdpSocket silent;
        QVERIFY(silent.bind(QHostAddress::LocalHost, 0));
        auto [out, code] = Sim({QStringLiteral("platform"), QStringLiteral("--to"), QStringLiteral("127.0.0.1:%1").arg(silent.localPort()),
                                QStringLiteral("--timeout"), QStringLiteral("300"), QStringLiteral("group-list")});
        QCOMPARE(out, QStringLiteral("no reply\n"));
        QVERIFY(code != 0);

        // A peer whose reply says 3 rows and holds one: non-zero exit.
        QUdpSocket liar;
        QVERIFY(liar.bind(QHostAddress::LocalHost, 0));
        connect(&liar, &QUdpSocket::readyRead, this, [&liar] {
            while (liar.hasPendingDatagrams()) {
                const QNetworkDatagram request = liar.receiveDatagram();
                const QByteArray payload = QByteArray(1, char(3)) + LdtxFrame::Le32(2001) + char(1) + 'x';
                liar.writeDatagram(LdtxFrame::Build(payload, LdtxFrame::GroupListQuery, LdtxFrame::DispatchReply, 0,
                                                    QStringLiteral("CRC-16/MODBUS"))->Bytes,
                                   request.senderAddress(), quint16(request.senderPort()));
            }
        });
        std::tie(out, code) = Sim({QStringLiteral("platform"), QStringLiteral("--to"), QStringLiteral("127.0.0.1:%1").arg(liar.localPort()),
                                   QStringLiteral("group-list")});
        QVERIFY2(out.contains(QStringLiteral("malformed reply")), qPrintable(out));
        QCOMPARE(code, 1);
    }
};

QTEST_GUILESS_MAIN(TstVarnexSim)
#include "tst_varnex_sim.moc"
