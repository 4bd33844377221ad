#include "app/varnex_core.h"
#include "support/other_program.h"
#include "support/test_support.h"

#include <QDir>
#include <QNetworkDatagram>
#include <QSqlDatabase>
#include <QTemporaryDir>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#endif
#include <QTest>
#include <QUdpSocket>

using TestSupport::Hex;

namespace {
struct TStartedCore
{
    QTemporaryDir Dir;
    TRecordingPlayer Player;
    std::unique_ptr<TVarnexCore> Core;
    int PlatformPort = 0;
    int HostPort = 0;

    explicit TStartedCore(const QStringList &settings = {})
        : Core(TestSupport::StartCore(Dir, settings, &Player)), PlatformPort(Core->Config().CommRecIpPort),
          HostPort(Core->Config().RecIpPort)
    {
    }
};
} // namespace

class TstStartup : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // A name given twice in the settings file: the last line counts, and one line says so.
    void repeatedSettingIsSaid()
    {
        TStartedCore s({QStringLiteral("CurrentKeyboard=1"), QStringLiteral("currentkeyboard=2")});
        QCOMPARE(s.Core->Config().CurrentKeyboard, 2);
        const QStringList said = s.Core->LogMemo().Lines().filter(QStringLiteral("出现了不止一次"));
        QCOMPARE(said.size(), 1);
        QVERIFY2(said[0].contains(QStringLiteral("CurrentKeyboard")), qPrintable(said[0]));
    }

    // A sound fault is said once while it lasts, however many plays fail, and its end once; a
    // device missing at the start is said with the start's lines.
    void soundFaultsAreSaidOnce()
    {
        TStartedCore s;
        const auto said = [&s] { return s.Core->LogMemo().Lines().filter(QStringLiteral("声音")); };
        QCOMPARE(said(), QStringList());
        TSoundState failing{true, QStringLiteral("扬声器"), false, QStringLiteral("声音文件 w1.wav 无法播放（x）"), 1000};
        s.Player.SetState(failing);
        failing.LastPlayMs = 2000;
        s.Player.SetState(failing);
        failing.Problem = QStringLiteral("声音文件 w2.wav 无法播放（y）");
        s.Player.SetState(failing);
        QCOMPARE(said().size(), 1);
        QVERIFY2(said()[0].contains(QStringLiteral("放音失败")) && said()[0].contains(QStringLiteral("w1.wav")), qPrintable(said()[0]));
        s.Player.SetState({true, QStringLiteral("扬声器"), true, QString(), 3000});
        s.Player.SetState({true, QStringLiteral("扬声器"), true, QString(), 4000});
        QCOMPARE(said().size(), 2);
        QVERIFY2(said()[1].contains(QStringLiteral("声音恢复正常")), qPrintable(said()[1]));
        s.Player.SetState({false, QString(), true, QStringLiteral("没有找到声音输出设备"), 4000});
        QCOMPARE(said().size(), 3);
        QVERIFY2(said()[2].contains(QStringLiteral("声音设备不可用：没有找到声音输出设备")), qPrintable(said()[2]));

        QTemporaryDir dir;
        TRecordingPlayer silent;
        silent.SetState({false, QString(), true, QStringLiteral("没有找到声音输出设备"), 0});
        const auto core = TestSupport::StartCore(dir, {}, &silent);
        QCOMPARE(core->LogMemo().Lines().filter(QStringLiteral("声音设备不可用")).size(), 1);
    }

    void cleanStart()
    {
        TStartedCore s;
        QCOMPARE(s.Core->StartupErrors(), QStringList());
        QVERIFY(s.Core->PlatformLink().CommToMonitor().IsOpen());
        QCOMPARE(int(s.Core->PlatformLink().CommToMonitor().LocalPort()), s.PlatformPort);
        QVERIFY(s.Core->HostLink().CommToPabx().IsOpen());
        QCOMPARE(int(s.Core->HostLink().CommToPabx().LocalPort()), s.HostPort);
#ifdef Q_OS_UNIX
        for (const TUdpEndpoint *endpoint :
             {&s.Core->PlatformLink().CommToMonitor(), &s.Core->HostLink().CommToPabx()}) {
            int broadcast = 0;
            socklen_t size = sizeof broadcast;
            QCOMPARE(getsockopt(int(endpoint->Descriptor()), SOL_SOCKET, SO_BROADCAST, &broadcast, &size), 0);
            QVERIFY(broadcast);
            // A burst waits in the socket, not lost: more than the system's default room.
            int room = 0;
            size = sizeof room;
            QCOMPARE(getsockopt(int(endpoint->Descriptor()), SOL_SOCKET, SO_RCVBUF, &room, &size), 0);
            QVERIFY2(room > 212992 * 2 || room >= TUdpEndpoint::ReceiveBufferBytes, qPrintable(QString::number(room)));
        }
#endif
        QCOMPARE(s.Core->Config().ProgramDir, QDir::toNativeSeparators(s.Dir.path() + QLatin1Char('/')));
        QCOMPARE(s.Core->PlatformLink().CommConectedIp(), QStringLiteral("安检监控平台通讯状态:通讯中断"));
        QCOMPARE(s.Core->HostLink().display(), QStringLiteral("调度主机通讯状态:通讯中断"));
    }

    void failedStepsAreReportedAndTheRestRuns()
    {
        QUdpSocket squatter; // another program already holds the platform port
        QVERIFY(squatter.bind(QHostAddress::AnyIPv4, 0));
        QTemporaryDir dir;
        const int hostPort = TestSupport::FreeUdpPort();
        TRecordingPlayer player;
        TVarnexCore core(TestSupport::CoreOptions(
            dir,
            {QStringLiteral("IpPort=18x"), QStringLiteral("CommRecIpPort=%1").arg(squatter.localPort()),
             QStringLiteral("RecIpPort=%1").arg(hostPort), QStringLiteral("CurrentKeyboard=5"),
             QStringLiteral("CheckType=CRC-16/IBM")},
            &player));
        core.FormCreate();

        const QStringList errors = core.StartupErrors();
        QCOMPARE(errors.size(), 2);
        QVERIFY2(errors[0].contains(QStringLiteral("IpPort")) && errors[0].contains(QStringLiteral("18x")),
                 qPrintable(errors[0]));
        QVERIFY2(errors[1].contains(QString::number(squatter.localPort())), qPrintable(errors[1]));
        QCOMPARE(core.Config().IpPort, 18196);
        QVERIFY(!core.PlatformLink().CommToMonitor().IsOpen());
        QCOMPARE(core.PlatformLink().CommConectedIp(),
                 QStringLiteral("安检监控平台通讯状态:端口%1无法打开").arg(squatter.localPort()));
        // Every later step still ran.
        QVERIFY(core.HostLink().CommToPabx().IsOpen());
        QCOMPARE(core.Config().CheckType, QStringLiteral("CRC-16/IBM"));
        QCOMPARE(core.Config().StartKeyboard, 5);
    }

    // A port that nothing could ever be sent to is refused like any bad value.
    void badSendPortsAreRefused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("fallback");
        QTest::newRow("CommIpPort 70000") << "CommIpPort" << "70000" << 20011;
        QTest::newRow("CommIpPort 0") << "CommIpPort" << "0" << 20011;
        QTest::newRow("IpPort 70000") << "IpPort" << "70000" << 18196;
        QTest::newRow("IpPort -1") << "IpPort" << "-1" << 18196;
    }
    void badSendPortsAreRefused()
    {
        QFETCH(QString, name);
        QFETCH(QString, value);
        QFETCH(int, fallback);
        TStartedCore s({name + QLatin1Char('=') + value});
        const QStringList errors = s.Core->StartupErrors();
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors[0].contains(name) && errors[0].contains(value) && errors[0].contains(QString::number(fallback)),
                 qPrintable(errors[0]));
        QCOMPARE(name == QLatin1String("IpPort") ? s.Core->Config().IpPort : s.Core->Config().CommIpPort, fallback);
    }

    // Sends that fail are said on the system message memo: the first at once, repeats once a
    // minute as a count, and after a quiet minute the next one at once again.
    void failedSendsAreSaidWithoutFlooding()
    {
        TStartedCore s({QStringLiteral("CommIpAddress=300.1.1.1")});
        TVarnexCore &core = *s.Core;
        const qsizetype before = core.LogMemo().Lines().size();
        for (int i = 0; i < 5; ++i)
            core.Dispatcher().ExecOnCommCommand(uint16_t(i), 0, 0, {});
        QStringList said = core.LogMemo().Lines().mid(before);
        QCOMPARE(said.size(), 1);
        QVERIFY2(said[0].startsWith(QStringLiteral("发送到安检监控平台 300.1.1.1:")), qPrintable(said[0]));

        core.SendFailures().Tick(core.Now() + TFailureDigest::WindowMs - 1000);
        QCOMPARE(core.LogMemo().Lines().size(), before + 1);
        core.SendFailures().Tick(core.Now() + TFailureDigest::WindowMs);
        said = core.LogMemo().Lines().mid(before);
        QCOMPARE(said.size(), 2);
        QCOMPARE(said[1], TFailureDigest::SummaryText(said[0], 4));

        // A quiet minute: the kind is forgotten, and the next failure is said at once.
        core.SendFailures().Tick(core.Now() + 2 * TFailureDigest::WindowMs + 1);
        QCOMPARE(core.LogMemo().Lines().size(), before + 2);
        core.Dispatcher().ExecOnCommCommand(9, 0, 0, {});
        QCOMPARE(core.LogMemo().Lines().size(), before + 3);
        QCOMPARE(core.LogMemo().Lines().last(), said[0]);
    }

    // What the platform link drops unanswered is said, as failed sends are: a sender that is not
    // CommIpAddress (with its address), and a frame whose check code is wrong (with CheckType).
    void droppedDatagramsAreSaid_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QString>("said");
        QTest::newRow("another sender") << "127.0.0.2" << QByteArray::fromHex("4c4454580400000000006d61")
                                        << "安检侧收到来自 127.0.0.2 的数据，不是设置的平台地址 CommIpAddress = 127.0.0.1";
        QTest::newRow("wrong check code") << "127.0.0.1" << QByteArray::fromHex("4c4454580400000000006d62")
                                          << "安检侧收到的帧校验码不对（按 CheckType = CRC-16/MODBUS 计算），来自 127.0.0.1";
    }
    void droppedDatagramsAreSaid()
    {
        QFETCH(QString, from);
        QFETCH(QByteArray, datagram);
        QFETCH(QString, said);
        TStartedCore s;
        TVarnexCore &core = *s.Core;
        const qsizetype before = core.LogMemo().Lines().size();
        QUdpSocket sender;
        QVERIFY(sender.bind(QHostAddress(from), 0));
        for (int i = 0; i < 3; ++i)
            QCOMPARE(sender.writeDatagram(datagram, QHostAddress::LocalHost, quint16(s.PlatformPort)), datagram.size());
        QTRY_VERIFY(core.LogMemo().Lines().size() > before);
        QTest::qWait(200); // the other two arrive and are counted, not said
        QStringList lines = core.LogMemo().Lines().mid(before);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines[0].contains(said), qPrintable(lines[0]));
        core.SendFailures().Tick(core.Now() + TFailureDigest::WindowMs);
        lines = core.LogMemo().Lines().mid(before);
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[1], TFailureDigest::SummaryText(lines[0], 2));
    }

    // Senders from many addresses (a misrouted network, a scan) are said one by one only up to a
    // bound; the rest are counted, so neither the memo nor the memory grows with them.
    void droppedFromManyAddressesAreBounded()
    {
        TStartedCore s;
        TVarnexCore &core = *s.Core;
        const qsizetype before = core.LogMemo().Lines().size();
        const QByteArray datagram = QByteArray::fromHex("4c4454580400000000006d61");
        constexpr int Senders = TFailureDigest::MostKinds + 20;
        for (int i = 0; i < Senders; ++i) {
            QUdpSocket sender;
            QVERIFY(sender.bind(QHostAddress(QStringLiteral("127.0.1.%1").arg(i + 1)), 0));
            QCOMPARE(sender.writeDatagram(datagram, QHostAddress::LocalHost, quint16(s.PlatformPort)), datagram.size());
        }
        QTRY_COMPARE(core.PlatformLink().WrongAddressRequests(), quint64(Senders));
        QStringList lines = core.LogMemo().Lines().mid(before);
        QCOMPARE(lines.size(), TFailureDigest::MostKinds + 1);
        QCOMPARE(lines.last(), TFailureDigest::OverflowText(TFailureDigest::MostKinds));
        core.SendFailures().Tick(core.Now() + TFailureDigest::WindowMs);
        lines = core.LogMemo().Lines().mid(before);
        QCOMPARE(lines.last(), TFailureDigest::OverflowSummaryText(Senders - TFailureDigest::MostKinds - 1));
    }

    void keyboardsOutsideTheTableAreSaid_data()
    {
        QTest::addColumn<QString>("keyboard");
        QTest::addColumn<bool>("said");
        QTest::newRow("8") << "8" << true;
        QTest::newRow("-1") << "-1" << true;
        QTest::newRow("0") << "0" << false;
        QTest::newRow("7") << "7" << false;
    }
    void keyboardsOutsideTheTableAreSaid()
    {
        QFETCH(QString, keyboard);
        QFETCH(bool, said);
        TStartedCore s({QStringLiteral("CurrentKeyboard=") + keyboard});
        QStringList lines;
        for (const QString &line : s.Core->LogMemo().Lines())
            if (line.startsWith(QStringLiteral("当前键盘号")))
                lines << line;
        QCOMPARE(lines.size(), said ? 1 : 0);
        if (said)
            QVERIFY2(lines[0].contains(keyboard), qPrintable(lines[0]));
    }

    // A directory made before the number index existed gets it at start; one that another
    // program is writing to is used without it, and the operator is told once.
    void olderDirectoriesGetTheNumberIndex_data()
    {
        QTest::addColumn<bool>("locked");
        QTest::newRow("free") << false;
        QTest::newRow("another program writing") << true;
    }
    void olderDirectoriesGetTheNumberIndex()
    {
        QFETCH(bool, locked);
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("DATA"))));
        const QString file = dir.filePath(QStringLiteral("DATA/ChaDB.sqlite"));
        {
            TOtherProgram older(file, {TDM::CreateTelNumber(), TDM::CreateGroup(),
                                       QStringLiteral("INSERT INTO TelNumber(TelNum, sequence) VALUES (2001, 1)")});
            QVERIFY(older.Ok);
        }
        std::unique_ptr<TOtherProgram> writer;
        if (locked) {
            writer = std::make_unique<TOtherProgram>(file, QStringList{QStringLiteral("BEGIN IMMEDIATE")});
            QVERIFY(writer->Ok);
        }
        TRecordingPlayer player;
        const auto core = TestSupport::StartCore(dir, {}, &player);
        QStringList said;
        for (const QString &line : core->LogMemo().Lines())
            if (line.contains(QStringLiteral("索引")))
                said << line;
        QCOMPARE(said.size(), locked ? 1 : 0);
        QCOMPARE(core->Directory().ListTelNumbers(), 1);
        writer.reset();
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("look"));
            db.setDatabaseName(file);
            QVERIFY(db.open());
            QCOMPARE(TestSupport::SqlRows(QStringLiteral("look"),
                                          QStringLiteral("select count(*) from sqlite_master where name = 'TelNumberByTelNum'")),
                     QStringList{locked ? "0" : "1"});
        }
        QSqlDatabase::removeDatabase(QStringLiteral("look"));
    }

    void platformDatagramsOverRealSockets()
    {
        QUdpSocket platform;
        QVERIFY(platform.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
        TStartedCore s({QStringLiteral("CommIpPort=%1").arg(platform.localPort())});
        TVarnexCore &core = *s.Core;
        core.StartTimers();

        platform.writeDatagram(Hex("4C445458040000000000 6D61"), QHostAddress::LocalHost, quint16(s.PlatformPort));
        const QString received = QStringLiteral("收到:4C.44.54.58.04.00.00.00.00.00.6D.61.对方IP:127.0.0.1");
        QTRY_VERIFY(core.CommMsg().Lines().contains(received));
        QCOMPARE(core.PlatformLink().CommConectedIp(), QStringLiteral("安检监控平台通讯状态:连上 127.0.0.1"));
        // The running 1 ms timer scanned the frame and the group list was answered.
        QTRY_VERIFY(platform.hasPendingDatagrams());
        QCOMPARE(platform.receiveDatagram().data(), Hex("4C445458050000000100 00 E1ED"));
        QCOMPARE(core.PlatformLink().RecCrcText(), QStringLiteral("0X616D/24941"));

        const int lines = int(core.CommMsg().Lines().size());
        QUdpSocket stranger;
        QVERIFY(stranger.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0));
        stranger.writeDatagram(Hex("4C445458040000000000 6D61"), QHostAddress::LocalHost, quint16(s.PlatformPort));
        QTRY_COMPARE(core.PlatformLink().CommConectedIp(), QStringLiteral("安检监控平台通讯状态:不正确IP 127.0.0.2"));
        QCOMPARE(int(core.CommMsg().Lines().size()), lines);
        QCOMPARE(core.PlatformLink().Receiver().CommRecWrite(), 12);
    }

    void shutdownReleasesBothPorts()
    {
        TStartedCore s;
        s.Core->FormDestroy();
        QVERIFY(!s.Core->HostLink().CommToPabx().IsOpen());
        QVERIFY(!s.Core->PlatformLink().CommToMonitor().IsOpen());
        QUdpSocket again;
        QVERIFY(again.bind(QHostAddress::AnyIPv4, quint16(s.PlatformPort)));
        again.close();
        QVERIFY(again.bind(QHostAddress::AnyIPv4, quint16(s.HostPort)));
    }
};

QTEST_GUILESS_MAIN(TstStartup)
#include "tst_startup.moc"
